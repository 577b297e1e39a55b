#include "ApplicationHold.h"
#include "ApplicationRope.h"
#include "DropWindow.h"
#include "WindowTrail.h"
#include "platform/X11WindowStack.h"
#include "support/ScreenGrab.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QTextStream>
#include <gtest/gtest.h>

#include <cstdio>

#include <algorithm>
#include <cmath>
#include <functional>

using namespace vennimo;
using namespace vennimo::test;

namespace {

// Where a place lies along the way from `from` to `to`: 0 at the start, 1 at the end; and how far
// it is off that line.
std::pair<double, double> along(QPoint place, QPoint from, QPoint to) {
    const QPointF way = to - from;
    const QPointF off = place - from;
    const double length = std::hypot(way.x(), way.y());
    if (length < 1)
        return {0, std::hypot(off.x(), off.y())};
    return {(off.x() * way.x() + off.y() * way.y()) / (length * length),
            std::abs(off.x() * way.y() - off.y() * way.x()) / length};
}

// The share of a picture's pixels that are opaque.
double opaqueShare(const QImage& picture) {
    qint64 opaque = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            opaque += qAlpha(picture.pixel(x, y)) >= 250;
    return picture.isNull() ? 0 : double(opaque) / (double(picture.width()) * picture.height());
}

const QStringList kLetGo{"mouseup", "1"};
const QStringList kEscape{"key", "Escape"};

} // namespace

