#include "platform/UserDefaults.h"
#include "shell/GalleryWindow.h"
#include "support/TestEnvironment.h"

#include <QEvent>
#include <gtest/gtest.h>

#include <memory>

using namespace vennimo;

// Readable failures for frames.
void PrintTo(const QRectF& r, std::ostream* os) {
    *os << "(" << r.x() << ", " << r.y() << " " << r.width() << " x " << r.height() << ")";
}
void PrintTo(const QRect& r, std::ostream* os) {
    PrintTo(QRectF(r), os);
}
void PrintTo(const QPointF& p, std::ostream* os) {
    *os << "(" << p.x() << ", " << p.y() << ")";
}

namespace {

// A 1920 x 1080 screen with a 30 pixel panel along its top, and a 1280 x 1024 one to its right.
const ScreenArea kLeftScreen{QRectF(0, 0, 1920, 1080), QRectF(0, 30, 1920, 1050)};
const ScreenArea kRightScreen{QRectF(1920, 0, 1280, 1024), QRectF(1920, 0, 1280, 1024)};

struct RopeWindow {
    std::unique_ptr<UserDefaults> defaults =
        std::make_unique<UserDefaults>(test::makeFolder("defaults") + "/defaults.json");
    std::unique_ptr<GalleryWindow> window = std::make_unique<GalleryWindow>();

