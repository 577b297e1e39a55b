#include "WindowCut.h"
#include "canvas_x11/ApplicationRope.h"
#include "canvas_x11/ApplicationSession.h"
#include "canvas_x11/PhotoLikeImages.h"
#include "platform/X11WindowStack.h"
#include "rope/ClotheslineRopeGeometry.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <cstdlib>
#include <utility>

using namespace vennimo;
using namespace vennimo::test;

namespace {

QStringList trashed() {
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash/files")
        .entryList(QDir::Files);
}

// A point on a print's paper, below its peg, in a window whose canvas is `top` below its top.
QPoint printPoint(const QRect& window, double x, int top) {
    const ClotheslineRopeGeometry rope = restingRope(window);
    const QPointF onCanvas = rope.pointAlong(rope.supportFraction(x)) + QPointF(0, kPegToPaper);
    return window.topLeft() + QPoint(kSideInset, top) + onCanvas.toPoint();
}

bool moveTo(const QPoint& p, int settleMs = 200) {
    return xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())}, settleMs);
}

bool click(const QPoint& p) {
    return moveTo(p) && xdotool({"click", "1"}, 400);
}

bool key(const QString& keys, int settleMs = 500) {
    return xdotool({"key", keys}, settleMs);
}

std::optional<QRect> waitForHeight(qint64 pid, int height, int timeoutMs = 30000) {
    std::optional<QRect> frame;
    (void)QTest::qWaitFor(
        [&] {
            frame = applicationWindow(pid);
            return frame && frame->height() == height;
        },
        timeoutMs);
    return frame;
}

} // namespace