// The application with two prints over the test's backdrop, which leaves a band of the bare desktop
// at the bottom of the screen, and a window of another program that takes what is dropped on it.
class ApplicationCopyReturnX11 : public testing::Test {
protected:
    static constexpr int kBackdropHeight = 760;

    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X server";
        desktop = makeWatchedFolders();
        ASSERT_TRUE(desktop.startsWith(TestEnvironment::root()));
        shots = applicationShots();
        screen = QGuiApplication::primaryScreen()->geometry();
        ASSERT_TRUE(backdrop.cover());
        backdrop.setGeometry(screen.x(), screen.y(), screen.width(), kBackdropHeight);
        if (reduceMotion()) {
            // The desktop's "no animations", read through gsettings, or from KDE's file where there
            // is no gsettings.
            const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
            QDir().mkpath(config + "/glib-2.0/settings");
            writeText(config + "/glib-2.0/settings/keyfile",
                      "[org/gnome/desktop/interface]\nenable-animations=false\n");
            writeText(config + "/kdeglobals", "[KDE]\nAnimationDurationFactor=0\n");
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("GSETTINGS_BACKEND", "keyfile");
            app.setProcessEnvironment(environment);
        }
        // Prints that hang a little turned, as the user may choose: a picture that landed upright
        // would stand beside the print's own.
        {
            const QString config = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
            QDir().mkpath(config + "/VennimoGallery");
            writeText(config + "/VennimoGallery/defaults.json", R"({"ClotheslineStrictVertical": false})");
        }
        ASSERT_TRUE(startApplication(app));
        ASSERT_TRUE(hangDesktopPhotos(desktop, "slide", 2, 80));
        xs = placementXs();
        window = applicationWindow(app.processId());
        ASSERT_TRUE(window);
        target.setGeometry(screen.x() + 60, window->bottom() + 40, 300, 200);
        target.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&target, 30000));
        QTest::qWait(300);
    }
    void TearDown() override {
        app.terminate();
        app.waitForFinished(5000);
    }
    virtual bool reduceMotion() const { return false; }
    static void writeText(const QString& path, const QString& text) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        QTextStream(&file) << text;
    }

    // Carries the print at x by its paper to `to`, and there ends the drag with xdotool's `end` (a
    // release, or Escape), which runs while the test watches. Answers the application's windows
    // that showed from then on, once they have gone or two seconds have passed: those mapped since,
    // and those mapped before that moved since (a picture waiting unseen for the drag's end), from
    // their first move on. Meanwhile `area` holds the screen between the two places, `before` what
    // it showed before the drag, and `during` sees it again each time a picture that moved since it
    // showed moves on.
    // `ready`, when given, is waited for before the drag ends.
    QList<WindowTrail::Window> carry(double x, QPoint to, const QStringList& end,
                                     const std::function<void(const QImage&)>& during = {},
                                     const std::function<bool()>& ready = {}) {
        WindowTrail trail(app.processId());
        EXPECT_TRUE(trail.connected());
        pressed = printPoint(*window, x);
        area = QRect(pressed, to).normalized().adjusted(-320, -240, 320, 240).intersected(screen);
        before = grabScreenArea(area);
        QProcess gesture;
        int ended = 0;
        pegGesture(pressed, to, {}, [&] {
            QTest::qWait(300);
            if (ready) {
                EXPECT_TRUE(QTest::qWaitFor(ready, 30000)) << "the drag never came to its target";
            }
            trail.poll();
            ended = trail.order();
            gesture.start("xdotool", end);
        });
        const auto shownSinceTheEnd = [&trail, &ended] {
            QList<WindowTrail::Window> shown;
            for (WindowTrail::Window w : trail.windows()) {
                if (w.gone && w.goneOrder <= ended)
                    continue;
                if (w.placeOrder.first() <= ended) {
                    while (!w.placeOrder.isEmpty() && w.placeOrder.first() <= ended)
                        w.placeOrder.removeFirst(), w.places.removeFirst();
                    if (w.places.isEmpty())
                        continue;
                }
                shown.append(w);
            }
            return shown;
        };
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < 2000) {
            const bool news = trail.poll();
            const QList<WindowTrail::Window> shown = shownSinceTheEnd();
            if (news && during && std::any_of(shown.cbegin(), shown.cend(), [](const auto& w) {
                    return w.places.size() > 1 && !w.gone;
                })) {
                // A picture that moved on between the test's drawing and the grab leaves a place
                // the test's windows have not drawn again yet: that grab shows nothing of the
                // picture's own, and the next move is looked at instead.
                const QImage grab = grabAfterRepaint();
                if (!trail.poll())
                    during(grab);
            }
            if (!shown.isEmpty() && waited.elapsed() > 300 &&
                std::all_of(shown.cbegin(), shown.cend(), [](const auto& w) { return w.gone; }))
                break;
            QTest::qWait(1);
        }
        EXPECT_TRUE(gesture.state() == QProcess::NotRunning || gesture.waitForFinished(10000));
        // After Escape the button is still down.
        if (!end.contains("mouseup"))
            xdotool({"mouseup", "1"}, 300);
        trail.poll();
        return shownSinceTheEnd();
    }
    // A grab of `area` once the test's own windows are drawn whole: where nothing composites them,
    // the place a picture just left shows what it last drew there until their exposure is seen
    // and drawn, which a busy machine delays. Drawn now, on the connection the grab then uses.
    QImage grabAfterRepaint() {
        backdrop.repaint();
        if (target.isVisible())
            target.repaint();
        return grabScreenArea(area);
    }
    // Whether a grab of `area` shows a picture that was not there before the drag.
    bool showsPicture(const QImage& grab) const { return changedShare(grab, before) > 0.01; }
    // The picture slid back: it showed where the drag left it (where the pointer let go, at the
    // offset from the pointer it was carried at), passed between there and the print it came from,
    // landed on that print and went.
    void expectSlidBack(const QList<WindowTrail::Window>& shown, QPoint releasedAt, const std::string& what) {
        SCOPED_TRACE(what);
        ASSERT_EQ(shown.size(), 1) << "one picture slides back";
        const WindowTrail::Window& slide = shown.first();
        ASSERT_GE(slide.places.size(), 2) << "the picture never moved";
        const QRect start = slide.places.first();
        const QRect landed = slide.places.last();
        EXPECT_GT(start.width(), 100);
        EXPECT_EQ(landed.size(), start.size());
        const QPoint travelled = start.topLeft() - landed.topLeft();
        EXPECT_LE((travelled - (releasedAt - pressed)).manhattanLength(), 4)
            << "it starts where the drag showed it: moved by " << travelled.x() << "," << travelled.y()
            << " from where it landed, the pointer by " << (releasedAt - pressed).x() << ","
            << (releasedAt - pressed).y();
        EXPECT_TRUE(landed.adjusted(-2, -2, 2, 2).contains(pressed)) << "it lands on the print it came from";
        int between = 0;
        for (const QRect& place : slide.places) {
            const auto [t, off] = along(place.topLeft(), start.topLeft(), landed.topLeft());
            EXPECT_LE(off, 3) << "off the way back at " << place.x() << "," << place.y();
            between += t > 0.05 && t < 0.95;
        }
        EXPECT_GE(between, 1) << "nothing showed between the release and the print";
        EXPECT_TRUE(slide.gone) << "the picture is still there";
    }
    // The flight lasts a quarter of a second, which a slow build's grabs can miss: its windows'
    // places (the trail) are what must hold; the screen's look is checked whenever it was caught.
    static void noteUnseen(int seen) {
        if (seen == 0)
            std::printf("[ note ] no grab caught the picture on its way\n");
    }
    // Saves the first grab that shows the picture under `name`, and counts those that do.
    std::function<void(const QImage&)> shoot(const QString& name, int& seen) {
        return [this, name, &seen](const QImage& grab) {
            if (showsPicture(grab) && seen++ == 0)
                grab.save(shots + "/" + name);
        };
    }

    // The moment a drag that nothing takes ends, as the server ordered it: the drag picture's
    // window (followed from the press on), the sliding picture's, how many grabs of the drag
    // picture's last place were taken while it had gone and the slide had not moved on from there
    // (or had not come), and how many of those showed no picture; and the look of the place the
    // slide landed on while the slide stood there (the application held still for the grab) and
    // once it had gone.
    struct HandOver {
        std::optional<WindowTrail::Window> dragPicture;
        std::optional<WindowTrail::Window> slide;
        int watched = 0;
        int gaps = 0;
        QImage landedLook;
        QImage printLook;
        // The sliding picture's own pixels at that look, where a compositing manager lets it be
        // read: a picture that draws nothing leaves the print's own pixels on the screen.
        QImage landedOwn;
    };
    HandOver handOver(double x, QPoint to, const QStringList& end) {
        HandOver result;
        WindowTrail trail(app.processId());
        EXPECT_TRUE(trail.connected());
        pressed = printPoint(*window, x);
        const auto find = [&trail](quint32 id) -> const WindowTrail::Window* {
            for (const WindowTrail::Window& w : trail.windows())
                if (w.id == id)
                    return &w;
            return nullptr;
        };
        quint32 dragID = 0;
        QRect held;
        QImage heldLook;
        QProcess gesture;
        pegGesture(pressed, to, {}, [&] {
            if (const std::optional<WindowTrail::Window> drag = trail.follower(to))
                dragID = drag->id, held = drag->places.last();
            heldLook = grabScreenArea(held);
            gesture.start("xdotool", end);
        });
        EXPECT_NE(dragID, 0u) << "no drag picture followed the pointer";
        const auto slideWindow = [&]() -> const WindowTrail::Window* {
            for (const WindowTrail::Window& w : trail.windows())
                if (w.id != dragID && std::abs(w.places.last().width() - held.width()) <= 2 &&
                    std::abs(w.places.last().height() - held.height()) <= 2)
                    return &w;
            return nullptr;
        };
        // Looks at the picture near its end, each taken with the application held so that it stays
        // where the server has it and drawn as it last drew itself there.
        struct Look {
            QRect place;
            QImage screen;
            QImage own;
        };
        QList<Look> looks;
        std::optional<QRect> last;
        QElapsedTimer still;
        QElapsedTimer waited;
        waited.start();
        while (dragID != 0 && waited.elapsed() < 4000) {
            trail.poll();
            const WindowTrail::Window* drag = find(dragID);
            const WindowTrail::Window* slide = slideWindow();
            if (slide && slide->gone && waited.elapsed() > 300)
                break;
            if (drag && drag->gone && (!slide || slide->places.last().topLeft() == held.topLeft())) {
                // Between the two: the place must show the picture, whoever draws it.
                const QImage look = grabScreenArea(held);
                if (!trail.poll()) {
                    ++result.watched;
                    result.gaps += changedShare(look, heldLook) > 0.3;
                }
                continue;
            }
            if (slide && !slide->gone && slide->places.size() > 1) {
                const QRect place = slide->places.last();
                // Come within a few pixels of where it was, or standing still: landing, landed or
                // late.
                const bool arrived =
                    last != place && last && (place.topLeft() - last->topLeft()).manhattanLength() <= 3;
                if (last != place)
                    still.start();
                last = place;
                if (arrived || still.elapsed() > 30) {
                    const ApplicationHold hold(app.processId());
                    QTest::qWait(40);
                    trail.poll();
                    if (!slideWindow()->gone && slideWindow()->places.last() == place) {
                        const Look look{place, grabScreenArea(place), trail.ownPixels(slideWindow()->id)};
                        if (!hold.spoiled())
                            looks.append(look);
                    }
                    still.start();
                }
            }
            QTest::qWait(1);
        }
        // The last look at where it went that caught it drawing (which, where a compositing manager
        // blends it, its own pixels tell). The first may have caught the window moved there and
        // the application held before it drew itself there: its pixels then still stand where
        // the step before put them.
        QRect stoodAt;
        if (const WindowTrail::Window* slide = slideWindow())
            for (qsizetype i = looks.size() - 1; i >= 0; --i) {
                const Look& look = looks[i];
                if (look.place == slide->places.last() &&
                    (look.own.isNull() || opaqueShare(look.own) >= 0.25)) {
                    stoodAt = look.place;
                    result.landedLook = look.screen;
                    result.landedOwn = look.own;
                    break;
                }
            }
        EXPECT_TRUE(gesture.state() == QProcess::NotRunning || gesture.waitForFinished(10000));
        if (!end.contains("mouseup"))
            xdotool({"mouseup", "1"}, 300);
        if (const WindowTrail::Window* drag = find(dragID))
            result.dragPicture = *drag;
        if (const WindowTrail::Window* slide = slideWindow()) {
            result.slide = *slide;
            if (slide->gone && stoodAt == slide->places.last()) {
                QTest::qWait(500);
                result.printLook = grabScreenArea(stoodAt);
            } else {
                result.landedLook = {};
            }
        }
        return result;
    }
    // The slide took over from the drag picture in the same frame and where it was, and landed on
    // the print's own picture.
    void expectHandedOver(const HandOver& seen, const QString& shot, int& landings) {
        ASSERT_TRUE(seen.dragPicture && seen.dragPicture->gone) << "the drag picture never went";
        ASSERT_TRUE(seen.slide) << "no picture slid back";
        const WindowTrail::Window& drag = *seen.dragPicture;
        const WindowTrail::Window& slide = *seen.slide;
        const std::optional<QRect> then = slide.placeBefore(drag.goneOrder);
        EXPECT_TRUE(then.has_value()) << "the drag picture went before the sliding picture came";
        if (then) {
            EXPECT_EQ(then->topLeft(), drag.places.last().topLeft())
                << "the slide stood at " << then->x() << "," << then->y() << " as the drag picture went from "
                << drag.places.last().x() << "," << drag.places.last().y();
        }
        EXPECT_EQ(seen.gaps, 0) << seen.gaps << " of " << seen.watched
                                << " grabs of the drag picture's place showed no picture";
        EXPECT_TRUE(slide.gone) << "the picture is still there";
        if (seen.landedLook.isNull() || seen.printLook.isNull())
            return;
        QImage landedLook = seen.landedLook;
        if (!seen.landedOwn.isNull()) {
            // Where a compositing manager blends the picture over the rope, the screen shows the
            // print under a picture that draws nothing just as under one that landed right: what
            // counts is what the picture itself draws, laid over the print.
            if (seen.landedOwn.size() != seen.printLook.size())
                return;
            landedLook = seen.printLook.convertToFormat(QImage::Format_ARGB32_Premultiplied);
            QPainter over(&landedLook);
            over.drawImage(0, 0, seen.landedOwn);
        }
        ++landings;
        const QRect inner = QRect(QPoint(0, 0), landedLook.size()).adjusted(2, 2, -3, -3);
        const QImage landed = landedLook.copy(inner);
        const QImage print = seen.printLook.copy(inner);
        landed.save(shots + "/" + shot + "-landed.png");
        print.save(shots + "/" + shot + "-print.png");
        // How far off the print's picture it stood, for the message.
        QPoint best;
        double least = 1;
        for (int dy = -16; dy <= 16; dy += 1)
            for (int dx = -16; dx <= 16; dx += 1) {
                const QRect part = inner.translated(-inner.topLeft()).adjusted(16, 16, -16, -16);
                const double share = changedShare(landed.copy(part), print.copy(part.translated(dx, dy)));
                if (share < least)
                    least = share, best = {dx, dy};
            }
        EXPECT_LT(changedShare(landed, print), 0.03)
            << "it landed beside the print's picture, the best match " << best.x() << "," << best.y()
            << " off";
    }

    QString desktop, shots;
    QRect screen;
    Backdrop backdrop{Backdrop::Tone::Plain};
    DropWindow target;
    QProcess app;
    QList<double> xs;
    std::optional<QRect> window;
    QPoint pressed;
    QRect area;
    QImage before;
};

