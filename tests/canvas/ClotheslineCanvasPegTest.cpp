#include "canvas/PegDragBadge.h"
#include "canvas/PegDropSurfaces.h"
#include "canvas/PegTakeDownView.h"
#include "canvas/PegTestBase.h"
#include "dragdrop/PegFolderDelivery.h"
#include "dragdrop/PegNativePayload.h"
#include "platform/ReduceMotion.h"
#include "platform/UserDefaults.h"
#include "support/WaitUntil.h"

#include <QApplication>
#include <QCursor>
#include <QDir>
#include <QDrag>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>

using namespace vennimo;
using namespace vennimo::test;

namespace {

class ClotheslineCanvasPegTest : public PegTestBase {};

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
    ASSERT_TRUE(QTest::qWaitFor([&] { return canvas.pullProgress() >= 1; }, 10000));
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

TEST_F(ClotheslineCanvasPegTest, OverAFileManagerThePegsLeaveAsADirectSavePromiseThatMovesTheOriginalsOnce) {
    Rope rope(3);
    hang(rope, {{0, 0.1}, {1, 0.5}, {2, 0.9}});
    ClotheslineCanvasView& canvas = rope.canvas();
    const QList<Photo> photos = rope.model->photos();
    const QString folder = makeFolder("peg-album");
    const QPointF off = fileManagerBelowTheRope(canvas);
    Qt::DropAction outcome = Qt::CopyAction;
    PegDirectSaveMimeData* data = nullptr;
    int execs = 0;
    canvas.setDragExec([&](QDrag& drag) {
        ++execs;
        data = dynamic_cast<PegDirectSaveMimeData*>(drag.mimeData());
        EXPECT_FALSE(canvas.localPegDragActive()) << "the system runs the drag now";
        EXPECT_TRUE(canvas.sessionFolderDelivery());
        EXPECT_TRUE(canvas.pegDragBadge());
        EXPECT_EQ(canvas.pegDragBadge() ? canvas.pegDragBadge()->count() : 0,
                  rope.model->selectionMode() ? 2 : 1);
        return outcome;
    });
    const auto fileUri = [&](const Photo& photo) {
        return QUrl::fromLocalFile(folder + "/" + QFileInfo(photo.path).fileName()).toEncoded();
    };

    // Two selected prints over the file manager: the drag offers the promise alone; the file
    // manager asks after the drag loop has returned, and both originals move there once.
    rope.model->setSelection({photos[0], photos[1]});
    rope.settleUpdates();
    carry(canvas, photos[1], off, false);
    ASSERT_EQ(execs, 1);
    ASSERT_TRUE(data);
    EXPECT_FALSE(canvas.sessionInProgress());
    EXPECT_EQ(data->formats(), QStringList{"XdndDirectSave0"});
    EXPECT_TRUE(rope.model->hangs(photos[1])) << "nothing moves before the file manager asks";
    EXPECT_EQ(data->answerFor(fileUri(photos[1])), "S");
    EXPECT_EQ(data->answerFor(fileUri(photos[0])), "S");
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), (QStringList{"p0.png", "p1.png"}));
    EXPECT_FALSE(rope.model->hangs(photos[0]));
    EXPECT_FALSE(rope.model->hangs(photos[1]));
    EXPECT_TRUE(rope.model->hangs(photos[2]));
    rope.model->undoRopeAction();
    EXPECT_TRUE(QFile::exists(photos[0].path));
    EXPECT_TRUE(QFile::exists(photos[1].path));
    EXPECT_TRUE(QDir(folder).entryList(QDir::Files).isEmpty());
    rope.settleUpdates();
    ASSERT_TRUE(rope.waitForRest());

    // A drag that ended with no drop taken answers a late request "E" and moves nothing.
    const QList<Photo> current = rope.model->photos();
    const Photo& third = current[2];
    rope.model->endSelection();
    rope.settleUpdates();
    outcome = Qt::IgnoreAction;
    carry(canvas, third, QPointF(ropeAt(canvas, 0.9).x(), off.y()), false);
    ASSERT_EQ(execs, 2);
    EXPECT_EQ(data->answerFor(fileUri(third)), "E");
    EXPECT_TRUE(QFile::exists(third.path));
    EXPECT_FALSE(rope.model->actionError()) << "a cancelled drag has nothing to tell";

    // A destination that is no plain folder is refused, the print stays, and the user learns why.
    outcome = Qt::CopyAction;
    carry(canvas, third, QPointF(ropeAt(canvas, 0.9).x(), off.y()), false);
    ASSERT_EQ(execs, 3);
    EXPECT_EQ(data->answerFor("file://elsewhere/tmp/p2.png"), "E");
    EXPECT_TRUE(QFile::exists(third.path));
    EXPECT_TRUE(rope.model->hangs(third));
    EXPECT_TRUE(rope.model->actionError());
}

