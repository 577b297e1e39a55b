#include "WindowCut.h"
#include "canvas_x11/ApplicationRope.h"
#include "canvas_x11/ApplicationSession.h"
#include "platform/X11WindowStack.h"
#include "rope/ClotheslineRopeGeometry.h"
#include "support/ScreenGrab.h"
#include "support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QPalette>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>

using namespace vennimo;
using namespace vennimo::test;

namespace {

int countBlue(const QImage& shot) {
    int count = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            count += backdropBlue(shot.pixel(x, y)) ? 1 : 0;
    return count;
}

bool moveTo(const QPoint& p, int settleMs = 200) {
    return xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())}, settleMs);
}

bool click(const QPoint& p, const QString& button = QStringLiteral("1")) {
    return moveTo(p) && xdotool({"click", button}, 400);
}

// Waits until a window of the process shows that was not there before: a menu.
bool waitForNewWindow(qint64 pid, const QStringList& before) {
    const bool shown = QTest::qWaitFor(
        [&] {
            for (const QString& id : visibleWindowIds(pid))
                if (!before.contains(id))
                    return true;
            return false;
        },
        30000);
    QTest::qWait(300);
    return shown;
}

// The application's window while it is the titled grid, once it holds still on the screen.
std::optional<QRect> waitForGrid(qint64 pid) {
    std::optional<QRect> grid;
    if (!QTest::qWaitFor(
            [&] {
                grid = applicationWindow(pid);
                return grid && grid->height() >= 520 && grid->width() >= 900;
            },
            30000))
        return std::nullopt;
    std::optional<QRect> last;
    (void)QTest::qWaitFor(
        [&] {
            QTest::qWait(250);
            grid = applicationWindow(pid);
            const bool still = grid && grid == last;
            last = grid;
            return still;
        },
        30000);
    return grid;
}

// Whether the desktop shows below the prints of the rope window `rope`, where the window is cut
// away; a loaded machine draws in steps, so the picture is waited for. `blue` gets how many of
// the strip's pixels show it.
bool desktopShowsBelowPrints(const QRect& rope, int& blue) {
    const QRect below(rope.left(), rope.bottom() - 24, rope.width(), 20);
    return QTest::qWaitFor(
        [&] {
            blue = countBlue(grabScreenArea(below));
            return blue >= below.width() * below.height() * 98 / 100;
        },
        20000);
}