TEST_F(ApplicationCopyReturnX11, APictureLetGoOnTheDesktopOrCancelledSlidesBackAndOneTakenDoesNot) {
    // Let go over the bare desktop, where nothing takes it.
    const QPoint bare(window->center().x(), kBackdropHeight + 160);
    int seen = 0;
    expectSlidBack(carry(xs[0], bare, kLetGo, shoot("35-copy-slides-back-from-the-desktop.png", seen)), bare,
                   "let go on the desktop");
    noteUnseen(seen);
    QTest::qWait(500);
    grabScreenArea(screen).save(shots + "/36-copy-back-on-the-rope.png");

    // Escape over the backdrop, another program's window that takes no drop.
    const QPoint elsewhere(screen.right() - 260, kBackdropHeight - 120);
    seen = 0;
    expectSlidBack(carry(xs[1], elsewhere, kEscape, shoot("37-copy-cancelled-slides-back.png", seen)),
                   elsewhere, "Escape");
    noteUnseen(seen);
    EXPECT_EQ(placementXs(), xs) << "nothing was copied onto the rope";

    // Taken by another program's window: the picture does not come back.
    // Let go once the window has answered the drag, as a user lets go once it shows it takes it.
    const auto taken =
        carry(xs[0], target.geometry().center(), kLetGo, {}, [&] { return target.answered > 0; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return !target.urls.isEmpty(); }, 30000)) << "nothing arrived";
    EXPECT_TRUE(taken.isEmpty()) << "a picture slid back from a drop that was taken";
}

