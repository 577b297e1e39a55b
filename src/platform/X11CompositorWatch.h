#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <cstdint>

namespace vennimo {

// Whether a compositing manager runs for a screen, followed as it comes and goes: it owns the
// selection _NET_WM_CM_S<screen> while it runs, and XFixes tells of every change of that owner, so
// nothing has to ask the X server again and again. Off X11, or on a server without XFixes, none
// runs as far as it knows, or whatever ran when it was made.
class X11CompositorWatch : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    explicit X11CompositorWatch(int screen = 0, QObject* parent = nullptr);
    ~X11CompositorWatch() override;

    bool running() const { return m_running; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

Q_SIGNALS:
    void runningChanged(bool running);

private:
    std::uint32_t m_selection = 0;
    std::uint8_t m_notifyType = 0;
    bool m_following = false;
    bool m_running = false;
};

} // namespace vennimo
