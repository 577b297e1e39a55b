#include "platform/UnixSignals.h"

#include "platform/ProcessExit.h"
#include "support/WaitUntil.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QList>
#include <QThread>
#include <gtest/gtest.h>

#include <array>
#include <cerrno>
#include <csignal>

using vennimo::ProcessExit;
using vennimo::UnixSignals;

TEST(UnixSignals, TheHandlerLeavesTheInterruptedCodesErrnoAlone) {
    UnixSignals signals;
    // Twenty thousand in a row outrun the thread that reads the socket: the handler's write may
    // find it full and fail.
    for (int i = 0; i < 20'000; ++i) {
        errno = EDOM;
        ASSERT_EQ(raise(SIGTERM), 0);
        ASSERT_EQ(errno, EDOM) << "errno changed by the signal handler after " << i << " signals";
    }
}

namespace {

void (*handlerOf(int number))(int) {
    struct sigaction current {};
    sigaction(number, nullptr, &current);
    return current.sa_handler;
}

// The signals of an end as a session leaves them, whatever the suite was started under (`nohup`
// sets SIGHUP aside, a shell's background job SIGINT); what was there comes back at the end.
class SessionSignals {
public:
    SessionSignals() {
        for (Saved& saved : m_saved) {
            sigaction(saved.number, nullptr, &saved.action);
            signal(saved.number, SIG_DFL);
        }
    }
    ~SessionSignals() {
        for (const Saved& saved : m_saved)
            sigaction(saved.number, &saved.action, nullptr);
    }
    SessionSignals(const SessionSignals&) = delete;
    SessionSignals& operator=(const SessionSignals&) = delete;

private:
    struct Saved {
        int number;
        struct sigaction action {};
    };
    std::array<Saved, 3> m_saved{{{SIGHUP}, {SIGTERM}, {SIGINT}}};
};

} // namespace

TEST(UnixSignals, EverySignalOfAnEndComesThroughAndOneOnTheWayOutNeverKills) {
    const SessionSignals session;
    QList<int> received;
    {
        UnixSignals signals;
        QObject::connect(&signals, &UnixSignals::terminationRequested,
                         [&received](int number) { received.append(number); });
        // What an earlier test left in the socket is read first.
        QCoreApplication::processEvents();
        received.clear();
        for (const int number : {SIGHUP, SIGTERM, SIGINT})
            ASSERT_EQ(raise(number), 0);
        ASSERT_TRUE(vennimo::test::waitUntil([&] { return received.size() >= 3; }));
        EXPECT_EQ(received, (QList<int>{SIGHUP, SIGTERM, SIGINT}));
    }
    for (const int number : {SIGHUP, SIGTERM, SIGINT})
        EXPECT_EQ(handlerOf(number), SIG_DFL) << "signal " << number << " kept after the application went";

    // Gone while the process ends: a signal that comes while it closes its files is still caught.
    {
        UnixSignals signals;
        ProcessExit::announce();
    }
    for (const int number : {SIGHUP, SIGTERM, SIGINT}) {
        EXPECT_NE(handlerOf(number), SIG_DFL) << "signal " << number << " would end the process at once";
        if (handlerOf(number) != SIG_DFL) {
            EXPECT_EQ(raise(number), 0);
        }
        signal(number, SIG_DFL);
    }
    ProcessExit::resetForTesting();

    // `nohup` set SIGHUP aside: the user asked the program to outlive the terminal.
    signal(SIGHUP, SIG_IGN);
    {
        UnixSignals signals;
        EXPECT_EQ(handlerOf(SIGHUP), SIG_IGN);
    }
    EXPECT_EQ(handlerOf(SIGHUP), SIG_IGN);
    signal(SIGHUP, SIG_DFL);
}

// Frames of a rope of many prints held a session's end for as long as they came: the frame clock
// lets a caught signal go first, and so has to know one waits, from its catch until it is taken.
TEST(UnixSignals, ACaughtSignalIsKnownToWaitUntilTheMainThreadTakesIt) {
    UnixSignals signals;
    QCoreApplication::processEvents();
    int taken = 0;
    QObject::connect(&signals, &UnixSignals::terminationRequested, [&taken](int) { ++taken; });
    EXPECT_FALSE(UnixSignals::signalWaiting());
    ASSERT_EQ(raise(SIGTERM), 0);
    const QDeadlineTimer limit(10'000);
    while (!UnixSignals::signalWaiting() && !limit.hasExpired())
        QThread::msleep(1);
    EXPECT_TRUE(UnixSignals::signalWaiting());
    EXPECT_EQ(taken, 0);
    ASSERT_TRUE(vennimo::test::waitUntil([&] { return taken == 1; }));
    EXPECT_FALSE(UnixSignals::signalWaiting());
}
