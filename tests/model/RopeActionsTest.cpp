#include "RopeModelFixture.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;

namespace {

std::optional<ClotheslinePlacement> placementOf(const GalleryModel& model, const Photo& photo) {
    return const_cast<GalleryModel&>(model).clotheslinePlacements().position(photo);
}

} // namespace

TEST(RopePlacements, PressingATopPrintWritesNothingAndATakenDownPrintIsRefused) {
    RopeModel rope(3);
    ASSERT_TRUE(rope->ensureClotheslinePositions(10));
    const QList<Photo>& p = rope.photos;
    DeferredStateWriter& writer = rope->clotheslinePlacements().deferredWriter();
    const auto written = [&] { return QTest::qWaitFor([&] { return !writer.needsSave(); }); };
    ASSERT_TRUE(rope->bringClotheslinePhotoToFront(p[0]));
    ASSERT_TRUE(written());
    const int writes = writer.writeCount();
    const auto records = rope->clotheslinePlacements().records();

    QSignalSpy changed(&*rope, &GalleryModel::modelChanged);
    EXPECT_TRUE(rope->bringClotheslinePhotoToFront(p[0])) << "already in front";
    EXPECT_FALSE(writer.needsSave()) << "no write was scheduled";
    EXPECT_EQ(rope->clotheslinePlacements().records(), records);
    EXPECT_EQ(changed.count(), 0);

    // A higher print that no longer hangs does not count as being in front.
    ASSERT_TRUE(rope->bringClotheslinePhotoToFront(p[1]));
    ASSERT_TRUE(rope->setHanging({p[1]}, false, RopeHistoryRecording::record));
    ASSERT_TRUE(written());
    const int writesBefore = writer.writeCount();
    const auto depthBefore = placementOf(*rope, p[1])->zIndex;
    EXPECT_FALSE(rope->bringClotheslinePhotoToFront(p[1])) << "taken down";
    EXPECT_EQ(placementOf(*rope, p[1])->zIndex, depthBefore);
    EXPECT_TRUE(rope->bringClotheslinePhotoToFront(p[0]));
    EXPECT_TRUE(written());
    EXPECT_EQ(writer.writeCount(), writesBefore) << "the top hanging print was pressed";
    EXPECT_GT(writesBefore, writes);
}

TEST(RopePlacements, AMoveBatchIsStoredWholeOrNotAtAll) {
    RopeModel rope(3);
    ASSERT_TRUE(rope->ensureClotheslinePositions(10));
    const QList<Photo>& p = rope.photos;
    Photo replaced = p[2];
    replaced.created = *p[2].created + 50; // another file under the same number

    struct Case {
        const char* name;
        QList<ClotheslinePlacementUpdate> updates;
        bool stored;
    };
    ASSERT_TRUE(rope->setHanging({p[1]}, false, RopeHistoryRecording::record));
    const QList<Case> cases{
        {"one photo was taken down meanwhile", {{p[0], 0, 0.9}, {p[1], 0, 0.8}}, false},
        {"a photo whose file was replaced", {{p[0], 0, 0.9}, {replaced, 0, 0.8}}, false},
        {"a photo that is gone", {{p[0], 0, 0.9}, {recordPhoto(99), 0, 0.8}}, false},
        {"all hang", {{p[0], 0, 0.9}, {p[2], 0, 0.1}}, true},
    };
    for (const Case& c : cases) {
        const auto before = rope->clotheslinePlacements().records();
        EXPECT_EQ(rope->moveClotheslinePhotos(c.updates), c.stored) << c.name;
        if (!c.stored) {
            EXPECT_EQ(rope->clotheslinePlacements().records(), before) << c.name << ": nothing stored";
        }
    }
    EXPECT_EQ(placementOf(*rope, p[0])->x, 0.9);
    EXPECT_EQ(placementOf(*rope, p[2])->x, 0.1);

    rope->setDeleting(true);
    EXPECT_FALSE(rope->moveClotheslinePhotos({{p[0], 0, 0.5}})) << "busy";
    EXPECT_TRUE(rope->ensureClotheslinePositions(10)) << "positions do not wait for a deletion";
}

