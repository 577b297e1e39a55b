#include "rope/ClotheslineRopeGeometry.h"

#include "rendering/ClotheslineMaterialAssets.h"

#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include <cmath>
#include <functional>
#include <vector>

namespace vennimo {

namespace {

constexpr int kTackPixelsPerPoint = 4;
constexpr int kTackPixels = 32 * kTackPixelsPerPoint;
const QRectF kTackRect(8.5, 8.5, 15, 15);

QPen strandPen(double red, double green, double blue, double alpha, double lineWidth) {
    QPen pen(QColor::fromRgbF(red, green, blue, alpha), lineWidth);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

QImage blankTackImage() {
    QImage image(kTackPixels, kTackPixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(kTackPixelsPerPoint);
    return image;
}

// Gaussian blur of the alpha channel, separable; `sigma` in pixels.
std::vector<float> blurredAlpha(const QImage& image, double sigma) {
    const int w = image.width();
    const int h = image.height();
    std::vector<float> alpha(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < w; ++x)
            alpha[static_cast<std::size_t>(y) * w + x] = static_cast<float>(qAlpha(line[x])) / 255.0F;
    }
    if (sigma <= 0)
        return alpha;
    const int radius = static_cast<int>(std::ceil(3 * sigma));
    std::vector<float> kernel(2 * radius + 1);
    float sum = 0;
    for (int i = -radius; i <= radius; ++i) {
        kernel[i + radius] = static_cast<float>(std::exp(-(i * i) / (2 * sigma * sigma)));
        sum += kernel[i + radius];
    }
    for (float& k : kernel)
        k /= sum;
    std::vector<float> pass(alpha.size());
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            float value = 0;
            for (int i = -radius; i <= radius; ++i) {
                const int sx = x + i;
                if (sx >= 0 && sx < w)
                    value += kernel[i + radius] * alpha[static_cast<std::size_t>(y) * w + sx];
            }
            pass[static_cast<std::size_t>(y) * w + x] = value;
        }
    }
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            float value = 0;
            for (int i = -radius; i <= radius; ++i) {
                const int sy = y + i;
                if (sy >= 0 && sy < h)
                    value += kernel[i + radius] * pass[static_cast<std::size_t>(sy) * w + x];
            }
            alpha[static_cast<std::size_t>(y) * w + x] = value;
        }
    }
    return alpha;
}

// Draws `shape` onto `target` over its own soft shadow. Offsets and blur are in pixels of the
// bitmap with y growing downward; the blur is the shadow's Gaussian width (sigma = blur / 2).
void drawWithShadow(QImage& target, const std::function<void(QPainter&)>& shape, QPointF offsetPixels,
                    double blurPixels, const QColor& color) {
    QImage layer = blankTackImage();
    {
        QPainter painter(&layer);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        shape(painter);
    }
    const std::vector<float> alpha = blurredAlpha(layer, blurPixels / 2);
    QImage shadow(layer.size(), QImage::Format_ARGB32_Premultiplied);
    for (int y = 0; y < shadow.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(shadow.scanLine(y));
        for (int x = 0; x < shadow.width(); ++x) {
            const double a = alpha[static_cast<std::size_t>(y) * shadow.width() + x] * color.alphaF();
            line[x] = qRgba(qRound(color.redF() * a * 255), qRound(color.greenF() * a * 255),
                            qRound(color.blueF() * a * 255), qRound(a * 255));
        }
    }
    shadow.setDevicePixelRatio(kTackPixelsPerPoint);
    QPainter painter(&target);
    painter.drawImage(offsetPixels / kTackPixelsPerPoint, shadow);
    painter.drawImage(QPointF(0, 0), layer);
}

QColor opaque(double red, double green, double blue) {
    return QColor::fromRgbF(red, green, blue);
}

