#include "widgets/ClotheslineToolbarButtonStyle.h"

#include <QPainter>
#include <QPainterPath>

namespace vennimo {

double ClotheslineToolbarButtonStyle::fillOpacity(bool enabled, bool hovered, bool pressed) {
    if (!enabled)
        return 0;
    if (pressed)
        return kPressedFill;
    return hovered ? kHoveredFill : 0;
}

void ClotheslineToolbarButtonStyle::paintSurface(QPainter& painter, const QRectF& rect, double fillOpacity) {
    if (fillOpacity <= 0)
        return;
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromRgbF(0, 0, 0, float(fillOpacity)));
    painter.drawRoundedRect(rect, kCornerRadius, kCornerRadius);
    painter.restore();
}

QColor ClotheslineToolbarButtonStyle::labelColor(bool enabled) {
    // The secondary label colour of a light appearance.
    return enabled ? QColor(Qt::black) : QColor::fromRgbF(0, 0, 0, 0.5f);
}

QFont ClotheslineToolbarButtonStyle::font(double pixels, QFont::Weight weight) {
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPixelSize(int(pixels + 0.5));
    font.setWeight(weight);
    return font;
}

} // namespace vennimo
