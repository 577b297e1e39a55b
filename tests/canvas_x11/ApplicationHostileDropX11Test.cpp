#include "ApplicationRope.h"
#include "DragSource.h"
#include "HostileDropScene.h"
#include "PhotoLikeImages.h"
#include "SlowSource.h"
#include "WindowPing.h"
#include "dragdrop/ExternalImageDrop.h"
#include "support/TestEnvironment.h"
#include "support/TestImages.h"

#include <QDir>
#include <QDirIterator>
#include <QDrag>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHostAddress>
#include <QMimeData>
#include <QPainter>
#include <QProcess>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <optional>

using namespace vennimo;
using namespace vennimo::test;

namespace {

// Data of a source that dies right after it first answered: the links it offers are there while
// the drag is looked at and gone when the drop asks for them.
class DyingSourceData : public QMimeData {
public:
    mutable int answered = 0;
    QStringList formats() const override { return {"text/uri-list"}; }
    bool hasFormat(const QString& type) const override { return type == "text/uri-list"; }

protected:
    QVariant retrieveData(const QString& type, QMetaType) const override {
        if (type != "text/uri-list" || answered++ > 0)
            return QByteArray();
        return QByteArray("http://127.0.0.1:9/gone.jpg\r\n");
    }
};

// Another program's window: a press drags what `offer` makes, as a copy.
class HostileSource : public DragSource {
public:
    HostileSource()
        : DragSource(QColor(110, 70, 90), QColor(60, 80, 200), Qt::CopyAction) {}
};

// The whole gesture runs in another process, so this one keeps answering its own drag.
bool dragOnto(HostileSource& source, QPoint to) {
    QProcess gesture;
    startDragGesture(gesture, source.geometry().center(), to, 0.6);
    return QTest::qWaitFor([&] { return gesture.state() == QProcess::NotRunning && source.result; }, 30000);
}

// Presses in the source, moves within it to start the drag, then jumps to `to` in one move and
// rests there for `restSeconds` before it lets go: the target hears of the drag once.
void startDragJump(QProcess& gesture, QPoint from, QPoint to, double restSeconds) {
    const auto xy = [](QPoint p) { return QString("%1 %2").arg(p.x()).arg(p.y()); };
    gesture.start("bash",
                  {"-c", "xdotool mousemove " + xy(from) + "; sleep 0.3; xdotool mousedown 1; sleep 0.3;" +
                             " xdotool mousemove " + xy(from + QPoint(12, -12)) + "; sleep 0.2;" +
                             " xdotool mousemove " + xy(from + QPoint(24, -24)) + "; sleep 0.3;" +
                             " xdotool mousemove " + xy(to) + QString("; sleep %1;").arg(restSeconds) +
                             " xdotool mouseup 1"});
}

} // namespace

// Each test starts the application over a plain backdrop, with one photo of the Desktop hung.
class ApplicationHostileDropX11 : public ::testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X server";
        desktop = makeWatchedFolders();
        shots = applicationShots();
        ASSERT_TRUE(backdrop.emplace(Backdrop::Tone::Plain).cover());
    }
    // With `keepErrors` the application's standard error stays readable through `app`.
    void start(const QString& name, int seed, bool keepErrors = false) {
        ASSERT_TRUE(startApplication(app, keepErrors));
        ASSERT_TRUE(hangDesktopPhotos(desktop, name, 1, seed));
        window = applicationWindow(app.processId());
        ASSERT_TRUE(window);
    }

    QString desktop;
    QString shots;
    std::optional<Backdrop> backdrop;
    QProcess app;
    std::optional<QRect> window;
};

