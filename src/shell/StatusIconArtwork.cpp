#include "shell/StatusIconArtwork.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>

namespace vennimo {

namespace {

// Trays come light and dark: dark outlines read on a light panel, the white paper they enclose on
// a dark one. The arrival dot is a warm red that stands out from both and from the grey glyph.
const QColor kInk(40, 40, 40);
const QColor kPaper(252, 252, 252);
const QColor kDot(226, 62, 40);
constexpr double kTiltDegrees = -9;

} // namespace

QImage StatusIconArtwork::render(int pixels, bool dot) {
    QImage image(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    const double k = pixels / kCanvasPoints;
    const double stroke = std::max(1.0, std::round(1.4 * k));
    // Edges on whole pixels: a stroke of odd width is centred on a pixel's middle.
    const double half = std::fmod(stroke, 2.0) == 1.0 ? 0.5 : 0.0;
    const auto snap = [&](double points) { return std::round(points * k) + half; };

    // The front photo, upright, in the lower left of the symbol's 16-point box at (0, 3).
    const QRectF front(QPointF(snap(1), snap(8.5)), QPointF(snap(13.5), snap(18)));
    // The card behind, tilted, peeking out at the top and the right.
    QPainterPath card;
    card.addRoundedRect(QRectF(4.5 * k, 4 * k, 12.5 * k, 10 * k), 1.2 * k, 1.2 * k);
    QTransform tilt;
    tilt.translate(10.75 * k, 9 * k);
    tilt.rotate(kTiltDegrees);
    tilt.translate(-10.75 * k, -9 * k);
    card = tilt.map(card);
    // Inside the photo: a hill and a sun.
    QPainterPath hill;
    hill.moveTo(front.left() + 1.5 * k, front.bottom() - 1.2 * k);
    hill.lineTo(front.left() + 5 * k, front.bottom() - 5.2 * k);
    hill.lineTo(front.left() + 7.5 * k, front.bottom() - 2.8 * k);
    hill.lineTo(front.left() + 9 * k, front.bottom() - 4.2 * k);
    hill.lineTo(front.right() - 1.5 * k, front.bottom() - 1.2 * k);
    hill.closeSubpath();
    const QPointF sun(front.right() - 3.2 * k, front.top() + 3 * k);
    const double sunRadius = std::max(1.0, 1.2 * k);

    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(kInk, stroke, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(kPaper);
    // The photo, drawn last, covers the card behind it.
    painter.drawPath(card);
    painter.drawRect(front);
    painter.setPen(Qt::NoPen);
    painter.setBrush(kInk);
    painter.drawPath(hill);
    painter.drawEllipse(sun, sunRadius, sunRadius);
    if (dot) {
        // The dot's 5 points at (15, 1) from the top left, with a clear gap and a paper ring so it
        // stands apart from the card on any panel.
        const QRectF dotRect(15 * k, 1 * k, 5 * k, 5 * k);
        painter.setCompositionMode(QPainter::CompositionMode_Clear);
        painter.setBrush(Qt::black);
        painter.drawEllipse(dotRect.adjusted(-k, -k, k, k));
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        painter.setBrush(kPaper);
        painter.drawEllipse(dotRect.adjusted(-0.6 * k, -0.6 * k, 0.6 * k, 0.6 * k));
        painter.setBrush(kDot);
        painter.drawEllipse(dotRect);
    }
    return image;
}

QIcon StatusIconArtwork::icon(bool dot) {
    QIcon icon;
    for (const int pixels : kPixelSizes)
        icon.addPixmap(QPixmap::fromImage(render(pixels, dot)));
    return icon;
}

} // namespace vennimo
