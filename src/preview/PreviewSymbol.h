#pragma once

#include <QColor>
#include <QRectF>
#include <QString>

class QPainter;

namespace vennimo {

// The preview toolbar's symbols as vector outlines, so they stay sharp at any screen scale.
class PreviewSymbol {
public:
    PreviewSymbol() = delete;

    static bool known(const QString& name);
    // Draws the symbol filling `box` in the colour; unknown names draw nothing.
    static void paint(QPainter& painter, const QString& name, const QRectF& box, const QColor& color);
};

} // namespace vennimo
