#include "RopeModelFixture.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTest>
#include <gtest/gtest.h>

#include <cmath>

using namespace vennimo;
using namespace vennimo::test;
using namespace Qt::StringLiterals;

namespace {

Photo copyPhoto(int number) {
    Photo photo = recordPhoto(100 + number);
    photo.path = u"/store/imported-images/照片副本-%1.jpg"_s.arg(number);
    return photo;
}

CopyUndoRecord recordOf(int source, int copy, bool recycled) {
    return {.source = recordPhoto(source),
            .photo = copyPhoto(copy),
            .digest = QByteArray(32, char(copy)),
            .recycled = recycled};
}

} // namespace

TEST(PhotoCopyRecords, AreBuiltForEveryCopyOrNotAtAll) {
    const QList<Photo> sources{recordPhoto(1), recordPhoto(2)};
    const QStringList paths{copyPhoto(1).path, copyPhoto(2).path};
    const QList<QByteArray> digests{QByteArray(32, 'a'), QByteArray(32, 'b')};
    const QHash<QString, Photo> byPath{{paths[0], copyPhoto(1)}, {paths[1], copyPhoto(2)}};

    const auto records = GalleryModel::copyUndoRecords(sources, paths, digests, byPath);
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records[1], (CopyUndoRecord{sources[1], copyPhoto(2), digests[1], false}));

    EXPECT_TRUE(GalleryModel::copyUndoRecords(sources, paths, {digests[0]}, byPath).isEmpty())
        << "lists of different lengths";
    EXPECT_TRUE(GalleryModel::copyUndoRecords(sources, paths, digests, {{paths[0], copyPhoto(1)}}).isEmpty())
        << "one copy missing from the exhibition";
    // Another spelling of the same path finds its copy.
    const auto respelled = GalleryModel::copyUndoRecords(
        {sources[0]}, {u"/store/imported-images/../imported-images/照片副本-1.jpg"_s}, {digests[0]}, byPath);
    EXPECT_EQ(respelled.size(), 1);
}

TEST(PhotoCopyRecords, ReplayReplacesEachRecycledCopyByTheNewCopyOfItsSource) {
    const QList<CopyUndoRecord> old{recordOf(1, 1, true), recordOf(2, 2, false), recordOf(3, 3, true)};
    const QList<CopyUndoRecord> made{recordOf(3, 13, false), recordOf(1, 11, false)};

    const auto replayed = GalleryModel::replayedCopyRecords(old, made);
    ASSERT_TRUE(replayed);
    EXPECT_EQ(replayed->records, (QList<CopyUndoRecord>{made[1], old[1], made[0]}));
    EXPECT_EQ(replayed->replacements,
              (QList<PhotoReplacement>{{copyPhoto(1), copyPhoto(11)}, {copyPhoto(3), copyPhoto(13)}}));

    const struct {
        const char* name;
        QList<CopyUndoRecord> created;
    } unmatched[] = {
        {"one source without a new copy", {made[0]}},
        {"one new copy too many", {made[0], made[1], recordOf(2, 12, false)}},
        {"a new copy of another source", {made[0], recordOf(4, 14, false)}},
    };
    for (const auto& c : unmatched)
        EXPECT_FALSE(GalleryModel::replayedCopyRecords(old, c.created)) << c.name;
}

namespace {

// A rope of real image files, copied onto itself at x.
struct CopyRope : RopeModel {
    QList<Photo> files;