void drawBrassSphere(QImage& image) {
    const QRectF body = kTackRect.translated(0, 0.65);
    const QColor shadowColor = QColor::fromRgbF(0.16, 0.1, 0.03, 0.24);
    const QColor contactShadowColor = QColor::fromRgbF(0.16, 0.1, 0.03, 0.27);
    const auto fillBody = [body](QPainter& painter) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(opaque(0.37, 0.23, 0.07));
        painter.drawEllipse(body);
    };
    drawWithShadow(image, fillBody, QPointF(4.4, 8.4), 8, shadowColor);
    drawWithShadow(image, fillBody, QPointF(4.4, 2.6), 2.4, contactShadowColor);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);

    QPainterPath ellipse;
    ellipse.addEllipse(kTackRect);
    painter.save();
    painter.setClipPath(ellipse);
    QLinearGradient shade(kTackRect.topLeft(), kTackRect.bottomRight());
    shade.setColorAt(0, opaque(0.95, 0.78, 0.4));
    shade.setColorAt(0.45, opaque(0.65, 0.43, 0.13));
    shade.setColorAt(1, opaque(0.32, 0.19, 0.04));
    painter.fillRect(kTackRect, shade);
    painter.restore();

    const QRectF inner = kTackRect.adjusted(0.55, 0.55, -0.55, -0.55);
    QPainterPath innerEllipse;
    innerEllipse.addEllipse(inner);
    painter.save();
    painter.setClipPath(innerEllipse);
    const QPointF origin = kTackRect.topLeft();
    // Qt's extended radial gradient: the end circle first, then the start (focal) circle.
    QRadialGradient metal(origin + QPointF(4.5, 4.0), 13.2, origin + QPointF(4, 3.3), 0);
    metal.setColorAt(0, opaque(1, 0.94, 0.68));
    metal.setColorAt(0.23, opaque(0.94, 0.77, 0.37));
    metal.setColorAt(0.61, opaque(0.72, 0.49, 0.15));
    metal.setColorAt(1, opaque(0.42, 0.26, 0.06));
    metal.setSpread(QGradient::PadSpread);
    painter.fillRect(kTackRect, metal);
    QRadialGradient highlight(origin + QPointF(4.1, 3.2), 3.9);
    highlight.setColorAt(0, QColor::fromRgbF(1, 0.98, 0.86, 0.72));
    highlight.setColorAt(1, QColor::fromRgbF(1, 0.95, 0.69, 0));
    painter.fillRect(kTackRect, highlight);
    painter.restore();

    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor::fromRgbF(0.38, 0.25, 0.07, 0.66), 0.3));
    painter.drawEllipse(kTackRect.adjusted(0.175, 0.175, -0.175, -0.175));
}

} // namespace

void ClotheslineRopeGeometry::drawStrand(QPainter& painter, const QPainterPath& path) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(Qt::NoBrush);
    painter.strokePath(path, strandPen(0.43, 0.39, 0.32, 0.95, 2.6));
    painter.strokePath(path, strandPen(0.69, 0.63, 0.52, 1.0, 1.65));
    painter.save();
    painter.strokePath(path.translated(0, -0.35), strandPen(0.9, 0.86, 0.76, 0.65, 0.45));
    painter.restore();
    painter.restore();
}

QImage ClotheslineRopeGeometry::makeBrassTack(const std::optional<QImage>& artwork) {
    QImage image = blankTackImage();
    if (image.isNull())
        return image;
    if (artwork && !artwork->isNull()) {
        const QImage art = *artwork;
        drawWithShadow(
            image,
            [&art](QPainter& painter) {
                painter.setRenderHint(QPainter::SmoothPixmapTransform);
                painter.drawImage(kTackRect, art);
            },
            QPointF(3.2, 7.2), 6.4, QColor::fromRgbF(0.16, 0.1, 0.03, 0.32));
        return image;
    }
    drawBrassSphere(image);
    return image;
}

const QImage& ClotheslineRopeGeometry::brassTack() {
    static const QImage tack = makeBrassTack(ClotheslineMaterialAssets::tack());
    return tack;
}

void ClotheslineRopeGeometry::draw(QPainter& painter) const {
    drawStrand(painter, strand(0, 1));
    const QImage& tack = brassTack();
    painter.save();
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    for (const QRectF& rect : tackRects())
        painter.drawImage(rect, tack);
    painter.restore();
}

} // namespace vennimo