// Context switches of a process's main thread so far: each wake-up from a sleep is one.
std::optional<qint64> mainThreadSwitches(qint64 pid) {
    QFile file(QStringLiteral("/proc/%1/task/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    qint64 total = 0;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith("voluntary_ctxt_switches:") || line.startsWith("nonvoluntary_ctxt_switches:"))
            total += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
    return total;
}

// How often the main thread wakes over `seconds` while nothing happens.
std::optional<qint64> wakeupsOver(qint64 pid, int seconds) {
    const std::optional<qint64> before = mainThreadSwitches(pid);
    QTest::qWait(seconds * 1000);
    const std::optional<qint64> after = mainThreadSwitches(pid);
    if (!before || !after)
        return std::nullopt;
    return *after - *before;
}

} // namespace

// Without a compositing manager the rope window is cut to what the rope draws. The grid is the same
// window in another style: whichever way the user takes to it, it must show whole, and the way
// back must cut the rope again.
TEST(RopeScreenWithoutCompositorX11, EveryWayToTheGridShowsItWholeAndTheWayBackCutsTheRopeAgain) {
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
    const auto stop = stopAtEnd(app);
    const qint64 pid = app.processId();
    ASSERT_TRUE(hangDesktopPhotos(desktop, "whole", 2, 64));
    const QList<double> xs = placementXs();
    ASSERT_EQ(xs.size(), 2);

    const std::function<bool()> byRopeMenu = [&] {
        // A right click on the bare rope, as far from both prints as it gets.
        const std::optional<QRect> rope = applicationWindow(pid);
        if (!rope)
            return false;
        const double span = restingRope(*rope).usableSpan();
        double bare = 0;
        double clearance = -1;
        for (double x = 10; x < span - 10; x += 5) {
            const double nearest = std::min(std::abs(x - xs[0]), std::abs(x - xs[1]));
            if (nearest > clearance) {
                clearance = nearest;
                bare = x;
            }
        }
        const QPoint onRope = pegPoint(*rope, bare, xs) - QPoint(0, 8);
        const QStringList before = visibleWindowIds(pid);
        return click(onRope, "3") && waitForNewWindow(pid, before) && xdotool({"key", "Down", "Return"}, 300);
    };
    const std::function<bool()> byToolbar = [&] {
        std::optional<QRect> rope = applicationWindow(pid);
        if (!rope)
            return false;
        if (rope->height() == kCollapsedHeight) {
            if (!click(printPoint(*rope, xs[1])))
                return false;
            (void)QTest::qWaitFor(
                [&] {
                    rope = applicationWindow(pid);
                    return rope && rope->height() == kCollapsedHeight + kToolbarRoom;
                },
                30000);
        }
        std::optional<std::pair<int, int>> ends;
        if (!rope || !QTest::qWaitFor([&] { return (ends = capsuleEnds(*rope)).has_value(); }, 30000))
            return false;
        QTest::qWait(500);
        return click(QPoint(ends->second - 15 - 30 - 6 - 26, rope->top() + 8 + 22));
    };
    // The tray menu holds the toggle and then "普通窗口" while nothing can be undone.
    const std::function<bool()> byTray = [&] {
        return showTrayMenu(pid) && xdotool({"key", "Down", "Down", "Return"}, 300);
    };
    const struct {
        const char* name;
        const std::function<bool()>& way;
    } ways[] = {{"rope-menu", byRopeMenu}, {"toolbar", byToolbar}, {"tray", byTray}};

    int shot = 70;
    for (const auto& each : ways) {
        SCOPED_TRACE(each.name);
        ASSERT_TRUE(each.way()) << "could not ask for the grid";
        const std::optional<QRect> grid = waitForGrid(pid);
        ASSERT_TRUE(grid) << "the titled grid window";
        const QString id = widestWindowId(pid);
        // The window's client area is the grid's: the backdrop behind it does not show (the
        // thumbnails' skies may hold a few pixels of its blue). A loaded machine draws the grid in
        // steps, so its picture is waited for.
        const QRect client = clientAreaOf(id).intersected(QGuiApplication::primaryScreen()->geometry());
        const int bound = client.width() * client.height() / 1000;
        int blue = 0;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                blue = countBlue(grabScreenArea(client));
                return blue <= bound;
            },
            20000))
            << blue << " of " << client.width() * client.height() << " pixels show the desktop behind";
        grabScreenArea(client.adjusted(-20, -40, 20, 20))
            .save(
                QStringLiteral("%1/%2-grid-by-%3.png").arg(shots).arg(shot++).arg(QLatin1String(each.name)));
        EXPECT_FALSE(boundingShaped(id)) << "the grid keeps a cut";

        // The grid's rope button, left of its settings button at the header's right end, 37 points
        // above the header's divider, which lies 25 points above the first card's white field.
        int cardTop = -1;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                const QImage column = grabScreenArea(QRect(grid->left() + 124, grid->top() - 15, 1, 260));
                const QRgb background =
                    grabScreenArea(QRect(grid->left() + 6, grid->top(), 1, 1)).pixel(0, 0);
                for (int y = 0; y < column.height() && cardTop < 0; ++y)
                    if (qGray(column.pixel(0, y)) - qGray(background) > 8)
                        cardTop = grid->top() - 15 + y;
                return cardTop >= 0;
            },
            30000));
        ASSERT_GE(cardTop, 0) << "the grid's first card";
        ASSERT_TRUE(click(QPoint(grid->right() - 24 - 30 - 6 - 15, cardTop - 3 - 24 - 1 - 37)));
        std::optional<QRect> rope;
        ASSERT_TRUE(QTest::qWaitFor(
            [&] {
                rope = applicationWindow(pid);
                return rope && rope->height() < 520;
            },
            30000))
            << "back on the rope";
        // Cut again: below the prints the desktop shows, and the prints' paper shows.
        int blueBelow = 0;
        EXPECT_TRUE(desktopShowsBelowPrints(*rope, blueBelow))
            << "the rope window shows black below its prints: " << blueBelow << " blue pixels";
        EXPECT_TRUE(boundingShaped(widestWindowId(pid))) << "the rope is not cut";
        grabScreenArea(rope->adjusted(-20, -20, 20, 20))
            .save(QStringLiteral("%1/%2-rope-after-%3.png")
                      .arg(shots)
                      .arg(shot++)
                      .arg(QLatin1String(each.name)));
    }

    app.terminate();
    EXPECT_TRUE(app.waitForFinished(5000));
}

