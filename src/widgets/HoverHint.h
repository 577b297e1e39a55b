#pragma once

#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <chrono>

namespace vennimo {

// A dark hint under a widget that shows once the pointer has rested on it for a moment and goes
// away at once when the pointer leaves or the widget goes. The hint lies in the widget's window,
// above its neighbours, and takes no clicks.
class HoverHint : public QObject {
    Q_OBJECT

public:
    static constexpr std::chrono::milliseconds kDelay{350};
    static constexpr double kOffsetBelow = 30;
    static constexpr double kTextPixels = 11;
    static constexpr double kHorizontalPadding = 7;
    static constexpr double kVerticalPadding = 3;
    static constexpr double kCornerRadius = 5;
    static constexpr double kBackgroundOpacity = 0.78;

    HoverHint(QWidget* target, const QString& text);
    ~HoverHint() override;

    // Where the hint lies: `offsetBelow` from the target's top edge, and at least `margin` inside
    // the window's left and right edges.
    void setPlacement(double offsetBelow, double margin);
    void setText(const QString& text);
    const QString& text() const { return m_text; }
    bool hovering() const { return m_hovering; }
    bool shown() const { return m_shown; }
    // The hint's widget while it is shown.
    QWidget* hintWidget() const { return m_shown ? m_label.data() : nullptr; }
    // The wait between the pointer coming to rest and the hint: running while it waits, and the
    // only thing that shows the hint, so tests read it rather than time it.
    const QTimer& delay() const { return m_delay; }

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void show();
    void hide();
    void place();

    QPointer<QWidget> m_target;
    QString m_text;
    double m_offsetBelow = kOffsetBelow;
    double m_margin = 0;
    bool m_hovering = false;
    bool m_shown = false;
    QPointer<QWidget> m_label;
    QTimer m_delay;
};

} // namespace vennimo
