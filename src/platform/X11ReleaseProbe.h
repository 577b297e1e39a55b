#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>

#include <functional>

namespace vennimo {

// Tells whether a release of the left button has reached this process, for a drag that the X
// server says is over while no release came. On a busy machine Qt reads an event a while after the
// server sent it, and hands it on to the widgets later still; a release on its way then looks
// lost. The server sends its events in order: a marker this process sends itself through the
// server comes back behind every event made before it, so once the marker is back, a release that
// has not come never will. Off X11 there is nothing to ask.
class X11ReleaseProbe : public QObject, public QAbstractNativeEventFilter {
public:
    // Counts the releases that come from now on.
    X11ReleaseProbe();
    ~X11ReleaseProbe() override;

    bool available() const { return m_window != 0; }
    // Sends a marker; `answer` runs on a later turn once it is back, with whether a release of the
    // left button came before it. While one question is out, asking again does nothing.
    void ask(std::function<void(bool released)> answer);
    bool asking() const { return static_cast<bool>(m_answer); }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    // An unmapped window of our own that the marker is sent to.
    unsigned m_window = 0;
    unsigned m_markerAtom = 0;
    // XInput's major opcode, 0 when the server has none.
    unsigned m_inputOpcode = 0;
    unsigned m_serial = 0;
    bool m_released = false;
    std::function<void(bool)> m_answer;
};

} // namespace vennimo
