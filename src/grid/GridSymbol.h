#pragma once

#include <QColor>
#include <QRectF>
#include <QString>

class QPainter;

namespace vennimo {

// The grid screen's symbols that the toolbar's set lacks: the search glass, the selection badges,
// the clear button, the menu's ellipsis, the banner's warning and the failure face's picture.
// Drawn as outlines, so they stay crisp at any scale.
class GridSymbol {
public:
    GridSymbol() = delete;

    static bool known(const QString& name);
    // Draws the symbol centred in `box`, `size` pixels tall.
    static void paint(QPainter& painter, const QString& name, const QRectF& box, double size,
                      const QColor& color);
};

} // namespace vennimo