// The same desktop without a compositing manager (x11-session leaves it out for this suite's
// name): the sliding picture is cut to its outline, with nothing black around it.
class ApplicationCopyReturnWithoutCompositorX11 : public ApplicationCopyReturnX11 {};

TEST_F(ApplicationCopyReturnWithoutCompositorX11, APictureCancelledSlidesBackWithNothingBlackAroundIt) {
    ASSERT_FALSE(X11WindowStack::compositorRunning()) << "the session has a compositing manager";
    const QPoint elsewhere(screen.right() - 260, kBackdropHeight - 120);
    int seen = 0;
    int blackBefore = 0;
    int blackDuring = 0;
    const auto cancelled = carry(xs[1], elsewhere, kEscape, [&](const QImage& grab) {
        if (!showsPicture(grab))
            return;
        // Above the bare desktop, which is black here.
        const QRect backdropPart = area.intersected(backdrop.geometry()).translated(-area.topLeft());
        if (seen++ == 0) {
            grab.save(shots + "/38-no-compositor-copy-slides-back.png");
            blackBefore = nearBlackPixels(before.copy(backdropPart));
        }
        const int black = nearBlackPixels(grab.copy(backdropPart));
        if (black > blackDuring && black - blackBefore >= 100)
            grab.save(shots + "/38-no-compositor-darkest.png");
        blackDuring = std::max(blackDuring, black);
    });
    expectSlidBack(cancelled, elsewhere, "Escape");
    noteUnseen(seen);
    EXPECT_LT(blackDuring - blackBefore, 100)
        << "the picture carries a black box: " << blackBefore << " dark pixels before, " << blackDuring;

    const QPoint bare(window->center().x(), kBackdropHeight + 160);
    seen = 0;
    expectSlidBack(
        carry(xs[0], bare, kLetGo, shoot("39-no-compositor-copy-slides-back-from-the-desktop.png", seen)),
        bare, "let go on the desktop");

    // Let go once the window has answered the drag, as a user lets go once it shows it takes it.
    const auto taken =
        carry(xs[0], target.geometry().center(), kLetGo, {}, [&] { return target.answered > 0; });
    EXPECT_TRUE(QTest::qWaitFor([&] { return !target.urls.isEmpty(); }, 30000)) << "nothing arrived";
    EXPECT_TRUE(taken.isEmpty()) << "a picture slid back from a drop that was taken";
}