// The rope needs no poll to learn of a compositing manager: the X server tells when one takes or
// leaves its selection. An idle rope sleeps, and one that comes or goes still switches the window
// between blended whole and cut.
TEST(RopeScreenWithoutCompositorX11, AnIdleRopeSleepsYetFollowsACompositingManagerThatComesAndGoes) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    ASSERT_FALSE(X11WindowStack::compositorRunning()) << "the session has a compositing manager";
    const QString desktop = makeWatchedFolders();
    const QString shots = applicationShots();
    Backdrop backdrop(Backdrop::Tone::Plain);
    ASSERT_TRUE(backdrop.cover());
    QProcess app;
    ASSERT_TRUE(startApplication(app));
    const auto stop = stopAtEnd(app);
    const qint64 pid = app.processId();
    ASSERT_TRUE(hangDesktopPhotos(desktop, "idle", 2, 66));
    const std::optional<QRect> rope = applicationWindow(pid);
    ASSERT_TRUE(rope);
    const QString id = widestWindowId(pid);
    ASSERT_TRUE(QTest::qWaitFor([&] { return boundingShaped(id); }, 30000)) << "the rope is not cut";

    // Nothing moves and the pointer rests away from the rope, then over its clear strip below the
    // prints: a poll of the X server would wake the application every few seconds. Each count
    // allows one wake-up a second.
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_TRUE(moveTo(QPoint(screen.left() + 20, screen.bottom() - 20), 3000));
    const std::optional<qint64> away = wakeupsOver(pid, 10);
    ASSERT_TRUE(away);
    EXPECT_LE(*away, 10) << "the idle rope woke " << *away << " times in 10 s, the pointer away";
    ASSERT_TRUE(moveTo(rope->topLeft() + QPoint(40, rope->height() - 20), 3000));
    const std::optional<qint64> over = wakeupsOver(pid, 10);
    ASSERT_TRUE(over);
    EXPECT_LE(*over, 10) << "the idle rope woke " << *over << " times in 10 s, the pointer over its strip";

    // A compositing manager that comes blends the window whole; once it goes, the cut is back.
    QProcess compositor;
    compositor.start("xcompmgr", {});
    ASSERT_TRUE(compositor.waitForStarted());
    ASSERT_TRUE(QTest::qWaitFor([] { return X11WindowStack::compositorRunning(); }, 30000));
    QElapsedTimer switching;
    switching.start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !boundingShaped(id); }, 30000))
        << "still cut under a compositor";
    std::printf("[ figure ] the rope was see-through %lld ms after the compositing manager came\n",
                static_cast<long long>(switching.elapsed()));
    QTest::qWait(500);
    grabScreenArea(rope->adjusted(-20, -20, 20, 20)).save(shots + "/80-idle-rope-compositor-came.png");
    compositor.terminate();
    ASSERT_TRUE(compositor.waitForFinished(10000));
    ASSERT_TRUE(QTest::qWaitFor([] { return !X11WindowStack::compositorRunning(); }, 30000));
    switching.restart();
    EXPECT_TRUE(QTest::qWaitFor([&] { return boundingShaped(id); }, 30000))
        << "not cut once the compositor went";
    std::printf("[ figure ] the rope was cut %lld ms after the compositing manager went\n",
                static_cast<long long>(switching.elapsed()));
    int blueBelow = 0;
    EXPECT_TRUE(desktopShowsBelowPrints(*rope, blueBelow))
        << "the rope window shows black below its prints: " << blueBelow << " blue pixels";
    grabScreenArea(rope->adjusted(-20, -20, 20, 20)).save(shots + "/81-idle-rope-compositor-went.png");

    app.terminate();
    EXPECT_TRUE(app.waitForFinished(5000));
}

