#include "ApplicationRope.h"
#include "ApplicationSession.h"
#include "DragSource.h"
#include "PhotoLikeImages.h"
#include "core/ExhibitionJournal.h"
#include "platform/X11Selection.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <initializer_list>
#include <optional>
#include <thread>
#include <vector>

using namespace vennimo;
using namespace vennimo::test;

namespace {

// The copied photo: larger than a camera's, whose decoding takes a core for only a few tenths of a
// second, less than a busy machine spreads an exit over; this one's takes about a second.
constexpr int kCopiedWidth = 10000;
constexpr int kCopiedHeight = 7500;

// The application with one print hung, and another program's window below the rope that drags
// files onto that print, as a file manager or a browser's download list does.
struct DropScene {
    QString desktop = makeWatchedFolders();
    Backdrop backdrop{Backdrop::Tone::Plain};
    QProcess app;
    DragSource source{QColor(70, 110, 90), QColor(200, 80, 60), Qt::CopyAction | Qt::MoveAction,
                      Qt::CopyAction};
    std::optional<QRect> window;
    QProcess gesture;

    ~DropScene() {
        app.kill();
        app.waitForFinished();
        gesture.waitForFinished(5000);
    }
    // False, with the failure reported, when something did not come up.
    bool start(int seed) {
        // SIGHUP as a session sends it, even when the test runs under nohup, which sets it aside for
        // the programs it starts.
        app.setChildProcessModifier([] { ::signal(SIGHUP, SIG_DFL); });
        if (!backdrop.cover() || !startApplication(app) || !hangDesktopPhotos(desktop, "first", 1, seed) ||
            !(window = applicationWindow(app.processId()))) {
            ADD_FAILURE() << "the application with one print did not come up";
            return false;
        }
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        source.setWindowTitle("downloads");
        source.setGeometry(screen.x() + 120, window->bottom() + 60, 200, 150);
        source.show();
        if (!QTest::qWaitForWindowExposed(&source)) {
            ADD_FAILURE() << "the drag source did not show";
            return false;
        }
        QTest::qWait(300);
        return true;
    }
    void drop(const QList<QUrl>& urls) {
        source.offer = [urls] { return urlsOffer(urls); };
        startDragGesture(gesture, source.geometry().center(), printPoint(*window, placementXs().value(0)),
                         0.6);
    }
};

// Where the drop's copies are made: hidden while they are written and checked, named once whole.
QDir copies() {
    return QDir(storage() + "/imported-images");
}
int namedCopies() {
    return int(copies().entryList(QDir::Files).size());
}
bool copying() {
    return !copies().entryList({".*.partial"}, QDir::Files | QDir::Hidden).isEmpty();
}

// After a session end during a drop of `given` files from a temporary folder: nothing is
// half-written, every named copy is one of them whole, and each hangs.
void expectCopiesWholeAndHung(const QSet<QByteArray>& given) {
    EXPECT_TRUE(copies().entryList(QDir::Files | QDir::Hidden).filter(".partial").isEmpty())
        << "a copy was left half-written";
    EXPECT_TRUE(QDir(storage() + "/pending-imports").entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_FALSE(QFile::exists(ExhibitionJournal::path(storage())));
    for (const QString& name : copies().entryList(QDir::Files))
        EXPECT_TRUE(given.contains(readFile(copies().filePath(name))))
            << "a copy is not whole: " << name.toStdString();
    EXPECT_EQ(int(readJson(storage() + "/exhibition.json").size()), namedCopies())
        << "a copy checked before the signal does not hang, or one hangs that was not kept";
}

// Camera-sized photos in a temporary folder, each a file of its own, dropped on the rope; the
// signals come once the first copies are checked and named, the checks of the next ones under way.
// The end is a session end: a clean exit, with every copy it named whole and hung.
void expectDropEndedBy(std::initializer_list<int> signalNumbers, const char* what) {
    constexpr int kPhotos = 12;
    constexpr int kPictures = 4;
    std::vector<QByteArray> pictures(kPictures);
    {
        std::vector<std::thread> makers;
        for (int i = 0; i < kPictures; ++i)
            makers.emplace_back([&pictures, i] { pictures[size_t(i)] = grainyJpeg(6000, 4000, i + 21); });
        for (std::thread& maker : makers)
            maker.join();
    }
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QList<QUrl> urls;
    QSet<QByteArray> given;
    for (int i = 0; i < kPhotos; ++i) {
        const QString path = QString("%1/IMG_%2.jpg").arg(folder.path()).arg(4000 + i);
        given.insert(withComment(pictures[size_t(i % kPictures)], i));
        writeFile(path, withComment(pictures[size_t(i % kPictures)], i));
        urls.append(QUrl::fromLocalFile(path));
    }

    DropScene scene;
    ASSERT_TRUE(scene.start(61));
    scene.drop(urls);
    ASSERT_TRUE(QTest::qWaitFor(copying, 60000)) << "the drop was not taken";
    ASSERT_TRUE(QTest::qWaitFor([] { return namedCopies() >= 1; }, 60000)) << "no copy was checked";
    // A stopped session scope sends SIGHUP 2 ms behind SIGTERM.
    const Ending ending = terminateCountingCpu(scene.app, signalNumbers, 2);
    std::printf("[ figure ] %s during a drop of %d large photos from a temporary folder: exit after %lld ms, "
                "%.0f ms of CPU after the signal, %d copies hang\n",
                what, kPhotos, static_cast<long long>(ending.ms), ending.cpuSeconds * 1000, namedCopies());
    ASSERT_TRUE(ending.finished);
    EXPECT_LT(ending.ms, sessionEndBoundMs()) << "the session end waited for the drop's copies";
    EXPECT_EQ(scene.app.exitStatus(), QProcess::NormalExit) << "killed by the signal instead of ending";
    EXPECT_EQ(scene.app.exitCode(), 0);
    expectCopiesWholeAndHung(given);
    for (int i = 0; i < kPhotos; ++i)
        EXPECT_EQ(readFile(urls[i].toLocalFile()), withComment(pictures[size_t(i % kPictures)], i));
}

// The most the application may hold over a whole drop of large HEICs, its checks and then its
// thumbnails: each HEIC is decoded whole, some 216 MB at 6000 x 4000, and those decoded at once
// stay within one decoding's share, where eight drawn side by side took near a gigabyte.
constexpr qint64 kHeicDropPeakBoundKiB = 600 * 1024;
constexpr int kDroppedHeics = 40;

// Distinct HEICs of 6000 x 4000 in `folder`, made once by heif-enc; answers their addresses, or
// nothing when heif-enc failed.
std::optional<QList<QUrl>> writeLargeHeics(const QString& tool, const QString& folder,
                                           QSet<QByteArray>* given, int count = kDroppedHeics) {
    const std::optional<QStringList> made =
        encodeHeics(tool, grainyJpeg(6000, 4000, 33), folder, QStringLiteral("source"), 1);
    if (!made)
        return std::nullopt;
    const QByteArray heic = readFile(made->value(0));
    QFile::remove(made->value(0));
    QList<QUrl> urls;
    const QList<QByteArray> files = distinctHeics(heic, count);
    for (int i = 0; i < files.size(); ++i) {
        const QString path = QString("%1/IMG_%2.heic").arg(folder).arg(5000 + i);
        writeFile(path, files[i]);
        given->insert(files[i]);
        urls.append(QUrl::fromLocalFile(path));
    }
    return urls;
}

int exhibited() {
    return int(readJson(storage() + "/exhibition.json").size());
}

} // namespace

// libheif cannot stop a decoding part-way: the drop's checks of HEICs are left behind once the
// session end is decided, not waited for until the drop's import ends.
TEST(ApplicationSessionEndX11, ASessionEndDuringADropOfHeicsDoesNotWaitForTheirChecks) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const QString tool = QStandardPaths::findExecutable("heif-enc");
    if (tool.isEmpty())
        GTEST_SKIP() << "heif-enc is not installed";
    // In a temporary folder, as a browser leaves them: each is copied in and checked.
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    constexpr int kPhotos = 6;
    const std::optional<QStringList> heics =
        encodeHeics(tool, grainyJpeg(6000, 4000, 31), folder.path(), QStringLiteral("IMG"), kPhotos);
    ASSERT_TRUE(heics) << "heif-enc failed";
    QList<QUrl> urls;
    QSet<QByteArray> given;
    for (const QString& heic : *heics) {
        urls.append(QUrl::fromLocalFile(heic));
        given.insert(readFile(heic));
    }