// The sliding picture carries no print: the rope keeps none of its own pixels under it, clear ones
// that would show black the moment the picture moved on if the rope's cut did not follow at once.
// Cancelled over the rope window's clear part, below its strand, the picture starts its way there.
TEST_F(ApplicationCopyReturnWithoutCompositorX11, TheRopeKeepsNoneOfItsPixelsUnderTheSlidingPicture) {
    ASSERT_FALSE(X11WindowStack::compositorRunning()) << "the session has a compositing manager";
    const QString id = widestWindowId(app.processId());
    ASSERT_FALSE(id.isEmpty());
    const std::optional<QRegion> rest = WindowTrail(app.processId()).boundingShape(id.toUInt());
    ASSERT_TRUE(rest) << "the rope is not cut";
    const QRect client = clientAreaOf(id);
    WindowTrail trail(app.processId());
    ASSERT_TRUE(trail.connected());
    // The picture and the rope's cut looked at together, the application held meanwhile, each
    // time the picture has moved on, from the Escape until it has gone.
    struct Seen {
        QRect slide;
        QRegion shape;
    };
    QList<Seen> seen;
    const QPoint clear(window->left() + window->width() * 3 / 4, window->bottom() - 60);
    int ended = 0;
    pegGesture(printPoint(*window, xs[0]), clear, {}, [&] {
        QTest::qWait(300);
        trail.poll();
        ended = trail.order();
        xdotool(kEscape, 0);
        QElapsedTimer waited;
        waited.start();
        std::optional<QRect> last;
        while (waited.elapsed() < 3000) {
            bool going = false;
            {
                const ApplicationHold hold(app.processId());
                QTest::qWait(30);
                trail.poll();
                for (const WindowTrail::Window& w : trail.windows())
                    if (w.placeOrder.first() > ended && !w.gone) {
                        going = true;
                        if (last != w.places.last())
                            if (const std::optional<QRegion> shape = trail.boundingShape(id.toUInt());
                                shape && !hold.spoiled())
                                seen.append({w.places.last(), *shape});
                        last = w.places.last();
                    }
            }
            if (!going && last)
                break;
            QTest::qWait(10);
        }
        xdotool({"mouseup", "1"}, 300);
    });
    const auto area = [](const QRegion& region) {
        qint64 sum = 0;
        for (const QRect& r : region)
            sum += qint64(r.width()) * r.height();
        return sum;
    };
    int looked = 0;
    double most = 0;
    for (const Seen& look : std::as_const(seen)) {
        // The picture's inside, where it lies over the rope window, in the window's coordinates.
        const QRegion under = QRegion(look.slide.adjusted(6, 6, -6, -6).translated(-client.topLeft())) &
                              QRect(QPoint(0, 0), client.size());
        if (area(under) < qint64(look.slide.width()) * look.slide.height() / 5)
            continue;
        ++looked;
        // What the rope keeps there more than it draws there at rest.
        most = std::max(most, double(area(look.shape & under) - area(*rest & under)) / double(area(under)));
    }
    EXPECT_GE(looked, 1) << "no look caught the picture over the rope window";
    EXPECT_LT(most, 0.2) << "the rope kept " << int(most * 100) << " % of the picture's place as its own";
}