    explicit RopeWindow(QList<ScreenArea> screens, QRectF frame = QRectF(100, 200, 800, 518)) {
        window->setScreensSource([screens] { return screens; });
        window->setPositionDefaults(defaults.get());
        window->setFrame(frame);
        window->setClotheslineStyle(true);
    }
};

TEST(GalleryWindowGeometry, ClampsTheRopeOntoTheScreenUnderIt) {
    struct Case {
        const char* name;
        QList<ScreenArea> screens;
        QRectF frame;
        QPointF expected;
    } cases[] = {
        {"inside stays", {kLeftScreen}, {100, 200, 800, 518}, {100, 200}},
        {"above and left: overhang 22, rope 60 under the panel",
         {kLeftScreen},
         {-300, -100, 800, 518},
         {-22, 30}},
        {"below and right: rope 100 above the bottom", {kLeftScreen}, {1500, 1000, 800, 518}, {1142, 920}},
        {"wider than the screen is centred", {kLeftScreen}, {300, 200, 2000, 518}, {-40, 200}},
        {"the screen under the rope's middle decides",
         {kLeftScreen, kRightScreen},
         {2500, 900, 800, 518},
         {2422, 864}},
        {"straddling: the middle lies on the left screen",
         {kLeftScreen, kRightScreen},
         {1500, 100, 800, 518},
         {1142, 100}},
        {"no screens leaves the frame", {}, {-5000, -5000, 800, 518}, {-5000, -5000}},
    };
    for (const Case& c : cases) {
        RopeWindow rope(c.screens);
        const QRectF clamped = rope.window->clampedClotheslineFrame(c.frame);
        EXPECT_EQ(clamped.topLeft(), c.expected) << c.name;
        EXPECT_EQ(clamped.size(), c.frame.size()) << c.name;
    }
}

TEST(GalleryWindowGeometry, KnotResizeStaysBetween760AndTheScreenEdge) {
    using Edge = ClotheslineKnotEdge;
    struct Case {
        const char* name;
        Edge edge;
        double travel;
        QRectF expected;
    } cases[] = {
        {"right knot out stops at the visible edge", Edge::right, 5000, {100, 200, 1820, 518}},
        {"right knot in stops at 760", Edge::right, -500, {100, 200, 760, 518}},
        {"left knot out stops at the visible edge", Edge::left, -1000, {0, 200, 900, 518}},
        {"left knot in keeps the right edge and stops at 760", Edge::left, 300, {140, 200, 760, 518}},
    };
    for (const Case& c : cases) {
        RopeWindow rope({kLeftScreen});
        const QPointF start(500, 300);
        rope.window->beginKnotResize(c.edge, start);
        ASSERT_TRUE(rope.window->knotResizeActive()) << c.name;
        rope.window->updateKnotResize(start + QPointF(c.travel, 40));
        EXPECT_EQ(rope.window->frame(), c.expected) << c.name;
        rope.window->finishKnotResize(false);
        EXPECT_EQ(rope.window->frame(), c.expected) << c.name;
        EXPECT_EQ(rope.window->compactFrame(), c.expected) << c.name;
    }

    RopeWindow cancelled({kLeftScreen});
    cancelled.window->beginKnotResize(Edge::left, {500, 300});
    cancelled.window->updateKnotResize({200, 300});
    cancelled.window->finishKnotResize(true);
    EXPECT_EQ(cancelled.window->frame(), QRectF(100, 200, 800, 518))
        << "cancelling puts the start frame back";

    RopeWindow wide({kLeftScreen}, {-22, 200, 1964, 518});
    wide.window->beginKnotResize(Edge::right, {500, 300});
    wide.window->updateKnotResize({700, 300});
    EXPECT_EQ(wide.window->frame().width(), 1964) << "a window already wider than the room keeps its width";
}

TEST(GalleryWindowGeometry, RemembersThePositionOnlyAfterRestoring) {
    RopeWindow rope({kLeftScreen, kRightScreen});
    rope.window->setClotheslineLayout(466, 8);
    rope.window->beginKnotResize(ClotheslineKnotEdge::right, {0, 0});
    rope.window->finishKnotResize(false);
    EXPECT_FALSE(rope.defaults->contains(UserDefaults::kClotheslineWindowPositionKey))
        << "nothing is saved before the remembered position was read";

    rope.window->restoreClotheslinePosition();
    EXPECT_TRUE(rope.window->remembersPosition());
    EXPECT_EQ(rope.window->frame(), QRectF(100, 252, 800, 466)) << "nothing saved: the window stays";
    rope.window->setClotheslineLayout(518, 60);
    const auto saved = rope.defaults->clotheslineWindowPosition();
    ASSERT_TRUE(saved);
    EXPECT_EQ(*saved, (ClotheslineWindowPosition{100, 260, 800})) << "ropeY is the rope line's screen height";

    // A second start puts the rope back where it hung.
    rope.defaults->setClotheslineWindowPosition({2000, 500, 5000});
    RopeWindow next({kLeftScreen, kRightScreen}, {0, 0, 800, 518});
    next.defaults = std::move(rope.defaults);
    next.window->setPositionDefaults(next.defaults.get());
    next.window->restoreClotheslinePosition();
    EXPECT_EQ(next.window->frame(), QRectF(1942, 440, 1280, 518))
        << "wider than the screen is cut to it, then clamped";

    next.defaults->setDictionary(UserDefaults::kClotheslineWindowPositionKey,
                                 {{"x", 10.0}, {"ropeY", 400.0}, {"width", 759.0}});
    RopeWindow narrow({kLeftScreen}, {300, 300, 800, 518});
    narrow.window->setPositionDefaults(next.defaults.get());
    narrow.window->restoreClotheslinePosition();
    EXPECT_EQ(narrow.window->frame(), QRectF(300, 300, 800, 518)) << "a width under 760 is ignored";
}

TEST(GalleryWindowGeometry, KeepsTheRopeLineWhenTheCanvasTopChangesAtTheScreenTop) {
    RopeWindow rope({kLeftScreen}, {100, 50, 800, 518});
    rope.window->setClotheslineLayout(466, 8);
    rope.window->setFrame({100, 50, 800, 466});
    rope.window->restoreClotheslinePosition();

    rope.window->setClotheslineLayout(518, 60);
    EXPECT_EQ(rope.window->frame(), QRectF(100, 30, 800, 518)) << "the top stops at the visible top";
    EXPECT_EQ(rope.window->topRestoration(), 32);
    EXPECT_EQ(rope.defaults->clotheslineWindowPosition(), (ClotheslineWindowPosition{100, 58, 800}))
        << "the saved rope is where it would hang without the push";

    rope.window->setClotheslineLayout(466, 8);
    EXPECT_EQ(rope.window->frame(), QRectF(100, 50, 800, 466)) << "the rope returns to its first height";
    EXPECT_EQ(rope.window->topRestoration(), 0);
}

// Records the frame the window has at each of its move and resize events.
class FrameLog : public QObject {
public:
    QList<QRect> frames;
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Move || event->type() == QEvent::Resize)
            frames.append(static_cast<QWidget*>(watched)->geometry());
        return false;
    }
};

