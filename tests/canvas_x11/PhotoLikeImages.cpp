#include "PhotoLikeImages.h"

#include "support/TestImages.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>
#include <QRadialGradient>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

// jpeglib.h takes FILE from stdio.h without including it.
#include <jpeglib.h>

namespace vennimo::test {

namespace {

void addGrain(QImage& image, QRandomGenerator& random) {
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int n = int(random.bounded(13)) - 6;
            const QRgb p = line[x];
            line[x] = qRgb(std::clamp(qRed(p) + n, 0, 255), std::clamp(qGreen(p) + n, 0, 255),
                           std::clamp(qBlue(p) + n, 0, 255));
        }
    }
}

QPainterPath ridge(double width, double base, double height, QRandomGenerator& random, double bottom) {
    QPainterPath path;
    path.moveTo(0, bottom);
    path.lineTo(0, base);
    const int steps = 9;
    for (int i = 1; i <= steps; ++i) {
        const double x = width * i / steps;
        const double y = base - height * (0.3 + 0.7 * random.generateDouble());
        path.quadTo(x - width / steps / 2, y - height * 0.3 * random.generateDouble(), x, y);
    }
    path.lineTo(width, bottom);
    path.closeSubpath();
    return path;
}

void paintLandscape(QPainter& p, QSize size, QRandomGenerator& random, int seed) {
    const double w = size.width();
    const double h = size.height();
    const bool dusk = seed % 2 == 1;
    QLinearGradient sky(0, 0, 0, h * 0.6);
    sky.setColorAt(0, dusk ? QColor(40, 50, 110) : QColor(70, 130, 210));
    sky.setColorAt(0.7, dusk ? QColor(230, 120, 90) : QColor(170, 210, 240));
    sky.setColorAt(1, dusk ? QColor(250, 200, 130) : QColor(230, 240, 245));
    p.fillRect(QRectF(0, 0, w, h), sky);

    const QPointF sun(w * (0.2 + 0.6 * random.generateDouble()), h * (0.18 + 0.2 * random.generateDouble()));
    QRadialGradient glow(sun, h * 0.25);
    glow.setColorAt(0, QColor(255, 250, 220, 255));
    glow.setColorAt(0.15, QColor(255, 235, 180, 220));
    glow.setColorAt(1, QColor(255, 220, 160, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(glow);
    p.drawEllipse(sun, h * 0.25, h * 0.25);

    const QColor far = dusk ? QColor(110, 90, 130) : QColor(120, 150, 180);
    const QColor near = dusk ? QColor(50, 60, 60) : QColor(60, 110, 60);
    for (int layer = 0; layer < 3; ++layer) {
        const double t = layer / 2.0;
        QColor colour = QColor::fromRgbF(far.redF() + (near.redF() - far.redF()) * t,
                                         far.greenF() + (near.greenF() - far.greenF()) * t,
                                         far.blueF() + (near.blueF() - far.blueF()) * t);
        QLinearGradient fill(0, h * 0.35, 0, h);
        fill.setColorAt(0, colour.lighter(115));
        fill.setColorAt(1, colour.darker(130));
        p.setBrush(fill);
        p.drawPath(ridge(w, h * (0.55 + 0.1 * layer), h * (0.25 - 0.06 * layer), random, h));
    }

    QLinearGradient water(0, h * 0.78, 0, h);
    water.setColorAt(0, dusk ? QColor(200, 130, 110) : QColor(110, 160, 200));
    water.setColorAt(1, dusk ? QColor(60, 50, 80) : QColor(40, 80, 120));
    p.setBrush(water);
    p.drawRect(QRectF(0, h * 0.8, w, h * 0.2));

    for (int i = 0; i < 7; ++i) {
        const double x = w * random.generateDouble();
        const double base = h * (0.8 + 0.02 * random.generateDouble());
        const double tree = h * (0.12 + 0.1 * random.generateDouble());
        p.setBrush(QColor(70, 50, 35));
        p.drawRect(QRectF(x - w * 0.004, base - tree * 0.3, w * 0.008, tree * 0.3));
        QPainterPath crown;
        crown.moveTo(x, base - tree);
        crown.lineTo(x - tree * 0.22, base - tree * 0.25);
        crown.lineTo(x + tree * 0.22, base - tree * 0.25);
        crown.closeSubpath();
        p.setBrush(dusk ? QColor(25, 40, 35) : QColor(30, 80 + int(random.bounded(30)), 40));
        p.drawPath(crown);
    }
}

} // namespace

QImage makePhotoLikeImage(QSize size, int seed) {
    QImage image(size, QImage::Format_RGB32);
    QRandomGenerator random(quint32(seed) * 7919u + 17u);
    {
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        paintLandscape(p, size, random, seed);
        QRadialGradient vignette(QPointF(size.width() / 2.0, size.height() / 2.0),
                                 std::hypot(size.width(), size.height()) / 2);
        vignette.setColorAt(0.6, QColor(0, 0, 0, 0));
        vignette.setColorAt(1, QColor(0, 0, 0, 90));
        p.fillRect(image.rect(), vignette);
    }
    addGrain(image, random);
    return image;
}

QByteArray grainyJpeg(int width, int height, int seed, bool progressive) {
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random{quint32(seed)};
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const quint32 noise = random.generate();
            line[x] = qRgb(int((x * 200 / width + (noise & 63) + seed * 17) & 255),
                           int((y * 200 / height + ((noise >> 6) & 63)) & 255),
                           int(((x + y) * 100 / (width + height) + ((noise >> 12) & 63)) & 255));
        }
    }
    return jpegOf(image, 93, progressive);
}

