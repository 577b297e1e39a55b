#include "RopeModelFixture.h"

#include <QTest>
#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;

namespace {

RopeTrashedItem trashed(const Photo& photo) {
    return {photo, "trash:///" + photo.id, true, false, 0.5};
}

} // namespace

TEST(RopeHistory, TwentyOneTakeDownsKeepTheNewestTwenty) {
    RopeModel rope(21);
    for (const Photo& photo : rope.photos)
        ASSERT_TRUE(rope->setHanging({photo}, false, RopeHistoryRecording::record));
    ASSERT_EQ(rope->undoHistory().size(), GalleryModel::kRopeHistoryLimit);
    EXPECT_EQ(rope->undoHistory().first(), RopeHistoryEntry::takeDown({rope.photos[1]}))
        << "the oldest is gone";
    EXPECT_EQ(rope->takeDownUndoGeneration(), 21u);

    for (int i = 0; i < 25; ++i)
        rope->undoRopeAction();
    EXPECT_TRUE(rope->undoHistory().isEmpty());
    EXPECT_EQ(rope->redoHistory().size(), GalleryModel::kRopeHistoryLimit);
    EXPECT_FALSE(rope->hangs(rope.photos[0])) << "the first take-down could no longer be undone";
    EXPECT_TRUE(rope->hangs(rope.photos[1]));
}

TEST(RopeHistory, UndoHangsAgainInPlaceAndRedoReplaysWithoutEmptyingRedo) {
    RopeModel rope(4);
    const QList<Photo>& p = rope.photos;
    ASSERT_TRUE(rope->ensureClotheslinePositions(10));
    ASSERT_TRUE(rope->moveClotheslinePhotos({{p[0], 0, 0.25}, {p[1], 0, 0.75}}));
    const auto placements = rope->clotheslinePlacements().records();
    EXPECT_EQ(rope->ropeUndoTitle(), "撤销");
    EXPECT_EQ(rope->ropeRedoTitle(), "重做");

    ASSERT_TRUE(rope->setHanging({p[0], p[1]}, false, RopeHistoryRecording::record));
    ASSERT_TRUE(rope->setHanging({p[2]}, false, RopeHistoryRecording::record));
    EXPECT_EQ(rope->ropeUndoTitle(), "撤销取下");
    rope->undoRopeAction();
    rope->undoRopeAction();
    EXPECT_TRUE(rope->hangs(p[0]) && rope->hangs(p[1]) && rope->hangs(p[2]));
    EXPECT_EQ(rope->clotheslinePlacements().records(), placements) << "prints return to their kept places";
    ASSERT_EQ(rope->redoHistory().size(), 2);
    EXPECT_EQ(rope->ropeRedoTitle(), "重做取下");

    rope->redoRopeAction();
    EXPECT_FALSE(rope->hangs(p[0]) || rope->hangs(p[1]));
    EXPECT_EQ(rope->undoHistory().size(), 1) << "the replay pushed the entry";
    EXPECT_EQ(rope->redoHistory().size(), 1) << "a replay keeps the rest of redo";

    ASSERT_TRUE(rope->setHanging({p[3]}, false, RopeHistoryRecording::replay));
    EXPECT_EQ(rope->redoHistory().size(), 1) << "replay";
    ASSERT_TRUE(rope->setHanging({p[3]}, true, RopeHistoryRecording::untracked));
    ASSERT_TRUE(rope->setHanging({p[3]}, false, RopeHistoryRecording::record));
    EXPECT_TRUE(rope->redoHistory().isEmpty()) << "a new action empties redo";
}

