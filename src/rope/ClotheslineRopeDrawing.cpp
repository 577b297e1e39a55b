#include "rope/ClotheslineRopeGeometry.h"

#include "rendering/ClotheslineMaterialAssets.h"
#include "rendering/DropShadow.h"

#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>
#include <vector>

namespace vennimo {

namespace {

constexpr int kTackPixelsPerPoint = 4;
constexpr int kTackPixels = 32 * kTackPixelsPerPoint;
const QRectF kTackRect(8.5, 8.5, 15, 15);
// Qt's antialiased rasteriser turns slow (about a microsecond per device pixel) once one shape
// travels more than some 40 device pixels, so stroking a whole strand three times cost more
// than a millisecond. A strand is therefore filled as its outline (round caps, mitred joins,
// which match round joins on a rope's gentle bends) cut into vertical slabs of whole device
// pixel columns: slabs neither overlap nor leave seams, and each stays short.
constexpr int kSlabPixels = 32;
constexpr int kCapSegments = 12;
constexpr double kCurveStepPixels = 4;
// Sharper bends than about 120 degrees are mitred no further than this.
constexpr double kMaximumMiterFactor = 2;

QPointF unit(QPointF v) {
    const double length = std::hypot(v.x(), v.y());
    return length > 0 ? v / length : QPointF();
}

// The outline of a line of the given width around a polyline running strictly left to right;
// empty for any other polyline.
QPolygonF strandOutline(const QPolygonF& raw, double halfWidth) {
    QPolygonF line;
    for (const QPointF& point : raw) {
        if (line.isEmpty() || point != line.back())
            line.append(point);
    }
    const qsizetype count = line.size();
    if (count < 2)
        return {};
    std::vector<QPointF> normals;
    normals.reserve(count - 1);
    for (qsizetype i = 0; i + 1 < count; ++i) {
        if (!(line[i + 1].x() > line[i].x()))
            return {};
        const QPointF d = unit(line[i + 1] - line[i]);
        normals.emplace_back(-d.y(), d.x());
    }
    std::vector<QPointF> offsets(count);
    offsets[0] = normals.front() * halfWidth;
    offsets[count - 1] = normals.back() * halfWidth;
    for (qsizetype i = 1; i + 1 < count; ++i) {
        const QPointF bisector = unit(normals[i - 1] + normals[i]);
        const double cosine = QPointF::dotProduct(bisector, normals[i]);
        offsets[i] = bisector * (halfWidth * std::min(1 / std::max(cosine, 1e-9), kMaximumMiterFactor));
    }
    const auto cap = [halfWidth](QPolygonF& outline, QPointF centre, QPointF from) {
        // Half a turn from `from` to its opposite, clockwise on screen (y down) seen from `from`.
        const double start = std::atan2(from.y(), from.x());
        for (int k = 1; k < kCapSegments; ++k) {
            const double angle = start - std::numbers::pi * k / kCapSegments;
            outline.append(centre + QPointF(std::cos(angle), std::sin(angle)) * halfWidth);
        }
    };
    QPolygonF outline;
    outline.reserve(2 * count + 2 * kCapSegments);
    for (qsizetype i = 0; i < count; ++i)
        outline.append(line[i] + offsets[i]);
    cap(outline, line[count - 1], normals.back());
    for (qsizetype i = count - 1; i >= 0; --i)
        outline.append(line[i] - offsets[i]);
    cap(outline, line[0], -normals.front());
    return outline;
}

// The part of a polygon with left <= x <= right (Sutherland-Hodgman against two edges).
QPolygonF clipToSlab(const QPolygonF& polygon, double left, double right) {
    const auto clip = [](const QPolygonF& in, double edge, bool keepRight) {
        QPolygonF out;
        const auto inside = [edge, keepRight](QPointF p) {
            return keepRight ? p.x() >= edge : p.x() <= edge;
        };
        for (qsizetype i = 0; i < in.size(); ++i) {
            const QPointF current = in[i];
            const QPointF previous = in[(i + in.size() - 1) % in.size()];
            if (inside(current) != inside(previous)) {
                const double t = (edge - previous.x()) / (current.x() - previous.x());
                out.append(QPointF(edge, previous.y() + t * (current.y() - previous.y())));
            }
            if (inside(current))
                out.append(current);
        }
        return out;
    };
    return clip(clip(polygon, left, true), right, false);
}

// The subpaths as polylines, curves cut into pieces of a few device pixels: far finer than
// Qt's own flattening, whose half-pixel steps would show on a line this thin.
std::vector<QPolygonF> flattened(const QPainterPath& path, const QTransform& device) {
    std::vector<QPolygonF> polylines;
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element element = path.elementAt(i);
        if (element.isMoveTo() || polylines.empty()) {
            polylines.emplace_back();
            polylines.back().append(element);
            continue;
        }
        if (element.isLineTo()) {
            polylines.back().append(element);
            continue;
        }
        if (element.isCurveTo() && i + 2 < path.elementCount()) {
            const QPointF p0 = polylines.back().back();
            const QPointF c1 = element;
            const QPointF c2 = path.elementAt(i + 1);
            const QPointF p1 = path.elementAt(i + 2);
            const QPolygonF hull = device.map(QPolygonF{p0, c1, c2, p1});
            double length = 0;
            for (int k = 1; k < hull.size(); ++k)
                length += std::hypot(hull[k].x() - hull[k - 1].x(), hull[k].y() - hull[k - 1].y());
            const int steps = std::clamp(static_cast<int>(std::ceil(length / kCurveStepPixels)), 1, 100000);
            for (int k = 1; k <= steps; ++k) {
                const double t = static_cast<double>(k) / steps;
                const double u = 1 - t;
                polylines.back().append(u * u * u * p0 + 3 * u * u * t * c1 + 3 * u * t * t * c2 +
                                        t * t * t * p1);
            }
            i += 2;
        }
    }
    return polylines;
}

void fillStrand(QPainter& painter, const QPainterPath& path, const QPen& pen) {
    const QTransform device = painter.deviceTransform();
    if (device.type() > QTransform::TxScale || device.m11() <= 0 || device.m22() == 0) {
        painter.strokePath(path, pen);
        return;
    }
    painter.save();
    painter.setPen(Qt::NoPen);
    painter.setBrush(pen.color());
    for (const QPolygonF& polyline : flattened(path, device)) {
        const QPolygonF outline = strandOutline(polyline, pen.widthF() / 2);
        if (outline.isEmpty()) {
            QPainterPath single;
            single.addPolygon(polyline);
            painter.strokePath(single, pen);
            continue;
        }
        const QRectF bounds = outline.boundingRect();
        const int first = static_cast<int>(std::floor(device.m11() * bounds.left() + device.dx()));
        const int last = static_cast<int>(std::ceil(device.m11() * bounds.right() + device.dx()));
        for (int column = first; column < last; column += kSlabPixels) {
            const double left = (column - device.dx()) / device.m11();
            const double right = (std::min(column + kSlabPixels, last) - device.dx()) / device.m11();
            const QPolygonF slab = clipToSlab(outline, left, right);
            if (slab.size() >= 3)
                painter.drawPolygon(slab, Qt::WindingFill);
        }
    }
    painter.restore();
}

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

// Draws `shape` onto `target` over its own soft shadow. Offsets and blur are in pixels of the
// bitmap with y growing downward.
void drawWithShadow(QImage& target, const QRectF& bounds, const std::function<void(QPainter&)>& shape,
                    QPointF offsetPixels, double blurPixels, const QColor& color) {
    QPainter painter(&target);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    DropShadow{offsetPixels, blurPixels, color}.paint(painter, bounds, shape);
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
    drawWithShadow(image, body, fillBody, QPointF(4.4, 8.4), 8, shadowColor);
    drawWithShadow(image, body, fillBody, QPointF(4.4, 2.6), 2.4, contactShadowColor);

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
    fillStrand(painter, path, strandPen(0.43, 0.39, 0.32, 0.95, 2.6));
    fillStrand(painter, path, strandPen(0.69, 0.63, 0.52, 1.0, 1.65));
    painter.save();
    fillStrand(painter, path.translated(0, -0.35), strandPen(0.9, 0.86, 0.76, 0.65, 0.45));
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
            image, kTackRect,
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
