#include "ApplicationRope.h"
#include "PhotoLikeImages.h"
#include "ShapeChangeGrab.h"
#include "WindowTrail.h"
#include "platform/X11WindowStack.h"
#include "rope/ClotheslinePhysics.h"
#include "rope/ClotheslineRopeGeometry.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

using namespace vennimo;
using namespace vennimo::test;

TEST(ApplicationPegX11, APegSlidesItsPrintAlongTheRopeAndPulledOffTakesItDownUntilControlZ) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const QString desktop = makeWatchedFolders();
    ASSERT_TRUE(desktop.startsWith(TestEnvironment::root()));
    const QString shots = applicationShots();

    Backdrop backdrop(Backdrop::Tone::Plain);
    ASSERT_TRUE(backdrop.cover());

    QProcess app;
    ASSERT_TRUE(startApplication(app));
    ASSERT_TRUE(hangDesktopPhotos(desktop, "peg", 2, 70));
    const QMap<QString, double> before = placements();
    QStringList keys = before.keys();
    std::sort(keys.begin(), keys.end(),
              [&](const QString& a, const QString& b) { return before[a] < before[b]; });
    const QString left = keys[0];
    const QString right = keys[1];
    const std::optional<QRect> window = applicationWindow(app.processId());
    ASSERT_TRUE(window);
    const QRect around = window->adjusted(-20, -20, 20, 20);
    const double span = std::max(window->width() - 2 * kSideInset - 2 * kRopeInset - 290.0, 1.0);
    ASSERT_GT(before[right] - before[left], 0.2) << "the two prints hang apart";

    // The left print, lifted by its peg, slides 100 points to the right along the rope.
    const QPoint from = pegPoint(*window, before[left], before.values());
    const double target = before[left] + 100 / span;
    const QPoint to = pegPoint(*window, target, {before[right]});
    pegGesture(from, to, [&] { grabScreenArea(around).save(shots + "/40-peg-slide.png"); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::abs(placements()[left] - before[left]) > 0.01; }, 30000))
        << "the print did not move";
    EXPECT_NEAR(placements()[left], target, 4 / span);
    EXPECT_DOUBLE_EQ(placements()[right], before[right]) << "the other print keeps its place";
    EXPECT_EQ(takenDownCount(), 0);
    QTest::qWait(1200);
    grabScreenArea(around).save(shots + "/41-peg-slid.png");

    // Pulled far below the rope, the right print comes down.
    const QPoint pegRight = pegPoint(*window, before[right], placements().values());
    pegGesture(pegRight, pegRight + QPoint(0, 260),
               [&] { grabScreenArea(around.adjusted(0, 0, 0, 260)).save(shots + "/42-peg-pulled-off.png"); });
    ASSERT_TRUE(QTest::qWaitFor([] { return takenDownCount() == 1; }, 30000))
        << "the print was not taken down";
    QTest::qWait(1200);
    grabScreenArea(around).save(shots + "/43-peg-taken-down.png");

    // Control-Z in the rope window hangs it again at its place.
    ASSERT_TRUE(undoInRopeWindow(app.processId()));
    ASSERT_TRUE(QTest::qWaitFor([] { return takenDownCount() == 0; }, 30000))
        << "Control-Z did not hang it again";
    EXPECT_DOUBLE_EQ(placements()[right], before[right]);
    QTest::qWait(1500);
    grabScreenArea(around).save(shots + "/44-peg-hung-again.png");

    app.terminate();
    EXPECT_TRUE(app.waitForFinished(5000));
}

namespace {

// Near-black pixels of a grab of the whole screen inside `area` (screen coordinates): what a
// window's clear pixels show where nothing composites.
int nearBlack(const QImage& shot, const QRect& screen, const QRect& area) {
    int count = 0;
    const QRect within = area.intersected(screen);
    for (int y = within.top(); y <= within.bottom(); ++y)
        for (int x = within.left(); x <= within.right(); ++x) {
            const QRgb pixel = shot.pixel(x - screen.x(), y - screen.y());
            count += qRed(pixel) < 40 && qGreen(pixel) < 40 && qBlue(pixel) < 40;
        }
    return count;
}

} // namespace