TEST(RopeHistory, UndoAndRedoMoveAnEntryOnlyWhenTheyWorked) {
    RopeModel rope(3);
    const QList<Photo>& p = rope.photos;
    ASSERT_TRUE(rope->setHanging({p[0]}, false, RopeHistoryRecording::record));

    rope.lineFails->store(true);
    const auto generation = rope->takeDownUndoGeneration();
    rope->undoRopeAction();
    EXPECT_EQ(rope->undoHistory().size(), 1) << "a failed undo keeps the entry";
    EXPECT_TRUE(rope->redoHistory().isEmpty());
    EXPECT_EQ(rope->takeDownUndoGeneration(), generation);
    EXPECT_TRUE(rope->lineError());
    rope.lineFails->store(false);

    rope->setImporting(true);
    EXPECT_FALSE(rope->canUndoRopeAction());
    rope->undoRopeAction();
    EXPECT_EQ(rope->undoHistory().size(), 1) << "busy";
    rope->setImporting(false);

    // Hung again by other means: nothing to change still counts as an undo.
    ASSERT_TRUE(rope->setHanging({p[0]}, true, RopeHistoryRecording::untracked));
    rope->undoRopeAction();
    EXPECT_TRUE(rope->undoHistory().isEmpty());
    ASSERT_EQ(rope->redoHistory().size(), 1);

    // Taken down by other means: the redo goes and no undo entry appears.
    ASSERT_TRUE(rope->setHanging({p[0]}, false, RopeHistoryRecording::untracked));
    rope->redoRopeAction();
    EXPECT_TRUE(rope->redoHistory().isEmpty());
    EXPECT_TRUE(rope->undoHistory().isEmpty());
}

TEST(RopeHistory, RedoFindsTheLivePhotoButNeverAReplacedFile) {
    RopeModel rope(2);
    const QList<Photo>& p = rope.photos;
    ASSERT_TRUE(rope->setHanging({p[0], p[1]}, false, RopeHistoryRecording::record));
    rope->undoRopeAction();

    // p0 re-scanned under a new id but the same file; p1 replaced by a new file of the same number.
    Photo rescanned = p[0];
    rescanned.id = "new-id";
    rescanned.usageID = p[0].recordKey();
    Photo replacement = p[1];
    replacement.created = *p[1].created + 500;
    rope.show({rescanned, replacement});
    ASSERT_TRUE(rope->hangs(replacement)) << "the new file hangs by its own record";
    EXPECT_EQ(rope->livePhoto(p[0]), rescanned);
    EXPECT_FALSE(rope->livePhoto(p[1])) << "another file birth is another photo";

    rope->pruneRopeHistory({replacement});
    EXPECT_EQ(rope->redoHistory().size(), 1) << "pruning the new file leaves the old one's entry";

    rope->redoRopeAction();
    EXPECT_FALSE(rope->hangs(rescanned));
    EXPECT_TRUE(rope->hangs(replacement)) << "the replaced file did not inherit the take-down";
    EXPECT_EQ(rope->undoHistory().last(), RopeHistoryEntry::takeDown({rescanned}));
}

TEST(RopeHistory, PruningDropsDeletedPhotosFromBothSides) {
    RopeModel rope(1);
    const Photo a = recordPhoto(10), b = recordPhoto(11), c = recordPhoto(12);
    Photo bAgain = b;
    bAgain.created = *b.created + 1; // a newer file of the same number
    rope->pushUndo(RopeHistoryEntry::takeDown({a}), true);
    rope->pushUndo(RopeHistoryEntry::trash({trashed(a), trashed(b)}), true);
    rope->pushUndo(RopeHistoryEntry::move({PegReturnRecord{c, a, {}, {}}}, "/dir"), true);
    rope->pushRedo(RopeHistoryEntry::takeDown({a}));
    rope->pushRedo(RopeHistoryEntry::move({PegReturnRecord{a, c, {}, {}}}, "/dir"));
    const auto undoBefore = rope->undoHistory();
    const auto redoBefore = rope->redoHistory();
    const auto generation = rope->takeDownUndoGeneration();

    rope->pruneRopeHistory({bAgain, recordPhoto(40)});
    rope->pruneRopeHistory({});
    EXPECT_EQ(rope->takeDownUndoGeneration(), generation) << "nothing matched";
    EXPECT_EQ(rope->undoHistory(), undoBefore);

    rope->pruneRopeHistory({a});
    // The undo side of a move is decided by the delivered file, the redo side by the original.
    EXPECT_EQ(rope->undoHistory(), QList<RopeHistoryEntry>{RopeHistoryEntry::trash({trashed(b)})});
    EXPECT_TRUE(rope->redoHistory().isEmpty());
    EXPECT_EQ(rope->takeDownUndoGeneration(), generation + 1);
    EXPECT_EQ(rope->ropeUndoTitle(), "撤销删除");
}