// Nothing takes it: the moment Qt's drag picture goes, the sliding picture stands where it stood
// and shows, and it lands on the print's own picture, not beside it.
TEST_F(ApplicationCopyReturnX11, TheSlidingPictureTakesOverWhereTheDragPictureWentAndLandsOnThePrint) {
    const QPoint elsewhere(screen.right() - 260, kBackdropHeight - 120);
    const QPoint bare(window->center().x(), kBackdropHeight + 160);
    int landings = 0;
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        expectHandedOver(handOver(xs[1], elsewhere, kEscape), QString("40-copy-hand-over-escape-%1").arg(i),
                         landings);
        expectHandedOver(handOver(xs[0], bare, kLetGo), QString("41-copy-hand-over-let-go-%1").arg(i),
                         landings);
    }
    EXPECT_GE(landings, 1) << "no landing was caught";
}

TEST_F(ApplicationCopyReturnWithoutCompositorX11,
       TheSlidingPictureTakesOverWhereTheDragPictureWentAndLandsOnThePrint) {
    ASSERT_FALSE(X11WindowStack::compositorRunning()) << "the session has a compositing manager";
    const QPoint elsewhere(screen.right() - 260, kBackdropHeight - 120);
    const QPoint bare(window->center().x(), kBackdropHeight + 160);
    int landings = 0;
    for (int i = 0; i < 2; ++i) {
        SCOPED_TRACE(i);
        expectHandedOver(handOver(xs[1], elsewhere, kEscape),
                         QString("42-no-compositor-hand-over-escape-%1").arg(i), landings);
        expectHandedOver(handOver(xs[0], bare, kLetGo),
                         QString("43-no-compositor-hand-over-let-go-%1").arg(i), landings);
    }
    EXPECT_GE(landings, 1) << "no landing was caught";
}

// The desktop asks for less motion: the picture goes where the pointer lets it go.
class ApplicationCopyReturnReducedMotionX11 : public ApplicationCopyReturnX11 {
protected:
    bool reduceMotion() const override { return true; }
};

TEST_F(ApplicationCopyReturnReducedMotionX11, APictureLetGoOnTheDesktopOrCancelledJustGoes) {
    const QPoint bare(window->center().x(), kBackdropHeight + 160);
    EXPECT_TRUE(carry(xs[0], bare, kLetGo).isEmpty()) << "the picture slid back under Reduce Motion";
    EXPECT_TRUE(carry(xs[1], bare, kEscape).isEmpty()) << "the picture slid back under Reduce Motion";
}
