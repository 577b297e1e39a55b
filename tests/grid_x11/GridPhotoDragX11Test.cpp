#include "ApplicationGrid.h"
#include "ApplicationHold.h"
#include "WindowTrail.h"
#include "canvas_x11/ApplicationRope.h"
#include "platform/X11WindowStack.h"
#include "support/ScreenGrab.h"
#include "support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>

using namespace vennimo;
using namespace vennimo::test;

namespace {

// Pixels whiter than any of the photos: what Qt fills its drag picture's window with under the
// picture.
int white(const QImage& shot) {
    int count = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x) {
            const QRgb p = shot.pixel(x, y);
            count += std::min({qRed(p), qGreen(p), qBlue(p)}) >= 245;
        }
    return count;
}

} // namespace

// The application's grid of three photos over the test's backdrop, another program's window that
// takes no drop. A card dragged out of the grid and cancelled with Escape slides back.
class GridPhotoDragX11 : public testing::Test {
protected:
    // The shape of the photos the test saves, which the cards draw.
    static constexpr QSize kPhotoSize{1600, 1200};

    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X server";
        const QString desktop = makeWatchedFolders();
        ASSERT_TRUE(desktop.startsWith(TestEnvironment::root()));
        shots = applicationShots();
        ASSERT_TRUE(backdrop.cover());
        ASSERT_TRUE(startApplication(app));
        ASSERT_TRUE(hangDesktopPhotos(desktop, "card", 3, 60));
        const std::optional<QRect> grid = switchToGrid(app.processId());
        ASSERT_TRUE(grid) << "the titled grid window";
        // The thumbnails come in after the window shows; a loaded machine draws them late.
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                cards = findCards(*grid, 3);
                return cards && spread(grabScreenArea(cards->picture(2))) > 12;
            },
            30000));
        ASSERT_TRUE(cards) << "cards below the header";
        QTest::qWait(500);
    }
    void TearDown() override {
        app.terminate();
        app.waitForFinished(5000);
    }

    // How a picture dragged off a card and cancelled came back: how Qt's drag picture looked
    // before the cancel, the window that slid back, its last place and how it looked there when
    // that look was caught, how the place looked once it had gone, and the most near-black pixels
    // a look at the way back showed more than the same place before the drag.
    struct SlideBack {
        QImage dragLook;
        std::optional<WindowTrail::Window> window;
        QRect landedAt;
        QImage landedLook;
        QImage cardLook;
        int blackMore = 0;
    };
    SlideBack cancelDrag(int index, QPoint to, const QString& name) {
        SlideBack result;
        const QPoint from = cards->picture(index).center();
        const QRect way = QRect(from, to).normalized().adjusted(-260, -220, 260, 220).intersected(screen());
        const QImage before = grabScreenArea(way);
        WindowTrail trail(app.processId());
        EXPECT_TRUE(trail.connected());
        quint32 dragID = 0;
        QRect held;
        QProcess escape;
        pegGesture(from, to, {}, [&] {
            if (const std::optional<WindowTrail::Window> drag = trail.follower(to))
                dragID = drag->id, held = drag->places.last();
            if (dragID != 0) {
                result.dragLook = grabScreenArea(held);
                result.dragLook.save(shots + "/" + name + "-carried.png");
            }
            escape.start("xdotool", {"key", "Escape"});
        });
        EXPECT_NE(dragID, 0u) << "no drag picture followed the pointer";
        const auto slide = [&]() -> const WindowTrail::Window* {
            for (const WindowTrail::Window& w : trail.windows())
                if (w.id != dragID && std::abs(w.places.last().width() - held.width()) <= 2 &&
                    std::abs(w.places.last().height() - held.height()) <= 2)
                    return &w;
            return nullptr;
        };
        // The looks of the picture near its end, by where it stood, each taken with the
        // application held so the picture stays put and drawn.
        QList<std::pair<QRect, QImage>> near;
        std::optional<QRect> last;
        QElapsedTimer waited;
        waited.start();
        int looks = 0;
        while (dragID != 0 && waited.elapsed() < 4000) {
            trail.poll();
            const WindowTrail::Window* sliding = slide();
            if (sliding && sliding->gone)
                break;
            if (!sliding || sliding->places.size() < 2) {
                QTest::qWait(1);
                continue;
            }
            // The backdrop draws at once what the picture leaves of it; the grid draws itself.
            backdrop.repaint();
            const QImage look = grabScreenArea(way);
            const int more = nearBlackPixels(look, 24) - nearBlackPixels(before, 24);
            if (more > result.blackMore) {
                result.blackMore = more;
                look.save(shots + "/" + name + "-darkest.png");
            }
            if (looks++ == 0)
                look.save(shots + "/" + name + "-on-its-way.png");
            const QRect place = sliding->places.last();
            if (last && (place.topLeft() - last->topLeft()).manhattanLength() <= 2) {
                const ApplicationHold hold(app.processId());
                QTest::qWait(40);
                trail.poll();
                if (!slide()->gone && slide()->places.last() == place) {
                    const QImage look = grabScreenArea(place);
                    if (!hold.spoiled())
                        near.append({place, look});
                }
            }
            last = place;
            QTest::qWait(1);
        }
        EXPECT_TRUE(escape.state() == QProcess::NotRunning || escape.waitForFinished(10000));
        // After Escape the button is still down.
        xdotool({"mouseup", "1"}, 300);
        trail.poll();
        if (const WindowTrail::Window* sliding = slide()) {
            result.window = *sliding;
            result.landedAt = sliding->places.last();
            for (const auto& [place, look] : std::as_const(near))
                if (place == result.landedAt)
                    result.landedLook = look;
            if (sliding->gone && !result.landedLook.isNull()) {
                QTest::qWait(500);
                result.cardLook = grabScreenArea(result.landedAt);
                result.landedLook.save(shots + "/" + name + "-landed.png");
                result.cardLook.save(shots + "/" + name + "-card.png");
            }
        }
        return result;
    }
    // Out of the grid window to its right, over the backdrop.
    QPoint outside() const {
        return QPoint(std::min(cards->window.right() + 220, screen().right() - 120),
                      cards->window.center().y());
    }
    static QRect screen() { return QGuiApplication::primaryScreen()->geometry(); }

    // One card, cancelled: it slid back from where the drag left it and landed on the card's own
    // picture, looking like it, then went. A pile of all three from the first card likewise lands
    // on that card's picture, within its card.
    void expectSlidBackOntoTheCards(const QString& prefix, bool cut) {
        for (int i = 0; i < 3; ++i) {
            SCOPED_TRACE("card " + std::to_string(i));
            const SlideBack back = cancelDrag(i, outside(), QString("%1-card-%2").arg(prefix).arg(i));
            ASSERT_TRUE(back.window) << "nothing slid back";
            EXPECT_TRUE(back.window->gone) << "the picture is still there";
            if (cut) {
                EXPECT_LT(back.blackMore, 20) << "black around the picture on its way back";
            }
            ASSERT_GE(back.window->places.size(), 2) << "it never moved";
            const QRect picture = cards->pictureOf(i, kPhotoSize);
            // A panel is a pixel larger than its picture, so a picture on a fraction of a pixel
            // keeps its edge.
            const QRect landed = back.landedAt;
            EXPECT_TRUE(std::abs(landed.left() - picture.left()) <= 1 &&
                        std::abs(landed.top() - picture.top()) <= 1 &&
                        landed.width() - picture.width() >= 0 && landed.width() - picture.width() <= 2 &&
                        landed.height() - picture.height() >= 0 && landed.height() - picture.height() <= 2)
                << "landed as " << landed.width() << "x" << landed.height() << " at " << landed.x() << ","
                << landed.y() << ", the card's picture is " << picture.width() << "x" << picture.height()
                << " at " << picture.x() << "," << picture.y();
            if (!back.cardLook.isNull()) {
                const QRect inner =
                    QRect(picture.topLeft() - landed.topLeft(), picture.size()).adjusted(2, 2, -2, -2);
                EXPECT_LT(changedShare(back.landedLook.copy(inner), back.cardLook.copy(inner)), 0.03)
                    << "it landed looking unlike the card's picture";
            }
        }

        // All three selected: a pile.
        const QString id = widestWindowId(app.processId());
        ASSERT_FALSE(id.isEmpty());
        xdotool({"windowactivate", "--sync", id}, 300);
        xdotool({"key", "ctrl+a"}, 500);
        const SlideBack pile = cancelDrag(0, outside(), prefix + "-pile");
        ASSERT_TRUE(pile.window) << "no pile slid back";
        EXPECT_TRUE(pile.window->gone) << "the pile is still there";
        if (cut) {
            EXPECT_LT(pile.blackMore, 20) << "black around the pile on its way back";
            // Qt's window under the picture, filled white, shows wherever the cards leave a gap.
            EXPECT_LT(white(pile.dragLook), 20)
                << "the pile was carried on a white box: " << white(pile.dragLook) << " white pixels in "
                << pile.dragLook.width() << "x" << pile.dragLook.height();
        }
        ASSERT_GE(pile.window->places.size(), 2) << "the pile never moved";
        const QRect picture = cards->pictureOf(0, kPhotoSize);
        EXPECT_TRUE(cards->card(0).contains(pile.landedAt)) << "the pile overhangs its card";
        EXPECT_LE((pile.landedAt.center() - picture.center()).manhattanLength(), 12)
            << "the pile landed off the card's picture, centred at " << pile.landedAt.center().x() << ","
            << pile.landedAt.center().y();
        if (cut && !pile.landedLook.isNull()) {
            EXPECT_LT(nearBlackPixels(pile.landedLook, 24) - nearBlackPixels(pile.cardLook, 24), 20)
                << "black around the landed pile";
        }
    }

    QString shots;
    Backdrop backdrop{Backdrop::Tone::Plain};
    QProcess app;
    std::optional<Cards> cards;
};

TEST_F(GridPhotoDragX11, ACardCancelledOutsideTheGridSlidesBackOntoItsOwnPicture) {
    expectSlidBackOntoTheCards("70-grid-slide", false);
}

// The same desktop without a compositing manager (x11-session leaves it out for this suite's
// name): the picture sliding back shows only the picture, its clear parts what lies behind, not
// black.
class GridPhotoDragWithoutCompositorX11 : public GridPhotoDragX11 {};

TEST_F(GridPhotoDragWithoutCompositorX11, APictureSlidingBackIsCutToItsOutline) {
    ASSERT_FALSE(X11WindowStack::compositorRunning()) << "the session has a compositing manager";
    expectSlidBackOntoTheCards("71-grid-slide-no-compositor", true);
}
