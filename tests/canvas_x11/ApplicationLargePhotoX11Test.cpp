#include "ApplicationRope.h"
#include "ApplicationSession.h"
#include "DragSource.h"
#include "PhotoLikeImages.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImageReader>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>

using namespace vennimo;
using namespace vennimo::test;

namespace {

// The application with one print hung, and another program's window below the rope that drags
// files onto that print, as a file manager does.
struct LargePhotoScene {
    QString desktop = makeWatchedFolders();
    Backdrop backdrop{Backdrop::Tone::Plain};
    QProcess app;
    DragSource source{QColor(70, 110, 90), QColor(200, 80, 60), Qt::CopyAction | Qt::MoveAction,
                      Qt::CopyAction};
    std::optional<QRect> window;
    QProcess gesture;

    ~LargePhotoScene() {
        app.kill();
        app.waitForFinished();
        gesture.waitForFinished(5000);
    }
    // False, with the failure reported, when something did not come up.
    bool start(int seed) {
        if (!backdrop.cover() || !startApplication(app) || !hangDesktopPhotos(desktop, "first", 1, seed) ||
            !(window = applicationWindow(app.processId()))) {
            ADD_FAILURE() << "the application with one print did not come up";
            return false;
        }
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        source.setWindowTitle("files");
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

QDir copies() {
    return QDir(storage() + "/imported-images");
}
int namedCopies() {
    return int(copies().entryList(QDir::Files).size());
}

// The sizes of the thumbnails the index made, one a photo.
QList<QSize> thumbnailSizes() {
    QList<QSize> sizes;
    const QDir folder(storage() + "/thumbnails");
    for (const QString& name : folder.entryList(QDir::Files))
        sizes.append(QImageReader(folder.filePath(name)).size());
    return sizes;
}

// Moves a file written elsewhere into the folder at once, as a file manager's copy ends.
void landIn(const QString& folder, const QString& name, const QByteArray& bytes) {
    const QString staging = makeFolder("staging");
    writeFile(staging + "/" + name, bytes);
    ASSERT_TRUE(QFile::rename(staging + "/" + name, folder + "/" + name)) << name.toStdString();
}

// `heic`: a HEIC decode under way cannot be stopped and runs on until the process is gone.
void expectEndedAtOnce(QProcess& app, const char* what, bool heic = false) {
    const Ending ending = terminateCountingCpu(app);
    std::printf("[ figure ] SIGTERM %s: exit after %lld ms, %.0f ms of CPU after the signal\n", what,
                static_cast<long long>(ending.ms), ending.cpuSeconds * 1000);
    ASSERT_TRUE(ending.finished);
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_LT(ending.ms, sessionEndBoundMs()) << "the session end waited";
    EXPECT_LT(ending.cpuSeconds, 0.2 * cpuAfterSignalScale() + (heic ? double(ending.ms) / 1000 : 0))
        << "work under way was finished first";
}

} // namespace

// A 50-megapixel photo in full-resolution colour, progressive, as editors write their top
// qualities: its coefficients take more than one decoding's share, and it was refused as
// unreadable on the Desktop and when dropped. A stitched panorama past the pixel cap gets the
// desktop thumbnailer's thumbnail, as a damaged file does not.
TEST(ApplicationLargePhotoX11, RealPhotosOfAnySizeShowOnTheDesktopAndWhenDropped) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const QByteArray fullColour = streamedJpeg(8688, 5792, 51, 3, true);
    LargePhotoScene scene;
    ASSERT_TRUE(scene.start(71));