QByteArray progressiveCameraJpeg() {
    QImage image(6000, 4000, QImage::Format_RGB32);
    quint32 state = 11;
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            line[x] = qRgb(int((x / 24 + (state >> 26)) & 255), int((y / 16 + (state >> 20)) & 255),
                           int(((x + y) / 40 + (state >> 14)) & 255));
        }
    }
    return jpegOf(image, 90, true);
}

QByteArray streamedJpeg(int width, int height, int seed, int components, bool progressive) {
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&info, &out, &outSize);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = components;
    info.in_color_space = components == 1 ? JCS_GRAYSCALE : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 92, TRUE);
    for (int c = 0; c < info.num_components; ++c)
        info.comp_info[c].h_samp_factor = info.comp_info[c].v_samp_factor = 1;
    if (progressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row(size_t(width) * size_t(components));
    QRandomGenerator random{quint32(seed)};
    while (info.next_scanline < info.image_height) {
        const int y = int(info.next_scanline);
        for (int x = 0; x < width; ++x) {
            const int grain = int(random.bounded(9)) - 4;
            const int light = (x * 160 / width + y * 60 / height + seed * 13) & 255;
            for (int c = 0; c < components; ++c)
                row[size_t(x * components + c)] =
                    JSAMPLE(std::clamp((light * (c + 2)) / 3 % 256 + grain, 0, 255));
        }
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray bytes(reinterpret_cast<const char*>(out), qsizetype(outSize));
    std::free(out);
    return bytes;
}

QList<QByteArray> distinctHeics(const QByteArray& heic, int count) {
    QList<QByteArray> files;
    for (int i = 0; i < count; ++i) {
        const QByteArray number = QByteArray::number(i);
        const quint32 size = quint32(8 + number.size());
        QByteArray box;
        for (int shift = 24; shift >= 0; shift -= 8)
            box.append(char((size >> shift) & 0xFF));
        files.append(heic + box + "free" + number);
    }
    return files;
}

QByteArray withComment(const QByteArray& jpeg, int index) {
    const QByteArray text = "photo " + QByteArray::number(index);
    QByteArray segment("\xFF\xFE", 2);
    segment.append(char((text.size() + 2) >> 8)).append(char((text.size() + 2) & 0xFF)).append(text);
    return jpeg.left(2) + segment + jpeg.mid(2);
}

std::optional<QStringList> encodeHeics(const QString& heifEnc, const QByteArray& jpeg, const QString& folder,
                                       const QString& stem, int count) {
    std::vector<std::unique_ptr<QProcess>> encoders;
    QStringList heics;
    for (int i = 0; i < count; ++i) {
        const QString source = QString("%1/%2-source-%3.jpg").arg(folder, stem).arg(i);
        QFile file(source);
        if (!file.open(QIODevice::WriteOnly) || file.write(withComment(jpeg, i)) < 0)
            return std::nullopt;
        file.close();
        heics.append(QString("%1/%2-%3.heic").arg(folder, stem).arg(i));
        auto& encoder = encoders.emplace_back(std::make_unique<QProcess>());
        encoder->start(heifEnc, {"-q", "60", "-p", "preset=ultrafast", "-o", heics.last(), source});
    }
    bool made = true;
    for (const auto& encoder : encoders)
        made = encoder->waitForFinished(300000) && encoder->exitCode() == 0 && made;
    for (int i = 0; i < count; ++i)
        QFile::remove(QString("%1/%2-source-%3.jpg").arg(folder, stem).arg(i));
    if (!made)
        return std::nullopt;
    return heics;
}

} // namespace vennimo::test