TEST_F(ApplicationHostileDropX11, AnEmptyDropSaysSoAndAQuitDoesNotWaitOnSilentDownloads) {
    ASSERT_NO_FATAL_FAILURE(start("hostile", 71));
    const QRect around = window->adjusted(-20, -20, 20, 20);
    const QPoint onPrint = printPoint(*window, placementXs().value(0));

    // A source that goes away after the drag was looked at: the drop is taken, and the rope says
    // it brought nothing instead of staying silent.
    HostileSource empty;
    empty.setWindowTitle("gives nothing");
    empty.offer = [] { return new DyingSourceData; };
    empty.setGeometry(sourceFrameBelow(*window));
    empty.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&empty, 30000));
    QTest::qWait(1500);
    const QImage before = grabScreenArea(bannerBand(*window));
    ASSERT_TRUE(dragOnto(empty, onPrint));
    EXPECT_EQ(empty.result.value_or(Qt::IgnoreAction), Qt::CopyAction) << "the drop was taken";
    empty.hide();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return changedShare(before, grabScreenArea(bannerBand(*window))) > 0.3; }, 30000))
        << "the rope shows the drop's error";
    QTest::qWait(800);
    grabScreenArea(around).save(shots + "/hostile-1-empty-drop.png");

    // A hundred links to a host that takes the connection and never answers.
    QTcpServer silent;
    ASSERT_TRUE(silent.listen(QHostAddress::LocalHost));
    QByteArray links;
    for (int i = 0; i < 100; ++i)
        links += QString("http://127.0.0.1:%1/%2.jpg\r\n").arg(silent.serverPort()).arg(i).toUtf8();
    HostileSource links100;
    links100.setWindowTitle("100 silent links");
    links100.offer = [links] {
        auto* data = new QMimeData;
        data->setData("text/uri-list", links);
        return data;
    };
    links100.setGeometry(sourceFrameBelow(*window));
    links100.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&links100, 30000));
    QTest::qWait(300);
    ASSERT_TRUE(dragOnto(links100, onPrint));
    EXPECT_EQ(links100.result.value_or(Qt::IgnoreAction), Qt::CopyAction);
    int connections = 0;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            while (QTcpSocket* socket = silent.nextPendingConnection()) {
                socket->setParent(&silent);
                ++connections;
            }
            return connections > 0;
        },
        30000))
        << "the downloads started";
    grabScreenArea(around).save(shots + "/hostile-2-downloading.png");

    // The session ends: the quit stops the downloads instead of waiting minutes for them.
    QElapsedTimer quitting;
    quitting.start();
    app.terminate();
    const bool ended = app.waitForFinished(60'000);
    std::printf("[ figure ] SIGTERM during a drop of 100 silent links: exit after %lld ms (%d connections)\n",
                static_cast<long long>(quitting.elapsed()), connections);
    ASSERT_TRUE(ended) << "the quit waited on the network";
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    const QStringList partials =
        QDir(storage() + "/imported-images").entryList({".*.partial"}, QDir::Files | QDir::Hidden);
    EXPECT_TRUE(partials.isEmpty()) << partials.join(", ").toStdString();
}

