#pragma once

#include <QColor>
#include <QFont>

class QLabel;
class QWidget;

namespace vennimo {

// The settings window's text styles and colours, in one place so the panes agree. Sizes are
// pixels; the Chinese family is named, since the C locale otherwise picks Japanese letterforms.
class SettingsStyle {
public:
    static constexpr double kTitle2Pixels = 17;
    static constexpr double kTitle3Pixels = 15;
    static constexpr double kHeadlinePixels = 13;
    static constexpr double kBodyPixels = 13;
    static constexpr double kCaptionPixels = 11;

    SettingsStyle() = delete;

    static QFont font(double pixels, QFont::Weight weight = QFont::Normal);
    static QFont monospaced(double pixels, QFont::Weight weight = QFont::Normal);
    static QColor accent();
    static QColor secondary();
    static QColor warning();
    static QColor destructive();
    // A text label in the given font and colour (an invalid colour keeps the palette's).
    static QLabel* label(const QString& text, const QFont& font, const QColor& color = {},
                         QWidget* parent = nullptr);
    // "Title 2, bold": the heading of a pane or section.
    static QLabel* heading(const QString& text, QWidget* parent = nullptr);
    // A thin horizontal line.
    static QWidget* divider(QWidget* parent = nullptr);
};

} // namespace vennimo
