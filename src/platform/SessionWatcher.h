#pragma once

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>

namespace vennimo {

// Tells the application when the machine is about to sleep and when the session ends: logind's
// PrepareForSleep and PrepareForShutdown on the system bus, and the session manager's request to
// save. While it watches it holds a logind delay lock, so the machine waits (within logind's
// limit) until the slots of sleepStarting() and sessionEnding() have returned.
class SessionWatcher : public QObject {
    Q_OBJECT

public:
    static constexpr auto kService = "org.freedesktop.login1";
    static constexpr auto kPath = "/org/freedesktop/login1";
    static constexpr auto kInterface = "org.freedesktop.login1.Manager";

    // Over the system bus.
    explicit SessionWatcher(QObject* parent = nullptr);
    explicit SessionWatcher(const QDBusConnection& bus, QObject* parent = nullptr);

    // logind's signals are subscribed (false without a system bus).
    bool watching() const { return m_watching; }
    bool holdsDelayLock() const { return m_lock.isValid(); }

Q_SIGNALS:
    // Save what must not be lost; the machine sleeps after the connected slots return.
    void sleepStarting();
    void wokeUp();
    // Logout, shutdown or reboot: save now, no questions can be asked.
    void sessionEnding();

private Q_SLOTS:
    void onPrepareForSleep(bool starting);
    void onPrepareForShutdown(bool starting);

private:
    void takeDelayLock();

    QDBusConnection m_bus;
    QDBusUnixFileDescriptor m_lock;
    bool m_watching = false;
    bool m_requested = false;
};

} // namespace vennimo