// Without a compositing manager (x11-session leaves it out for this suite's name) the panels that
// carry prints are cut to their pictures, and the rope window keeps the pixels under them.
class ApplicationPegWithoutCompositorX11 : public testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X server";
        ASSERT_FALSE(X11WindowStack::compositorRunning()) << "the session has a compositing manager";
        desktop = makeWatchedFolders();
        ASSERT_TRUE(desktop.startsWith(TestEnvironment::root()));
        shots = applicationShots();
        screen = QGuiApplication::primaryScreen()->geometry();
        ASSERT_TRUE(backdrop.cover());
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_LOGGING_RULES", "com.tavrun.vennimo-gallery.rope-diagnostic.info=true");
        app.setProcessEnvironment(environment);
        ASSERT_TRUE(startApplication(app, true));
        ASSERT_TRUE(hangDesktopPhotos(desktop, "flight", 2, 90));
    }
    void TearDown() override {
        app.terminate();
        app.waitForFinished(5000);
    }
    // What the application wrote so far, once it has been quiet for a moment.
    QString log() {
        do
            m_log += QString::fromUtf8(app.readAllStandardError());
        while (app.waitForReadyRead(100));
        return m_log;
    }
    // Where the X server puts the rope window's top-left corner.
    std::optional<QRect> rope() {
        const std::optional<QRect> frame = applicationWindow(app.processId());
        const QString id = widestWindowId(app.processId());
        if (!frame || id.isEmpty())
            return frame;
        return QRect(clientAreaOf(id).topLeft(), frame->size());
    }

    QString desktop, shots;
    QRect screen;
    Backdrop backdrop{Backdrop::Tone::Plain};
    QProcess app;

private:
    QString m_log;
};

TEST_F(ApplicationPegWithoutCompositorX11, APanelCarryingAPrintShowsNoBlackAroundIt) {
    const std::optional<QRect> window = rope();
    ASSERT_TRUE(window);
    const QMap<QString, double> before = placements();
    const QString left = before.keys().value(before.values().indexOf(std::ranges::min(before.values())));
    const QPoint peg = pegPoint(*window, before[left], before.values());
    // Pulled below the rope and held there: the print travels in its panel, whose padding and
    // soft shadow around the paper are clear. A panel left translucent shows them black.
    const QPoint held = peg + QPoint(0, 170);
    int black = -1;
    pegGesture(
        peg, held,
        [&] {
            QTest::qWait(400);
            const QImage shot = grabScreenArea(screen);
            shot.save(shots + "/90-no-compositor-panel-held.png");
            // The panel's top strip, above the peg's clip and the paper: the print's frame grown by
            // the panel's padding, moved with the pointer.
            const QPoint ropePoint = held - QPoint(0, 8);
            const QRect panel(ropePoint - QPoint(145 + 16, 20 + 16), QSize(322, 324));
            black = nearBlack(shot, screen, QRect(panel.left() + 4, panel.top() + 3, panel.width() - 8, 14));
            black +=
                nearBlack(shot, screen, QRect(panel.left() + 2, panel.top() + 3, 10, panel.height() - 6));
            black +=
                nearBlack(shot, screen, QRect(panel.right() - 11, panel.top() + 3, 10, panel.height() - 6));
        },
        [] {
            xdotool({"key", "Escape"}, 300);
            xdotool({"mouseup", "1"}, 200);
        });
    EXPECT_TRUE(log().contains("OpaqueSwapIn count=1")) << "no panel carried the print";
    EXPECT_GE(black, 0);
    EXPECT_LT(black, 60) << "the panel shows black around its print";
    QTest::qWait(1500);
    grabScreenArea(window->adjusted(-20, -20, 20, 200)).save(shots + "/91-no-compositor-panel-back.png");
    EXPECT_EQ(placements(), before) << "Escape moves nothing";
}

