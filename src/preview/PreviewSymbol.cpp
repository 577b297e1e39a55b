#include "preview/PreviewSymbol.h"

#include <QPainter>
#include <QPainterPath>

namespace vennimo {

namespace {

constexpr double kStrokeFraction = 0.11;

} // namespace

bool PreviewSymbol::known(const QString& name) {
    static const QStringList names{"folder",       "minus.circle",  "plus.circle", "trash",
                                   "chevron.left", "chevron.right", "xmark"};
    return names.contains(name);
}

void PreviewSymbol::paint(QPainter& painter, const QString& name, const QRectF& box, const QColor& color) {
    if (!known(name))
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const double s = std::min(box.width(), box.height());
    const QRectF b(box.center().x() - s / 2, box.center().y() - s / 2, s, s);
    QPen pen(color, s * kStrokeFraction, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    const auto at = [&](double fx, double fy) { return QPointF(b.left() + fx * s, b.top() + fy * s); };

    if (name == QLatin1String("minus.circle") || name == QLatin1String("plus.circle")) {
        const double inset = s * kStrokeFraction / 2;
        painter.drawEllipse(b.adjusted(inset, inset, -inset, -inset));
        painter.drawLine(at(0.3, 0.5), at(0.7, 0.5));
        if (name == QLatin1String("plus.circle"))
            painter.drawLine(at(0.5, 0.3), at(0.5, 0.7));
    } else if (name == QLatin1String("trash")) {
        painter.drawLine(at(0.1, 0.22), at(0.9, 0.22));
        painter.drawPolyline(QPolygonF{at(0.36, 0.22), at(0.38, 0.07), at(0.62, 0.07), at(0.64, 0.22)});
        QPainterPath can;
        can.moveTo(at(0.2, 0.22));
        can.lineTo(at(0.26, 0.93));
        can.lineTo(at(0.74, 0.93));
        can.lineTo(at(0.8, 0.22));
        painter.drawPath(can);
        painter.drawLine(at(0.42, 0.38), at(0.43, 0.78));
        painter.drawLine(at(0.58, 0.38), at(0.57, 0.78));
    } else if (name == QLatin1String("folder")) {
        QPainterPath folder;
        folder.moveTo(at(0.06, 0.86));
        folder.lineTo(at(0.06, 0.16));
        folder.lineTo(at(0.38, 0.16));
        folder.lineTo(at(0.48, 0.28));
        folder.lineTo(at(0.94, 0.28));
        folder.lineTo(at(0.94, 0.86));
        folder.closeSubpath();
        painter.drawPath(folder);
        painter.drawLine(at(0.06, 0.42), at(0.94, 0.42));
    } else if (name == QLatin1String("chevron.left")) {
        painter.drawPolyline(QPolygonF{at(0.64, 0.12), at(0.3, 0.5), at(0.64, 0.88)});
    } else if (name == QLatin1String("chevron.right")) {
        painter.drawPolyline(QPolygonF{at(0.36, 0.12), at(0.7, 0.5), at(0.36, 0.88)});
    } else if (name == QLatin1String("xmark")) {
        painter.drawLine(at(0.2, 0.2), at(0.8, 0.8));
        painter.drawLine(at(0.8, 0.2), at(0.2, 0.8));
    }
    painter.restore();
}

} // namespace vennimo