TEST(GalleryWindowGeometry, AHeightChangeGoesStraightToItsFrame) {
    // A window manager takes each request on its own time: a frame on the way that kept the old top
    // with the new height can land after the move and leave the rope 52 higher or lower.
    RopeWindow rope({kLeftScreen}, {100, 300, 800, 518});
    rope.window->show();
    FrameLog log;
    rope.window->installEventFilter(&log);
    rope.window->setClotheslineLayout(466, 8);
    EXPECT_EQ(rope.window->frame(), QRectF(100, 352, 800, 466));
    for (const QRect& frame : log.frames)
        EXPECT_EQ(frame, QRect(100, 352, 800, 466)) << "collapsing";
    log.frames.clear();
    rope.window->setClotheslineLayout(518, 60);
    EXPECT_EQ(rope.window->frame(), QRectF(100, 300, 800, 518));
    for (const QRect& frame : log.frames)
        EXPECT_EQ(frame, QRect(100, 300, 800, 518)) << "expanding";
    EXPECT_EQ(rope.window->minimumHeight(), 518);
    EXPECT_EQ(rope.window->maximumHeight(), 518);
    rope.window->removeEventFilter(&log);
}

TEST(GalleryWindowGeometry, EachStyleGetsItsOwnFrameBack) {
    RopeWindow rope({kLeftScreen}, {100, 300, 800, 518});
    rope.window->setClotheslineStyle(false);
    EXPECT_EQ(rope.window->frame(), QRectF(100, 300, 900, 720)) << "first grid: top kept, 900 x 720";

    rope.window->setFrame({50, 60, 1000, 700});
    rope.window->setClotheslineLayout(466, 8);
    EXPECT_EQ(rope.window->frame(), QRectF(50, 60, 1000, 700)) << "the grid ignores the rope layout";

    rope.window->setClotheslineStyle(true);
    EXPECT_EQ(rope.window->frame(), QRectF(100, 352, 800, 466)) << "the rope keeps its screen height";
    EXPECT_EQ(rope.window->clotheslineCanvasTop(), 8);

    rope.window->setClotheslineStyle(false);
    EXPECT_EQ(rope.window->frame(), QRectF(50, 60, 1000, 700)) << "the last grid frame comes back";
}

// The switch maps a new native window, which a window manager may first put where it likes; the
// rope still comes back where it hung, and that is where it is remembered.
TEST(GalleryWindowGeometry, TheRopeComesBackToItsFrameWhereverTheWindowManagerMapsIt) {
    RopeWindow rope({kLeftScreen}, {100, 300, 800, 518});
    rope.window->restoreClotheslinePosition();
    rope.window->setClotheslineStyle(false);
    rope.window->setClotheslineStyle(true);
    rope.window->move(0, 0);
    // The selection ends on the way back, so the chrome lowers its canvas top.
    rope.window->setClotheslineLayout(466, 8);
    EXPECT_EQ(rope.window->frame(), QRectF(100, 352, 800, 466));
    const std::optional<ClotheslineWindowPosition> saved = rope.defaults->clotheslineWindowPosition();
    ASSERT_TRUE(saved);
    EXPECT_EQ(saved->x, 100);
    EXPECT_EQ(saved->ropeY, 360);
    EXPECT_EQ(saved->width, 800);

    // Leaving again before the window manager has moved it back keeps the rope's own frame.
    rope.window->move(0, 0);
    rope.window->setClotheslineStyle(false);
    rope.window->setClotheslineStyle(true);
    EXPECT_EQ(rope.window->frame(), QRectF(100, 352, 800, 466));
}

TEST(GalleryWindowGeometry, HoldsLayoutChangesWhileAGestureRuns) {
    RopeWindow rope({kLeftScreen});
    rope.window->beginKnotResize(ClotheslineKnotEdge::right, {0, 0});
    rope.window->setClotheslineLayout(466, 8);
    EXPECT_EQ(rope.window->frame(), QRectF(100, 200, 800, 518)) << "stored, not applied";
    EXPECT_EQ(rope.window->requestedCanvasTop(), 8);
    rope.window->finishKnotResize(false);
    EXPECT_EQ(rope.window->frame(), QRectF(100, 252, 800, 466)) << "applied when the resize ends";

    rope.window->setClotheslineDragActive(true);
    rope.window->setClotheslineLayout(518, 60);
    EXPECT_EQ(rope.window->frame().height(), 466);
    rope.window->finishClotheslineDrag();
    EXPECT_EQ(rope.window->frame(), QRectF(100, 200, 800, 518));
}

} // namespace
