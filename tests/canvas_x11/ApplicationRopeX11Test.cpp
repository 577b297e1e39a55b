#include "ApplicationRope.h"
#include "ApplicationSession.h"
#include "PhotoLikeImages.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QThread>
#include <gtest/gtest.h>

#include <csignal>
#include <optional>

using namespace vennimo::test;

TEST(ApplicationRopeX11, PhotosSavedToTheDesktopSwingOntoTheRope) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const QString desktop = makeWatchedFolders();
    ASSERT_TRUE(desktop.startsWith(TestEnvironment::root()));
    writeFile(defaultsFile(), R"({"ClotheslineStrictVertical": false})");

    QProcess app;
    ASSERT_TRUE(startApplication(app));
    const QImage empty = grabScreenArea(ropeArea());
    empty.save(applicationShots() + "/00-empty.png");

    const QList<QSize> sizes{{1600, 1200}, {1200, 1600}, {1600, 900}, {1200, 1200}, {1500, 1000}};
    for (int i = 0; i < sizes.size(); ++i)
        ASSERT_TRUE(makePhotoLikeImage(sizes[i], i)
                        .save(QString("%1/photo-%2.jpg").arg(desktop).arg(i + 1), "JPEG", 88));
    for (int shot = 1; shot <= 12; ++shot) {
        QTest::qWait(150);
        grabScreenArea(ropeArea())
            .save(QString("%1/%2-swing.png").arg(applicationShots()).arg(shot, 2, 10, QChar('0')));
    }
    // On a busy machine the five can come later than the swing's pictures: they are waited for.
    (void)QTest::qWaitFor([] { return placements().size() == 5; }, 60000);
    QTest::qWait(3000);
    const QImage settled = grabScreenArea(ropeArea());
    settled.save(applicationShots() + "/13-settled.png");
    EXPECT_GT(changedShare(empty, settled), 0.2) << "five prints hang on the rope";

    QElapsedTimer arrival;
    ASSERT_TRUE(makePhotoLikeImage({1400, 1050}, 7).save(desktop + "/new-photo.jpg", "JPEG", 88));
    arrival.start();
    bool appeared = false;
    while (!appeared && arrival.elapsed() < 3000) {
        QTest::qWait(50);
        appeared = changedShare(settled, grabScreenArea(ropeArea())) > 0.02;
    }
    const qint64 arrivedMs = arrival.elapsed();
    EXPECT_TRUE(appeared);
    EXPECT_LT(arrivedMs, 1000) << "a photo saved to the Desktop shows within a second";
    std::printf("new photo visible on the rope after %lld ms\n", static_cast<long long>(arrivedMs));
    grabScreenArea(ropeArea()).save(applicationShots() + "/14-arrival.png");
    QTest::qWait(3000);
    grabScreenArea(ropeArea()).save(applicationShots() + "/15-arrival-settled.png");

    app.terminate();
    EXPECT_TRUE(app.waitForFinished(5000));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
}

namespace {

// Moves the staged files onto the watched Desktop of a running application and ends it by SIGTERM
// once it has worked a while on them; nothing when they were not taken up.
std::optional<Ending> endWhileDrawing(QProcess& app, const QStringList& staged, const QString& desktop) {
    const std::optional<CpuReading> idle = cpuOf(app.processId());
    if (!idle)
        return std::nullopt;
    for (const QString& file : staged) {
        if (!QFile::rename(file, desktop + "/" + QFileInfo(file).fileName()))
            return std::nullopt;
    }
    // Their prints and thumbnails are being decoded once the process has worked a while.
    if (!workedFor(app.processId(), *idle, 0.6))
        return std::nullopt;
    return terminateCountingCpu(app);
}

// Nothing half-written: no thumbnail in the making, no stopped one recorded as failed, the index
// whole.
void expectNothingHalfWritten() {
    const QStringList strays = QDir(storage()).entryList({"thumbnail-*.jpg"}, QDir::Files | QDir::Hidden);
    EXPECT_TRUE(strays.isEmpty()) << strays.join(", ").toStdString();
    // A thumbnail the end cut short failed at nothing: the next start makes it at once.
    if (QFile::exists(storage() + "/thumbnail-failures.json")) {
        EXPECT_TRUE(readJson(storage() + "/thumbnail-failures.json").isEmpty())
            << "a stopped thumbnail was recorded as one that cannot be made";
    }
    for (const QString& name : QDir(storage() + "/thumbnails").entryList(QDir::Files | QDir::Hidden))
        EXPECT_FALSE(QImage(storage() + "/thumbnails/" + name).isNull()) << name.toStdString();
    if (QFile::exists(storage() + "/index.json")) {
        EXPECT_FALSE(readJson(storage() + "/index.json").isEmpty()) << "the index was not left whole";
    }
}

// Starts the application, moves the staged photos onto the watched Desktop and ends it while they
// are drawn: a clean exit, at most `cpuBound` seconds of CPU after the signal (scaled for the
// sanitizer build), and nothing half-written.
void expectEndWhileDrawing(const QStringList& staged, const QString& desktop, const char* kind,
                           double cpuBound) {
    QProcess app;
    ASSERT_TRUE(startApplication(app));
    const auto stop = stopAtEnd(app);
    const std::optional<Ending> ended = endWhileDrawing(app, staged, desktop);
    ASSERT_TRUE(ended) << "the photos were not taken up";
    const Ending& ending = *ended;
    std::printf("[ figure ] SIGTERM while %lld %s photos are drawn: ended after %lld ms, %.0f ms of CPU "
                "after the signal\n",
                static_cast<long long>(staged.size()), kind, static_cast<long long>(ending.ms),
                ending.cpuSeconds * 1000);
    ASSERT_TRUE(ending.finished);
    EXPECT_LT(ending.ms, sessionEndBoundMs()) << "the session end waited for the decodes";
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_LT(ending.cpuSeconds, cpuBound * cpuAfterSignalScale())
        << "the decodes under way were finished before the process ended";
    expectNothingHalfWritten();
}

// `count` camera-sized HEICs made from the camera JPEG in a staging folder; none when heif-enc
// failed.
QStringList stagedHeicPhotos(int count) {
    return encodeHeics(QStandardPaths::findExecutable("heif-enc"), progressiveCameraJpeg(),
                       makeFolder("staging"), QStringLiteral("camera"), count)
        .value_or(QStringList());
}

} // namespace

