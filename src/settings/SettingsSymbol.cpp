#include "settings/SettingsSymbol.h"

#include "widgets/ToolbarSymbol.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

#include <functional>

namespace vennimo {

namespace {

// Every symbol is drawn in a 24 x 24 design box; paint() scales it into the caller's box.
constexpr double kDesign = 24;

using Draw = std::function<void(QPainter&, const QColor&)>;

QPen line(const QColor& color, double width = 2) {
    QPen pen(color, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

void arrowHead(QPainter& p, QPointF tip, double angleDegrees, const QColor& color) {
    const double a = qDegreesToRadians(angleDegrees);
    const QPointF back(-std::cos(a) * 5, -std::sin(a) * 5);
    const QPointF side(-std::sin(a) * 4, std::cos(a) * 4);
    p.setPen(line(color));
    p.drawPolyline(QPolygonF{tip + back + side, tip, tip + back - side});
}

QPainterPath folderPath() {
    QPainterPath path;
    path.moveTo(2.5, 6.5);
    path.quadTo(2.5, 4.5, 4.5, 4.5);
    path.lineTo(9, 4.5);
    path.lineTo(11, 7);
    path.lineTo(19.5, 7);
    path.quadTo(21.5, 7, 21.5, 9);
    path.lineTo(21.5, 17.5);
    path.quadTo(21.5, 19.5, 19.5, 19.5);
    path.lineTo(4.5, 19.5);
    path.quadTo(2.5, 19.5, 2.5, 17.5);
    path.closeSubpath();
    return path;
}

QPainterPath mountainsPath() {
    QPainterPath path;
    path.moveTo(1, 20);
    path.lineTo(9, 8);
    path.lineTo(13, 14);
    path.lineTo(16, 10);
    path.lineTo(23, 20);
    path.closeSubpath();
    return path;
}

QPainterPath handPath() {
    // A hand seen from its back, the index finger pointing up and to the left.
    QPainterPath path;
    path.addRoundedRect(QRectF(8, 10, 11, 12), 4, 4);
    QPainterPath finger;
    finger.addRoundedRect(QRectF(-2, -8, 4, 12), 2, 2);
    QTransform turn;
    turn.translate(10, 11);
    turn.rotate(-35);
    path = path.united(turn.map(finger));
    for (int i = 0; i < 3; ++i) {
        QPainterPath knuckle;
        knuckle.addRoundedRect(QRectF(11.5 + i * 2.6, 7 + i * 0.8, 3, 7), 1.5, 1.5);
        path = path.united(knuckle);
    }
    QPainterPath thumb;
    thumb.addRoundedRect(QRectF(-1.6, -5, 3.2, 8), 1.6, 1.6);
    QTransform thumbTurn;
    thumbTurn.translate(8.5, 16);
    thumbTurn.rotate(-70);
    return path.united(thumbTurn.map(thumb));
}

const QHash<QString, Draw>& drawings() {
    static const QHash<QString, Draw> table{
        {"keyboard",
         [](QPainter& p, const QColor& c) {
             p.setPen(line(c, 1.6));
             p.setBrush(Qt::NoBrush);
             p.drawRoundedRect(QRectF(2, 6, 20, 13), 2.5, 2.5);
             for (int row = 0; row < 2; ++row)
                 for (int col = 0; col < 5; ++col)
                     p.fillRect(QRectF(4.6 + col * 3.2, 8.6 + row * 3.2, 1.8, 1.8), c);
             p.fillRect(QRectF(7.5, 15.2, 9, 1.8), c);
         }},
        {"questionmark.circle",
         [](QPainter& p, const QColor& c) {
             p.setPen(line(c, 1.7));
             p.setBrush(Qt::NoBrush);
             p.drawEllipse(QPointF(12, 12), 9.5, 9.5);
             QPainterPath q;
             q.moveTo(9, 9.5);
             q.cubicTo(9, 6.5, 15, 6.5, 15, 9.5);
             q.cubicTo(15, 11.5, 12, 11.8, 12, 14);
             p.drawPath(q);
             p.setPen(Qt::NoPen);
             p.setBrush(c);
             p.drawEllipse(QPointF(12, 17), 1.2, 1.2);
         }},
        {"folder.fill", [](QPainter& p, const QColor& c) { p.fillPath(folderPath(), c); }},
        {"folder",
         [](QPainter& p, const QColor& c) {
             p.setPen(line(c, 1.7));
             p.setBrush(Qt::NoBrush);
             p.drawPath(folderPath());
         }},
        {"exclamationmark.triangle.fill",
         [](QPainter& p, const QColor& c) {
             QPainterPath triangle;
             triangle.moveTo(12, 2.5);
             triangle.lineTo(22.5, 21);
             triangle.lineTo(1.5, 21);
             triangle.closeSubpath();
             QPainterPath mark;
             mark.addRoundedRect(QRectF(10.9, 8, 2.2, 7.5), 1.1, 1.1);
             mark.addEllipse(QPointF(12, 18), 1.3, 1.3);
             p.setPen(line(c, 1.5));
             p.setBrush(c);
             p.drawPath(triangle.subtracted(mark));
         }},
        {"arrow.clockwise",
         [](QPainter& p, const QColor& c) {
             p.setPen(line(c, 2));
             p.setBrush(Qt::NoBrush);
             p.drawArc(QRectF(4, 4, 16, 16), 80 * 16, -300 * 16);
             arrowHead(p, QPointF(14.5, 4.3), 0, c);
         }},
        {"checkmark.circle.fill",
         [](QPainter& p, const QColor& c) {
             p.setPen(Qt::NoPen);
             p.setBrush(c);
             p.drawEllipse(QPointF(12, 12), 10, 10);
             p.setPen(line(Qt::white, 2.2));
             p.drawPolyline(QPolygonF{{7.5, 12.5}, {10.5, 15.5}, {16.5, 8.5}});
         }},
        {"circle",
         [](QPainter& p, const QColor& c) {
             p.setPen(line(c, 1.6));
             p.setBrush(Qt::NoBrush);
             p.drawEllipse(QPointF(12, 12), 9.5, 9.5);
         }},
        {"hand.point.up.left.fill", [](QPainter& p, const QColor& c) { p.fillPath(handPath(), c); }},
        {"mountain.2.fill", [](QPainter& p, const QColor& c) { p.fillPath(mountainsPath(), c); }},
        {"arrow.right",
         [](QPainter& p, const QColor& c) {
             p.setPen(line(c));
             p.drawLine(QPointF(4, 12), QPointF(20, 12));
             arrowHead(p, QPointF(20, 12), 0, c);
         }},
        {"arrow.down",
         [](QPainter& p, const QColor& c) {
             p.setPen(line(c));
             p.drawLine(QPointF(12, 4), QPointF(12, 20));
             arrowHead(p, QPointF(12, 20), 90, c);
         }},
        {"arrow.left.and.right",
         [](QPainter& p, const QColor& c) {
             p.setPen(line(c));
             p.drawLine(QPointF(3, 12), QPointF(21, 12));
             arrowHead(p, QPointF(21, 12), 0, c);
             arrowHead(p, QPointF(3, 12), 180, c);
         }},
        {"plus",
         [](QPainter& p, const QColor& c) {
             p.setPen(line(c));
             p.drawLine(QPointF(12, 4), QPointF(12, 20));
             p.drawLine(QPointF(4, 12), QPointF(20, 12));
         }},
    };
    return table;
}

} // namespace

bool SettingsSymbol::known(const QString& name) {
    return ToolbarSymbol::known(name) || drawings().contains(name);
}

void SettingsSymbol::paint(QPainter& painter, const QString& name, const QRectF& box, const QColor& color) {
    // The toolbar's symbols are the same everywhere in the application.
    if (ToolbarSymbol::known(name)) {
        ToolbarSymbol::paint(painter, name, box, std::min(box.width(), box.height()), color);
        return;
    }
    const auto found = drawings().constFind(name);
    if (found == drawings().constEnd())
        return;
    const double side = std::min(box.width(), box.height());
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(box.center().x() - side / 2, box.center().y() - side / 2);
    painter.scale(side / kDesign, side / kDesign);
    (*found)(painter, color);
    painter.restore();
}

QPixmap SettingsSymbol::pixmap(const QString& name, double size, const QColor& color) {
    const double ratio = qApp ? qApp->devicePixelRatio() : 1.0;
    QPixmap pixmap(QSize(qCeil(size * ratio), qCeil(size * ratio)));
    pixmap.setDevicePixelRatio(ratio);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    paint(painter, name, QRectF(0, 0, size, size), color);
    return pixmap;
}

QIcon SettingsSymbol::icon(const QString& name, double size, const QColor& color) {
    return QIcon(pixmap(name, size, color));
}

} // namespace vennimo