// One item of the drop answered for the Trash, another for a folder: the photo is put up for the
// Trash once and moves nowhere, so trashing it after the confirmation finds it where it was.
TEST_F(ClotheslineCanvasPegTest, ADropOnTheTrashAndAFolderAtOnceOnlyTrashes) {
    Rope rope(2);
    hang(rope, {{0, 0.3}, {1, 0.7}});
    ClotheslineCanvasView& canvas = rope.canvas();
    const Photo photo = rope.model->photos()[1];
    const QString folder = makeFolder("peg-trash-and-folder");
    const QPointF off = fileManagerBelowTheRope(canvas);
    PegDirectSaveMimeData* data = nullptr;
    canvas.setDragExec([&](QDrag& drag) {
        data = dynamic_cast<PegDirectSaveMimeData*>(drag.mimeData());
        return Qt::CopyAction;
    });
    QList<QList<Photo>> confirmations;
    rope.model->setRequestTrashConfirmation([&](const QList<Photo>& asked) {
        confirmations.append(asked);
        return true;
    });
    rope.model->setAuthorizeTrash([](const QList<Photo>&) { return true; });
    carry(canvas, photo, off, false);
    ASSERT_TRUE(data);

    EXPECT_EQ(data->answerFor("trash:///p1.png"), "E");
    EXPECT_EQ(data->answerFor(QUrl::fromLocalFile(folder + "/p1.png").toEncoded()), "E");
    EXPECT_TRUE(QDir(folder).isEmpty());
    EXPECT_TRUE(QFile::exists(photo.path)) << "nothing moves away from under the confirmation";
    ASSERT_TRUE(waitUntil([&] { return !confirmations.isEmpty() && !rope.model->deleting(); }));
    ASSERT_EQ(confirmations.size(), 1);
    EXPECT_EQ(confirmations[0].size(), 1);
    EXPECT_EQ(rope.model->actionError(), std::nullopt) << "the photo was where the Trash looked for it";
    EXPECT_FALSE(QFile::exists(photo.path));
    EXPECT_FALSE(rope.model->hangs(photo));
    EXPECT_TRUE(QDir(folder).isEmpty());
}

TEST_F(ClotheslineCanvasPegTest, EscapeAndTheReleaseInOneBatchSlideAndTakeDownNothing) {
    Rope rope(3);
    hang(rope, {{0, 0.1}, {1, 0.5}, {2, 0.9}});
    ClotheslineCanvasView& canvas = rope.canvas();
    const QList<Photo> photos = rope.model->photos();
    const auto history = rope.model->undoHistory().size();
    const struct {
        const char* what;
        QPointF to;
    } cases[] = {{"on the rope", ropeAt(canvas, 0.3)},
                 {"off the rope", ropeAt(canvas, 0.5) + QPointF(0, 220)}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const QPointF release = carry(canvas, photos[1], c.to, false);
        ASSERT_TRUE(canvas.localPegDragActive());
        // The release comes before the turn in which the canvas would end the drag for Escape.
        pressEscapeIn(*rope.window);
        mouse(canvas, QEvent::MouseButtonRelease, release);
        EXPECT_FALSE(canvas.sessionInProgress());
        rope.settleUpdates();
        EXPECT_TRUE(rope.model->hangs(photos[1]));
        EXPECT_DOUBLE_EQ(stored(rope, 1).x, 0.5);
        EXPECT_EQ(rope.model->undoHistory().size(), history);
    }
}