    DropScene scene;
    ASSERT_TRUE(scene.start(62));
    const std::optional<CpuReading> idle = cpuOf(scene.app.processId());
    ASSERT_TRUE(idle);
    scene.drop(urls);
    ASSERT_TRUE(QTest::qWaitFor(copying, 60000)) << "the drop was not taken";
    // Their checks are decoding once the process has worked a while on them.
    ASSERT_TRUE(workedFor(scene.app.processId(), *idle, 0.6));
    const Ending ending = terminateCountingCpu(scene.app);
    std::printf("[ figure ] SIGTERM during a drop of %d HEICs of 6000 x 4000 from a temporary folder: exit "
                "after %lld ms, %.0f ms of CPU after the signal, %d copies hang\n",
                kPhotos, static_cast<long long>(ending.ms), ending.cpuSeconds * 1000, namedCopies());
    ASSERT_TRUE(ending.finished);
    EXPECT_LT(ending.ms, sessionEndBoundMs()) << "the session end waited for the drop's checks";
    EXPECT_EQ(scene.app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(scene.app.exitCode(), 0);
    // The decoding left behind runs on until the process is gone, one core for as long as that
    // takes (longer on a loaded machine): the drop checks one such HEIC at a time. Waited for, the
    // rest of six of them take seconds; six at once left behind, half a second.
    EXPECT_LT(ending.cpuSeconds, 0.2 * cpuAfterSignalScale() + double(ending.ms) / 1000)
        << "the drop's checks were waited for";
    expectCopiesWholeAndHung(given);
}

TEST(ApplicationSessionEndX11, SigtermAndSighupRightBehindItDuringADropEndTheSessionOnce) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    expectDropEndedBy({SIGTERM, SIGHUP}, "SIGTERM and SIGHUP 2 ms later");
}

