#include "platform/SingleInstance.h"

#include "support/TestEnvironment.h"
#include "support/WaitUntil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <future>

using namespace vennimo;

namespace {

// Starts the application as a later start would, and keeps the event loop of this process (the
// running instance) turning until it ends.
struct LaterStart {
    int exitCode = -1;
    QByteArray errors;
    bool finished = false;

    LaterStart() {
        QProcess app;
        app.start(QStringLiteral(VENNIMO_APP_PATH), {});
        // A sanitizer build on a busy machine can take many seconds to start and answer.
        if (!app.waitForStarted(60000))
            return;
        finished =
            test::waitUntil([&] { return app.waitForFinished(10) || app.state() == QProcess::NotRunning; },
                            std::chrono::seconds(60));
        if (!finished) {
            app.kill();
            app.waitForFinished();
        }
        exitCode = app.exitCode();
        errors = app.readAllStandardError();
    }
};

} // namespace

TEST(SingleInstanceTest, LaterStartAsksTheRunningInstanceToShowAndExits) {
    SingleInstance running(test::storageFolder());
    ASSERT_TRUE(running.acquire().valueOr(false));
    ASSERT_TRUE(running.listening());
    int shows = 0;
    QObject::connect(&running, &SingleInstance::showGalleryRequested, [&] { ++shows; });

    const LaterStart second;
    ASSERT_TRUE(second.finished) << "the later start kept running";
    EXPECT_EQ(second.exitCode, 0) << second.errors.toStdString();
    EXPECT_EQ(shows, 1);

    // The lock, not the socket, keeps a later start from touching the storage folder.
    SingleInstance other(test::storageFolder());
    EXPECT_EQ(other.acquire().valueOr(true), false);
    running.stopListening();
    const LaterStart third;
    ASSERT_TRUE(third.finished);
    EXPECT_EQ(third.exitCode, 1);
    EXPECT_TRUE(third.errors.contains("does not answer")) << third.errors.toStdString();
    EXPECT_EQ(shows, 1);
}

TEST(SingleInstanceTest, LockPassesOnWhenTheInstanceEndsAndStaleSocketsAreReplaced) {
    const QString storage = test::storageFolder();
    QString name;
    {
        SingleInstance first(storage);
        ASSERT_TRUE(first.acquire().valueOr(false));
        name = first.socketName();
        EXPECT_TRUE(name.startsWith(qEnvironmentVariable("XDG_RUNTIME_DIR")));
    }
    // A crash leaves the socket file; the next instance listens anyway.
    test::writeFile(name, "stale");
    SingleInstance next(storage);
    ASSERT_TRUE(next.acquire().valueOr(false));
    EXPECT_TRUE(next.listening());

    SingleInstance elsewhere(test::makeFolder(QStringLiteral("other-storage")));
    EXPECT_NE(elsewhere.socketName(), name);
    EXPECT_TRUE(elsewhere.acquire().valueOr(false));
    SingleInstance missing(test::TestEnvironment::root() + QStringLiteral("/no/such/folder"));
    EXPECT_FALSE(missing.acquire().ok());
}

TEST(SingleInstanceTest, LaterStartWaitsForAnInstanceStillStartingUpWithinABound) {
    SingleInstance running(test::storageFolder());
    ASSERT_TRUE(running.acquire().valueOr(false));
    int shows = 0;
    QObject::connect(&running, &SingleInstance::showGalleryRequested, [&] { ++shows; });
    SingleInstance later(test::storageFolder());
    ASSERT_EQ(later.acquire().valueOr(true), false);

    // The instance's event loop does not turn for longer than one answer may take.
    auto asked = std::async(std::launch::async, [&later] { return later.requestShow(); });
    QThread::msleep(SingleInstance::kAnswerTimeoutMs + 1000);
    ASSERT_TRUE(test::waitUntil(
        [&] { return asked.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }));
    EXPECT_TRUE(asked.get()) << "answered once the instance got to it";
    EXPECT_EQ(shows, 1);

    // One that never answers is given up on at the bound.
    QElapsedTimer timer;
    timer.start();
    auto bounded = std::async(std::launch::async,
                              [&later] { return later.requestShow(std::chrono::milliseconds(1500)); });
    EXPECT_FALSE(bounded.get());
    EXPECT_GE(timer.elapsed(), 1400);
    QCoreApplication::processEvents();
}
