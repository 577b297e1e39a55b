#include "ApplicationRope.h"
#include "PhotoLikeImages.h"
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

#include <algorithm>

using namespace vennimo;
using namespace vennimo::test;

namespace {

// The rope's y on the screen at a screen x: its tan stands out most against the bluish backdrop.
int ropeYAt(const QRect& window, int x) {
    const QImage column = grabScreenArea(QRect(x, window.top(), 1, 140));
    int best = -1;
    int warmest = 0;
    for (int y = kCanvasTop + 8; y < column.height(); ++y) {
        const QRgb pixel = column.pixel(0, y);
        const int warmth = qRed(pixel) - qBlue(pixel);
        if (warmth > warmest) {
            warmest = warmth;
            best = y;
        }
    }
    return best < 0 ? -1 : window.top() + best;
}

bool press(const QPoint& point, const QString& button = "1") {
    return xdotool({"mousemove", QString::number(point.x()), QString::number(point.y())}, 200) &&
           xdotool({"click", button}, 400);
}

// Presses at `from`, moves to `to` in steps and releases there.
bool dragBetween(const QPoint& from, const QPoint& to) {
    if (!xdotool({"mousemove", QString::number(from.x()), QString::number(from.y())}, 200) ||
        !xdotool({"mousedown", "1"}, 150))
        return false;
    constexpr int kSteps = 8;
    for (int i = 1; i <= kSteps; ++i) {
        const QPoint p = from + (to - from) * i / kSteps;
        if (!xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())}, 50))
            return false;
    }
    return xdotool({"mouseup", "1"}, 600);
}

} // namespace

TEST(ApplicationPressX11, PrintsSelectTheMenuTakesDownAndTheRopeMovesAndResizes) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const QString desktop = makeWatchedFolders();
    ASSERT_TRUE(desktop.startsWith(TestEnvironment::root()));
    const QString shots = applicationShots();

    Backdrop backdrop;
    ASSERT_TRUE(backdrop.cover());

    QProcess app;
    ASSERT_TRUE(startApplication(app));
    ASSERT_TRUE(hangDesktopPhotos(desktop, "print", 3, 20));
    const QList<double> xs = placementXs();
    std::optional<QRect> window = applicationWindow(app.processId());
    ASSERT_TRUE(window);

    // A click on a print selects it: its ring shows.
    const QRect middleFrame(printPoint(*window, xs[1]) - QPoint(145, int(kPegToPaper) + 20), QSize(290, 292));
    const QImage unselected = grabScreenArea(middleFrame);
    ASSERT_TRUE(press(printPoint(*window, xs[1])));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return changedShare(unselected, grabScreenArea(middleFrame)) > 0.002; }, 30000))
        << "the selection ring shows";
    grabScreenArea(window->adjusted(-20, -20, 20, 20)).save(shots + "/20-selected.png");

    // A right click on a print opens its menu; the fourth item takes it down. The selection made
    // room above the rope, so the window is read again.
    window = applicationWindow(app.processId());
    ASSERT_TRUE(window);
    ASSERT_TRUE(press(printPoint(*window, xs[0]), "3"));
    QList<QRect> open;
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return (open = applicationWindows(app.processId())).size() == 2; }, 30000));
    ASSERT_EQ(open.size(), 2) << "the rope window and its menu";
    const QRect menu = open[0].width() < open[1].width() ? open[0] : open[1];
    EXPECT_GT(menu.height(), 6 * 18) << "six items";
    grabScreenArea(window->united(menu).adjusted(-20, -20, 20, 20)).save(shots + "/21-photo-menu.png");
    ASSERT_TRUE(xdotool({"key", "Down", "Down", "Down", "Down", "Return"}, 800));
    (void)QTest::qWaitFor([&] { return applicationWindows(app.processId()).size() == 1; }, 30000);
    EXPECT_EQ(applicationWindows(app.processId()).size(), 1) << "the menu closed";
    EXPECT_TRUE(QTest::qWaitFor([] { return takenDownCount() == 1; }, 30000)) << "one print was taken down";
    QTest::qWait(800);
    grabScreenArea(window->adjusted(-20, -20, 20, 20)).save(shots + "/22-taken-down.png");

    // A click where the rope window is transparent reaches the window beneath.
    const QPoint transparent = window->topLeft() + QPoint(window->width() / 2, window->height() - 14);
    backdrop.presses.clear();
    ASSERT_TRUE(press(transparent));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !backdrop.presses.isEmpty(); }, 30000));
    EXPECT_TRUE(!backdrop.presses.isEmpty() && near(backdrop.presses.first(), transparent));

    // A press on the bare rope where the first print hung carries the window along.
    window = applicationWindow(app.processId());
    ASSERT_TRUE(window);
    const ClotheslineRopeGeometry rope = restingRope(*window);
    const int ropeX = window->left() + kSideInset + int(rope.pointAlong(0.12).x());
    const int ropeY = ropeYAt(*window, ropeX);
    ASSERT_GT(ropeY, 0) << "the rope shows at x " << ropeX;
    const QPoint travel(90, 50);
    ASSERT_TRUE(dragBetween({ropeX, ropeY}, QPoint(ropeX, ropeY) + travel));
    // The window follows once the machine gets to it.
    std::optional<QRect> moved;
    (void)QTest::qWaitFor(
        [&] {
            moved = applicationWindow(app.processId());
            return moved && near(moved->topLeft(), window->topLeft() + travel);
        },
        30000);
    ASSERT_TRUE(moved);
    EXPECT_TRUE(near(moved->topLeft(), window->topLeft() + travel))
        << moved->x() << "," << moved->y() << " from " << window->x() << "," << window->y();
    EXPECT_EQ(moved->size(), window->size());
    grabScreenArea(moved->adjusted(-20, -20, 20, 20)).save(shots + "/23-moved.png");

    // Dragging the right knot widens the rope, and the width is remembered.
    const QPoint knot = onScreen(*moved, restingRope(*moved).knotRects()[1].center());
    ASSERT_TRUE(dragBetween(knot, knot + QPoint(120, 4)));
    std::optional<QRect> resized;
    (void)QTest::qWaitFor(
        [&] {
            resized = applicationWindow(app.processId());
            return resized && resized->width() == moved->width() + 120;
        },
        30000);
    ASSERT_TRUE(resized);
    EXPECT_EQ(resized->width(), moved->width() + 120);
    EXPECT_EQ(resized->left(), moved->left()) << "the left end stays";
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return savedRopePosition().value("width").toDouble() == resized->width(); }, 30000));
    grabScreenArea(resized->adjusted(-20, -20, 20, 20)).save(shots + "/24-resized.png");
    EXPECT_EQ(savedRopePosition().value("width").toDouble(), resized->width());

    app.terminate();
    ASSERT_TRUE(app.waitForFinished(5000));
    QProcess again;
    startApplication(again);
    ASSERT_TRUE(again.waitForStarted());
    std::optional<QRect> restarted;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            restarted = applicationWindow(again.processId());
            return restarted && restarted->width() == resized->width();
        },
        30000));
    // The rope hangs where it did; the window is shorter without the toolbar of a selection.
    EXPECT_TRUE(restarted && near(restarted->topLeft() + QPoint(0, canvasTop(*restarted)),
                                  resized->topLeft() + QPoint(0, canvasTop(*resized))));
    QTest::qWait(1500);
    if (restarted)
        grabScreenArea(restarted->adjusted(-20, -20, 20, 20)).save(shots + "/25-restarted.png");
    again.terminate();
    EXPECT_TRUE(again.waitForFinished(5000));
}