    explicit CopyRope(int count)
        : RopeModel(0) {
        const QString folder = makeFolder(u"copies-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces));
        const QColor colors[] = {Qt::red, Qt::green, Qt::blue};
        for (int i = 0; i < count; ++i)
            files.append(photoFileAt(folder + u"/p%1.png"_s.arg(i), pngBytes(colors[i % 3])));
        show(files);
    }
    bool copy(const QList<Photo>& photos, double x) {
        std::optional<bool> done;
        model->confirmPhotoCopies(photos, x, RopeHistoryRecording::record, [&done](bool ok) { done = ok; });
        return QTest::qWaitFor([&] { return done.has_value(); }, 20000) && *done;
    }
    bool settled() {
        return QTest::qWaitFor([&] { return !model->deleting() && !model->importing(); }, 20000);
    }
    QList<CopyUndoRecord> newestCopy(const QList<RopeHistoryEntry>& history) const {
        return std::get<RopeHistoryEntry::Copy>(history.last().payload()).records;
    }
};

} // namespace

TEST(PhotoCopiesOnTheRope, CopiesHangAtTheDropPositionUnderNamesOfTheirOwn) {
    CopyRope rope(2);
    ASSERT_TRUE(rope.copy({rope.files[0], rope.files[1], rope.files[0]}, 0.4));
    ASSERT_EQ(rope->undoHistory().size(), 1);
    const auto& entry = std::get<RopeHistoryEntry::Copy>(rope->undoHistory().last().payload());
    EXPECT_EQ(entry.x, 0.4);
    ASSERT_EQ(entry.records.size(), 2) << "the same photo twice makes one copy";
    static const QRegularExpression kName(
        u"^照片副本-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\\.png$"_s);
    for (qsizetype i = 0; i < 2; ++i) {
        const CopyUndoRecord& record = entry.records[i];
        EXPECT_EQ(record.source, rope.files[i]);
        EXPECT_TRUE(kName.match(record.photo.name()).hasMatch()) << record.photo.name().toStdString();
        EXPECT_EQ(QFileInfo(record.photo.path).path(), rope.storage + u"/imported-images"_s);
        EXPECT_EQ(readFile(record.photo.path), readFile(rope.files[i].path));
        EXPECT_EQ(record.digest,
                  QCryptographicHash::hash(readFile(record.photo.path), QCryptographicHash::Sha256));
        EXPECT_TRUE(rope->hangs(record.photo));
        EXPECT_TRUE(rope->exhibition().contains(record.photo));
    }
    EXPECT_DOUBLE_EQ(rope->clotheslinePlacements().position(entry.records[0].photo)->x, 0.4);
    EXPECT_FALSE(rope->importing());
}

TEST(PhotoCopiesOnTheRope, UndoKeepsEditedAndUsedCopiesAndRecyclesTheRest) {
    CopyRope rope(3);
    ASSERT_TRUE(rope.copy(rope.files, 0.2));
    const QList<CopyUndoRecord> made = rope.newestCopy(rope->undoHistory());
    // Edited in place to the same size: only its date and content tell.
    QFile edited(made[0].photo.path);
    ASSERT_TRUE(edited.open(QIODevice::ReadWrite));
    edited.write("X");
    edited.close();
    rope->markExported(made[1].photo); // copied out to another program

    rope->undoRopeAction();
    ASSERT_TRUE(rope.settled());
    EXPECT_EQ(rope->actionError(), u"已取下副本；2 张已改动或已使用，已保留文件和记录。"_s);
    EXPECT_TRUE(QFile::exists(made[0].photo.path));
    EXPECT_TRUE(QFile::exists(made[1].photo.path));
    EXPECT_FALSE(QFile::exists(made[2].photo.path)) << "the untouched copy went to the Trash";
    for (const CopyUndoRecord& record : made)
        EXPECT_FALSE(rope->hangs(record.photo));
    ASSERT_EQ(rope->redoHistory().size(), 1);
    const auto marked = rope.newestCopy(rope->redoHistory());
    EXPECT_EQ((QList<bool>{marked[0].recycled, marked[1].recycled, marked[2].recycled}),
              (QList<bool>{false, false, true}));
    EXPECT_TRUE(rope->undoHistory().isEmpty());

    // Redo hangs the kept copies again and makes the recycled one anew.
    rope->redoRopeAction();
    ASSERT_TRUE(rope.settled());
    ASSERT_EQ(rope->undoHistory().size(), 1);
    EXPECT_TRUE(rope->redoHistory().isEmpty());
    const auto redone = rope.newestCopy(rope->undoHistory());
    ASSERT_EQ(redone.size(), 3);
    EXPECT_EQ(redone[0], marked[0]);
    EXPECT_EQ(redone[1], marked[1]);
    EXPECT_NE(redone[2].photo.path, made[2].photo.path) << "a new file";
    EXPECT_EQ(readFile(redone[2].photo.path), readFile(rope.files[2].path));
    for (const CopyUndoRecord& record : redone)
        EXPECT_TRUE(rope->hangs(record.photo)) << record.photo.name().toStdString();
    EXPECT_DOUBLE_EQ(rope->clotheslinePlacements().position(redone[2].photo)->x, 0.2);
}

TEST(PhotoCopiesOnTheRope, RedoAfterEveryCopyWasKeptMakesNoNewFiles) {
    CopyRope rope(1);
    ASSERT_TRUE(rope.copy(rope.files, 0.6));
    const QList<CopyUndoRecord> made = rope.newestCopy(rope->undoHistory());
    rope->markExported(made[0].photo);
    rope->undoRopeAction();
    ASSERT_TRUE(rope.settled());
    const QStringList before = QDir(rope.storage + u"/imported-images"_s).entryList(QDir::Files);

    rope->redoRopeAction();
    ASSERT_TRUE(rope.settled());
    EXPECT_EQ(QDir(rope.storage + u"/imported-images"_s).entryList(QDir::Files), before);
    EXPECT_TRUE(rope->hangs(made[0].photo));
    EXPECT_EQ(rope.newestCopy(rope->undoHistory()), made);

    // A kept copy that was replaced meanwhile stops the redo.
    rope->undoRopeAction();
    ASSERT_TRUE(rope.settled());
    QFile::remove(made[0].photo.path);
    writeFile(made[0].photo.path, "another file");
    rope->redoRopeAction();
    EXPECT_EQ(rope->actionError(), u"无法重做复制：保留的副本已移动或被替换，请先找回副本。"_s);
    EXPECT_EQ(rope->redoHistory().size(), 1);
}

TEST(PhotoCopiesOnTheRope, ACopyThatCannotBeMadeWritesNothingAndSaysWhy) {
    CopyRope rope(1);
    EXPECT_FALSE(rope.copy(rope.files, std::nan(""))) << "no place on the rope";
    rope->setRequestPhotoCopyConfirmation([](const QList<Photo>&) { return false; });
    EXPECT_FALSE(rope.copy(rope.files, 0.5)) << "the user said no";
    EXPECT_EQ(rope->actionError(), std::nullopt);

    rope->setRequestPhotoCopyConfirmation([](const QList<Photo>&) { return true; });
    writeFile(rope.storage + u"/imported-images"_s, "a file where the folder belongs");
    EXPECT_FALSE(rope.copy(rope.files, 0.5));
    EXPECT_TRUE(rope->actionError().value_or(QString()).startsWith(u"未能创建副本："_s))
        << rope->actionError().value_or(u"<none>"_s).toStdString();
    EXPECT_FALSE(rope->importing());
    EXPECT_TRUE(rope->undoHistory().isEmpty());
}

namespace {

QStringList importedFiles(const CopyRope& rope) {
    return QDir(rope.storage + u"/imported-images"_s).entryList(QDir::Files);
}

// A recycled copy of the source whose file is long gone.
CopyUndoRecord recycledCopyOf(const CopyRope& rope, const Photo& source) {
    const Photo gone = photoFileAt(rope.storage + u"/gone.png"_s, pngBytes(Qt::gray));
    return {.source = source, .photo = gone, .digest = "x", .recycled = true};
}

} // namespace

TEST(PhotoCopiesOnTheRope, ARedoWhoseNewCopiesCannotBeMatchedBecomesAnActionOfItsOwn) {
    CopyRope rope(1);
    // Two recycled copies of one photo: copying it anew makes one copy, which matches only one.
    const CopyUndoRecord record = recycledCopyOf(rope, rope.files[0]);
    rope->pushRedo(RopeHistoryEntry::copy({record, record}, 0.4));

    rope->redoRopeAction();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rope->actionError().has_value(); }, 20000));
    ASSERT_TRUE(rope.settled());
    EXPECT_EQ(rope->actionError(), u"副本已创建，但无法完整对应原来的副本；后续历史未重新指向。"_s);
    ASSERT_EQ(rope->undoHistory().size(), 1) << "the new copies are an undo entry of their own";
    const auto made = rope.newestCopy(rope->undoHistory());
    ASSERT_EQ(made.size(), 1);
    EXPECT_EQ(made[0].source, rope.files[0]);
    EXPECT_TRUE(rope->hangs(made[0].photo));
    EXPECT_TRUE(rope->redoHistory().isEmpty()) << "the old entry is gone";

    // Redoing on makes no more copies than the one set.
    rope->redoRopeAction();
    ASSERT_TRUE(rope.settled());
    rope->redoRopeAction();
    ASSERT_TRUE(rope.settled());
    EXPECT_EQ(importedFiles(rope).size(), 1);

    // And that set is undone at once.
    rope->undoRopeAction();
    ASSERT_TRUE(rope.settled());
    EXPECT_TRUE(importedFiles(rope).isEmpty());
    EXPECT_FALSE(rope->hangs(made[0].photo));
}

