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

TEST(PhotoCopiesOnTheRope, ARedoWhoseNewCopiesCannotBeMatchedGoesBackToTheRedoHistory) {
    CopyRope rope(1);
    // Two recycled copies of one photo: copying it anew makes one copy, which matches only one.
    const Photo gone = photoFileAt(rope.storage + u"/gone.png"_s, pngBytes(Qt::gray));
    const CopyUndoRecord record{.source = rope.files[0], .photo = gone, .digest = "x", .recycled = true};
    const RopeHistoryEntry entry = RopeHistoryEntry::copy({record, record}, 0.4);
    rope->pushRedo(entry);

    rope->redoRopeAction();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rope->actionError().has_value(); }, 20000));
    ASSERT_TRUE(rope.settled());
    EXPECT_EQ(rope->actionError(), u"副本已创建，但无法完整对应原来的副本；后续历史未重新指向。"_s);
    ASSERT_EQ(rope->redoHistory().size(), 1);
    EXPECT_EQ(rope.newestCopy(rope->redoHistory()), (QList<CopyUndoRecord>{record, record}));
    EXPECT_TRUE(rope->undoHistory().isEmpty()) << "the unmatched copies are no undo entry";
}
