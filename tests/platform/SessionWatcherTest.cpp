#include "platform/SessionWatcher.h"

#include "support/TestEnvironment.h"
#include "support/WaitUntil.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QProcess>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using namespace vennimo;

namespace {

using test::waitUntil;

// A bus of the test's own standing in for the system bus, with the session bus's open policy so
// the fake may own logind's name.
class PrivateBus {
public:
    PrivateBus() {
        const QString socket = test::TestEnvironment::root() + QStringLiteral("/system_bus_socket");
        m_daemon.start(QStringLiteral("dbus-daemon"),
                       {QStringLiteral("--config-file=/usr/share/dbus-1/session.conf"),
                        QStringLiteral("--address=unix:path=") + socket, QStringLiteral("--nofork"),
                        QStringLiteral("--print-address=1")});
        // The daemon prints its address once it listens; on a busy machine that can take a while.
        using namespace std::chrono_literals;
        if (m_daemon.waitForStarted(60000) &&
            waitUntil([&] { return m_daemon.canReadLine() || m_daemon.state() == QProcess::NotRunning; },
                      60s) &&
            m_daemon.canReadLine())
            m_address = QString::fromUtf8(m_daemon.readLine().trimmed());
    }
    ~PrivateBus() {
        m_daemon.terminate();
        m_daemon.waitForFinished(5000);
    }
    const QString& address() const { return m_address; }

private:
    QProcess m_daemon;
    QString m_address;
};

// Just enough of logind: Inhibit hands out the write end of a pipe whose read end tells the
// test whether the lock is still held.
class FakeLogind : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    ~FakeLogind() override {
        for (int fd : std::as_const(readEnds))
            close(fd);
    }
    QStringList inhibits;
    QList<int> readEnds;

    bool lockHeld(int index) const {
        pollfd p{readEnds.at(index), POLLIN, 0};
        return poll(&p, 1, 0) == 0; // no hang-up yet
    }

public Q_SLOTS:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                    const QString& mode) {
        inhibits << what + u'|' + mode;
        Q_UNUSED(who);
        Q_UNUSED(why);
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0)
            return {};
        readEnds << fds[0];
        QDBusUnixFileDescriptor handed(fds[1]); // keeps a copy of its own
        close(fds[1]);
        return handed;
    }
};

} // namespace

TEST(SessionWatcherTest, FakeLogindOnAPrivateSystemBusTriggersTheSleepFlush) {
    PrivateBus bus;
    ASSERT_FALSE(bus.address().isEmpty()) << "dbus-daemon did not start";
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", bus.address().toUtf8());

    QDBusConnection fakeConnection =
        QDBusConnection::connectToBus(bus.address(), QStringLiteral("fake-logind"));
    ASSERT_TRUE(fakeConnection.isConnected());
    FakeLogind logind;
    ASSERT_TRUE(fakeConnection.registerObject(QStringLiteral("/org/freedesktop/login1"), &logind,
                                              QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(fakeConnection.registerService(QStringLiteral("org.freedesktop.login1")));
    auto emitSignal = [&](const char* name, bool starting) {
        QDBusMessage signal =
            QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                       QStringLiteral("org.freedesktop.login1.Manager"), QLatin1String(name));
        signal << starting;
        ASSERT_TRUE(fakeConnection.send(signal));
    };

    {
        SessionWatcher watcher; // the system bus, as the application uses it
        EXPECT_TRUE(watcher.watching());
        ASSERT_TRUE(waitUntil([&] { return watcher.holdsDelayLock(); }));
        EXPECT_EQ(logind.inhibits, QStringList{QStringLiteral("sleep:shutdown|delay")});

        int flushes = 0, wakes = 0, endings = 0;
        bool heldDuringFlush = false;
        QObject::connect(&watcher, &SessionWatcher::sleepStarting, [&] {
            ++flushes;
            heldDuringFlush = logind.lockHeld(0);
        });
        QObject::connect(&watcher, &SessionWatcher::wokeUp, [&] { ++wakes; });
        QObject::connect(&watcher, &SessionWatcher::sessionEnding, [&] { ++endings; });

        emitSignal("PrepareForSleep", true);
        ASSERT_TRUE(waitUntil([&] { return flushes == 1; }));
        EXPECT_TRUE(heldDuringFlush) << "the machine could sleep before the flush";
        EXPECT_TRUE(waitUntil([&] { return !logind.lockHeld(0); })) << "the delay lock was kept";
        EXPECT_EQ(wakes, 0);

        emitSignal("PrepareForSleep", false);
        ASSERT_TRUE(waitUntil([&] { return wakes == 1 && watcher.holdsDelayLock(); }));
        EXPECT_EQ(logind.inhibits.size(), 2);

        emitSignal("PrepareForShutdown", true);
        ASSERT_TRUE(waitUntil([&] { return endings == 1; }));
        EXPECT_TRUE(waitUntil([&] { return !logind.lockHeld(1); }));
        EXPECT_EQ(flushes, 1);
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("fake-logind"));
}

#include "SessionWatcherTest.moc"
