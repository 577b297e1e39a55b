#pragma once

#include <QAbstractButton>
#include <QColor>
#include <QString>

#include <optional>

namespace vennimo {

class HoverHint;

// A button of the preview's toolbar: a rounded fill that shows on hover and press in one of six
// looks, over a title or a drawn symbol tinted by the look. Disabled buttons draw at 0.45 of
// their alpha.
class PreviewActionButton : public QAbstractButton {
    Q_OBJECT

public:
    enum class Appearance { secondary, quiet, dismiss, primary, destructive, ghost };
    static constexpr double kCornerRadius = 7;
    static constexpr double kDisabledAlpha = 0.45;
    static constexpr double kSymbolWeight = 1.15;
    static constexpr double kHintBelow = 6;
    static constexpr double kHintMargin = 4;

    static QColor ink();
    static QColor paper();
    static QColor mutedTint();
    static QColor destructiveTint();

    explicit PreviewActionButton(Appearance visual, QWidget* parent = nullptr);

    Appearance visual() const { return m_visual; }
    // The symbol's name ("trash", "folder", ...); empty for a title-only button.
    void setSymbol(const QString& symbol);
    const QString& symbol() const { return m_symbol; }
    // The hover hint shown below the button; none for buttons that have their title or tooltip.
    void setHint(const std::optional<QString>& hint);
    const std::optional<QString>& hint() const { return m_hint; }
    HoverHint* hoverHint() const { return m_hoverHint; }
    bool hovered() const { return m_hovered; }
    // The tint of the title or symbol for the look.
    QColor tint() const;
    // The fill behind the title or symbol as drawn now.
    QColor background() const;

    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void setHovered(bool hovered);

    Appearance m_visual;
    QString m_symbol;
    std::optional<QString> m_hint;
    HoverHint* m_hoverHint = nullptr;
    bool m_hovered = false;
};

} // namespace vennimo
