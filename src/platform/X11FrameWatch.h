#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <functional>

class QWindow;

namespace vennimo {

// Tells when the window manager has put its frame around a window and shown it, or changed the
// frame of a shown window. A window manager that frames a window late
// brings it no move, so whatever hangs on the frame (a title bar on the screen) waits for this.
// Off X11 it never tells.
class X11FrameWatch : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    // Follows the native window that `window` answers at each event: Qt may replace it.
    explicit X11FrameWatch(std::function<QWindow*()> window, QObject* parent = nullptr);
    ~X11FrameWatch() override;

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

    // Whether the window manager has shown the window as it is now. Until then it may be putting
    // its frame together at a place of its own, and where the server has the window says nothing
    // of where it will be. Always off X11, where nothing frames the window.
    bool shown() const;

Q_SIGNALS:
    // Once per turn of the event loop, after Qt has taken in the frame's events.
    void framed();

private:
    std::function<QWindow*()> m_window;
    unsigned m_frameExtentsAtom = 0;
    // The native window the X server last mapped.
    unsigned m_mapped = 0;
    bool m_queued = false;
};

} // namespace vennimo
