#pragma once

#include <QColor>
#include <QRectF>
#include <QString>

class QPainter;

namespace vennimo {

// The grid screen's own symbols, beside the toolbar's: the search glass, the selection badges,
// the clear button, the menu's ellipsis, the banner's warning, and the picture of the empty
// state and the failure face. Drawn as outlines, so they stay crisp at any scale.
class GridSymbol {
public:
    GridSymbol() = delete;

    static bool known(const QString& name);
    // Draws the symbol centred in `box`, `size` pixels tall.
    static void paint(QPainter& painter, const QString& name, const QRectF& box, double size,
                      const QColor& color);
};

} // namespace vennimo
