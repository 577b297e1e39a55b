#include "widgets/ToolbarSymbol.h"

#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>

#include <cmath>
#include <numbers>

namespace vennimo {

namespace {

// Outlines in a unit square; the painter's transform scales them to the symbol size.
QPainterPath polyline(std::initializer_list<QPointF> points) {
    QPainterPath path;
    bool first = true;
    for (const QPointF& p : points) {
        first ? path.moveTo(p) : path.lineTo(p);
        first = false;
    }
    return path;
}

QPainterPath circle(QPointF centre, double radius) {
    QPainterPath path;
    path.addEllipse(centre, radius, radius);
    return path;
}

QPainterPath roundedRect(const QRectF& rect, double radius) {
    QPainterPath path;
    path.addRoundedRect(rect, radius, radius);
    return path;
}

QPainterPath gear() {
    QPainterPath outline = circle({0.5, 0.5}, 0.34);
    constexpr int kTeeth = 8;
    for (int i = 0; i < kTeeth; ++i) {
        QPainterPath tooth;
        tooth.addRoundedRect(QRectF(-0.07, -0.47, 0.14, 0.2), 0.03, 0.03);
        QTransform turn;
        turn.translate(0.5, 0.5);
        turn.rotate(360.0 * i / kTeeth);
        outline = outline.united(turn.map(tooth));
    }
    return outline;
}

struct Strokes {
    QPainterPath stroked;
    QPainterPath filled;
};

Strokes shapes(const QString& name, double width) {
    Strokes s;
    if (name == QLatin1String("chevron.down")) {
        s.stroked = polyline({{0.15, 0.33}, {0.5, 0.68}, {0.85, 0.33}});
    } else if (name == QLatin1String("xmark")) {
        s.stroked = polyline({{0.2, 0.2}, {0.8, 0.8}});
        s.stroked.addPath(polyline({{0.8, 0.2}, {0.2, 0.8}}));
    } else if (name == QLatin1String("checkmark")) {
        s.stroked = polyline({{0.14, 0.53}, {0.4, 0.8}, {0.88, 0.2}});
    } else if (name == QLatin1String("eye")) {
        QPainterPath lid;
        lid.moveTo(0.03, 0.5);
        lid.quadTo(0.5, 0.02, 0.97, 0.5);
        lid.quadTo(0.5, 0.98, 0.03, 0.5);
        s.stroked = lid;
        s.filled = circle({0.5, 0.5}, 0.16);
    } else if (name == QLatin1String("doc.on.doc")) {
        const QPainterPath front = roundedRect({0.12, 0.28, 0.54, 0.66}, 0.08);
        const QPainterPath back = roundedRect({0.34, 0.06, 0.54, 0.66}, 0.08);
        QPainterPathStroker stroker;
        stroker.setWidth(width);
        // The back sheet shows only where the front one does not cover it.
        s.filled = stroker.createStroke(back).subtracted(roundedRect({0.12, 0.28, 0.54, 0.66}, 0.08));
        s.stroked = front;
    } else if (name == QLatin1String("arrow.uturn.backward")) {
        QPainterPath path;
        path.moveTo(0.84, 0.86);
        path.lineTo(0.84, 0.56);
        path.cubicTo(0.84, 0.36, 0.72, 0.3, 0.52, 0.3);
        path.lineTo(0.14, 0.3);
        path.addPath(polyline({{0.36, 0.08}, {0.14, 0.3}, {0.36, 0.52}}));
        s.stroked = path;
    } else if (name == QLatin1String("minus.circle")) {
        s.stroked = circle({0.5, 0.5}, 0.42);
        s.stroked.addPath(polyline({{0.29, 0.5}, {0.71, 0.5}}));
    } else if (name == QLatin1String("info.circle")) {
        s.stroked = circle({0.5, 0.5}, 0.42);
        s.stroked.addPath(polyline({{0.5, 0.45}, {0.5, 0.73}}));
        s.filled = circle({0.5, 0.3}, 0.055);
    } else if (name == QLatin1String("trash")) {
        QPainterPath path = polyline({{0.1, 0.2}, {0.9, 0.2}});
        path.addPath(polyline({{0.37, 0.2}, {0.39, 0.08}, {0.61, 0.08}, {0.63, 0.2}}));
        path.addPath(polyline({{0.2, 0.2}, {0.26, 0.92}, {0.74, 0.92}, {0.8, 0.2}}));
        path.addPath(polyline({{0.42, 0.36}, {0.43, 0.76}}));
        path.addPath(polyline({{0.58, 0.36}, {0.57, 0.76}}));
        s.stroked = path;
    } else if (name == QLatin1String("gearshape")) {
        s.stroked = gear();
        s.stroked.addPath(circle({0.5, 0.5}, 0.14));
    } else if (name == QLatin1String("photo.on.rectangle.angled")) {
        QTransform tilt;
        tilt.translate(0.5, 0.5);
        tilt.rotate(-12);
        tilt.translate(-0.5, -0.5);
        const QPainterPath back = tilt.map(roundedRect({0.16, 0.1, 0.7, 0.56}, 0.06));
        const QPainterPath front = roundedRect({0.06, 0.32, 0.72, 0.58}, 0.06);
        QPainterPathStroker stroker;
        stroker.setWidth(width);
        s.filled = stroker.createStroke(back).subtracted(roundedRect({0.06, 0.32, 0.72, 0.58}, 0.06));
        s.stroked = front;
        s.stroked.addPath(polyline({{0.12, 0.84}, {0.34, 0.6}, {0.5, 0.76}, {0.6, 0.66}, {0.74, 0.82}}));
        s.filled.addPath(circle({0.56, 0.46}, 0.06));
    }
    return s;
}

} // namespace

bool ToolbarSymbol::known(const QString& name) {
    static const QStringList names{"chevron.down",
                                   "xmark",
                                   "checkmark",
                                   "eye",
                                   "doc.on.doc",
                                   "arrow.uturn.backward",
                                   "minus.circle",
                                   "info.circle",
                                   "trash",
                                   "gearshape",
                                   "photo.on.rectangle.angled"};
    return names.contains(name);
}

void ToolbarSymbol::paint(QPainter& painter, const QString& name, const QRectF& box, double size,
                          const QColor& color, double weight) {
    // A 13-pixel symbol draws 1.4 pixels wide; bold and larger symbols draw wider.
    const double pixelWidth = std::max(1.0, size * 0.105 * weight);
    const double unitWidth = pixelWidth / size;
    const Strokes s = shapes(name, unitWidth);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(box.center().x() - size / 2, box.center().y() - size / 2);
    painter.scale(size, size);
    QPen pen(color, unitWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(s.stroked);
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawPath(s.filled);
    painter.restore();
}

} // namespace vennimo