TEST_F(ApplicationHostileDropX11,
       ADropFromASourceThatAnswersSlowlyNeitherFreezesTheRopeNorHoldsOffTheSessionEnd) {
    ASSERT_NO_FATAL_FAILURE(start("slow", 73));
    const QString ropeId = widestWindowId(app.processId());
    ASSERT_FALSE(ropeId.isEmpty());
    const QPoint onPrint = printPoint(*window, placementXs().value(0));

    // Another program offers forty image types and answers each request after 0.9 s with bytes
    // that are no picture: reading all of them would hold the rope for half a minute.
    const QRect sourceFrame = sourceFrameBelow(*window);
    QProcess source;
    QByteArray started;
    ASSERT_TRUE(startSlowSource(source, sourceFrame, {"40", "900"}, started));
    int answered = 0;
    const auto countAnswers = [&] {
        QTest::qWait(200);
        answered += int(source.readAllStandardOutput().count("answered"));
    };

    const QImage before = grabScreenArea(bannerBand(*window));
    QProcess gesture;
    startDragGesture(gesture, sourceFrame.center(), onPrint, 0.6);
    ASSERT_TRUE(QTest::qWaitFor([&] { return gesture.state() == QProcess::NotRunning; }, 15000));
    const qint64 freeze = longestPing(ropeId, 4.0);
    countAnswers();
    std::printf("[ figure ] drop of 40 types answered after 0.9 s each: main thread held %lld ms at most, "
                "%d types read\n",
                static_cast<long long>(freeze), answered);
    EXPECT_LT(freeze, 10'000) << "the rope stood still while the source answered";
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return changedShare(before, grabScreenArea(bannerBand(*window))) > 0.3; }, 10000))
        << "the rope says the drop brought no readable picture";
    QTest::qWait(500);
    grabScreenArea(window->adjusted(-20, -20, 20, 20)).save(shots + "/hostile-3-slow-source.png");
    EXPECT_TRUE(QDir(storage() + "/imported-images").entryList(QDir::Files | QDir::NoDotAndDotDot).isEmpty());
    ASSERT_TRUE(pingWindow(ropeId, 5000)) << "the rope answers again";

    // The same drop once more, and the session ends while it is read: the signal is acted on
    // once the drop's reading gives up, not after every type was asked for.
    QTest::qWait(3000);
    countAnswers();
    QProcess again;
    startDragGesture(again, sourceFrame.center(), onPrint, 0.6);
    ASSERT_TRUE(QTest::qWaitFor([&] { return again.state() == QProcess::NotRunning; }, 15000));
    QTest::qWait(300);
    QElapsedTimer ending;
    ending.start();
    app.terminate();
    const bool ended = app.waitForFinished(60'000);
    std::printf("[ figure ] SIGTERM during the slow drop: exit after %lld ms\n",
                static_cast<long long>(ending.elapsed()));
    source.kill();
    source.waitForFinished(5000);
    ASSERT_TRUE(ended) << "the session end waited for the source";
    EXPECT_LT(ending.elapsed(), 15'000) << "the session end waited for every type";
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
}

TEST_F(ApplicationHostileDropX11, APictureBesideTypesTheSourceNeverGivesIsImportedAndTheRopeKeepsAnswering) {
    ASSERT_NO_FATAL_FAILURE(start("never", 79));
    const QString ropeId = widestWindowId(app.processId());
    ASSERT_FALSE(ropeId.isEmpty());
    const QPoint onPrint = printPoint(*window, placementXs().value(0));
    const QRect sourceFrame = sourceFrameBelow(*window);
    // Pictures from Photos go into folders of their own.
    const auto imported = [] {
        QStringList files;
        for (const char* folder : {"/imported-images", "/photos-imports"})
            for (QDirIterator it(storage() + folder, QDir::Files, QDirIterator::Subdirectories);
                 it.hasNext();)
                files.append(it.next());
        return files;
    };

    // Another program that answers some of its types at once and never answers the others; the
    // pointer rests on the print for `hoverSeconds` before it lets go, while the rope is pinged.
    struct Drag {
        qint64 freeze = 0;
        QByteArray said;
        bool ended = false;
    };
    const auto drag = [&](const QStringList& offers, double hoverSeconds, double pingSeconds) {
        Drag result;
        QProcess source;
        if (!startSlowSource(source, sourceFrame, offers, result.said))
            return result;
        QProcess gesture;
        startDragGesture(gesture, sourceFrame.center(), onPrint, hoverSeconds);
        // Ping from before the pointer comes over the rope.
        QTest::qWait(600);
        result.freeze = longestPing(ropeId, pingSeconds);
        result.ended = awaitDropped(gesture, source, result.said, "dropped");
        source.kill();
        source.waitForFinished(5000);
        return result;
    };

    // Hovering over a URI list the source never gives: the rope reads it briefly, keeps answering
    // and shows the source in time that it takes the drag.
    // The longest the source waited for the rope's status after the pointer came to the print.
    const auto longestStatusWait = [](const QByteArray& said) {
        qint64 longest = -1;
        for (const QByteArray& line : said.split('\n'))
            if (line.startsWith("status after "))
                longest = std::max(longest, line.mid(13).split(' ').value(0).toLongLong());
        return longest;
    };
    // Around the print the pointer stops on; elsewhere in the rope window it may be over no target.
    const QString watch = QString("watch=%1,%2,100,100").arg(onPrint.x() - 50).arg(onPrint.y() - 50);
    // The pings end before the drop, which may take the drop's whole time to read.
    const Drag hover = drag({"text/uri-list=never", watch}, 3.0, 2.5);
    std::printf("[ figure ] hover over a URI list never given: main thread held %lld ms at most, "
                "status %lld ms after the pointer came\n",
                static_cast<long long>(hover.freeze), static_cast<long long>(longestStatusWait(hover.said)));
    ASSERT_TRUE(hover.ended) << hover.said.toStdString();
    EXPECT_LT(hover.freeze, 2000) << "the hover's read held the rope";
    EXPECT_LT(longestStatusWait(hover.said), 2000) << "the rope answered the source's positions late";
    EXPECT_TRUE(hover.said.contains("dropped copy")) << "the rope did not show it takes the drag in time";
    QTest::qWait(1500);

    // A busy file manager that gives the list of an image file 1.5 s after it was asked: the rope
    // answers the drag before it asks, so the source learns at once that the rope takes it.
    const QString busyFolder = QDir::tempPath() + "/busy-file-manager";
    QDir().mkpath(busyFolder);
    const QString busyPhoto = busyFolder + "/photo.jpg";
    ASSERT_TRUE(makePhotoLikeImage(QSize(640, 480), 7).save(busyPhoto, "JPEG"));
    const Drag busy = drag(
        {"text/uri-list=slow:1500:" + QUrl::fromLocalFile(busyPhoto).toString() + "\r\n", watch}, 1.0, 1.0);
    std::printf("[ figure ] hover over a list given after 1.5 s: main thread held %lld ms at most, status "
                "%lld ms after the pointer came\n",
                static_cast<long long>(busy.freeze), static_cast<long long>(longestStatusWait(busy.said)));
    EXPECT_LT(longestStatusWait(busy.said), 1000) << "the source had to answer before it heard the rope";
    EXPECT_TRUE(busy.said.contains("dropped copy")) << busy.said.toStdString();
    QTest::qWait(2000);

    // Types the import can read, so that the drop asks for each of them.
    QStringList twentyNeverGiven;
    for (const char* type : {"image/png",
                             "image/jpeg",
                             "image/webp",
                             "image/gif",
                             "image/tiff",
                             "application/pdf",
                             "image/bmp",
                             "image/x-portable-pixmap",
                             "image/x-portable-graymap",
                             "image/x-portable-bitmap",
                             "image/x-xpixmap",
                             "image/x-xbitmap",
                             "image/heic",
                             "image/heif",
                             "image/avif",
                             "image/x-canon-cr2",
                             "image/x-nikon-nef",
                             "image/x-sony-arw",
                             "image/x-adobe-dng",
                             "image/x-fuji-raf"}) {
        EXPECT_TRUE(ExternalImageDrop::importableImageType(QString::fromLatin1(type))) << type;
        twentyNeverGiven.append(QString::fromLatin1(type) + "=never");
    }
    twentyNeverGiven.append("application/octet-stream=png");
    const struct {
        const char* what;
        QStringList offers;
        const char* suffix;
    } cases[] = {
        {"a URI list never given", {"text/uri-list=never", "image/png=png"}, ".png"},
        {"a Photos reference never given",
         {"application/x-com.apple.photos.object-reference.asset=never", "image/png=png"},
         ".png"},
        {"a cut-off PNG before a whole JPEG", {"image/png=cutpng", "image/jpeg=jpeg"}, ".jpg"},
        {"a PNG that does not decode before a whole JPEG", {"image/png=badpng", "image/jpeg=jpeg"}, ".jpg"},
        {"a PNG never given beside a JPEG", {"image/png=never", "image/jpeg=jpeg"}, ".jpg"},
        {"a URI list and a PNG never given before a JPEG",
         {"text/uri-list=never", "image/png=never", "image/jpeg=jpeg"},
         ".jpg"},
        {"twenty picture types never given before untyped bytes", twentyNeverGiven, ".png"},
        {"a PNG given after 2.5 s beside a JPEG", {"image/png=late:2500:png", "image/jpeg=jpeg"}, ".jpg"},
        {"a PNG of 1 MB given in pieces", {"image/png=bigpng"}, ".png"},
    };
    for (const auto& c : cases) {
        const QStringList before = imported();
        const Drag dropped = drag(c.offers, 0.6, 3.0);
        std::printf("[ figure ] drop of a picture beside %s: main thread held %lld ms at most\n", c.what,
                    static_cast<long long>(dropped.freeze));
        ASSERT_TRUE(dropped.ended) << c.what << ": " << dropped.said.toStdString();
        EXPECT_LT(dropped.freeze, 2500) << c.what;
        EXPECT_TRUE(dropped.said.contains("dropped copy")) << c.what << ": " << dropped.said.toStdString();
        EXPECT_TRUE(dropped.said.contains("finished copy")) << c.what << ": " << dropped.said.toStdString();
        QStringList added;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                added = imported();
                for (const QString& name : before)
                    added.removeAll(name);
                return !added.isEmpty();
            },
            // Each type never given is waited for in turn, longer on a loaded machine.
            int(20000 * loadScale())))
            << c.what << ": nothing imported; the source was asked for " << dropped.said.toStdString();
        EXPECT_TRUE(added.value(0).endsWith(c.suffix)) << c.what << ": " << added.join(", ").toStdString();
        QTest::qWait(1500);
    }

    // Nothing the source offers ever comes: the source is told the drop was refused, not that
    // the picture was copied, and nothing is imported.
    const QStringList before = imported();
    const Drag silent = drag({"image/png=never", "image/jpeg=never"}, 0.6, 3.0);
    ASSERT_TRUE(silent.ended) << silent.said.toStdString();
    EXPECT_TRUE(silent.said.contains("asked image/jpeg")) << silent.said.toStdString();
    EXPECT_TRUE(silent.said.contains("finished refused")) << silent.said.toStdString();
    QTest::qWait(1500);
    EXPECT_EQ(imported(), before);
    grabScreenArea(window->adjusted(-20, -20, 20, 20)).save(shots + "/hostile-4-never-given.png");
    ASSERT_TRUE(pingWindow(ropeId, 5000));
    app.terminate();
    EXPECT_TRUE(app.waitForFinished(30'000));
}

TEST_F(ApplicationHostileDropX11, AFilesDragOfNoPictureIsRefusedAsSoonAsItsListIsReadThoughItRests) {
    ASSERT_NO_FATAL_FAILURE(start("notes", 83));
    const QPoint onPrint = printPoint(*window, placementXs().value(0));
    const QRect sourceFrame = sourceFrameBelow(*window);
    const QString folder = QDir::tempPath() + "/notes-folder";
    QDir().mkpath(folder);
    QFile notes(folder + "/notes.txt");
    ASSERT_TRUE(notes.open(QIODevice::WriteOnly));
    notes.write("no picture");
    notes.close();
    const QString photo = folder + "/photo.jpg";
    ASSERT_TRUE(makePhotoLikeImage(QSize(640, 480), 9).save(photo, "JPEG"));

    // The pointer comes onto the print in one move and rests there: no further move brings the
    // rope's answer to the list it read.
    const auto drag = [&](const QString& file) {
        QByteArray said;
        QProcess source;
        if (!startSlowSource(source, sourceFrame,
                             {"text/uri-list=text:" + QUrl::fromLocalFile(file).toString() + "\r\n"}, said))
            return said;
        QProcess gesture;
        startDragJump(gesture, sourceFrame.center(), onPrint, 2.0);
        QTest::qWait(1900);
        grabScreenArea(window->adjusted(-20, -20, 20, 20))
            .save(shots + "/hostile-5-resting-" + QFileInfo(file).suffix() + ".png");
        if (!awaitDropped(gesture, source, said, "dropped"))
            said += "\n(the drag did not end)";
        source.kill();
        source.waitForFinished(5000);
        return said;
    };

    const QByteArray refused = drag(notes.fileName());
    EXPECT_TRUE(refused.contains("asked text/uri-list")) << refused.toStdString();
    EXPECT_TRUE(refused.contains("dropped none"))
        << "the rope kept taking a drag of no picture: " << refused.toStdString();
    QTest::qWait(1000);

    // A list of a picture is still taken.
    const QByteArray taken = drag(photo);
    EXPECT_TRUE(taken.contains("dropped copy")) << taken.toStdString();
    app.terminate();
    EXPECT_TRUE(app.waitForFinished(30'000));
}

TEST_F(ApplicationHostileDropX11, AJpegOfThousandsOfEmptyScansIsRefusedAtOnceAndHoldsNoQuit) {
    ASSERT_NO_FATAL_FAILURE(start("scans", 83, true));
    const QPoint onPrint = printPoint(*window, placementXs().value(0));
    const QRect sourceFrame = sourceFrameBelow(*window);

    // 200 KB a browser could hand over as a web picture: 10000 x 10000 grey in 20,000 scans,
    // minutes of decoding for a decoder that made every pass.
    QTemporaryDir folder;
    const QString picture = folder.filePath("scans.jpg");
    writeFile(picture, manyScanJpeg(10000, 10000, 20000));
    const auto drop = [&](QProcess& source) {
        QByteArray said;
        if (!startSlowSource(source, sourceFrame, {"image/jpeg=file:" + picture}, said))
            return false;
        QProcess gesture;
        startDragGesture(gesture, sourceFrame.center(), onPrint, 0.6);
        return awaitDropped(gesture, source, said, "dropped copy");
    };

    const QImage before = grabScreenArea(bannerBand(*window));
    QProcess first;
    ASSERT_TRUE(drop(first));
    QElapsedTimer answered;
    answered.start();
    const bool shown = QTest::qWaitFor(
        [&] { return changedShare(before, grabScreenArea(bannerBand(*window))) > 0.3; }, 20000);
    std::printf("[ figure ] drop of a JPEG of 20,000 scans: the rope said so after %lld ms\n",
                static_cast<long long>(answered.elapsed()));
    first.kill();
    first.waitForFinished(5000);
    ASSERT_TRUE(shown) << "the rope did not answer the drop";
    QTest::qWait(500);
    grabScreenArea(window->adjusted(-20, -20, 20, 20)).save(shots + "/hostile-5-many-scans.png");
    // The banner's text is selectable: three clicks take its line into the primary selection.
    const QString banner = bannerText(*window);
    EXPECT_TRUE(banner.contains(QString::fromUtf8("图片损坏或尺寸过大。"))) << banner.toStdString();
    EXPECT_TRUE(QDir(storage() + "/imported-images").entryList(QDir::Files | QDir::NoDotAndDotDot).isEmpty());

    // The same drop once more, and the session ends 1.5 s later: nothing is left to wait for.
    QTest::qWait(1000);
    QProcess second;
    ASSERT_TRUE(drop(second));
    QTest::qWait(1500);
    QElapsedTimer ending;
    ending.start();
    app.terminate();
    const bool ended = app.waitForFinished(60'000);
    std::printf("[ figure ] SIGTERM 1.5 s after a drop of the JPEG of 20,000 scans: exit after %lld ms\n",
                static_cast<long long>(ending.elapsed()));
    second.kill();
    second.waitForFinished(5000);
    ASSERT_TRUE(ended) << "the session end waited for the decoding";
    EXPECT_LT(ending.elapsed(), 10'000) << "the session end waited for the decoding";
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    const QByteArray errors = app.readAllStandardError();
    EXPECT_FALSE(errors.contains("Corrupt JPEG data")) << errors.toStdString();
}