TEST(PhotoCopiesOnTheRope, AnUnmatchedRedoPutsTheKeptCopiesBackOntoTheRedoHistory) {
    CopyRope rope(1);
    ASSERT_TRUE(rope.copy(rope.files, 0.3));
    const QList<CopyUndoRecord> first = rope.newestCopy(rope->undoHistory());
    rope->markExported(first[0].photo);
    rope->undoRopeAction();
    ASSERT_TRUE(rope.settled());
    const RopeHistoryEntry below = rope->redoHistory().last();
    const CopyUndoRecord kept = rope.newestCopy(rope->redoHistory())[0];
    ASSERT_FALSE(kept.recycled);
    const CopyUndoRecord recycled = recycledCopyOf(rope, rope.files[0]);
    rope->pushRedo(RopeHistoryEntry::copy({kept, recycled, recycled}, 0.3));

    rope->redoRopeAction();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rope->actionError().has_value(); }, 20000));
    ASSERT_TRUE(rope.settled());
    EXPECT_EQ(rope->actionError(), u"副本已创建，但无法完整对应原来的副本；后续历史未重新指向。"_s);
    ASSERT_EQ(rope->undoHistory().size(), 1);
    ASSERT_EQ(rope.newestCopy(rope->undoHistory()).size(), 1);
    ASSERT_EQ(rope->redoHistory().size(), 2) << "the redo history below stays";
    EXPECT_EQ(rope->redoHistory().first(), below);
    EXPECT_EQ(rope.newestCopy(rope->redoHistory()), QList<CopyUndoRecord>{kept});
    EXPECT_FALSE(rope->hangs(kept.photo)) << "the kept copy waits for its own redo";

    rope->redoRopeAction();
    ASSERT_TRUE(rope.settled());
    EXPECT_TRUE(rope->hangs(kept.photo));
    EXPECT_EQ(rope->redoHistory(), QList<RopeHistoryEntry>{below});
    EXPECT_EQ(rope->undoHistory().size(), 2);
}

