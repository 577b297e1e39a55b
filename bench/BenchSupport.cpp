#include "BenchSupport.h"

#include <QImage>
#include <QImageWriter>
#include <QRandomGenerator>

namespace vennimo::bench {

bool writeCameraJpeg(const QString& path, int width, int height, int seed) {
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(static_cast<quint32>(seed));
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int noise = static_cast<int>(random.generate() & 31);
            line[x] = qRgb((x * 255 / width + noise + seed * 13) & 255, (y * 255 / height + noise) & 255,
                           ((x + y) * 127 / (width + height) + noise) & 255);
        }
    }
    QImageWriter writer(path, "jpeg");
    writer.setQuality(90);
    return writer.write(image);
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

} // namespace vennimo::bench
