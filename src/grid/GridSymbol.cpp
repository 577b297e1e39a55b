#include "grid/GridSymbol.h"

#include <QPainter>
#include <QPainterPath>
#include <QStringList>

#include <cmath>

namespace vennimo {

namespace {

// Every symbol is drawn on a square of 20 units, then scaled to the asked size.
constexpr double kUnits = 20;

QPen strokePen(const QColor& color, double width) {
    QPen pen(color, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

void picture(QPainter& p, const QColor& color, QRectF frame) {
    p.setPen(strokePen(color, 1.5));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(frame, 2.5, 2.5);
    QPainterPath hills;
    hills.moveTo(frame.left() + 1.5, frame.bottom() - 2.5);
    hills.lineTo(frame.left() + frame.width() * 0.38, frame.top() + frame.height() * 0.5);
    hills.lineTo(frame.left() + frame.width() * 0.6, frame.bottom() - frame.height() * 0.3);
    hills.lineTo(frame.left() + frame.width() * 0.74, frame.top() + frame.height() * 0.6);
    hills.lineTo(frame.right() - 1.5, frame.bottom() - 2.5);
    p.drawPath(hills);
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    p.drawEllipse(QPointF(frame.left() + frame.width() * 0.7, frame.top() + frame.height() * 0.3), 1.5, 1.5);
}

} // namespace

bool GridSymbol::known(const QString& name) {
    static const QStringList names{"photo",
                                   "magnifyingglass",
                                   "circle",
                                   "checkmark.circle.fill",
                                   "xmark.circle.fill",
                                   "ellipsis.circle",
                                   "exclamationmark.triangle",
                                   "photo.on.rectangle.angled"};
    return names.contains(name);
}

void GridSymbol::paint(QPainter& painter, const QString& name, const QRectF& box, double size,
                       const QColor& color) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const double unit = size / kUnits;
    painter.translate(box.center());
    painter.scale(unit, unit);
    painter.translate(-kUnits / 2, -kUnits / 2);
    QPainter& p = painter;
    if (name == QLatin1String("photo")) {
        picture(p, color, QRectF(2, 4, 16, 12));
    } else if (name == QLatin1String("magnifyingglass")) {
        p.setPen(strokePen(color, 1.8));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(8.5, 8.5), 5.5, 5.5);
        p.drawLine(QPointF(12.6, 12.6), QPointF(17.5, 17.5));
    } else if (name == QLatin1String("circle")) {
        p.setPen(strokePen(color, 1.6));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(10, 10), 8.2, 8.2);
    } else if (name == QLatin1String("checkmark.circle.fill") || name == QLatin1String("xmark.circle.fill")) {
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawEllipse(QPointF(10, 10), 9, 9);
        p.setPen(strokePen(Qt::white, 2));
        p.setBrush(Qt::NoBrush);
        if (name.startsWith(QLatin1String("checkmark"))) {
            QPainterPath mark;
            mark.moveTo(5.8, 10.3);
            mark.lineTo(8.7, 13.2);
            mark.lineTo(14.4, 7);
            p.drawPath(mark);
        } else {
            p.drawLine(QPointF(7, 7), QPointF(13, 13));
            p.drawLine(QPointF(13, 7), QPointF(7, 13));
        }
    } else if (name == QLatin1String("ellipsis.circle")) {
        p.setPen(strokePen(color, 1.5));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(10, 10), 8.5, 8.5);
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        for (double x : {6.0, 10.0, 14.0})
            p.drawEllipse(QPointF(x, 10), 1.3, 1.3);
    } else if (name == QLatin1String("exclamationmark.triangle")) {
        p.setPen(strokePen(color, 1.5));
        p.setBrush(Qt::NoBrush);
        QPainterPath triangle;
        triangle.moveTo(10, 2.5);
        triangle.lineTo(18.5, 17);
        triangle.lineTo(1.5, 17);
        triangle.closeSubpath();
        p.drawPath(triangle);
        p.drawLine(QPointF(10, 7.5), QPointF(10, 11.8));
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawEllipse(QPointF(10, 14.5), 1, 1);
    }
    painter.restore();
}

} // namespace vennimo