TEST(ApplicationRopeX11, ASessionEndWhileLargePhotosAreDrawnStopsTheirDecodes) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const QString desktop = makeWatchedFolders();
    const QString staging = makeFolder("staging");
    const QByteArray jpeg = progressiveCameraJpeg();
    constexpr int kPhotos = 4;
    QStringList staged;
    for (int i = 0; i < kPhotos; ++i) {
        staged.append(QString("%1/camera-%2.jpg").arg(staging).arg(i));
        writeFile(staged.last(), withComment(jpeg, i));
    }
    // Each decode under way would take a core for a second or more; stopped, they cost moments.
    ASSERT_NO_FATAL_FAILURE(expectEndWhileDrawing(staged, desktop, "large", 0.5));
    for (int i = 0; i < kPhotos; ++i)
        EXPECT_EQ(QFileInfo(QString("%1/camera-%2.jpg").arg(desktop).arg(i)).size(), jpeg.size() + 11);
}

// libheif cannot stop a decoding part-way: at a session end the process leaves such decodings
// behind instead of waiting for them.
TEST(ApplicationRopeX11, ASessionEndWhileHeicPhotosAreDrawnDoesNotWaitForTheirDecodes) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    if (QStandardPaths::findExecutable("heif-enc").isEmpty())
        GTEST_SKIP() << "heif-enc is not installed";
    const QString desktop = makeWatchedFolders();
    const QStringList staged = stagedHeicPhotos(4);
    ASSERT_EQ(staged.size(), 4) << "heif-enc failed";

    // The decodings left behind run on until the process is gone, a moment on each core; waited
    // for, four of them take seconds.
    expectEndWhileDrawing(staged, desktop, "HEIC", 2.0);
}

// The decodings left behind still run while the process ends, so it ends without running the
// static destructors under them: each such decoding that finished then would meet what they freed
// (a scale on Qt's thread pool after its destructor crashes), and an exit that runs them lasts as
// long as they take while the decodings go on. A library preloaded into the application holds its
// exit after those destructors, as a loaded machine may.
TEST(ApplicationRopeX11, ASessionEndRunsNoStaticDestructorUnderTheHeicDecodesLeftBehind) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    if (QStandardPaths::findExecutable("heif-enc").isEmpty())
        GTEST_SKIP() << "heif-enc is not installed";
    const QString desktop = makeWatchedFolders();
    const QStringList staged = stagedHeicPhotos(2);
    ASSERT_EQ(staged.size(), 2) << "heif-enc failed";

    constexpr int kHoldSeconds = 20;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    const QString preloaded = environment.value("LD_PRELOAD");
    environment.insert("LD_PRELOAD", QString(VENNIMO_EXIT_HOLD_LIBRARY) +
                                         (preloaded.isEmpty() ? QString() : " " + preloaded));
    environment.insert("VENNIMO_EXIT_HOLD_SECONDS", QString::number(kHoldSeconds));
    // The sanitizer build's runtime would refuse to come after the preloaded library.
    environment.insert("ASAN_OPTIONS", environment.value("ASAN_OPTIONS") + ":verify_asan_link_order=0");
    QProcess app;
    app.setProcessEnvironment(environment);
    ASSERT_TRUE(startApplication(app));
    const auto stop = stopAtEnd(app);
    const std::optional<Ending> ended = endWhileDrawing(app, staged, desktop);
    ASSERT_TRUE(ended) << "the photos were not taken up";
    std::printf(
        "[ figure ] SIGTERM while 2 HEIC photos are drawn, the exit held: ended after %lld ms, %.0f ms "
        "of CPU after the signal\n",
        static_cast<long long>(ended->ms), ended->cpuSeconds * 1000);
    ASSERT_TRUE(ended->finished);
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit) << "a decoding left behind crashed the process";
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_LT(ended->ms, kHoldSeconds * 1000 / 2) << "the exit ran the static destructors";
    EXPECT_LT(ended->cpuSeconds, 2.0 * cpuAfterSignalScale())
        << "the decodings went on while the process ended";
}