TEST_F(ApplicationPegWithoutCompositorX11, APressOnAFlyingPanelWhereTheRopeDrawsNothingTakesItOver) {
    // The print slides along the rope and, while its panel still flies to its new place, is pressed
    // again on its peg's clip below the strand: the rope hides the print until the panel has landed
    // and draws nothing there of its own, so only the pixels it keeps under the panel take the
    // press from the window below. A busy machine that ends the flight before the press gets the
    // gesture again.
    double x = 0, span = 1;
    QString key;
    bool caught = false;
    for (int attempt = 1; attempt <= 3 && !caught; ++attempt) {
        const std::optional<QRect> window = rope();
        ASSERT_TRUE(window);
        const QMap<QString, double> now = placements();
        const QString left = now.keys().value(now.values().indexOf(std::ranges::min(now.values())));
        const QString right = now.keys().value(now.values().indexOf(std::ranges::max(now.values())));
        span = std::max(window->width() - 2 * kSideInset - 2 * kRopeInset - 290.0, 1.0);
        key = left;
        x = now[left];
        const QPoint from = pegPoint(*window, x, now.values());
        const QPoint through = pegPoint(*window, x + 60 / span, {now[right]});
        const QPoint to = pegPoint(*window, x + 120 / span, {now[right]});
        backdrop.presses.clear();
        const qsizetype loggedBefore = log().size();
        const QStringList gesture = letGoAndTakeAgain(from, through, to, "0.05", through + QPoint(0, 14));
        if (QProcess::execute("chrt", {"-f", "50", "true"}) == 0)
            QProcess::execute("chrt", QStringList{"-f", "50", "xdotool"} + gesture);
        else
            xdotool(gesture, 0);
        QTest::qWait(100);
        caught = QTest::qWaitFor(
            [&] {
                const QString soFar = log();
                const qsizetype interrupt = soFar.indexOf("OpaqueInterrupt", loggedBefore);
                return interrupt >= 0 && soFar.indexOf("LocalPegBegin", interrupt) >= 0;
            },
            5000);
        grabScreenArea(window->adjusted(-20, -20, 20, 20))
            .save(shots + QString("/92-no-compositor-flying-panel-pressed-%1.png").arg(attempt));
        if (!caught) {
            EXPECT_TRUE(backdrop.presses.isEmpty())
                << "the press on the panel went to the window below, at " << backdrop.presses.first().x()
                << "," << backdrop.presses.first().y();
        }
        xdotool({"mouseup", "1"}, 600);
        if (!caught)
            (void)QTest::qWaitFor([] { return false; }, 2500);
    }
    ASSERT_TRUE(caught) << "the press did not take the flying panel over\n"
                        << log().right(3000).toStdString();
    EXPECT_TRUE(backdrop.presses.isEmpty()) << "the press went to the window below";
    EXPECT_TRUE(log().contains("OpaqueBegin count=1 reused=1 ")) << "the new drag took its panel over";
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return std::abs(placements()[key] - (x + 120 / span)) < 6 / span; }, 30000))
        << "the drag that took the panel over did not land: " << placements()[key] << " for "
        << x + 120 / span;
    const std::optional<QRect> window = rope();
    ASSERT_TRUE(window);
    QTest::qWait(1500);
    grabScreenArea(window->adjusted(-20, -20, 20, 20)).save(shots + "/93-no-compositor-taken-over.png");
}

namespace {

// Solid black patches of a grab: 4 x 4 pixels all close to black, which neither the backdrop, the
// rope's strand and its antialiased edges nor the prints show. The bounds of them all, in `area`.
int blackPatches(const QImage& grab, QRect& bounds) {
    int patches = 0;
    for (int y = 0; y + 4 <= grab.height(); y += 4)
        for (int x = 0; x + 4 <= grab.width(); x += 4) {
            bool black = true;
            for (int dy = 0; dy < 4 && black; ++dy)
                for (int dx = 0; dx < 4 && black; ++dx) {
                    const QRgb p = grab.pixel(x + dx, y + dy);
                    black = qRed(p) < 16 && qGreen(p) < 16 && qBlue(p) < 16;
                }
            if (black) {
                ++patches;
                bounds |= QRect(x, y, 4, 4);
            }
        }
    return patches;
}

} // namespace