// A closed terminal's SIGHUP ends the session as SIGTERM does.
TEST(ApplicationSessionEndX11, SighupDuringADropEndsTheSession) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    expectDropEndedBy({SIGHUP}, "SIGHUP");
}

// The picture of a copied photo is decoded ahead for a paste; a quit right after the copy throws
// it away and must not wait for the rest of that decoding.
TEST(ApplicationSessionEndX11, AQuitRightAfterCopyingALargePhotoDoesNotWaitForItsPicture) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const QString desktop = makeWatchedFolders();
    const QString staging = makeFolder("staging");
    Backdrop backdrop(Backdrop::Tone::Plain);
    ASSERT_TRUE(backdrop.cover());
    QProcess app;
    ASSERT_TRUE(startApplication(app));
    const auto stop = stopAtEnd(app);
    // Moved in whole, so that it is read once.
    writeFile(staging + "/large.jpg", grainyJpeg(kCopiedWidth, kCopiedHeight, 41));
    ASSERT_TRUE(QFile::rename(staging + "/large.jpg", desktop + "/large.jpg"));
    ASSERT_TRUE(QTest::qWaitFor([] { return placements().size() == 1; }, 60000)) << "the photo did not hang";
    QTest::qWait(2500);
    const std::optional<QRect> window = applicationWindow(app.processId());
    ASSERT_TRUE(window);
    const QPoint print = printPoint(*window, placementXs().value(0));
    ASSERT_TRUE(xdotool({"mousemove", QString::number(print.x()), QString::number(print.y())}, 200));
    ASSERT_TRUE(xdotool({"click", "1"}, 1000));

    // The signal comes as soon as the copy is on the clipboard, its picture being decoded.
    const std::optional<unsigned> before = X11Selection::owner("CLIPBOARD");
    ASSERT_TRUE(xdotool({"key", "ctrl+c"}, 0));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const std::optional<unsigned> owner = X11Selection::owner("CLIPBOARD");
            return owner && owner != before;
        },
        10000))
        << "the photo was not copied";
    const Ending ending = terminateCountingCpu(app);
    std::printf("[ figure ] SIGTERM right after copying a %d x %d photo: exit after %lld ms, %.0f ms of CPU "
                "after the signal\n",
                kCopiedWidth, kCopiedHeight, static_cast<long long>(ending.ms), ending.cpuSeconds * 1000);
    ASSERT_TRUE(ending.finished);
    EXPECT_LT(ending.ms, sessionEndBoundMs()) << "the session end waited for the photo's picture";
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_LT(ending.cpuSeconds, 0.5 * cpuAfterSignalScale()) << "the copied photo's decoding was waited for";
}

