#include "settings/DragHelpPicture.h"

#include "rendering/ClotheslineMaterialAssets.h"
#include "settings/SettingsSymbol.h"

#include <QApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>

namespace vennimo {

namespace {

QColor rgb(double r, double g, double b, double a = 1) {
    return QColor::fromRgbF(float(r), float(g), float(b), float(a));
}

QRectF centred(QPointF centre, QSizeF size) {
    return {centre.x() - size.width() / 2, centre.y() - size.height() / 2, size.width(), size.height()};
}

void drawPhoto(QPainter& p, QPointF centre) {
    const QRectF area = centred(centre, {78, 56});
    QLinearGradient sky(area.topLeft(), area.bottomLeft());
    sky.setColorAt(0, rgb(0.61, 0.79, 0.87));
    sky.setColorAt(1, rgb(0.88, 0.92, 0.85));
    p.fillRect(area, sky);
    p.save();
    p.setClipRect(area);
    SettingsSymbol::paint(p, QStringLiteral("mountain.2.fill"), centred(centre + QPointF(-5, 8), {33, 33}),
                          rgb(0.27, 0.46, 0.39));
    p.setPen(Qt::NoPen);
    p.setBrush(rgb(1.0, 0.86, 0.48));
    p.drawEllipse(centred(centre + QPointF(24, -15), {12, 12}));
    p.restore();
}

} // namespace

DragHelpPicture::DragHelpPicture(Parts parts, QWidget* parent)
    : QWidget(parent)
    , m_parts(std::move(parts)) {
    setFixedSize(kSize);
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void DragHelpPicture::draw(QPainter& p, const Parts& parts) {
    draw(p, parts, ClotheslineMaterialAssets::peg());
}

void DragHelpPicture::draw(QPainter& p, const Parts& parts, const std::optional<QImage>& art) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    if (parts.rope) {
        QPainterPath rope;
        rope.moveTo(0, 22);
        rope.quadTo(56, 29, 112, 22);
        QPen pen(rgb(0.57, 0.52, 0.42), 1.5);
        pen.setCapStyle(Qt::FlatCap);
        pen.setJoinStyle(Qt::MiterJoin);
        p.setPen(pen);
        p.setBrush(Qt::NoBrush);
        p.drawPath(rope);
    }
    if (parts.framed) {
        const QRectF paper = centred({56, 68}, {90, 84});
        // A soft shadow: a few widening, fading outlines under the paper.
        p.setPen(Qt::NoPen);
        for (int i = 3; i >= 1; --i) {
            p.setBrush(QColor(0, 0, 0, 13 * (4 - i) / 3));
            p.drawRoundedRect(paper.translated(0, 2).adjusted(-i, -i, i, i), 2 + i, 2 + i);
        }
        p.setBrush(rgb(0.99, 0.98, 0.95));
        p.drawRoundedRect(paper, 2, 2);
    }
    drawPhoto(p, parts.framed ? QPointF(56, 61) : QPointF(56, 67));
    if (parts.peg) {
        const QRectF frame = centred({56, 27}, {28, 38});
        if (art && !art->isNull()) {
            QSizeF fitted = QSizeF(art->size()).scaled(frame.size(), Qt::KeepAspectRatio);
            p.drawImage(centred(frame.center(), fitted), *art);
        } else {
            p.setPen(Qt::NoPen);
            p.setBrush(parts.amber);
            p.drawRoundedRect(centred({56, 27}, {9, 32}), 2, 2);
        }
    }
    if (parts.grip) {
        const bool peg = *parts.grip;
        const QColor tint = peg ? parts.amber : parts.blue;
        p.setPen(QPen(tint, 2));
        p.setBrush(Qt::NoBrush);
        if (peg)
            p.drawRoundedRect(centred({56, 27}, {28, 44}), 9, 9);
        else
            p.drawRoundedRect(centred({56, 61}, {82, 60}), 3, 3);
        const QPointF hand = peg ? QPointF(76, 41) : QPointF(75, 80);
        const QColor halo = QApplication::palette().color(QPalette::Window);
        for (const QPointF& shift : {QPointF(-1, 0), QPointF(1, 0), QPointF(0, -1), QPointF(0, 1)})
            SettingsSymbol::paint(p, QStringLiteral("hand.point.up.left.fill"),
                                  centred(hand + shift, {22, 22}), halo);
        SettingsSymbol::paint(p, QStringLiteral("hand.point.up.left.fill"), centred(hand, {22, 22}), tint);
    }
}

void DragHelpPicture::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    draw(painter, m_parts);
}

} // namespace vennimo