TEST(PhotoCopiesOnTheRope, ARedoWhoseNewCopiesGotNoRecordsPutsTheKeptCopiesBackOntoTheRedoHistory) {
    CopyRope rope(2);
    ASSERT_TRUE(rope.copy(rope.files, 0.5));
    rope->markExported(rope.newestCopy(rope->undoHistory())[0].photo);
    rope->undoRopeAction();
    ASSERT_TRUE(rope.settled());
    const auto marked = rope.newestCopy(rope->redoHistory());
    ASSERT_EQ((QList<bool>{marked[0].recycled, marked[1].recycled}), (QList<bool>{false, true}));

    // The new copy is renamed once committed: the reloaded exhibition finds it under its new
    // name, so the copy step made it yet cannot record it.
    const QStringList before = importedFiles(rope);
    *rope.importStep = [&](ExhibitionImportStep step) {
        if (step != ExhibitionImportStep::Committed)
            return;
        for (const QString& name : importedFiles(rope))
            if (!before.contains(name))
                QFile::rename(rope.storage + u"/imported-images/"_s + name,
                              rope.storage + u"/imported-images/renamed-"_s + name);
    };
    rope->redoRopeAction();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rope->actionError().has_value(); }, 20000));
    ASSERT_TRUE(rope.settled());
    *rope.importStep = {};
    EXPECT_EQ(rope->actionError(), u"副本已创建，但撤销记录不完整；本次复制无法撤销。"_s);
    EXPECT_EQ(importedFiles(rope).filter(u"renamed-"_s).size(), 1);
    EXPECT_TRUE(rope->undoHistory().isEmpty());
    ASSERT_EQ(rope->redoHistory().size(), 1) << "the kept copy is still redoable";
    EXPECT_EQ(rope.newestCopy(rope->redoHistory()), QList<CopyUndoRecord>{marked[0]});
    EXPECT_FALSE(rope->hangs(marked[0].photo));

    rope->redoRopeAction();
    ASSERT_TRUE(rope.settled());
    EXPECT_TRUE(rope->hangs(marked[0].photo));
    EXPECT_TRUE(rope->redoHistory().isEmpty());
    ASSERT_EQ(rope->undoHistory().size(), 1);
    EXPECT_EQ(rope.newestCopy(rope->undoHistory()), QList<CopyUndoRecord>{marked[0]});
}

