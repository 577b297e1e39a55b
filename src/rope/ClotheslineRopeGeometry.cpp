#include "rope/ClotheslineRopeGeometry.h"

#include "rendering/PolaroidRenderer.h"

#include <QPainterPathStroker>

#include <algorithm>
#include <cmath>

namespace vennimo {

namespace {

// NaN counts as 0 so that a broken placement still yields a finite point.
double clamp01(double value) {
    return value >= 0 ? std::min(value, 1.0) : 0.0;
}

} // namespace

double ClotheslineRopeGeometry::pegX() {
    static const double x = PolaroidRenderer::geometry().pegAnchor.x();
    return x;
}

double ClotheslineRopeGeometry::printWidth() {
    return PolaroidRenderer::defaultSize.width();
}

double ClotheslineRopeGeometry::usableSpan() const {
    const double span = width - 2 * inset - printWidth();
    return span >= 1 ? span : 1.0;
}

QPointF ClotheslineRopeGeometry::leftEnd() const {
    return {inset + pegX() - kEndOverhang, kEndY};
}

QPointF ClotheslineRopeGeometry::rightEnd() const {
    return {width - inset - (printWidth() - pegX()) + kEndOverhang, kEndY};
}

QPointF ClotheslineRopeGeometry::pointAlong(double t) const {
    const double u = clamp01(t);
    double d = 0;
    const std::size_t count = displacement.size();
    if (count >= 2) {
        const double s = u * static_cast<double>(count - 1);
        const std::size_t i = std::min(count - 2, static_cast<std::size_t>(std::floor(s)));
        d = displacement[i] + (s - static_cast<double>(i)) * (displacement[i + 1] - displacement[i]);
    }
    const double length = usableSpan() + 2 * kEndOverhang;
    return {inset + pegX() - kEndOverhang + u * length, kEndY + kRestingSagFactor * u * (1 - u) + d};
}

QPainterPath ClotheslineRopeGeometry::strand(double from, double to) const {
    const QPointF p0 = pointAlong(from);
    QPainterPath path(p0);
    const std::size_t count = displacement.size();
    if (count < 2) {
        // One cubic with the parabola's tangents at both ends is the parabola itself.
        const QPointF p1 = pointAlong(to);
        const double a = clamp01(from);
        const double b = clamp01(to);
        const double dx = (p1.x() - p0.x()) / 3;
        const double slope = kRestingSagFactor / (usableSpan() + 2 * kEndOverhang);
        path.cubicTo(QPointF(p0.x() + dx, p0.y() + (1 - 2 * a) * dx * slope),
                     QPointF(p1.x() - dx, p1.y() - (1 - 2 * b) * dx * slope), p1);
        return path;
    }
    for (std::size_t i = 1; i + 1 < count; ++i) {
        const double u = static_cast<double>(i) / static_cast<double>(count - 1);
        if (u > from && u < to)
            path.lineTo(pointAlong(u));
    }
    path.lineTo(pointAlong(to));
    return path;
}

double ClotheslineRopeGeometry::supportFraction(double x) const {
    const double span = usableSpan();
    return (clamp01(x) * span + kEndOverhang) / (span + 2 * kEndOverhang);
}

std::array<QRectF, 2> ClotheslineRopeGeometry::knotRects() const {
    const double halfWidth = kKnotSize.width() / 2;
    const double top = kEndY - kKnotSize.height() / 2;
    return {QRectF(QPointF(leftEnd().x() - halfWidth, top), kKnotSize),
            QRectF(QPointF(rightEnd().x() - halfWidth, top), kKnotSize)};
}

std::optional<ClotheslineKnotEdge> ClotheslineRopeGeometry::knotEdge(QPointF point) const {
    const std::array<QRectF, 2> knots = knotRects();
    if (knots[0].contains(point))
        return ClotheslineKnotEdge::left;
    if (knots[1].contains(point))
        return ClotheslineKnotEdge::right;
    return std::nullopt;
}

bool ClotheslineRopeGeometry::touches(const QPainterPath& peg, double tolerance) const {
    QPainterPath outline = peg;
    outline.setFillRule(Qt::WindingFill);
    for (const QRectF& knot : knotRects()) {
        if (outline.intersects(knot))
            return false;
    }
    QPainterPathStroker stroker;
    stroker.setWidth(2 * tolerance + kStrandWidth);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    stroker.setMiterLimit(1);
    const QPainterPath band = stroker.createStroke(strand(supportFraction(0), supportFraction(1)));
    return outline.intersects(band);
}

std::array<QRectF, 2> ClotheslineRopeGeometry::tackRects() const {
    const double half = kTackSizePoints / 2;
    const QSizeF size(kTackSizePoints, kTackSizePoints);
    return {QRectF(QPointF(leftEnd().x() - half, kEndY - half), size),
            QRectF(QPointF(rightEnd().x() - half, kEndY - half), size)};
}

} // namespace vennimo