TEST(RopePlacements, StoreFailuresPublishOnceAndClearOnlyWhenNothingIsOwed) {
    RopeModel rope(2, std::chrono::milliseconds(60'000));
    const QList<Photo>& p = rope.photos;
    rope.placementsFail->store(true);
    QSignalSpy errors(&*rope, &GalleryModel::placementErrorChanged);
    EXPECT_FALSE(rope->ensureClotheslinePositions(10));
    EXPECT_FALSE(rope->ensureClotheslinePositions(10));
    EXPECT_EQ(errors.count(), 1) << "the same text is published once";
    ASSERT_TRUE(rope->placementError() && rope->placementError()->startsWith("照片位置未保存："));

    rope.placementsFail->store(false);
    ASSERT_TRUE(rope->ensureClotheslinePositions(10));
    EXPECT_FALSE(rope->placementError()) << "nothing owed: the stale text goes";

    rope.placementsFail->store(true);
    EXPECT_FALSE(rope->moveClotheslinePhotos({{p[0], 0, 0.7}}));
    ASSERT_TRUE(rope->placementError());
    rope.placementsFail->store(false);
    ASSERT_TRUE(rope->bringClotheslinePhotoToFront(p[0])); // debounced, owed for a minute
    ASSERT_TRUE(rope->clotheslinePlacements().deferredWriter().needsSave());
    ASSERT_TRUE(rope->moveClotheslinePhotos({}));
    EXPECT_TRUE(rope->placementError()) << "a debounced write is still owed";
}

TEST(RopePlacements, DragsCarryTheSelectionAndOnlyCopiesCountAsUsed) {
    RopeModel rope(4);
    const QList<Photo>& p = rope.photos;
    rope->setSelection({p[3], p[1]});
    EXPECT_EQ(rope->dragPhotos(p[3]), (QList<Photo>{p[1], p[3]})) << "the selection in display order";
    EXPECT_EQ(rope->dragPhotos(p[2]), QList<Photo>{p[2]}) << "an unselected print goes alone";

    struct Case {
        Qt::DropAction action;
        bool used;
    };
    for (const Case& c : {Case{Qt::MoveAction, false}, Case{Qt::IgnoreAction, false},
                          Case{Qt::LinkAction, false}, Case{Qt::CopyAction, true}}) {
        rope->completeDrag({p[0]}, c.action);
        EXPECT_EQ(rope->usedCopyIDs().contains(p[0].recordKey()), c.used) << int(c.action);
        EXPECT_EQ(rope->interactions().isUsed(p[0]), c.used) << int(c.action);
    }

    rope->setImporting(true);
    EXPECT_TRUE(rope->dragPhotos(p[3]).isEmpty());
    EXPECT_FALSE(rope->ensureClotheslinePositions(10));
}

TEST(RopePlacements, NothingStartsOrAsksWhileDeletingOrImporting) {
    for (const bool deleting : {true, false}) {
        SCOPED_TRACE(deleting ? "deleting" : "importing");
        RopeModel rope(0);
        const QString folder = makeFolder(QStringLiteral("busy"));
        const QList<Photo> p{photoFileAt(folder + "/a.png", pngBytes(Qt::red)),
                             photoFileAt(folder + "/b.png", pngBytes(Qt::blue)),
                             photoFileAt(folder + "/c.png", pngBytes(Qt::green))};
        rope.show(p);
        ASSERT_TRUE(rope->ensureClotheslinePositions(10));
        int asked = 0;
        rope->setRequestTrashConfirmation([&](const QList<Photo>&) { return ++asked, true; });
        rope->setRequestPhotoCopyConfirmation([&](const QList<Photo>&) { return ++asked, true; });
        rope->setSelection({p[0]});
        const QSet<QString> selected = rope->selectedIDs();
        const auto placements = rope->clotheslinePlacements().records();
        QGuiApplication::clipboard()->setText(QStringLiteral("the user's text"));
        rope->setDeleting(deleting);
        rope->setImporting(!deleting);

        rope->toggleAllSelection(p);
        rope->moveKeyboardSelection(p, 1, false);
        EXPECT_EQ(rope->selectedIDs(), selected);
        EXPECT_FALSE(rope->bringClotheslinePhotoToFront(p[1]));
        EXPECT_EQ(rope->clotheslinePlacements().records(), placements);
        EXPECT_FALSE(rope->copy(p[1]));
        EXPECT_FALSE(rope->copySelection());
        EXPECT_EQ(QGuiApplication::clipboard()->text(), "the user's text");
        std::optional<bool> copied, imported;
        rope->confirmPhotoCopies({p[1]}, 0.5, RopeHistoryRecording::record, [&](bool ok) { copied = ok; });
        EXPECT_EQ(copied, false) << "refused at once";
        ExternalImageDrop::Snapshot snapshot;
        snapshot.items.append({ExternalImageDrop::Source::file(p[2].path, true)});
        rope->importExhibitionDrop(snapshot, 0.5, [&](bool ok) { imported = ok; });
        EXPECT_EQ(imported, false) << "refused at once";
        rope->confirmTrash({p[1]});
        EXPECT_EQ(asked, 0) << "nothing is asked that could not go ahead";
        EXPECT_EQ(rope->deleting(), deleting);
        EXPECT_EQ(rope->importing(), !deleting);
    }
}

TEST(Hanging, TakeDownsWriteOnceRecordOnceAndFollowTheirRecording) {
    RopeModel rope(4);
    const QList<Photo>& p = rope.photos;
    Photo renamed = p[0];
    renamed.id = "other-id";
    renamed.usageID = p[0].recordKey(); // the same photo under another id

    ASSERT_TRUE(rope->setHanging({p[0], renamed, p[0]}, false, RopeHistoryRecording::record));
    ASSERT_EQ(rope->undoHistory().size(), 1);
    EXPECT_EQ(rope->undoHistory().last(), RopeHistoryEntry::takeDown({p[0]})) << "one photo, once";
    EXPECT_FALSE(rope->hangs(p[0]));

    const auto generation = rope->takeDownUndoGeneration();
    EXPECT_TRUE(rope->setHanging({p[0]}, false, RopeHistoryRecording::record)) << "nothing to change";
    EXPECT_EQ(rope->undoHistory().size(), 1);
    EXPECT_EQ(rope->takeDownUndoGeneration(), generation);

    ASSERT_TRUE(rope->setHanging({p[1]}, false, RopeHistoryRecording::untracked));
    EXPECT_EQ(rope->undoHistory().size(), 1) << "untracked";
    ASSERT_TRUE(rope->setHanging({p[0], p[1]}, true, RopeHistoryRecording::record));
    EXPECT_TRUE(rope->hangs(p[0]) && rope->hangs(p[1]));
    EXPECT_EQ(rope->undoHistory().size(), 1) << "hanging pushes nothing";

    rope->addPendingTrashTakeDown({p[2]});
    ASSERT_FALSE(rope->hangs(p[2]));
    ASSERT_TRUE(rope->setHanging({p[2]}, true, RopeHistoryRecording::untracked));
    EXPECT_TRUE(rope->pendingTrashTakeDown().isEmpty()) << "saved before the line write";
    EXPECT_TRUE(rope->hangs(p[2])) << "a photo awaiting a trash take-down is hung again";
}

TEST(Hanging, AFailedWriteChangesNothingButTheLineError) {
    RopeModel rope(2);
    const QList<Photo>& p = rope.photos;
    rope->setSelection({p[0]});
    rope.lineFails->store(true);
    EXPECT_FALSE(rope->setHanging({p[0]}, false, RopeHistoryRecording::record));
    EXPECT_TRUE(rope->hangs(p[0]));
    EXPECT_TRUE(rope->undoHistory().isEmpty());
    EXPECT_EQ(rope->selectedIDs(), QSet<QString>{p[0].id});
    ASSERT_TRUE(rope->lineError() && rope->lineError()->startsWith("晾衣绳状态未保存："));
    rope.lineFails->store(false);
    ASSERT_TRUE(rope->setHanging({p[1]}, false, RopeHistoryRecording::record));
    EXPECT_FALSE(rope->lineError()) << "a later write clears it";

    rope->setDeleting(true);
    EXPECT_FALSE(rope->setHanging({p[0]}, false, RopeHistoryRecording::record)) << "busy";
}

TEST(Hanging, TakingDownTheSelectionKeepsWhatIsLeftSelected) {
    RopeModel rope(4);
    const QList<Photo>& p = rope.photos;
    ASSERT_TRUE(rope->setHanging({p[3]}, false, RopeHistoryRecording::untracked));

    rope->setSelection({p[3]});
    rope->takeDownSelection();
    EXPECT_TRUE(rope->undoHistory().isEmpty()) << "only taken-down photos selected: nothing happens";
    EXPECT_TRUE(rope->selectionMode());

    rope->setSelection({p[0], p[1], p[3]});
    rope->takeDownSelection();
    EXPECT_EQ(rope->lastTakenDown(), (QList<Photo>{p[0], p[1]}));
    EXPECT_EQ(rope->selectedIDs(), QSet<QString>{p[3].id}) << "the taken-down one stays selected";
    EXPECT_TRUE(rope->selectionMode());

    rope->setSelection({p[2]});
    rope->takeDownSelection();
    EXPECT_TRUE(rope->selectedIDs().isEmpty());
    EXPECT_FALSE(rope->selectionMode());
    EXPECT_TRUE(rope->canUndoTakeDown());
    rope->setImporting(true);
    EXPECT_FALSE(rope->canUndoTakeDown());
}

TEST(Hanging, LastTakenDownReadsTheNewestEntry) {
    RopeModel rope(1);
    Photo original = recordPhoto(5);
    Photo delivered = recordPhoto(6);
    delivered.path = "/elsewhere/p6.jpg";
    EXPECT_TRUE(rope->lastTakenDown().isEmpty());
    rope->pushUndo(RopeHistoryEntry::move({PegReturnRecord{original, delivered, {}, {}}}, "/elsewhere"),
                   true);
    EXPECT_EQ(rope->lastTakenDown(), QList<Photo>{delivered}) << "the photos as they are in the folder";
    rope->pushUndo(RopeHistoryEntry::copy({CopyUndoRecord{original, delivered, {}, false}}, 0.5), true);
    EXPECT_TRUE(rope->lastTakenDown().isEmpty());
    EXPECT_FALSE(rope->canUndoTakeDown());
}