TEST(RopeScreenX11, TheToolbarSelectsDeletesUndoesSwitchesToTheGridAndClicksStillPassThrough) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const QString desktop = makeWatchedFolders();
    ASSERT_TRUE(desktop.startsWith(TestEnvironment::root()));
    // A space-bar application that is gone: the banner says so.
    writeFile(defaultsFile(), R"({"spaceKeyOpener": "/nonexistent/viewer.desktop"})");
    const QString shots = applicationShots();

    Backdrop backdrop(Backdrop::Tone::Dark);
    ASSERT_TRUE(backdrop.cover());

    QProcess app;
    ASSERT_TRUE(startApplication(app));
    ASSERT_TRUE(hangDesktopPhotos(desktop, "screen", 3, 40));
    const QList<double> xs = placementXs();
    const std::optional<QRect> collapsed = applicationWindow(app.processId());
    ASSERT_TRUE(collapsed);
    const int collapsedHeight = collapsed->height();
    grabScreenArea(collapsed->adjusted(-20, -80, 20, 20)).save(shots + "/40-collapsed.png");
    EXPECT_FALSE(capsuleEnds(*collapsed)) << "no toolbar without a selection";

    // A click on a print selects it: the window grows upward by the toolbar's room and the
    // toolbar fades in.
    ASSERT_TRUE(click(printPoint(*collapsed, xs[1], kCanvasTop)));
    const std::optional<QRect> expanded = waitForHeight(app.processId(), collapsedHeight + kToolbarRoom);
    ASSERT_TRUE(expanded && expanded->height() == collapsedHeight + kToolbarRoom);
    const int screenTop = QGuiApplication::primaryScreen()->availableGeometry().top();
    EXPECT_EQ(expanded->top(), std::max(screenTop, collapsed->top() - kToolbarRoom))
        << "the rope stays where it hung, unless the screen's top edge is in the way";
    QTest::qWait(600); // the fade
    (void)QTest::qWaitFor([&] { return capsuleEnds(*expanded).has_value(); }, 30000);
    grabScreenArea(expanded->adjusted(-20, -20, 20, 20)).save(shots + "/41-expanded.png");
    const auto capsule = capsuleEnds(*expanded);
    ASSERT_TRUE(capsule) << "the toolbar shows";
    EXPECT_GT(capsule->second - capsule->first, 400);

    // Resting on the settings button shows its hint below it.
    const QPoint settings(capsule->second - 15 - 14, expanded->top() + 8 + 22);
    ASSERT_TRUE(moveTo(settings, 900));
    grabScreenArea(QRect(capsule->first - 20, expanded->top(), capsule->second - capsule->first + 40, 100))
        .save(shots + "/42-hover-hint.png");
    grabScreenArea(expanded->adjusted(-20, -20, 20, 20)).save(shots + "/42-hover-hint-window.png");

    // Control-A selects all three; a second one ends the selection and the toolbar goes.
    ASSERT_TRUE(key("ctrl+a", 800));
    grabScreenArea(expanded->adjusted(-20, -20, 20, 20)).save(shots + "/43-all-selected.png");
    ASSERT_TRUE(key("ctrl+a"));
    EXPECT_TRUE(waitForHeight(app.processId(), collapsedHeight)) << "no selection, no toolbar";

    // Space with an application that is gone shows the error banner; its close button clears it.
    ASSERT_TRUE(click(printPoint(*collapsed, xs[0], kCanvasTop)));
    std::optional<QRect> frame = waitForHeight(app.processId(), collapsedHeight + kToolbarRoom);
    ASSERT_TRUE(frame);
    ASSERT_TRUE(key("space", 900));
    const QRect banner(frame->left() + 70, frame->top() + 73, frame->width() - 140, 40);
    grabScreenArea(frame->adjusted(-20, -20, 20, 20)).save(shots + "/44-error-banner.png");
    const QImage withBanner = grabScreenArea(banner);
    ASSERT_TRUE(click(QPoint(banner.right() - 10 - 9, banner.top() + 10 + 9)));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return changedShare(withBanner, grabScreenArea(banner)) > 0.05; }, 30000))
        << "the banner went";

    // Control-Delete asks before the selected print goes to the Trash; Control-Z brings it back.
    const qsizetype windowsBefore = applicationWindows(app.processId()).size();
    ASSERT_TRUE(key("ctrl+Delete", 1200));
    (void)QTest::qWaitFor([&] { return applicationWindows(app.processId()).size() == windowsBefore + 1; },
                          30000);
    grabScreenArea(QGuiApplication::primaryScreen()->geometry()).save(shots + "/45-trash-confirmation.png");
    ASSERT_EQ(applicationWindows(app.processId()).size(), windowsBefore + 1) << "the confirmation";
    ASSERT_TRUE(key("Tab", 200) && key("space", 1500));
    // The first delete from a source folder asks for the folder's grant, which opens on it.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return applicationWindows(app.processId()).size() == windowsBefore + 1; }, 30000))
        << "the folder grant";
    grabScreenArea(QGuiApplication::primaryScreen()->geometry()).save(shots + "/45-folder-grant.png");
    ASSERT_TRUE(key("Return", 1500));
    EXPECT_TRUE(QTest::qWaitFor([] { return trashed().size() == 1; }, 30000)) << "one photo in the Trash";
    EXPECT_EQ(QDir(desktop).entryList(QDir::Files).size(), 2);
    frame = applicationWindow(app.processId());
    ASSERT_TRUE(frame);
    QTest::qWait(800);
    grabScreenArea(frame->adjusted(-20, -20, 20, 20)).save(shots + "/46-trashed.png");
    ASSERT_TRUE(key("ctrl+z", 1500));
    EXPECT_TRUE(QTest::qWaitFor([] { return trashed().isEmpty(); }, 30000)) << "back from the Trash";
    EXPECT_TRUE(QTest::qWaitFor([&] { return QDir(desktop).entryList(QDir::Files).size() == 3; }, 30000));
    QTest::qWait(1500);
    frame = applicationWindow(app.processId());
    ASSERT_TRUE(frame);
    grabScreenArea(frame->adjusted(-20, -20, 20, 20)).save(shots + "/47-restored.png");

    // "普通窗口" switches to the grid, whose rope button leads back.
    frame = applicationWindow(app.processId());
    ASSERT_TRUE(frame);
    const int top = frame->height() == collapsedHeight ? kCanvasTop : kCanvasTop + kToolbarRoom;
    if (frame->height() == collapsedHeight) {
        ASSERT_TRUE(click(printPoint(*frame, xs[2], top)));
        frame = waitForHeight(app.processId(), collapsedHeight + kToolbarRoom);
        ASSERT_TRUE(frame);
        (void)QTest::qWaitFor([&] { return capsuleEnds(*frame).has_value(); }, 30000);
        QTest::qWait(500);
    }
    const auto ends = capsuleEnds(*frame);
    ASSERT_TRUE(ends);
    ASSERT_TRUE(click(QPoint(ends->second - 15 - 30 - 6 - 26, frame->top() + 8 + 22)));
    std::optional<QRect> grid;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            grid = applicationWindow(app.processId());
            return grid && grid->height() >= 520 && grid->width() >= 900;
        },
        30000))
        << "the titled grid window";
    QTest::qWait(500);
    if (grid)
        grabScreenArea(grid->adjusted(-20, -40, 20, 20)).save(shots + "/48-grid.png");
    ASSERT_TRUE(grid);
    // The grid's rope button, left of its settings button at the header's right end, 37 points
    // above the header's divider, which lies 25 points above the first card's white field.
    // A loaded machine maps the grid before it draws it, and may draw it in steps: the card is
    // looked for once the window has stopped changing, and until it shows.
    // The window manager may still place the window after it shows, so the window is read again
    // until both its place and its picture hold still.
    QImage drawn;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            QTest::qWait(250);
            const std::optional<QRect> now = applicationWindow(app.processId());
            const QImage image = now ? grabScreenArea(*now) : QImage();
            const bool still = now && now == grid && image == drawn;
            grid = now;
            drawn = image;
            return still;
        },
        30000))
        << "the grid window keeps changing";
    ASSERT_TRUE(grid);
    int cardTop = -1;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const QImage column = grabScreenArea(QRect(grid->left() + 124, grid->top() - 15, 1, 260));
            const QRgb background = grabScreenArea(QRect(grid->left() + 6, grid->top(), 1, 1)).pixel(0, 0);
            for (int y = 0; y < column.height() && cardTop < 0; ++y)
                if (qGray(column.pixel(0, y)) - qGray(background) > 8)
                    cardTop = grid->top() - 15 + y;
            return cardTop >= 0;
        },
        30000));
    ASSERT_GE(cardTop, 0) << "the grid's first card";
    ASSERT_TRUE(click(QPoint(grid->right() - 24 - 30 - 6 - 15, cardTop - 3 - 24 - 1 - 37)));
    std::optional<QRect> back;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            back = applicationWindow(app.processId());
            return back && back->height() < 520;
        },
        30000))
        << "back on the rope";
    QTest::qWait(800);
    if (back)
        grabScreenArea(back->adjusted(-20, -20, 20, 20)).save(shots + "/49-back-on-the-rope.png");

    // A click where the strip is transparent reaches the window beneath. The window manager may
    // still place the rope after it shows: the clicks are aimed once its place holds still.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            QTest::qWait(250);
            const std::optional<QRect> now = applicationWindow(app.processId());
            return std::exchange(back, now) == now && now;
        },
        30000))
        << "the rope keeps moving";
    ASSERT_TRUE(back);
    const QPoint transparent = back->topLeft() + QPoint(back->width() / 2, back->height() - 14);
    backdrop.presses.clear();
    ASSERT_TRUE(click(transparent));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !backdrop.presses.isEmpty(); }, 30000));

    // Dragging the toolbar's title moves the window; the collapse button closes it. Back from the
    // grid, the rope takes clicks on its prints once it has laid them out again, on a loaded
    // machine a good while after it shows: the click waits for that.
    const QPoint onPrint = printPoint(*back, xs[1], kCanvasTop);
    const QString ropeId = widestWindowId(app.processId());
    EXPECT_TRUE(QTest::qWaitFor([&] { return inputShapeHolds(ropeId, onPrint); }, 30000))
        << "the rope window " << ropeId.toStdString() << " never took the pointer at " << onPrint.x() << ","
        << onPrint.y();
    backdrop.presses.clear();
    ASSERT_TRUE(click(onPrint));
    frame = waitForHeight(app.processId(), collapsedHeight + kToolbarRoom);
    ASSERT_TRUE(frame && frame->height() == collapsedHeight + kToolbarRoom)
        << "the click selected no print"
        << (backdrop.presses.isEmpty() ? "" : "; it went to the window below") << "; the rope was at "
        << back->x() << "," << back->y() << ", now at " << (frame ? frame->x() : -1) << ","
        << (frame ? frame->y() : -1);
    // The toolbar fades in; on a loaded machine that can take a while, and the window manager may
    // place the grown window after its size came: the window is looked up again each time.
    std::optional<std::pair<int, int>> title;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            const std::optional<QRect> now = applicationWindow(app.processId());
            if (now && now->height() == frame->height())
                frame = now;
            return (title = capsuleEnds(*frame)).has_value();
        },
        30000));
    ASSERT_TRUE(title) << "no toolbar over the window at " << frame->x() << "," << frame->y();
    const QPoint grip(title->first + 15 + 28 + 8 + 50, frame->top() + 8 + 22);
    const QPoint travel(70, 120);
    ASSERT_TRUE(moveTo(grip) && xdotool({"mousedown", "1"}, 150));
    for (int i = 1; i <= 6; ++i)
        ASSERT_TRUE(moveTo(grip + travel * i / 6, 50));
    ASSERT_TRUE(xdotool({"mouseup", "1"}, 600));
    std::optional<QRect> moved;
    (void)QTest::qWaitFor(
        [&] {
            moved = applicationWindow(app.processId());
            return moved && (moved->topLeft() - (frame->topLeft() + travel)).manhattanLength() <= 3;
        },
        30000);
    ASSERT_TRUE(moved);
    EXPECT_LE((moved->topLeft() - (frame->topLeft() + travel)).manhattanLength(), 3)
        << moved->x() << "," << moved->y() << " from " << frame->x() << "," << frame->y();
    grabScreenArea(moved->adjusted(-20, -20, 20, 20)).save(shots + "/50-moved-by-the-title.png");
    ASSERT_TRUE(click(QPoint(title->first + travel.x() + 15 + 14, moved->top() + 8 + 22)));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !applicationWindow(app.processId()); }, 30000))
        << "the collapse button closed the rope window";

    app.terminate();
    EXPECT_TRUE(app.waitForFinished(5000));
}

