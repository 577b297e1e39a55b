#pragma once

#include <QFont>
#include <QString>

namespace vennimo {

// Fixed measures of the preview panel's toolbar buttons, in points.
class PreviewToolbarMetrics {
public:
    static constexpr double height = 30;
    static constexpr double icon = 14;
    static constexpr double padding = 12;
    static constexpr double iconGap = 6;
    static constexpr double gap = 6;
    static constexpr double iconWidth = 32;
    static constexpr double iconSpacing = 2;
    static constexpr double pagingWidth = 104;
    static constexpr int kFontPointSize = 13;

    PreviewToolbarMetrics() = delete;

    // The label font: the simplified-Chinese UI family at 13 points, medium weight.
    static QFont font();
    // An icon-only button for an empty title, else the title's width rounded up plus the padding.
    static double width(const QString& title);
};

} // namespace vennimo
