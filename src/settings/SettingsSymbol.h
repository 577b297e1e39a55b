#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QRectF>
#include <QString>

class QPainter;

namespace vennimo {

// The small symbols of the settings window (tab symbols, folder rows, help routes, the hand of
// the drag pictures), drawn as vector shapes of our own so they stay crisp at any scale. Names
// follow the symbol names the panes ask for ("gearshape", "folder.fill", ...).
class SettingsSymbol {
public:
    SettingsSymbol() = delete;

    static bool known(const QString& name);
    // Draws the symbol centred in `box`, filling the box's shorter side.
    static void paint(QPainter& painter, const QString& name, const QRectF& box, const QColor& color);
    // The symbol as a pixmap of `size` points at the screen's pixel ratio.
    static QPixmap pixmap(const QString& name, double size, const QColor& color);
    static QIcon icon(const QString& name, double size, const QColor& color);
};

} // namespace vennimo