namespace {

bool printPaper(QRgb pixel) {
    return std::abs(qRed(pixel) - 250) <= 6 && std::abs(qGreen(pixel) - 248) <= 6 &&
           std::abs(qBlue(pixel) - 245) <= 6;
}

// How many pixels of `area` (screen coordinates) in a grab of `window` pass the test.
int countIn(const QImage& shot, const QRect& window, const QRect& area, bool (*test)(QRgb)) {
    int count = 0;
    const QRect inShot = area.translated(-window.topLeft()).intersected(shot.rect());
    for (int y = inShot.top(); y <= inShot.bottom(); ++y)
        for (int x = inShot.left(); x <= inShot.right(); ++x)
            count += test(shot.pixel(x, y)) ? 1 : 0;
    return count;
}

} // namespace

// x11-session leaves the compositing manager out for this suite's name: the X server shows the
// rope window's clear pixels black unless the window is cut to what it draws.
TEST(RopeScreenWithoutCompositorX11, TheDesktopShowsAroundTheRopeAndItsPrintsAndClicksStillPassThrough) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    ASSERT_FALSE(X11WindowStack::compositorRunning()) << "the session has a compositing manager";
    const QString desktop = makeWatchedFolders();
    ASSERT_TRUE(desktop.startsWith(TestEnvironment::root()));
    const QString shots = applicationShots();

    Backdrop backdrop(Backdrop::Tone::Plain);
    ASSERT_TRUE(backdrop.cover());

    QProcess app;
    ASSERT_TRUE(startApplication(app));
    ASSERT_TRUE(hangDesktopPhotos(desktop, "bare", 3, 60));
    const QList<double> xs = placementXs();
    const std::optional<QRect> window = applicationWindow(app.processId());
    ASSERT_TRUE(window);
    const QImage shot = grabScreenArea(*window);
    shot.save(shots + "/60-no-compositor-rope.png");
    grabScreenArea(window->adjusted(-20, -20, 20, 20)).save(shots + "/60-no-compositor-rope-around.png");

    // Below the prints and above the rope's sag the desktop shows, not black; the prints show.
    const QRect below(window->left(), window->bottom() - 24, window->width(), 20);
    const QRect above(window->left() + window->width() / 4, window->top(), window->width() / 2, 4);
    EXPECT_GE(countIn(shot, *window, below, backdropBlue), below.width() * below.height() * 98 / 100)
        << "the window shows black below its prints";
    EXPECT_GE(countIn(shot, *window, above, backdropBlue), above.width() * above.height() * 98 / 100)
        << "the window shows black above its rope";
    EXPECT_GE(countIn(shot, *window, *window, printPaper), 3 * 2000) << "three prints' paper shows";
    const int black =
        countIn(shot, *window, *window, [](QRgb p) { return qMax(qMax(qRed(p), qGreen(p)), qBlue(p)) < 24; });
    EXPECT_LT(black, window->width() * window->height() / 50) << black << " black pixels";

    // A click on the cut-away part reaches the window beneath; one on a print still selects it,
    // and the toolbar that comes shows too.
    const QPoint bare = window->topLeft() + QPoint(window->width() / 2, window->height() - 14);
    backdrop.presses.clear();
    ASSERT_TRUE(click(bare));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !backdrop.presses.isEmpty(); }, 10000));
    EXPECT_TRUE(!backdrop.presses.isEmpty() && near(backdrop.presses.first(), bare));
    backdrop.presses.clear();
    ASSERT_TRUE(click(printPoint(*window, xs[1], kCanvasTop)));
    const std::optional<QRect> expanded = waitForHeight(app.processId(), window->height() + kToolbarRoom);
    ASSERT_TRUE(expanded && expanded->height() == window->height() + kToolbarRoom) << "no toolbar came";
    EXPECT_TRUE(backdrop.presses.isEmpty()) << "the print's click passed through";
    std::optional<std::pair<int, int>> capsule;
    EXPECT_TRUE(QTest::qWaitFor([&] { return (capsule = capsuleEnds(*expanded)).has_value(); }, 10000))
        << "the toolbar does not show";
    QTest::qWait(600);
    const QImage selected = grabScreenArea(*expanded);
    selected.save(shots + "/61-no-compositor-toolbar.png");
    const QRect beside(expanded->left(), expanded->top() + 4, 40, 40);
    EXPECT_GE(countIn(selected, *expanded, beside, backdropBlue), 40 * 40 * 98 / 100)
        << "black beside the toolbar";

    // A compositing manager that comes blends the window whole; once it goes, the cut is back.
    const QString id = widestWindowId(app.processId());
    ASSERT_FALSE(id.isEmpty());
    EXPECT_TRUE(boundingShaped(id));
    QProcess compositor;
    compositor.start("xcompmgr", {});
    ASSERT_TRUE(compositor.waitForStarted());
    EXPECT_TRUE(QTest::qWaitFor([] { return X11WindowStack::compositorRunning(); }, 10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !boundingShaped(id); }, 10000))
        << "still cut under a compositor";
    QTest::qWait(500);
    const QImage blended = grabScreenArea(*expanded);
    blended.save(shots + "/62-compositor-came.png");
    EXPECT_GE(countIn(blended, *expanded, beside, backdropBlue), 40 * 40 * 98 / 100);
    compositor.kill();
    compositor.waitForFinished(5000);
    EXPECT_TRUE(QTest::qWaitFor([] { return !X11WindowStack::compositorRunning(); }, 10000));
    EXPECT_TRUE(QTest::qWaitFor([&] { return boundingShaped(id); }, 10000))
        << "not cut once the compositor went";
    QTest::qWait(500);
    const QImage cutAgain = grabScreenArea(*expanded);
    cutAgain.save(shots + "/63-compositor-went.png");
    EXPECT_GE(countIn(cutAgain, *expanded, beside, backdropBlue), 40 * 40 * 98 / 100);
    EXPECT_GE(countIn(cutAgain, *expanded, *expanded, printPaper), 3 * 2000);

    app.terminate();
    EXPECT_TRUE(app.waitForFinished(5000));
}