// A print carried by its peg below the rope window and let go there (it comes down) or cancelled
// (it flies back): the rope keeps its clear pixels under the panel while the panel covers them,
// and none of them shows black where the panel has just been, in any frame: on its way, nor where
// it hands the print back to the rope, whose cut then grows to take the print in again.
TEST_F(ApplicationPegWithoutCompositorX11, APanelLetGoOrCancelledBelowTheRopeLeavesNoBlackWhereItWas) {
    const std::optional<QRect> window = rope();
    ASSERT_TRUE(window);
    // Where the rope's cut grows to take a print back, black shows until the rope draws there
    // again, a moment later: the screen is looked at right as the cut changes, with the
    // application held meanwhile, and about every 20 ms in between.
    ShapeChangeGrab cutChanges(widestWindowId(app.processId()).toUInt(), app.processId());
    ASSERT_TRUE(cutChanges.connected());
    constexpr int kEndings = 8;
    int worst = 0;
    int atCuts = 0;
    for (int ending = 0; ending < kEndings; ++ending) {
        const bool letGo = ending % 2 == 1;
        SCOPED_TRACE(std::string(letGo ? "let go, " : "Escape, ") + std::to_string(ending));
        const QMap<QString, double> now = placements();
        ASSERT_FALSE(now.isEmpty());
        const QString left = now.keys().value(now.values().indexOf(std::ranges::min(now.values())));
        const QPoint peg = pegPoint(*window, now[left], now.values());
        // Just below the rope window: the peg and the paper's top lie over its bottom.
        const QPoint held(peg.x(), window->bottom() + 30);
        const QRect area = QRect(QPoint(peg.x() - 220, window->top()), QPoint(peg.x() + 220, held.y() + 320))
                               .intersected(screen);
        QList<QImage> frames;
        QStringList notes;
        WindowTrail trail(app.processId());
        EXPECT_TRUE(trail.connected());
        pegGesture(peg, held, {}, [&] {
            QTest::qWait(400);
            QProcess end;
            end.start("xdotool", letGo ? QStringList{"mouseup", "1"} : QStringList{"key", "Escape"});
            QElapsedTimer since;
            since.start();
            while (since.elapsed() < 600) {
                // The backdrop draws what a panel or the rope's cut leaves of it at once.
                backdrop.repaint();
                const std::optional<QImage> atCut = cutChanges.next(area, 15);
                atCuts += atCut ? 1 : 0;
                frames.append(atCut ? *atCut : grabScreenArea(area));
                // Which of the application's windows showed where, for the message.
                trail.poll();
                QString note = QString("%1 ms after the end%2:")
                                   .arg(since.elapsed())
                                   .arg(atCut ? ", the cut changed" : "");
                for (const WindowTrail::Window& w : trail.windows())
                    if (!w.gone)
                        note += QString(" %1x%2 at %3,%4")
                                    .arg(w.places.last().width())
                                    .arg(w.places.last().height())
                                    .arg(w.places.last().x())
                                    .arg(w.places.last().y());
                notes.append(note);
                QCoreApplication::processEvents();
            }
            EXPECT_TRUE(end.state() == QProcess::NotRunning || end.waitForFinished(10000));
            xdotool({"mouseup", "1"}, 300);
        });
        for (int i = 0; i < frames.size(); ++i) {
            QRect bounds;
            const int patches = blackPatches(frames[i], bounds);
            if (patches > worst) {
                worst = patches;
                frames[i].save(shots + "/94-no-compositor-panel-leaves-black.png");
            }
            EXPECT_LT(patches, 4) << "black where the panel was, frame " << i << " of " << frames.size()
                                  << ": " << bounds.width() << "x" << bounds.height() << " at "
                                  << bounds.x() + area.x() << "," << bounds.y() + area.y() << ", "
                                  << notes[i].toStdString();
        }
        if (ending == 0)
            frames.last().save(shots + "/95-no-compositor-panel-back.png");
        QTest::qWait(1200);
        // Let go there, it came down: Control-Z hangs it again for the next ending.
        if (letGo && QTest::qWaitFor([] { return takenDownCount() == 1; }, 3000)) {
            ASSERT_TRUE(undoInRopeWindow(app.processId()));
            ASSERT_TRUE(QTest::qWaitFor([] { return takenDownCount() == 0; }, 30000)) << "Control-Z";
            QTest::qWait(1500);
        }
    }
    std::printf("[ figure ] %d endings of a panel's flight: %d frames looked at as the rope's cut changed\n",
                kEndings, atCuts);
}