TEST_F(ClotheslineCanvasPegTest, AReplacedFileSpoilsThePegSlideItWasLiftedFor) {
    Rope rope(3);
    hang(rope, {{0, 0.1}, {1, 0.5}, {2, 0.9}});
    ClotheslineCanvasView& canvas = rope.canvas();
    const Photo carried = rope.model->photos().at(1);
    const ClotheslinePlacement before = stored(rope, 1);
    const QPointF release = carry(canvas, carried, ropeAt(canvas, 0.3), false);
    ASSERT_TRUE(canvas.localPegDragActive());

    // Another file takes its name while it is carried. It may even get the same file number
    // (and so the same photo id), but never the same birth.
    ASSERT_TRUE(QFile::remove(carried.path));
    saveImage(makeImage(90, 20, Qt::darkRed), carried.path);
    rope.model->refresh(std::nullopt, false);
    ASSERT_TRUE(waitUntil([&] {
        const QList<Photo> now = rope.model->photos();
        return !rope.model->scanInFlight() && std::none_of(now.cbegin(), now.cend(), [&](const Photo& photo) {
            return photo.id == carried.id && sameFileBirth(photo.created, carried.created);
        });
    })) << "the replacement was never seen";
    mouse(canvas, QEvent::MouseButtonRelease, release);
    EXPECT_FALSE(canvas.sessionInProgress());
    for (const Photo& photo : rope.model->photos()) {
        if (photo.path != carried.path)
            continue;
        const auto after = rope.model->clotheslinePlacements().position(photo);
        EXPECT_TRUE(!after || after->x == before.x) << "the replacement slid with the pegs";
    }
    const auto after = rope.model->clotheslinePlacements().position(carried);
    EXPECT_TRUE(!after || after->x == before.x);
}

TEST_F(ClotheslineCanvasPegTest, TheCountShowsOverAFileManagerButNeverOverTheRope) {
    Rope rope(3);
    hang(rope, {{0, 0.1}, {1, 0.5}, {2, 0.9}});
    ClotheslineCanvasView& canvas = rope.canvas();
    const QList<Photo> photos = rope.model->photos();
    // A file manager's window behind the whole rope window.
    canvas.setNativeDestination([](QPointF) { return true; });
    const QPointF off = ropeAt(canvas, 0.5) + QPointF(0, 260);
    bool shownOff = false, shownOnRope = true, shownOffAgain = false;
    canvas.setDragExec([&](QDrag&) {
        PegDragBadge* badge = canvas.pegDragBadge();
        if (!badge) {
            ADD_FAILURE() << "no badge";
            return Qt::IgnoreAction;
        }
        QCursor::setPos(canvas.mapToGlobal(off + canvas.grabOffset()).toPoint());
        shownOff = waitUntil([&] { return badge->visible(); });
        QCursor::setPos(canvas.mapToGlobal(ropeAt(canvas, 0.5) + canvas.grabOffset()).toPoint());
        shownOnRope = !waitUntil([&] { return !badge->visible(); });
        QCursor::setPos(canvas.mapToGlobal(off + canvas.grabOffset()).toPoint());
        shownOffAgain = waitUntil([&] { return badge->visible(); });
        return Qt::IgnoreAction;
    });
    rope.model->setSelection({photos[0], photos[1]});
    rope.settleUpdates();
    carry(canvas, photos[1], off, false);
    EXPECT_TRUE(shownOff) << "two prints over a file manager show their count";
    EXPECT_FALSE(shownOnRope) << "over the rope, which takes them back, the count goes";
    EXPECT_TRUE(shownOffAgain);
    EXPECT_FALSE(canvas.sessionInProgress());
}

TEST_F(ClotheslineCanvasPegTest, ACancelledHandOverMovesNothingWhateverTheTargetAnswered) {
    Rope rope(3);
    hang(rope, {{0, 0.1}, {1, 0.5}, {2, 0.9}});
    ClotheslineCanvasView& canvas = rope.canvas();
    const QList<Photo> photos = rope.model->photos();
    const QString folder = makeFolder("peg-cancelled");
    const QPointF off = fileManagerBelowTheRope(canvas);
    PegDirectSaveMimeData* data = nullptr;
    const auto history = rope.model->undoHistory().size();
    canvas.setDragExec([&](QDrag& drag) {
        data = dynamic_cast<PegDirectSaveMimeData*>(drag.mimeData());
        // Escape, and a drop the file manager took in the same moment, before the loop saw the key.
        pressEscapeIn(*rope.window);
        return Qt::CopyAction;
    });
    carry(canvas, photos[1], off, false);
    ASSERT_TRUE(data);
    EXPECT_FALSE(canvas.sessionInProgress());
    const QByteArray uri =
        QUrl::fromLocalFile(folder + "/" + QFileInfo(photos[1].path).fileName()).toEncoded();
    EXPECT_EQ(data->answerFor(uri), "E");
    EXPECT_TRUE(QFile::exists(photos[1].path));
    EXPECT_TRUE(QDir(folder).isEmpty());
    EXPECT_TRUE(rope.model->hangs(photos[1]));
    EXPECT_DOUBLE_EQ(stored(rope, 1).x, 0.5);
    EXPECT_EQ(rope.model->undoHistory().size(), history);
}