// A compositing manager repaints for every reshape of a window, at once; when the window manager
// reshapes the rope's frame and then drops it because the rope went, that repaint asks about a
// frame that is gone, and the manager reports the X error. The rope goes without such reshapes.
// Each round's quit may or may not race the manager, so the test quits several times.
TEST(RopeScreenWithoutCompositorX11, ACompositingManagerSeesNoRequestOnAGoneWindowWhenTheRopeQuits) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    ASSERT_FALSE(X11WindowStack::compositorRunning()) << "the session has a compositing manager";
    const QString desktop = makeWatchedFolders();
    QProcess compositor;
    compositor.setProcessChannelMode(QProcess::MergedChannels);
    compositor.start("xcompmgr", {});
    ASSERT_TRUE(compositor.waitForStarted());
    ASSERT_TRUE(QTest::qWaitFor([] { return X11WindowStack::compositorRunning(); }, 30000));

    // A window of the test's own whose new colour the compositing manager shows only once it has
    // taken in every event before the repaint: those of the application's start among them. It
    // stays mapped, so that its own comings and goings give the manager nothing to trip over.
    QWidget marker(nullptr, Qt::ToolTip | Qt::FramelessWindowHint);
    marker.setAttribute(Qt::WA_ShowWithoutActivating);
    marker.setAutoFillBackground(true);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    marker.setGeometry(screen.right() - 16, screen.top(), 16, 16);
    marker.show();
    int paints = 0;
    const auto caughtUp = [&] {
        const QColor colour = ++paints % 2 ? QColor(255, 0, 255) : QColor(0, 255, 255);
        QPalette palette = marker.palette();
        palette.setColor(QPalette::Window, colour);
        marker.setPalette(palette);
        marker.repaint();
        return QTest::qWaitFor([&] { return grabScreenArea(marker.geometry()).pixelColor(8, 8) == colour; },
                               int(30000 * loadScale()));
    };

    // What the manager met as it started, before any rope, is not the rope's: on a loaded machine
    // a window of the session's own start may go while the new manager still walks the windows.
    ASSERT_TRUE(caughtUp()) << "the compositing manager did not start";
    const QByteArray atStart = compositor.readAll();
    if (!atStart.isEmpty())
        std::printf("[ note ] the compositing manager as it started: %s\n", atStart.trimmed().constData());

    QByteArray applicationErrors;
    // Each line the manager reports, with the round and the moment it was read by, so that a
    // failure tells a start the manager met late from a quit.
    QStringList reported;
    const auto readReports = [&](int round, const char* moment) {
        for (const QByteArray& line : compositor.readAll().split('\n'))
            if (line.contains("error"))
                reported << QString("round %1, %2: %3").arg(round).arg(moment).arg(QString::fromUtf8(line));
    };
    for (int round = 0; round < 6; ++round) {
        SCOPED_TRACE(round);
        QProcess app;
        ASSERT_TRUE(startApplication(app, true));
        const auto stop = stopAtEnd(app);
        if (round == 0)
            ASSERT_TRUE(hangDesktopPhotos(desktop, "quit", 2, 68));
        else
            ASSERT_TRUE(
                QTest::qWaitFor([&] { return applicationWindow(app.processId()).has_value(); }, 30000));
        QTest::qWait(1500);
        // A compositing manager far behind on a loaded machine would look at the windows of this
        // start only once they are gone, whatever the rope does at its quit: it is let catch up.
        // A manager merely starved of the processor looks idle by its processor time, so what
        // counts is that it has shown a window mapped after them.
        EXPECT_TRUE(caughtUp()) << "the compositing manager did not catch up with the start";
        readReports(round, "by the quit");
        app.terminate();
        ASSERT_TRUE(app.waitForFinished(30000));
        applicationErrors += app.readAllStandardError();
        QTest::qWait(1000);
        readReports(round, "after the quit");
    }
    compositor.terminate();
    ASSERT_TRUE(compositor.waitForFinished(10000));
    readReports(5, "at the manager's end");
    EXPECT_TRUE(reported.isEmpty()) << reported.join('\n').toStdString();
    QStringList own;
    for (const QByteArray& line : applicationErrors.split('\n'))
        if (line.contains("XCB error") || line.contains("X Error"))
            own << QString::fromUtf8(line);
    EXPECT_TRUE(own.isEmpty()) << own.join('\n').toStdString();
}

// A copy in another program changes the owner of the clipboard's selections, of which the X server
// tells the application as it tells of the compositing manager's: the rope stays cut.
TEST(RopeScreenWithoutCompositorX11, ACopyInAnotherProgramLeavesTheRopeCut) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    ASSERT_FALSE(X11WindowStack::compositorRunning()) << "the session has a compositing manager";
    const QString desktop = makeWatchedFolders();
    QProcess app;
    ASSERT_TRUE(startApplication(app));
    const auto stop = stopAtEnd(app);
    const qint64 pid = app.processId();
    ASSERT_TRUE(hangDesktopPhotos(desktop, "copy", 2, 67));
    const QString id = widestWindowId(pid);
    ASSERT_TRUE(QTest::qWaitFor([&] { return boundingShaped(id); }, 30000)) << "the rope is not cut";

    for (const char* selection : {"clipboard", "primary"}) {
        SCOPED_TRACE(selection);
        // In the foreground, holding its selection until it is ended.
        QProcess copier;
        copier.start("xclip", {"-quiet", "-selection", selection});
        ASSERT_TRUE(copier.waitForStarted());
        copier.write("copied elsewhere");
        copier.closeWriteChannel();
        QProcess paste;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                paste.start("xclip", {"-o", "-selection", selection});
                return paste.waitForFinished(5000) && paste.readAllStandardOutput() == "copied elsewhere";
            },
            30000))
            << "the copy did not take the selection";
        EXPECT_FALSE(QTest::qWaitFor([&] { return !boundingShaped(id); }, 3000))
            << "the copy counted as a compositing manager: the rope is no longer cut";
        copier.kill();
        copier.waitForFinished(5000);
    }
}
