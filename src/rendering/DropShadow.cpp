#include "rendering/DropShadow.h"

#include <QImage>

#include <algorithm>
#include <cmath>
#include <vector>

namespace vennimo {

namespace {

// One running-sum box pass over `count` samples spaced `stride` apart.
void boxPass(uchar* line, int count, qsizetype stride, int radius, std::vector<uchar>& scratch) {
    if (radius <= 0 || count <= 1)
        return;
    scratch.resize(count);
    for (int i = 0; i < count; ++i)
        scratch[i] = line[i * stride];
    const int window = 2 * radius + 1;
    int sum = 0;
    for (int i = -radius; i <= radius; ++i)
        sum += (i >= 0 && i < count) ? scratch[i] : 0;
    for (int i = 0; i < count; ++i) {
        line[i * stride] = uchar((sum + window / 2) / window);
        const int leaving = i - radius;
        const int entering = i + radius + 1;
        sum += (entering < count ? scratch[entering] : 0) - (leaving >= 0 ? scratch[leaving] : 0);
    }
}

} // namespace

void DropShadow::blurAlpha(uchar* bits, int width, int height, qsizetype bytesPerLine, double sigma) {
    if (sigma <= 0 || width <= 0 || height <= 0)
        return;
    // Three box passes of this radius have about the variance of the Gaussian.
    const int radius = std::max(1, int(std::lround((std::sqrt(4.0 * sigma * sigma + 1.0) - 1.0) / 2.0)));
    std::vector<uchar> scratch;
    for (int pass = 0; pass < 3; ++pass) {
        for (int y = 0; y < height; ++y)
            boxPass(bits + y * bytesPerLine, width, 1, radius, scratch);
        for (int x = 0; x < width; ++x)
            boxPass(bits + x, height, bytesPerLine, radius, scratch);
    }
}

void DropShadow::paint(QPainter& painter, const QRectF& logicalBounds,
                       const std::function<void(QPainter&)>& draw) const {
    const QTransform device = painter.deviceTransform();
    const double sigma = blur / 2;
    const int margin = int(std::ceil(3 * sigma)) + 2;
    const QRect area =
        device.mapRect(logicalBounds).toAlignedRect().adjusted(-margin, -margin, margin, margin);
    if (color.alpha() > 0 && !area.isEmpty()) {
        QImage mask(area.size(), QImage::Format_ARGB32_Premultiplied);
        if (!mask.isNull()) {
            mask.fill(Qt::transparent);
            {
                QPainter maskPainter(&mask);
                maskPainter.setRenderHints(painter.renderHints());
                maskPainter.setTransform(device * QTransform::fromTranslate(-area.x(), -area.y()));
                draw(maskPainter);
            }
            QImage alpha(area.size(), QImage::Format_Alpha8);
            if (!alpha.isNull()) {
                for (int y = 0; y < mask.height(); ++y) {
                    const auto* source = reinterpret_cast<const QRgb*>(mask.constScanLine(y));
                    uchar* target = alpha.scanLine(y);
                    for (int x = 0; x < mask.width(); ++x)
                        target[x] = uchar(qAlpha(source[x]));
                }
                blurAlpha(alpha.bits(), alpha.width(), alpha.height(), alpha.bytesPerLine(), sigma);
                // Reuse the mask as the tinted shadow.
                const QRgb tint = color.rgba();
                const int tintAlpha = qAlpha(tint);
                for (int y = 0; y < mask.height(); ++y) {
                    const uchar* source = alpha.constScanLine(y);
                    auto* target = reinterpret_cast<QRgb*>(mask.scanLine(y));
                    for (int x = 0; x < mask.width(); ++x) {
                        const int a = source[x] * tintAlpha / 255;
                        target[x] = qPremultiply(qRgba(qRed(tint), qGreen(tint), qBlue(tint), a));
                    }
                }
                painter.save();
                // The device transform holds the device pixel ratio besides the world
                // transform; resetting the world transform alone leaves that ratio in force.
                const qreal ratio = painter.device() != nullptr ? painter.device()->devicePixelRatioF() : 1.0;
                painter.setTransform(QTransform::fromScale(1 / ratio, 1 / ratio));
                painter.drawImage(QPointF(area.topLeft()) + offset, mask);
                painter.restore();
            }
        }
    }
    draw(painter);
}

} // namespace vennimo
