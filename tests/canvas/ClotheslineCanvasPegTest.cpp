#include "canvas/RopeFixture.h"
#include "platform/ReduceMotion.h"
#include "platform/UserDefaults.h"

#include <QApplication>
#include <QMouseEvent>

using namespace vennimo;
using namespace vennimo::test;

namespace {

void mouse(QWidget& canvas, QEvent::Type type, QPointF pos) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, pos, canvas.mapToGlobal(pos), button, held, {});
    QApplication::sendEvent(&canvas, &event);
}

class ClotheslineCanvasPegTest : public testing::Test {
protected:
    void SetUp() override {
        ReduceMotion::setReader([] { return std::optional<bool>(true); });
        UserDefaults::standard().setClotheslineOffCenterPeg(false);
        UserDefaults::standard().setClotheslineStrictVertical(true);
    }
    void TearDown() override { ReduceMotion::setReader({}); }

    static void hang(Rope& rope, const QList<std::pair<int, double>>& places) {
        rope.place(places);
        rope.show();
        ASSERT_TRUE(rope.waitForRest());
    }
    static QPointF ropeAt(ClotheslineCanvasView& canvas, double x) {
        const ClotheslineRopeGeometry rope = canvas.ropeGeometry();
        return rope.pointAlong(rope.supportFraction(x));
    }
    // A point inside the print's peg outline, near its anchor.
    static QPointF pegPoint(ClotheslineCanvasView& canvas, const Photo& photo) {
        const QPointF anchor = canvas.printFrame(photo)->topLeft() + PolaroidRenderer::defaultPegAnchor;
        for (double dy = 0; dy <= 12; dy += 1)
            for (double dx : {0.0, -2.0, 2.0})
                if (canvas.pegContains(photo, anchor + QPointF(dx, dy)))
                    return anchor + QPointF(dx, dy);
        ADD_FAILURE() << "no peg near the anchor";
        return anchor;
    }
    // Lifts the print by its peg, carries it in steps to `to` (canvas point of its peg) and lets go.
    static QPointF carry(ClotheslineCanvasView& canvas, const Photo& photo, QPointF to, bool release = true) {
        const QPointF from = pegPoint(canvas, photo);
        const QPointF grab = from - ropeAt(canvas, *placementX(canvas, photo));
        mouse(canvas, QEvent::MouseButtonPress, from);
        for (int i = 1; i <= 8; ++i)
            mouse(canvas, QEvent::MouseMove, from + (to + grab - from) * i / 8.0);
        if (release)
            mouse(canvas, QEvent::MouseButtonRelease, to + grab);
        return to + grab;
    }
    static std::optional<double> placementX(ClotheslineCanvasView& canvas, const Photo& photo) {
        const auto place = canvas.placement(photo);
        return place ? std::optional<double>(place->x) : std::nullopt;
    }
    static ClotheslinePlacement stored(Rope& rope, int index) {
        return *rope.model->clotheslinePlacements().position(rope.model->photos().at(index));
    }
};

} // namespace

TEST_F(ClotheslineCanvasPegTest, APegSlidesItsGroupAlongTheRopeKeepingTheSpacingAndNeverPastAnEnd) {
    Rope rope(3);
    hang(rope, {{0, 0.1}, {1, 0.6}, {2, 0.9}});
    ClotheslineCanvasView& canvas = rope.canvas();
    const QList<Photo> photos = rope.model->photos();
    const auto historyBefore = rope.model->undoHistory().size();

    // One print carried beyond the right end stops at the end.
    const QPointF end = carry(canvas, photos[2], ropeAt(canvas, 1.0) + QPointF(4, 0), false);
    ASSERT_TRUE(canvas.localPegDragActive());
    EXPECT_EQ(canvas.dragIntent(), ClotheslineDragIntent::movePeg);
    EXPECT_TRUE(canvas.internalDrop()) << "the peg touches the rope near its end";
    EXPECT_TRUE(canvas.hiddenPhotoIDs().isEmpty()) << "without panels the print stays drawn on the rope";
    mouse(canvas, QEvent::MouseButtonRelease, end);
    EXPECT_FALSE(canvas.sessionInProgress());
    EXPECT_DOUBLE_EQ(stored(rope, 2).x, 1.0);

    // A group of two dragged left by a lot: the leader stops where the other reaches 0.
    rope.model->setSelection({photos[0], photos[1]});
    ASSERT_TRUE(rope.model->selectionMode());
    rope.settleUpdates();
    carry(canvas, photos[1], ropeAt(canvas, 0.0));
    EXPECT_FALSE(canvas.sessionInProgress());
    EXPECT_NEAR(stored(rope, 0).x, 0.0, 1e-9);
    EXPECT_NEAR(stored(rope, 1).x, 0.5, 1e-9);
    EXPECT_EQ(stored(rope, 0).row, 0);
    EXPECT_EQ(stored(rope, 1).row, 0);
    EXPECT_DOUBLE_EQ(stored(rope, 2).x, 1.0) << "a print not carried stays";
    EXPECT_EQ(rope.model->undoHistory().size(), historyBefore) << "a slide is not an undoable action";
    rope.model->endSelection();
}

