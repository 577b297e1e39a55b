#include "ApplicationRope.h"
#include "DragSource.h"
#include "SlowSource.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;

namespace {

QString xy(QPoint p) {
    return QString("%1 %2").arg(p.x()).arg(p.y());
}

// Presses in the source, carries the drag to `to` in steps, rests there for `restSeconds`, then
// carries it back to where it began and lets go there, away from the rope.
void startDragThereAndBack(QProcess& gesture, QPoint from, QPoint to, double restSeconds) {
    QString script = "xdotool mousemove " + xy(from) + "; sleep 0.3; xdotool mousedown 1; sleep 0.3;";
    constexpr int kSteps = 8;
    for (int i = 1; i <= kSteps; ++i)
        script += " xdotool mousemove " + xy(from + (to - from) * i / kSteps) + "; sleep 0.06;";
    script += QString(" sleep %1; xdotool mousemove %2; sleep 0.2; xdotool mouseup 1")
                  .arg(restSeconds)
                  .arg(xy(from));
    gesture.start("bash", {"-c", script});
}

QStringList importedFiles() {
    return QDir(storage() + "/imported-images").entryList(QDir::Files | QDir::NoDotAndDotDot);
}

} // namespace

// The application over a plain backdrop, with one photo of the Desktop hung.
class ApplicationDeadSourceDropX11 : public ::testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X server";
        desktop = makeWatchedFolders();
        ASSERT_TRUE(backdrop.emplace(Backdrop::Tone::Plain).cover());
        ASSERT_TRUE(startApplication(app));
        ASSERT_TRUE(hangDesktopPhotos(desktop, "dead", 1, 89));
        window = applicationWindow(app.processId());
        ASSERT_TRUE(window);
    }

    QString desktop;
    std::optional<Backdrop> backdrop;
    QProcess app;
    std::optional<QRect> window;
};

// Programs that crash in the middle of their drag over the rope never say that the drag left it:
// the drag that comes next is another one all the same, judged by what it offers.
TEST_F(ApplicationDeadSourceDropX11, ADropAfterDragsWhoseSourcesDiedOverTheRopeIsJudgedByItsOwnData) {
    const QPoint onPrint = printPoint(*window, placementXs().value(0));
    const QRect sourceFrame = sourceFrameBelow(*window);
    const QString watch = QString("watch=%1,%2,100,100").arg(onPrint.x() - 50).arg(onPrint.y() - 50);
    const QString notes = QDir::tempPath() + "/dead-sources/notes.txt";
    QDir().mkpath(QDir::tempPath() + "/dead-sources");
    QFile file(notes);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("no picture");
    file.close();
    const QString noteList = "text/uri-list=text:" + QUrl::fromLocalFile(notes).toString() + "\r\n";

    // Drags of a text file's list over the print, each source ending 50 to 650 ms after the rope
    // first answered it, with no XdndLeave.
    for (const int exitMs : {50, 200, 350, 500, 650}) {
        QByteArray said;
        QProcess source;
        ASSERT_TRUE(
            startSlowSource(source, sourceFrame, {noteList, watch, QString("exit=%1").arg(exitMs)}, said));
        QProcess gesture;
        startDragThereAndBack(gesture, sourceFrame.center(), onPrint, 1.2);
        const bool ended = QTest::qWaitFor([&] { return source.state() == QProcess::NotRunning; }, 15000);
        said += source.readAllStandardOutput();
        ASSERT_TRUE(ended) << exitMs << " ms: the source did not end; it said " << said.toStdString();
        EXPECT_TRUE(said.contains("exit")) << exitMs << " ms: " << said.toStdString();
        EXPECT_FALSE(said.contains("dropped")) << exitMs << " ms: the drag ended before its source died";
        ASSERT_TRUE(QTest::qWaitFor([&] { return gesture.state() == QProcess::NotRunning; }, 15000));
    }
    EXPECT_TRUE(importedFiles().isEmpty());

    // A program that drags a picture to the same place 2 s later.
    QTest::qWait(2000);
    QByteArray said;
    QProcess source;
    ASSERT_TRUE(startSlowSource(source, sourceFrame, {"image/png=png", watch}, said));
    QProcess gesture;
    startDragGesture(gesture, sourceFrame.center(), onPrint, 0.6);
    ASSERT_TRUE(awaitDropped(gesture, source, said, "dropped")) << said.toStdString();
    EXPECT_TRUE(said.contains("dropped copy")) << "the rope refused the picture: " << said.toStdString();
    EXPECT_TRUE(QTest::qWaitFor([] { return !importedFiles().isEmpty(); }, 20000))
        << "nothing imported; the source said " << said.toStdString();
    source.kill();
    source.waitForFinished(5000);
    app.terminate();
    EXPECT_TRUE(app.waitForFinished(30'000));
}