// A drop of large HEICs from a temporary folder: each is copied in, checked, and its thumbnail is
// the picture its check drew. The signal comes a second after the last copy is named, as the
// import hangs them.
TEST(ApplicationSessionEndX11, ADropOfManyLargeHeicsStaysWithinItsMemoryAndItsEndDoesNotWaitForThem) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const QString tool = QStandardPaths::findExecutable("heif-enc");
    if (tool.isEmpty())
        GTEST_SKIP() << "heif-enc is not installed";
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    QSet<QByteArray> given;
    const std::optional<QList<QUrl>> urls = writeLargeHeics(tool, folder.path(), &given);
    ASSERT_TRUE(urls) << "heif-enc failed";

    DropScene scene;
    ASSERT_TRUE(scene.start(63));
    scene.drop(*urls);
    ASSERT_TRUE(QTest::qWaitFor(copying, 60000)) << "the drop was not taken";
    QElapsedTimer copied;
    copied.start();
    ASSERT_TRUE(QTest::qWaitFor([] { return namedCopies() == kDroppedHeics; }, 600000))
        << "only " << namedCopies() << " copies were named";
    const qint64 copiesMs = copied.elapsed();
    QTest::qWait(1000);
    const std::optional<qint64> peak = peakResidentKiB(scene.app.processId());
    const int hungBefore = exhibited();
    const Ending ending = terminateCountingCpu(scene.app);
    std::printf("[ figure ] a drop of %d HEICs of 6000 x 4000 from a temporary folder: copies named after "
                "%lld ms, %d hung a second later, peak RSS %lld MiB; SIGTERM then: exit after %lld ms, "
                "%.0f ms of CPU after the signal\n",
                kDroppedHeics, static_cast<long long>(copiesMs), hungBefore,
                static_cast<long long>(peak.value_or(0) / 1024), static_cast<long long>(ending.ms),
                ending.cpuSeconds * 1000);
    ASSERT_TRUE(ending.finished);
    EXPECT_LT(ending.ms, sessionEndBoundMs()) << "the session end waited for the drop's thumbnails";
    EXPECT_EQ(scene.app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(scene.app.exitCode(), 0);
    ASSERT_TRUE(peak);
    EXPECT_LT(*peak, kHeicDropPeakBoundKiB * kMemoryBoundScale)
        << "the HEICs were decoded again for their thumbnails, side by side";
    // At most the one decoding libheif cannot stop runs on, a core for as long as the exit takes.
    EXPECT_LT(ending.cpuSeconds, 0.2 * cpuAfterSignalScale() + double(ending.ms) / 1000)
        << "the thumbnails under way at the signal were finished";
    expectCopiesWholeAndHung(given);
}

