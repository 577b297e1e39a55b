#pragma once

#include <QColor>
#include <QPainter>
#include <QPointF>
#include <QRectF>

#include <functional>

namespace vennimo {

// A soft shadow under whatever a drawing function paints: the alpha of the drawing, blurred and
// tinted, laid down at an offset before the drawing itself. Offset and blur are in device pixels
// with y pointing down.
struct DropShadow {
    QPointF offset{};
    double blur = 0;
    QColor color{};

    // Draws `draw` on the painter with this shadow below it. `logicalBounds` (in the painter's
    // current coordinates) must hold everything `draw` paints; the shadow work stays inside it.
    void paint(QPainter& painter, const QRectF& logicalBounds,
               const std::function<void(QPainter&)>& draw) const;

    // Blurs an 8-bit alpha mask in place, approximating a Gaussian of standard deviation sigma.
    static void blurAlpha(uchar* bits, int width, int height, qsizetype bytesPerLine, double sigma);
};

} // namespace vennimo
