#pragma once

#include <QColor>
#include <QRectF>
#include <QString>

class QPainter;

namespace vennimo {

// The rope toolbar's symbols, drawn as vector outlines so they stay crisp at any scale. Names
// follow the symbol names the screens ask for ("eye", "trash", "gearshape", ...).
class ToolbarSymbol {
public:
    ToolbarSymbol() = delete;

    static bool known(const QString& name);
    // Draws the symbol centred in `box`, `size` pixels tall, with strokes of the weight's
    // width (1 regular, larger for bold).
    static void paint(QPainter& painter, const QString& name, const QRectF& box, double size,
                      const QColor& color, double weight = 1);
};

} // namespace vennimo