TEST(RopeHistory, RemappingRepointsEntriesAndKeepsExportsWhenAsked) {
    RopeModel rope(1);
    const Photo a = recordPhoto(10), b = recordPhoto(11);
    Photo moved = a;
    moved.id = "moved";
    moved.usageID = QString("moved-key");
    rope->pushUndo(RopeHistoryEntry::takeDown({a, b}), true);
    rope->pushRedo(RopeHistoryEntry::trash({trashed(a)}));
    rope->insertUsedCopyID(a.recordKey());

    rope->remapRopeHistory({{a, moved}}, false);
    EXPECT_FALSE(rope->usedCopyIDs().contains(moved.recordKey()));
    rope->remapRopeHistory({{moved, a}}, false);
    rope->remapRopeHistory({{a, moved}}, true);
    EXPECT_TRUE(rope->usedCopyIDs().contains(moved.recordKey())) << "a copied-out photo stays copied out";
    EXPECT_EQ(rope->undoHistory().last(), RopeHistoryEntry::takeDown({moved, b}));
    EXPECT_EQ(rope->redoHistory().last(), RopeHistoryEntry::trash({trashed(a)}).remapping({{a, moved}}));
}

// Copies, folder moves and the Trash are reached through their seams.
TEST(RopeHistory, InjectedEntriesWaitForTheirOperations) {
    RopeModel rope(1);
    // The history on its own: the real steps are tested with their operations.
    rope->ropeActionSeams() = RopeActionSeams{};
    const Photo a = recordPhoto(10), b = recordPhoto(11), c = recordPhoto(12);
    const auto copyEntry = RopeHistoryEntry::copy({CopyUndoRecord{a, b, "digest", false}}, 0.4);
    const auto moveEntry = RopeHistoryEntry::move({PegReturnRecord{a, c, {}, {}}}, "/dir");
    const auto trashEntry = RopeHistoryEntry::trash({trashed(a), trashed(b), trashed(c)});

    // Steps that report nothing done move nothing on either side.
    for (const auto& entry : {copyEntry, moveEntry, trashEntry}) {
        rope->pushUndo(entry, true);
        rope->undoRopeAction();
        EXPECT_EQ(rope->undoHistory().last(), entry) << entry.menuWord().toStdString();
        EXPECT_TRUE(rope->redoHistory().isEmpty());
    }
    rope->pushRedo(moveEntry);
    rope->redoRopeAction();
    EXPECT_EQ(rope->redoHistory().last(), moveEntry) << "a failed move redo returns the entry";
    rope->pushRedo(copyEntry);
    rope->redoRopeAction();
    EXPECT_EQ(rope->redoHistory().last(), copyEntry);

    // Two of three trashed photos come back: the third stays to be undone.
    rope->ropeActionSeams().restoreTrashedItems = [&](const QList<RopeTrashedItem>& items) {
        return QList<RopeTrashedItem>{items[0], items[2]};
    };
    const auto undoSize = rope->undoHistory().size();
    rope->undoRopeAction();
    EXPECT_EQ(rope->undoHistory().size(), undoSize);
    EXPECT_EQ(rope->undoHistory().last(), RopeHistoryEntry::trash({trashed(b)}));
    EXPECT_EQ(rope->redoHistory().last(), RopeHistoryEntry::trash({trashed(a), trashed(c)}));

    rope->pushUndo(moveEntry, false);
    const PegReturnRecord back{a, c, ClotheslinePlacement{0, 0.3, 1}, {}};
    rope->ropeActionSeams().restorePegFolderMove = [&](const QList<PegReturnRecord>&) {
        return std::optional<QList<PegReturnRecord>>(QList<PegReturnRecord>{back});
    };
    rope->undoRopeAction();
    EXPECT_EQ(rope->redoHistory().last(), RopeHistoryEntry::move({back}, "/dir"));

    // A copy's undo completes later, and only then moves its entry.
    rope->pushUndo(copyEntry, false);
    RopeActionSeams::CopiesRecycled finish;
    rope->ropeActionSeams().recycleUndoneCopies = [&](const QList<CopyUndoRecord>&,
                                                      RopeActionSeams::CopiesRecycled completion) {
        finish = std::move(completion);
    };
    rope->undoRopeAction();
    EXPECT_EQ(rope->undoHistory().last(), copyEntry);
    ASSERT_TRUE(finish);
    finish({CopyUndoRecord{a, b, "digest", true}}, {});
    EXPECT_EQ(rope->redoHistory().last(),
              RopeHistoryEntry::copy({CopyUndoRecord{a, b, "digest", true}}, 0.4));
    EXPECT_EQ(rope->ropeRedoTitle(), "重做复制");

    // Copies the Trash refused stay on the undo side; only what was undone moves over.
    const CopyUndoRecord first{a, b, "digest", false}, second{c, c, "digest", false};
    const auto pair = RopeHistoryEntry::copy({first, second}, 0.6);
    rope->pushUndo(pair, true);
    rope->undoRopeAction();
    ASSERT_TRUE(finish);
    finish({}, {first, second});
    EXPECT_EQ(rope->undoHistory().last(), pair) << "nothing undone, nothing moves";
    EXPECT_TRUE(rope->redoHistory().isEmpty());
    const auto undoCount = rope->undoHistory().size();
    rope->undoRopeAction();
    CopyUndoRecord gone = first;
    gone.recycled = true;
    finish({gone}, {second});
    EXPECT_EQ(rope->undoHistory().size(), undoCount);
    EXPECT_EQ(rope->undoHistory().last(), RopeHistoryEntry::copy({second}, 0.6));
    EXPECT_EQ(rope->redoHistory(), QList<RopeHistoryEntry>{RopeHistoryEntry::copy({gone}, 0.6)});
}

