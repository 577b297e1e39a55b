#pragma once

#include "widgets/ToolbarButton.h"

#include <QTimer>

#include <optional>

namespace vennimo {

class HoverHint;

// An icon button of the rope toolbar (the grid screen uses it too): a symbol in a 22 x 20 frame,
// red when the button is destructive and enabled, or a small spinning indicator while busy; its
// label is the accessible name, and a hover hint reads the label and the shortcut.
class ToolbarIcon : public ToolbarButton {
    Q_OBJECT

public:
    static constexpr QSize kFrame{22, 20};
    static constexpr double kSymbolPixels = 13;
    static constexpr std::chrono::milliseconds kSpinInterval{80};

    ToolbarIcon(const QString& symbol, const QString& label, const std::optional<QString>& shortcut = {},
                QWidget* parent = nullptr);

    void setSymbol(const QString& symbol);
    void setLabel(const QString& label);
    void setShortcut(const std::optional<QString>& shortcut);
    void setDestructive(bool destructive);
    void setBusy(bool busy);

    const QString& symbol() const { return m_symbol; }
    const QString& label() const { return m_label; }
    bool destructive() const { return m_destructive; }
    bool busy() const { return m_busy; }
    // The label, then two spaces and the shortcut when there is one.
    QString hintText() const;
    static QString hintText(const QString& label, const std::optional<QString>& shortcut);
    HoverHint* hoverHint() const { return m_hint; }
    // The colour the symbol is drawn in now.
    QColor symbolColor() const;

protected:
    QSize labelSize() const override { return kFrame; }
    void paintLabel(QPainter& painter, const QRectF& rect) override;

private:
    QString m_symbol;
    QString m_label;
    std::optional<QString> m_shortcut;
    bool m_destructive = false;
    bool m_busy = false;
    int m_spin = 0;
    QTimer m_spinTimer;
    HoverHint* m_hint = nullptr;
};

} // namespace vennimo
