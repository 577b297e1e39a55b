#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

#include <chrono>
#include <cstdint>

namespace vennimo {

// A window another program opens because the user asked us for it, such as the file manager's
// properties window. It must come up in front, where the user can use it, even while windows of
// ours float above every other. The request carries a startup notification id; the program puts
// it on the window it opens, which is how the window is known when it shows.
class X11RequestedWindow : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    // How long a program may take to show the window, started on demand on a busy machine.
    static constexpr std::chrono::seconds kWaitTime{30};

    // A startup notification id for one request, carrying the time of the user's last input to us
    // so the window manager lets the new window take the focus. Until `kWaitTime` has passed the
    // first window that shows with this id is made active and, while a window of ours floats above
    // the others, floats too. Main thread only; an empty id, and no watch, off X11.
    static QString expect();
    // The request failed: no window is coming for the id.
    static void forget(const QString& startupId);

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

private:
    explicit X11RequestedWindow(QString startupId);
    ~X11RequestedWindow() override;
    void lookForWindow();
    void bringForward(std::uint32_t window);

    QString m_startupId;
    std::uint32_t m_clientListAtom = 0;
    QSet<std::uint32_t> m_seen;
    QTimer m_deadline;
};

} // namespace vennimo