TEST(PegDropSurfaces, OnlyFileManagersThatAnswerADirectSaveTakeAPeg) {
    EXPECT_TRUE(PegDropSurfaces::takesDirectSave({1, "thunar", "Thunar"}));
    EXPECT_TRUE(PegDropSurfaces::takesDirectSave({1, "pcmanfm-qt", "pcmanfm-qt"}));
    EXPECT_TRUE(PegDropSurfaces::takesDirectSave({1, "xfdesktop", "Xfdesktop"}));
    EXPECT_FALSE(PegDropSurfaces::takesDirectSave({1, "gedit", "Gedit"}));
    EXPECT_FALSE(PegDropSurfaces::takesDirectSave({1, "", ""}));
    // Off X11 there is no window stack to ask: the drag stays with the canvas.
    EXPECT_FALSE(PegDropSurfaces::yieldsToNativeDestination({10, 10}));
}

TEST(PegDropSurfaces, CatchersShowWhereNoFileManagerIsAndTheRopeWindowStaysAboveThemUntilTheEnd) {
    QWidget content;
    FakeRopeWindowPort port(&content);
    {
        PegDropSurfaces surfaces(nullptr, &port, true);
        ASSERT_EQ(surfaces.catchers().size(), QGuiApplication::screens().size());
        const QRect screen = QGuiApplication::primaryScreen()->geometry();
        EXPECT_EQ(surfaces.catchers().value(0)->geometry(), screen) << "one catcher covers each screen";
        EXPECT_EQ(surfaces.catchersShown(), 0) << "nothing shows before the first route";

        surfaces.route({10, 10}, false, true);
        EXPECT_EQ(surfaces.catchersShown(), 0) << "over a file manager the file manager takes the peg";
        surfaces.route({20, 10}, false, false);
        EXPECT_EQ(surfaces.catchersShown(), 1);
        EXPECT_EQ(port.level, PegDropSurfaces::kRaisedLevel) << "the rope window lies above the catchers";
        EXPECT_TRUE(surfaces.raisedGallery());
        surfaces.route({20, 10}, false, true);
        EXPECT_EQ(surfaces.catchersShown(), 1) << "an unchanged point routes nothing";
        surfaces.route({30, 10}, true, true);
        EXPECT_EQ(surfaces.catchersShown(), 1) << "over the rope the catchers keep their state";
        surfaces.route({40, 10}, false, true);
        EXPECT_EQ(surfaces.catchersShown(), 0);
    }
    EXPECT_EQ(port.restoredLevels, 1) << "the end gives the rope window its level back";

    // Already above the catchers' level: never lowered, and nothing to give back.
    port.level = 5;
    PegDropSurfaces above(nullptr, &port, true);
    above.route({20, 10}, false, false);
    EXPECT_EQ(port.level, 5);
    EXPECT_FALSE(above.raisedGallery());
    above.close();
    EXPECT_EQ(port.restoredLevels, 1);

    // Without a compositor a near-invisible surface would be a black screen: none are made.
    PegDropSurfaces bare(nullptr, &port, false);
    bare.route({20, 10}, false, false);
    EXPECT_TRUE(bare.catchers().isEmpty());
}

TEST(PegTakeDownView, TakesOnlyTheCanvasOwnPegs) {
    Rope rope(1);
    rope.show();
    PegTakeDownView catcher(&rope.canvas());
    QMimeData data;
    QDropEvent foreign(QPointF(5, 5), Qt::MoveAction, &data, Qt::LeftButton, {});
    EXPECT_FALSE(catcher.dragPoint(foreign)) << "a drag from another source is refused";
}
