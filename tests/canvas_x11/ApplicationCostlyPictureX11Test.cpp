#include "ApplicationRope.h"
#include "PhotoLikeImages.h"
#include "WindowPing.h"
#include "support/TestEnvironment.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>

using namespace vennimo;
using namespace vennimo::test;

namespace {

// A 64 x 64 photo after `segments` empty comments (FF FE 00 02), four bytes each: a decoder that
// keeps every comment it passes spends the square of their number on keeping them.
QByteArray markerFloodJpeg(int segments, int seed) {
    QByteArray picture;
    QBuffer buffer(&picture);
    buffer.open(QIODevice::WriteOnly);
    makePhotoLikeImage(QSize(64, 64), seed).save(&buffer, "JPEG", 88);
    QByteArray flood;
    flood.reserve(qsizetype(segments) * 4);
    for (int i = 0; i < segments; ++i)
        flood.append("\xFF\xFE\x00\x02", 4);
    return picture.left(2) + flood + picture.mid(2);
}

// The slowest answer of the program behind `windowId` to pings sent one after another until
// `done` holds and `thenSeconds` more have passed (or `limitSeconds` in all): how long its main
// thread stood still at most.
qint64 longestPingUntil(const QString& windowId, const std::function<bool()>& done, double thenSeconds,
                        double limitSeconds) {
    qint64 longest = 0;
    QElapsedTimer timer;
    timer.start();
    std::optional<qint64> doneAt;
    while (timer.elapsed() < qint64(limitSeconds * 1000)) {
        const std::optional<qint64> answer = pingWindow(windowId, 60'000);
        if (!answer)
            return 60'000;
        longest = std::max(longest, *answer);
        if (!doneAt && done())
            doneAt = timer.elapsed();
        if (doneAt && timer.elapsed() - *doneAt > qint64(thenSeconds * 1000))
            break;
        QTest::qWait(50);
    }
    return longest;
}

// Moves files written elsewhere into the folder at once, as a file manager's copy ends: the
// watcher never sees them half-written.
void landIn(const QString& folder, const QList<std::pair<QString, QByteArray>>& files) {
    const QString staging = makeFolder("staging");
    for (const auto& [name, bytes] : files)
        writeFile(staging + "/" + name, bytes);
    for (const auto& [name, bytes] : files)
        ASSERT_TRUE(QFile::rename(staging + "/" + name, folder + "/" + name)) << name.toStdString();
}

// Each test starts the application over a plain backdrop, with one photo of the Desktop hung.
class ApplicationCostlyPictureX11 : public ::testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X server";
        desktop = makeWatchedFolders();
        ASSERT_TRUE(backdrop.emplace(Backdrop::Tone::Plain).cover());
    }
    void TearDown() override {
        app.kill();
        app.waitForFinished();
    }

    QString desktop;
    std::optional<Backdrop> backdrop;
    QProcess app;
};

} // namespace

// Reading such a picture's header took the main thread 11 s for 100,000 comments, at every start
// with the print hung: the rope neither drew nor answered meanwhile.
TEST_F(ApplicationCostlyPictureX11, JpegsOfManyCommentsOnTheDesktopNeverHoldTheMainThreadNorAtTheNextStart) {
    ASSERT_TRUE(startApplication(app));
    ASSERT_TRUE(hangDesktopPhotos(desktop, "floods", 1, 89));
    QString ropeId = widestWindowId(app.processId());
    ASSERT_FALSE(ropeId.isEmpty());

    ASSERT_NO_FATAL_FAILURE(landIn(desktop, {{"comments-100000.jpg", markerFloodJpeg(100'000, 3)},
                                             {"comments-300000.jpg", markerFloodJpeg(300'000, 4)}}));
    // The pictures are read for their thumbnails and hung; the pings go on a while after.
    const auto hung = [] { return placements().size() >= 2; };
    const qint64 arriving = longestPingUntil(ropeId, hung, 4.0, 60.0);
    std::printf("[ figure ] JPEGs of 100,000 and 300,000 comments on the Desktop: %lld prints hung, the main "
                "thread held %lld ms at most\n",
                static_cast<long long>(placements().size()), static_cast<long long>(arriving));
    EXPECT_TRUE(hung()) << "the picture of 100,000 comments was not hung";
    EXPECT_LT(arriving, 2000) << "the main thread read a picture's header";

    // At the next start the hung prints are laid out again, with no header read on the main thread.
    app.kill();
    app.waitForFinished();
    QElapsedTimer starting;
    starting.start();
    ASSERT_TRUE(startApplication(app));
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return !(ropeId = widestWindowId(app.processId())).isEmpty(); }, 60000));
    const qint64 shownMs = starting.elapsed();
    const qint64 restarted = longestPingUntil(
        ropeId, [] { return true; }, 5.0, 30.0);
    std::printf(
        "[ figure ] the next start: the rope window after %lld ms, the main thread held %lld ms at most\n",
        static_cast<long long>(shownMs), static_cast<long long>(restarted));
    EXPECT_LT(restarted, 2000) << "the main thread read a picture's header at the start";
}