TEST(PhotoCopiesOnTheRope, ARedoThatCannotMakeItsCopiesKeepsTheWholeEntry) {
    CopyRope rope(1);
    const CopyUndoRecord record = recycledCopyOf(rope, rope.files[0]);
    const RopeHistoryEntry entry = RopeHistoryEntry::copy({record}, 0.5);
    rope->pushRedo(entry);
    writeFile(rope.storage + u"/imported-images"_s, "a file where the folder belongs");

    rope->redoRopeAction();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rope->actionError().has_value(); }, 20000));
    ASSERT_TRUE(rope.settled());
    EXPECT_TRUE(rope->actionError()->startsWith(u"未能创建副本："_s));
    EXPECT_EQ(rope->redoHistory(), QList<RopeHistoryEntry>{entry});
    EXPECT_TRUE(rope->undoHistory().isEmpty());
}

TEST(PhotoCopiesOnTheRope, AKeptCopyReplacedWhileTheRedoRunsLeavesTheNewCopiesUndoable) {
    CopyRope rope(2);
    ASSERT_TRUE(rope.copy(rope.files, 0.7));
    const QList<CopyUndoRecord> made = rope.newestCopy(rope->undoHistory());
    rope->markExported(made[0].photo);
    rope->undoRopeAction();
    ASSERT_TRUE(rope.settled());
    const auto marked = rope.newestCopy(rope->redoHistory());
    ASSERT_EQ((QList<bool>{marked[0].recycled, marked[1].recycled}), (QList<bool>{false, true}));

    {
        QueueGate gate(rope->queue());
        rope->redoRopeAction();
        replaceFile(made[0].photo.path, "another file");
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return rope->actionError().has_value(); }, 20000));
    ASSERT_TRUE(rope.settled());
    EXPECT_EQ(rope->actionError(), u"已补建回收的副本，但保留的副本已移动或被替换，请先找回副本。"_s);
    ASSERT_EQ(rope->undoHistory().size(), 1);
    const auto remade = rope.newestCopy(rope->undoHistory());
    ASSERT_EQ(remade.size(), 1);
    EXPECT_EQ(remade[0].source, rope.files[1]);
    EXPECT_TRUE(rope->hangs(remade[0].photo));
    ASSERT_EQ(rope->redoHistory().size(), 1);
    EXPECT_EQ(rope.newestCopy(rope->redoHistory()), QList<CopyUndoRecord>{marked[0]});
}

