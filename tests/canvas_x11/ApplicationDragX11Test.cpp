#include "ApplicationRope.h"
#include "DragSource.h"
#include "DropWindow.h"
#include "PhotoLikeImages.h"
#include "WindowTrail.h"
#include "platform/X11WindowStack.h"
#include "rope/ClotheslineRopeGeometry.h"
#include "support/TestEnvironment.h"

#include <QBuffer>
#include <QDir>
#include <QDrag>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

#include <cstdio>

#include <algorithm>
#include <cmath>
#include <functional>

using namespace vennimo;
using namespace vennimo::test;

namespace {

QStringList importedFiles() {
    return QDir(storage() + "/imported-images").entryList(QDir::Files);
}

// A window of another program to drag from, proposing a move as a file manager does.
class FileManagerSource : public DragSource {
public:
    FileManagerSource()
        : DragSource(QColor(70, 110, 90), QColor(200, 80, 60), Qt::CopyAction | Qt::MoveAction,
                     Qt::MoveAction) {}
};

QByteArray jpegBytes(int seed) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    makePhotoLikeImage({900, 600}, seed).save(&buffer, "JPEG", 85);
    return bytes;
}

} // namespace

TEST(ApplicationDragX11, PrintsDragOutAsFilesAndDroppedFilesAndBrowserImagesHangWhereDropped) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const QString desktop = makeWatchedFolders();
    ASSERT_TRUE(desktop.startsWith(TestEnvironment::root()));
    const QString shots = applicationShots();
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();

    Backdrop backdrop(Backdrop::Tone::Plain);
    ASSERT_TRUE(backdrop.cover());

    QProcess app;
    ASSERT_TRUE(startApplication(app));
    ASSERT_TRUE(hangDesktopPhotos(desktop, "print", 2, 40));
    const QList<double> xs = placementXs();
    const std::optional<QRect> window = applicationWindow(app.processId());
    ASSERT_TRUE(window);
    const QRect around = window->adjusted(-20, -20, 20, 20);

    // A print dragged by its paper into another program's window delivers its original file.
    DropWindow target;
    target.setGeometry(screen.x() + 120, window->bottom() + 60, 420, 240);
    target.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&target, 30000));
    QTest::qWait(300);
    const QPoint from = printPoint(*window, xs[0]);
    const QPoint to = target.geometry().center();
    ASSERT_TRUE(xdotool({"mousemove", QString::number(from.x()), QString::number(from.y())}, 300));
    ASSERT_TRUE(xdotool({"mousedown", "1"}, 200));
    constexpr int kSteps = 12;
    for (int i = 1; i <= kSteps; ++i) {
        const QPoint p = from + (to - from) * i / kSteps;
        ASSERT_TRUE(xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())}, 80));
        if (i == kSteps / 2)
            grabScreenArea(around.united(target.geometry()).adjusted(-20, -20, 20, 20))
                .save(shots + "/30-copy-drag-in-flight.png");
    }
    QTest::qWait(400);
    ASSERT_TRUE(xdotool({"mouseup", "1"}, 800));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !target.urls.isEmpty(); }, 30000)) << "nothing arrived";
    ASSERT_EQ(target.urls.size(), 1) << target.formats.join(' ').toStdString();
    EXPECT_TRUE(target.urls[0].isLocalFile());
    EXPECT_TRUE(target.urls[0].toLocalFile().startsWith(desktop + "/print-"))
        << target.urls[0].toString().toStdString();
    EXPECT_TRUE(QFile::exists(target.urls[0].toLocalFile()));
    EXPECT_EQ(target.offered, Qt::DropActions(Qt::CopyAction)) << "a copy drag never offers a move";
    QTest::qWait(300);
    grabScreenArea(around.united(target.geometry()).adjusted(-20, -20, 20, 20))
        .save(shots + "/31-copy-delivered.png");
    target.hide();

    // A file offered as a file manager offers it, dropped on a print: it hangs at that place.
    const QString pictures = TestEnvironment::root() + "/Pictures";
    QDir().mkpath(pictures);
    const QString offered = pictures + "/offered.jpg";
    {
        QFile file(offered);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(jpegBytes(61));
    }
    FileManagerSource files;
    files.setWindowTitle("files");
    files.offer = [&] {
        auto* data = new QMimeData;
        data->setData("text/uri-list", QUrl::fromLocalFile(offered).toEncoded() + "\r\n");
        data->setData("text/plain", offered.toUtf8());
        return data;
    };
    files.setGeometry(screen.x() + 120, window->bottom() + 60, 200, 150);
    files.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&files, 30000));
    QTest::qWait(300);

    QProcess gesture;
    const QPoint onFirst = printPoint(*window, xs[0]);
    startDragGesture(gesture, files.geometry().center(), onFirst, 1.6);
    // While the drag hovers over the rope, the rope shows it would take it.
    QTimer::singleShot(2000, &files, [&] {
        grabScreenArea(around.united(files.geometry()).adjusted(-20, -20, 20, 20))
            .save(shots + "/32-drop-highlight.png");
    });
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return gesture.state() == QProcess::NotRunning && files.result; }, 30000));
    EXPECT_EQ(files.result.value_or(Qt::IgnoreAction), Qt::CopyAction) << "the rope copies, never moves";
    ASSERT_TRUE(QTest::qWaitFor([] { return placementXs().size() == 3; }, 30000)) << "the file did not hang";
    EXPECT_TRUE(QFile::exists(offered)) << "the offered file stays where it was";
    EXPECT_EQ(importedFiles().size(), 1);
    QList<double> now = placementXs();
    EXPECT_EQ(std::count_if(now.cbegin(), now.cend(), [&](double x) { return std::abs(x - xs[0]) < 0.02; }),
              2)
        << "the new print hangs where the first one does";
    QTest::qWait(1500);
    grabScreenArea(around).save(shots + "/33-after-file-drop.png");
    files.hide();

    // Image bytes offered as a browser offers them, with the page's URL that cannot be reached.
    FileManagerSource browser;
    browser.setWindowTitle("browser");
    browser.offer = [] {
        auto* data = new QMimeData;
        data->setData("application/octet-stream", jpegBytes(62));
        data->setData("text/uri-list", "http://127.0.0.1:9/photo.jpg");
        return data;
    };
    browser.setGeometry(screen.x() + 120, window->bottom() + 60, 200, 150);
    browser.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&browser, 30000));
    QTest::qWait(300);
    const QPoint onSecond = printPoint(*window, xs[1]);
    startDragGesture(gesture, browser.geometry().center(), onSecond, 0.8);
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return gesture.state() == QProcess::NotRunning && browser.result; }, 30000));
    EXPECT_EQ(browser.result.value_or(Qt::IgnoreAction), Qt::CopyAction);
    ASSERT_TRUE(QTest::qWaitFor([] { return placementXs().size() == 4; }, 30000)) << "the bytes did not hang";
    EXPECT_EQ(importedFiles().size(), 2) << "both images are in the storage folder";
    now = placementXs();
    EXPECT_EQ(std::count_if(now.cbegin(), now.cend(), [&](double x) { return std::abs(x - xs[1]) < 0.02; }),
              2);
    EXPECT_TRUE(QFile::exists(storage() + "/exhibition.json"));
    QTest::qWait(1500);
    grabScreenArea(around).save(shots + "/34-after-browser-drop.png");

    app.terminate();
    EXPECT_TRUE(app.waitForFinished(5000));
}