    ASSERT_NO_FATAL_FAILURE(landIn(scene.desktop, "DSC_0001.jpg", fullColour));
    const bool thumbnailer = !QStandardPaths::findExecutable("gdk-pixbuf-thumbnailer").isEmpty();
    if (thumbnailer) {
        ASSERT_NO_FATAL_FAILURE(
            landIn(scene.desktop, "panorama.jpg", streamedJpeg(14000, 8000, 52, 1, false)));
    }
    const int photos = thumbnailer ? 3 : 2;
    EXPECT_TRUE(QTest::qWaitFor([&] { return placements().size() == photos; }, 120000))
        << "a photo did not hang";
    const auto thumbnailed = [&] { return thumbnailSizes().size() == photos; };
    EXPECT_TRUE(QTest::qWaitFor(thumbnailed, 120000)) << "a large photo got no thumbnail";
    const QList<QSize> sizes = thumbnailSizes();
    EXPECT_TRUE(sizes.contains(QSize(720, 480))) << "the 50-megapixel photo has no thumbnail";
    // The thumbnailer's own size, at most 720 pixels on the longer side and the panorama's shape.
    if (thumbnailer) {
        EXPECT_TRUE(std::any_of(sizes.begin(), sizes.end(), [](QSize size) {
            return size.width() <= 720 && std::abs(size.width() * 8 - size.height() * 14) <= 2 * 14;
        })) << "the panorama has no thumbnail";
    }

    // Dropped from a temporary folder, it is checked at thumbnail size and hangs.
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString dropped = folder.filePath("DSC_0002.jpg");
    writeFile(dropped, withComment(fullColour, 2));
    scene.drop({QUrl::fromLocalFile(dropped)});
    EXPECT_TRUE(QTest::qWaitFor([] { return readJson(storage() + "/exhibition.json").size() == 1; }, 120000))
        << "the dropped photo was refused";
    EXPECT_EQ(namedCopies(), 1);

    // Another comes while the session ends: its decoding, holding the one turn for such pictures,
    // stops where it is.
    ASSERT_NO_FATAL_FAILURE(landIn(scene.desktop, "DSC_0003.jpg", withComment(fullColour, 3)));
    QTest::qWait(1500);
    expectEndedAtOnce(scene.app, "1.5 s after a 50-megapixel photo in full-resolution colour came");
}

// libheif decodes a HEIC whole whatever size is asked: 200 MB and more for a 24-megapixel photo.
// The drop's checks of forty of them kept to no memory budget and ran sixteen at once, 2 GB, and a
// session end left them all running on every core until the process was gone.
TEST(ApplicationLargePhotoX11, ADropOfFortyLargeHeicsKeepsToItsMemoryAndASessionEndLeavesAtOnce) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const QString tool = QStandardPaths::findExecutable("heif-enc");
    if (tool.isEmpty())
        GTEST_SKIP() << "heif-enc is not installed";
    constexpr int kPhotos = 40;
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const std::optional<QStringList> made =
        encodeHeics(tool, grainyJpeg(6000, 4000, 33), folder.path(), QStringLiteral("encoded"), 1);
    ASSERT_TRUE(made && made->size() == 1) << "heif-enc failed";
    const QByteArray heic = readFile(made->first());
    QFile::remove(made->first());
    QList<QUrl> urls;
    const QList<QByteArray> heics = distinctHeics(heic, kPhotos);
    for (int i = 0; i < kPhotos; ++i) {
        const QString path = QString("%1/IMG_%2.heic").arg(folder.path()).arg(5000 + i);
        writeFile(path, heics[i]);
        urls.append(QUrl::fromLocalFile(path));
    }

    LargePhotoScene scene;
    ASSERT_TRUE(scene.start(72));
    scene.drop(urls);
    ASSERT_TRUE(QTest::qWaitFor([] { return namedCopies() >= 1; }, 120000)) << "no copy was checked";
    QTest::qWait(500);
    const std::optional<qint64> peak = peakResidentKiB(scene.app.processId());
    std::printf(
        "[ figure ] a drop of %d HEICs of 6000 x 4000 (%lld KB each) from a temporary folder: peak RSS "
        "%lld MiB 0.5 s after the first copy was named\n",
        kPhotos, static_cast<long long>(heic.size() / 1000), static_cast<long long>(peak.value_or(0) / 1024));
    EXPECT_LT(peak.value_or(0), 600 * 1024 * kMemoryBoundScale) << "the HEICs' checks were not bounded";
    expectEndedAtOnce(scene.app, "0.5 s after the first of forty HEICs was copied", true);
    EXPECT_TRUE(copies().entryList(QDir::Files | QDir::Hidden).filter(".partial").isEmpty())
        << "a copy was left half-written";
}