TEST(PhotoCopiesOnTheRope, CopiesTheTrashRefusedHangAgainAndStayUndoable) {
    CopyRope rope(2);
    // Stands in for a storage folder the Trash cannot take files out of (root could still write it).
    auto refused = std::make_shared<QStringList>();
    rope->setRecycleCopiedFiles([refused, trash = rope->recycleCopiedFiles()](
                                    const QList<Photo>& photos, GalleryModel::TrashCompletion completion) {
        QList<Photo> allowed;
        QHash<QString, QString> failed;
        for (const Photo& photo : photos) {
            if (refused->contains(photo.path))
                failed.insert(photo.path, u"权限不足"_s);
            else
                allowed.append(photo);
        }
        trash(allowed, [failed, completion](const QList<Photo>& succeeded, QHash<QString, QString> more) {
            more.insert(failed);
            completion(succeeded, more);
        });
    });
    ASSERT_TRUE(rope.copy(rope.files, 0.5));
    const QList<CopyUndoRecord> made = rope.newestCopy(rope->undoHistory());
    const RopeHistoryEntry entry = rope->undoHistory().last();
    *refused = {made[0].photo.path, made[1].photo.path};

    rope->undoRopeAction();
    ASSERT_TRUE(rope.settled());
    EXPECT_TRUE(rope->actionError().value_or(QString()).startsWith(u"已删除 0 张，2 张未能删除。"_s))
        << rope->actionError().value_or(u"<none>"_s).toStdString();
    EXPECT_EQ(rope->undoHistory(), QList<RopeHistoryEntry>{entry}) << "the undo did not happen";
    EXPECT_TRUE(rope->redoHistory().isEmpty());
    for (const CopyUndoRecord& record : made) {
        EXPECT_TRUE(QFile::exists(record.photo.path));
        EXPECT_TRUE(rope->hangs(record.photo)) << "back where it hung before the undo";
    }

    // Half of it goes: the recycled copy is redoable, the refused one still undoable.
    *refused = {made[1].photo.path};
    rope->undoRopeAction();
    ASSERT_TRUE(rope.settled());
    EXPECT_EQ(rope->undoHistory(), QList<RopeHistoryEntry>{RopeHistoryEntry::copy({made[1]}, 0.5)});
    ASSERT_EQ(rope->redoHistory().size(), 1);
    const auto recycled = rope.newestCopy(rope->redoHistory());
    ASSERT_EQ(recycled.size(), 1);
    EXPECT_EQ(recycled[0].photo, made[0].photo);
    EXPECT_TRUE(recycled[0].recycled);
    EXPECT_TRUE(rope->hangs(made[1].photo));

    // A new copy empties the redo side, yet the refused copy can still be undone once the Trash
    // takes it: nothing the program made is left behind.
    refused->clear();
    ASSERT_TRUE(rope.copy({rope.files[0]}, 0.8));
    ASSERT_EQ(rope->undoHistory().size(), 2);
    EXPECT_TRUE(rope->redoHistory().isEmpty());
    while (rope->canUndoRopeAction()) {
        rope->undoRopeAction();
        ASSERT_TRUE(rope.settled());
    }
    EXPECT_TRUE(rope->undoHistory().isEmpty());
    EXPECT_TRUE(importedFiles(rope).isEmpty()) << importedFiles(rope).join(u", "_s).toStdString();
}

TEST(PhotoCopiesOnTheRope, ARedoRepointsTheRestOfTheHistoryAtTheNewCopies) {
    // Below the copy on the redo side waits the undone take-down of one copy; the redo replaces
    // that copy by a new file, so the take-down must follow it there.
    const auto takeDownBelow = [](CopyRope& rope, const CopyUndoRecord& record) {
        ASSERT_TRUE(rope->setHanging({record.photo}, false, RopeHistoryRecording::record));
        rope->undoRopeAction();
        ASSERT_TRUE(rope->hangs(record.photo));
        rope->undoRopeAction();
        ASSERT_TRUE(rope.settled());
        ASSERT_EQ(rope->redoHistory().size(), 2);
    };
    {
        CopyRope rope(2);
        ASSERT_TRUE(rope.copy(rope.files, 0.3));
        const QList<CopyUndoRecord> made = rope.newestCopy(rope->undoHistory());
        takeDownBelow(rope, made[1]);

        rope->redoRopeAction();
        ASSERT_TRUE(rope.settled());
        const auto remade = rope.newestCopy(rope->undoHistory());
        ASSERT_EQ(remade.size(), 2);
        EXPECT_EQ(rope->redoHistory(),
                  QList<RopeHistoryEntry>{RopeHistoryEntry::takeDown({remade[1].photo})});
        rope->redoRopeAction();
        EXPECT_FALSE(rope->hangs(remade[1].photo)) << "the redone take-down takes the new copy down";
        EXPECT_TRUE(rope->hangs(remade[0].photo));
    }
    {
        // The same when a kept copy was replaced while the redo ran.
        CopyRope rope(2);
        ASSERT_TRUE(rope.copy(rope.files, 0.6));
        const QList<CopyUndoRecord> made = rope.newestCopy(rope->undoHistory());
        rope->markExported(made[0].photo);
        takeDownBelow(rope, made[1]);
        {
            QueueGate gate(rope->queue());
            rope->redoRopeAction();
            replaceFile(made[0].photo.path, "another file");
        }
        ASSERT_TRUE(QTest::qWaitFor([&] { return rope->actionError().has_value(); }, 20000));
        ASSERT_TRUE(rope.settled());
        const auto remade = rope.newestCopy(rope->undoHistory());
        ASSERT_EQ(remade.size(), 1);
        ASSERT_EQ(rope->redoHistory().size(), 2);
        EXPECT_EQ(rope->redoHistory().first(), RopeHistoryEntry::takeDown({remade[0].photo}));
    }
}
