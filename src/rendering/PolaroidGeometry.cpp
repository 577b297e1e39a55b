#include "rendering/PolaroidGeometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vennimo {

namespace {

// The photo window keeps this area in design units between the tall and wide limits.
constexpr double kWindowArea = 23408;
constexpr double kMaxWindowHeight = 190;
constexpr double kMaxWindowWidth = 210;
constexpr double kBorder = 8;
constexpr double kBottomExtra = 22;
constexpr double kPaperTop = 32;
constexpr double kImageTop = 40;
constexpr QRectF kPegDesignRect{137.5, 3, 15, 47};
constexpr double kPaperRadius = 3;
constexpr double kPegRadius = 2.7;

double aspectOf(QSizeF imageSize) {
    const double w = imageSize.width();
    const double h = imageSize.height();
    if (std::isfinite(w) && std::isfinite(h) && w > 0 && h > 0 && std::isfinite(w / h))
        return w / h;
    return 4.0 / 3.0;
}

QPainterPath windingPath(const QPainterPath& path, const QTransform& transform) {
    QPainterPath mapped = transform.map(path);
    mapped.setFillRule(Qt::WindingFill);
    return mapped;
}

QPainterPath roundedRect(const QRectF& rect, double radius) {
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    path.addRoundedRect(rect, radius, radius);
    return path;
}

} // namespace

PolaroidGeometry PolaroidGeometry::make(QSizeF size, QSizeF imageSize, double angle, double offset) {
    const double sx = std::max(size.width(), 1.0) / kDesignWidth;
    const double sy = std::max(size.height(), 1.0) / kDesignHeight;
    const double u = std::min(sx, sy);

    const double a = aspectOf(imageSize);
    const double windowWidth = std::min({std::sqrt(a * kWindowArea), a * kMaxWindowHeight, kMaxWindowWidth});
    const double windowHeight = windowWidth / a;

    const auto scaled = [sx, sy](double x, double y, double w, double h) {
        return QRectF(sx * x, sy * y, sx * w, sy * h);
    };
    const double paperX = kDefaultPegAnchor.x() - (windowWidth + 2 * kBorder) / 2;

    PolaroidGeometry g;
    g.canvas = QRectF(0, 0, size.width(), size.height());
    g.paperRect = scaled(paperX, kPaperTop, windowWidth + 2 * kBorder, windowHeight + kBorder + kBottomExtra);
    g.imageRect = scaled(paperX + kBorder, kImageTop, windowWidth, windowHeight);
    g.pegRect =
        scaled(kPegDesignRect.x(), kPegDesignRect.y(), kPegDesignRect.width(), kPegDesignRect.height());
    g.pegAnchor = QPointF(kDefaultPegAnchor.x() * sx, kDefaultPegAnchor.y() * sy);

    // A rotation in design space expressed in canvas coordinates, so unequal sx and sy still
    // give a true rotation of the print.
    const double theta = angle * std::numbers::pi / 180;
    const double cosT = std::cos(theta);
    const double sinT = std::sin(theta);
    const double m11 = cosT;
    const double m12 = sinT * sy / sx;
    const double m21 = -sinT * sx / sy;
    const double m22 = cosT;
    const double ax = g.pegAnchor.x();
    const double ay = g.pegAnchor.y();
    const double tx = ax - m11 * ax - m21 * ay;
    const double ty = ay - m12 * ax - m22 * ay;
    g.pegTransform = QTransform(m11, m12, m21, m22, tx, ty);

    const double paperWidth = g.paperRect.width();
    g.paperTransform =
        QTransform(m11, m12, m21, m22, tx - m11 * offset * paperWidth, ty - m12 * offset * paperWidth);

    g.paperPath = windingPath(roundedRect(g.paperRect, kPaperRadius * u), g.paperTransform);
    g.pegPath = windingPath(roundedRect(g.pegRect, kPegRadius * u), g.pegTransform);
    return g;
}

double PolaroidGeometry::unit() const {
    return std::min(canvas.width() / kDesignWidth, canvas.height() / kDesignHeight);
}

QRectF PolaroidGeometry::visibleBounds() const {
    return paperPath.boundingRect().united(pegPath.boundingRect());
}

bool PolaroidGeometry::contains(QPointF point) const {
    return paperPath.contains(point) || pegPath.contains(point);
}

QPainterPath PolaroidGeometry::indicatorPath(bool selected) const {
    const double u = unit();
    QPainterPath path;
    path.setFillRule(Qt::WindingFill);
    if (selected) {
        path.addEllipse(QRectF(paperRect.right() - 16 * u, paperRect.top() - 10 * u, 26 * u, 26 * u));
    } else {
        path.addRoundedRect(QRectF(paperRect.left() - 7 * u, paperRect.top() - 7 * u, 26 * u, 21 * u), 5 * u,
                            5 * u);
    }
    return windingPath(path, paperTransform);
}

} // namespace vennimo
