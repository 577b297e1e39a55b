#include "platform/SingleInstance.h"

#include "support/TestEnvironment.h"
#include "support/WaitUntil.h"

#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

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
        if (!app.waitForStarted(5000))
            return;
        finished =
            test::waitUntil([&] { return app.waitForFinished(10) || app.state() == QProcess::NotRunning; },
                            std::chrono::seconds(20));
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