TEST(RopeHistory, RedoOfATrashChecksTheFilesFirst) {
    RopeModel rope(1);
    const Photo onDisk = photoFileNamed("kept.jpg", "not an image, only a file");
    const auto gone = RopeHistoryEntry::trash({trashed(recordPhoto(10))});
    rope->pushRedo(gone);
    rope->redoRopeAction();
    EXPECT_EQ(rope->actionError(), "无法重做删除：原图已移动或被替换，请重新选择照片。");
    EXPECT_EQ(rope->redoHistory().last(), gone);

    const auto present = RopeHistoryEntry::trash({trashed(onDisk)});
    rope->pushRedo(present);
    rope->setAuthorizeTrash([](const QList<Photo>&) { return false; });
    rope->redoRopeAction();
    EXPECT_EQ(rope->redoHistory().size(), 2) << "not granted";

    rope->setAuthorizeTrash([](const QList<Photo>&) { return true; });
    QList<Photo> deleting;
    rope->ropeActionSeams().trashSelection = [&](const QList<Photo>& photos, RopeHistoryRecording recording,
                                                 std::function<void()> onNothingDeleted) {
        deleting = photos;
        EXPECT_EQ(recording, RopeHistoryRecording::replay);
        onNothingDeleted();
    };
    const auto generation = rope->takeDownUndoGeneration();
    rope->redoRopeAction();
    EXPECT_EQ(deleting, QList<Photo>{onDisk});
    EXPECT_EQ(rope->redoHistory().last(), present) << "nothing deleted: the entry returns";
    EXPECT_EQ(rope->takeDownUndoGeneration(), generation + 2);
}
