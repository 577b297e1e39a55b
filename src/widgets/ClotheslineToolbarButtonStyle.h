#pragma once

#include <QColor>
#include <QFont>
#include <QRectF>

#include <chrono>

class QPainter;

namespace vennimo {

// How the rope toolbar's buttons look: a faint dark fill while the pointer is over an enabled
// button and a stronger one while it is pressed, in a rounded rectangle, and their small label.
class ClotheslineToolbarButtonStyle {
public:
    static constexpr double kCornerRadius = 6;
    static constexpr double kPadding = 4;
    static constexpr double kPressedFill = 0.16;
    static constexpr double kHoveredFill = 0.08;
    // NSFont.smallSystemFontSize.
    static constexpr double kLabelPixels = 11;
    static constexpr std::chrono::milliseconds kFillAnimation{120};

    ClotheslineToolbarButtonStyle() = delete;

    static bool active(bool enabled, bool hovered, bool pressed) { return enabled && (hovered || pressed); }
    static double fillOpacity(bool enabled, bool hovered, bool pressed);
    static void paintSurface(QPainter& painter, const QRectF& rect, double fillOpacity);
    static QColor labelColor(bool enabled);
    // The toolbar's texts in the simplified-Chinese family, sized in pixels.
    static QFont font(double pixels, QFont::Weight weight = QFont::Normal);
};

} // namespace vennimo