TEST_F(ClotheslineCanvasPegTest, AGroupSpanningTheRopeCannotMoveAndTheOffsetIsClampedBothWays) {
    Rope rope(2);
    hang(rope, {{0, 0.0}, {1, 1.0}});
    ClotheslineCanvasView& canvas = rope.canvas();
    const QList<Photo> photos = rope.model->photos();
    rope.model->setSelection(photos);
    rope.settleUpdates();
    carry(canvas, photos[0], ropeAt(canvas, 0.5), false);
    ASSERT_TRUE(canvas.localPegDragActive());
    EXPECT_EQ(canvas.sessionEntries().size(), 2);
    for (double x : {-0.5, 0.0, 0.3, 1.5})
        EXPECT_DOUBLE_EQ(canvas.offsetForReposition(ropeAt(canvas, x) + canvas.grabOffset()), 0.0) << x;
    canvas.cancelOperation();
    EXPECT_FALSE(canvas.sessionInProgress()) << "Escape ends a peg drag that stays with the canvas";
    EXPECT_DOUBLE_EQ(stored(rope, 0).x, 0.0);
    EXPECT_DOUBLE_EQ(stored(rope, 1).x, 1.0);
}

TEST_F(ClotheslineCanvasPegTest, APegPulledOffTheRopeTakesItsPrintsDownAsOneUndoableStepOrNoneAtAll) {
    Rope rope(3);
    hang(rope, {{0, 0.1}, {1, 0.5}, {2, 0.9}});
    ClotheslineCanvasView& canvas = rope.canvas();
    const QList<Photo> photos = rope.model->photos();

    // Three carried, one of them taken down meanwhile: neither a take-down nor a slide happens.
    rope.model->setSelection(photos);
    rope.settleUpdates();
    carry(canvas, photos[1], ropeAt(canvas, 0.5) + QPointF(0, 200), false);
    ASSERT_TRUE(canvas.localPegDragActive());
    EXPECT_FALSE(canvas.internalDrop());
    EXPECT_FALSE(canvas.receivesPegDrag(ropeAt(canvas, 0.5) + QPointF(0, 200) + canvas.grabOffset()))
        << "far below the rope nothing receives the peg";
    ASSERT_TRUE(rope.model->setHanging({photos[2]}, false, RopeHistoryRecording::untracked));
    const auto history = rope.model->undoHistory().size();
    EXPECT_FALSE(canvas.commitTakeDownDrop());
    EXPECT_FALSE(canvas.commitReposition(ropeAt(canvas, 0.5) + canvas.grabOffset()));
    mouse(canvas, QEvent::MouseButtonRelease, ropeAt(canvas, 0.5) + QPointF(0, 200) + canvas.grabOffset());
    EXPECT_FALSE(canvas.sessionInProgress());
    EXPECT_TRUE(rope.model->hangs(photos[0]));
    EXPECT_TRUE(rope.model->hangs(photos[1]));
    EXPECT_EQ(rope.model->undoHistory().size(), history);
    ASSERT_TRUE(rope.model->setHanging({photos[2]}, true, RopeHistoryRecording::untracked));
    rope.model->endSelection();
    rope.settleUpdates();

    // One print pulled off: it comes down, recorded; undo hangs it again at its place.
    const ClotheslinePlacement before = stored(rope, 1);
    carry(canvas, photos[1], ropeAt(canvas, 0.5) + QPointF(0, 220));
    EXPECT_FALSE(canvas.sessionInProgress());
    EXPECT_FALSE(rope.model->hangs(photos[1]));
    EXPECT_TRUE(rope.model->hangs(photos[0]));
    ASSERT_EQ(rope.model->undoHistory().size(), history + 1);
    rope.model->undoRopeAction();
    EXPECT_TRUE(rope.model->hangs(photos[1]));
    EXPECT_EQ(stored(rope, 1), before);

    // Escape during the drag: nothing comes down.
    rope.settleUpdates();
    carry(canvas, photos[0], ropeAt(canvas, 0.1) + QPointF(0, 220), false);
    ASSERT_TRUE(canvas.localPegDragActive());
    EXPECT_TRUE(canvas.cancelOperation());
    EXPECT_TRUE(canvas.dragCancelled());
    EXPECT_TRUE(rope.model->hangs(photos[0]));
}

TEST_F(ClotheslineCanvasPegTest, ACarriedPegPullsTheRopeOnlyWhileItTouchesAndThePullEasesIn) {
    ReduceMotion::setReader([] { return std::optional<bool>(false); });
    Rope rope(2);
    hang(rope, {{0, 0.3}, {1, 0.7}});
    ClotheslineCanvasView& canvas = rope.canvas();
    const QList<Photo> photos = rope.model->photos();
    const double restMiddle = canvas.physics().target[48];

    // Lifted 14 points above the rope near the middle: it still touches and pulls the rope up.
    carry(canvas, photos[0], ropeAt(canvas, 0.5) + QPointF(0, -14), false);
    ASSERT_TRUE(canvas.localPegDragActive());
    EXPECT_TRUE(canvas.smoothPegMotion());
    EXPECT_TRUE(canvas.internalDrop());
    ASSERT_TRUE(QTest::qWaitFor([&] { return canvas.pullProgress() >= 1; }, 3000));
    EXPECT_LT(canvas.physics().target[48], restMiddle - 5) << "the rope bends up toward the peg";

    // Far off the rope the carried print loads nothing and nothing pulls.
    const QPointF off = ropeAt(canvas, 0.5) + QPointF(0, 300) + canvas.grabOffset();
    mouse(canvas, QEvent::MouseMove, off);
    EXPECT_FALSE(canvas.internalDrop());
    const auto loadsWithoutIt = ClotheslinePhysics::equilibrium(
        {canvas.ropeGeometry().supportFraction(0.7)},
        canvas.ropeGeometry().usableSpan() + 2 * ClotheslineRopeGeometry::kEndOverhang);
    EXPECT_NEAR(canvas.physics().target[48], loadsWithoutIt[48], 1e-9);
    canvas.cancelOperation();
}
