#include "rendering/ImageReading.h"

#include <QImageReader>

#include <algorithm>
#include <cmath>

namespace vennimo::ImageReading {

namespace {

// Headers claiming more pixels than this are refused before any decode.
constexpr qint64 kMaxPixels = 100'000'000;
constexpr int kAllocationLimitMiB = 1024;

} // namespace

std::optional<QSize> orientedPixelSize(const QString& path) {
    if (path.isEmpty())
        return std::nullopt;
    QImageReader reader(path);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() <= 0 || size.height() <= 0)
        return std::nullopt;
    if (reader.transformation().testFlag(QImageIOHandler::TransformationRotate90))
        return size.transposed();
    return size;
}

QImage decodeScaled(const QString& path, int maxPixels) {
    if (path.isEmpty() || maxPixels <= 0)
        return {};
    QImageReader reader(path);
    reader.setAllocationLimit(kAllocationLimitMiB);
    reader.setAutoTransform(true);
    const QSize size = reader.size();
    if (!size.isValid() || size.isEmpty() || qint64(size.width()) * size.height() > kMaxPixels)
        return {};
    const int longer = std::max(size.width(), size.height());
    if (longer > maxPixels) {
        // The scaled size applies before the orientation, so it is given in file orientation.
        const double factor = double(maxPixels) / longer;
        reader.setScaledSize(QSize(std::max(1, int(std::lround(size.width() * factor))),
                                   std::max(1, int(std::lround(size.height() * factor)))));
    }
    QImage image = reader.read();
    if (image.isNull())
        return {};
    return image;
}

} // namespace vennimo::ImageReading