// The same HEICs from the user's own folders hang where they lie: nothing checks them before the
// import draws their thumbnails, which it does within the same memory.
TEST(ApplicationSessionEndX11, ADropOfManyLargeHeicsHungWhereTheyLieStaysWithinItsMemory) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const QString tool = QStandardPaths::findExecutable("heif-enc");
    if (tool.isEmpty())
        GTEST_SKIP() << "heif-enc is not installed";
    const std::optional<QString> userFiles = userFilesParent();
    if (!userFiles)
        GTEST_SKIP() << "no place for a user's own photos outside the temporary folders";
    QTemporaryDir folder(*userFiles + "/drop-heics-XXXXXX");
    ASSERT_TRUE(folder.isValid());
    QSet<QByteArray> given;
    const std::optional<QList<QUrl>> urls = writeLargeHeics(tool, folder.path(), &given);
    ASSERT_TRUE(urls) << "heif-enc failed";

    DropScene scene;
    ASSERT_TRUE(scene.start(64));
    QElapsedTimer dropped;
    dropped.start();
    scene.drop(*urls);
    ASSERT_TRUE(QTest::qWaitFor([] { return exhibited() == kDroppedHeics; }, 600000))
        << "only " << exhibited() << " hang";
    const std::optional<qint64> peak = peakResidentKiB(scene.app.processId());
    std::printf("[ figure ] a drop of %d HEICs of 6000 x 4000 hung where they lie: all hung after %lld ms, "
                "peak RSS %lld MiB\n",
                kDroppedHeics, static_cast<long long>(dropped.elapsed()),
                static_cast<long long>(peak.value_or(0) / 1024));
    ASSERT_TRUE(peak);
    EXPECT_LT(*peak, kHeicDropPeakBoundKiB * kMemoryBoundScale)
        << "the HEICs' thumbnails were drawn side by side beyond the working memory";
    EXPECT_EQ(namedCopies(), 0) << "a file of the user's own was copied in";
    const QDir thumbnails(storage() + "/exhibition-thumbnails");
    EXPECT_EQ(int(thumbnails.entryList({"*.jpg"}, QDir::Files).size()), kDroppedHeics);
}

// A session end while the import draws the thumbnails of HEICs hung where they lie: libheif cannot
// stop a decoding part-way, and only one is under way, not one for each core.
TEST(ApplicationSessionEndX11, ASessionEndWhileHeicsHungWhereTheyLieAreDrawnLeavesOneDecodingBehind) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const QString tool = QStandardPaths::findExecutable("heif-enc");
    if (tool.isEmpty())
        GTEST_SKIP() << "heif-enc is not installed";
    const std::optional<QString> userFiles = userFilesParent();
    if (!userFiles)
        GTEST_SKIP() << "no place for a user's own photos outside the temporary folders";
    QTemporaryDir folder(*userFiles + "/drop-heics-XXXXXX");
    ASSERT_TRUE(folder.isValid());
    QSet<QByteArray> given;
    constexpr int kHeics = 12;
    const std::optional<QList<QUrl>> urls = writeLargeHeics(tool, folder.path(), &given, kHeics);
    ASSERT_TRUE(urls) << "heif-enc failed";

    DropScene scene;
    ASSERT_TRUE(scene.start(65));
    scene.drop(*urls);
    const QDir thumbnails(storage() + "/exhibition-thumbnails");
    const auto drawn = [&] { return int(thumbnails.entryList({"*.jpg"}, QDir::Files).size()); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return drawn() >= 2; }, 300000)) << "no thumbnail was drawn";
    const Ending ending = terminateCountingCpu(scene.app);
    std::printf(
        "[ figure ] SIGTERM while %d HEICs hung where they lie are drawn (%d drawn): exit after %lld ms, "
        "%.0f ms of CPU after the signal\n",
        kHeics, drawn(), static_cast<long long>(ending.ms), ending.cpuSeconds * 1000);
    ASSERT_TRUE(ending.finished);
    EXPECT_LT(ending.ms, sessionEndBoundMs()) << "the session end waited for the thumbnails";
    EXPECT_EQ(scene.app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(scene.app.exitCode(), 0);
    EXPECT_LT(ending.cpuSeconds, 0.2 * cpuAfterSignalScale() + double(ending.ms) / 1000)
        << "decodings the signal found under way side by side ran on";
    for (const QUrl& url : *urls)
        EXPECT_TRUE(given.contains(readFile(url.toLocalFile()))) << "a photo of the user's own changed";
}
