#include "rendering/PreviewToolbarMetrics.h"

#include <QFontMetricsF>

#include <cmath>

namespace vennimo {

QFont PreviewToolbarMetrics::font() {
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPointSizeF(kFontPointSize);
    font.setWeight(QFont::Medium);
    return font;
}

double PreviewToolbarMetrics::width(const QString& title) {
    if (title.isEmpty())
        return iconWidth;
    return std::ceil(QFontMetricsF(font()).horizontalAdvance(title)) + 2 * padding;
}

} // namespace vennimo
