#include "RopeModelFixture.h"

#include "core/ExhibitionJournal.h"
#include "dragdrop/PegFolderDelivery.h"
#include "dragdrop/PegFolderMove.h"
#include "platform/FileDescriptor.h"
#include "platform/FileIdentity.h"
#include "platform/FileMove.h"
#include "support/CrashChild.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;
using namespace Qt::StringLiterals;

namespace {

// A model whose rope holds real files of one folder, each with a place.
struct FolderRope : RopeModel {
    QString folder = makeFolder(u"pegs-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces));
    QList<Photo> files;

    explicit FolderRope(const QStringList& names)
        : RopeModel(0) {
        for (const QString& name : names)
            files.append(photoFileAt(folder + u"/"_s + name, name.toUtf8()));
        show(files);
        model->ensureClotheslinePositions(10);
    }
    QString journal() const { return ExhibitionJournal::path(storage); }
};

} // namespace

TEST(PegFolderMoveModel, MovesUnderAFreeNameTakesThePrintsDownAndKeepsThemAsExhibitionItems) {
    FolderRope rope({u"a.jpg"_s, u"b.jpg"_s});
    const QString target = makeFolder(u"target-names"_s);
    writeFile(target + u"/a.jpg"_s, "already there");
    const auto placed = rope->clotheslinePlacements().position(rope.files[0]);

    const auto names = rope->movePegPhotos(rope.files, target, RopeHistoryRecording::record);
    ASSERT_TRUE(names) << rope->actionError().value_or(u"?"_s).toStdString();
    EXPECT_EQ(*names, (QStringList{u"a 2.jpg"_s, u"b.jpg"_s}));
    EXPECT_EQ(readFile(target + u"/a.jpg"_s), "already there");
    EXPECT_EQ(readFile(target + u"/a 2.jpg"_s), "a.jpg");
    EXPECT_TRUE(QDir(rope.folder).entryList(QDir::Files).isEmpty());
    EXPECT_FALSE(QFile::exists(rope.journal()));
    EXPECT_EQ(rope->actionError(), std::nullopt);

    ASSERT_EQ(rope->undoHistory().size(), 1);
    const auto& move = std::get<RopeHistoryEntry::Move>(rope->undoHistory().last().payload());
    ASSERT_EQ(move.records.size(), 2);
    const Photo delivered = move.records[0].delivered;
    EXPECT_EQ(delivered.path, target + u"/a 2.jpg"_s);
    EXPECT_EQ(move.records[0].placement, placed);
    EXPECT_TRUE(rope->exhibition().contains(delivered));
    EXPECT_FALSE(rope->hangs(delivered));
    EXPECT_FALSE(rope->hangs(rope.files[0]));
    EXPECT_EQ(rope->clotheslinePlacements().position(delivered), placed) << "the place moves with the file";
    EXPECT_TRUE(std::any_of(rope->photos().cbegin(), rope->photos().cend(),
                            [&](const Photo& p) { return p.path == delivered.path; }));
}

// The checked folder is renamed away and a link takes its name before the move: the file lands
// in the folder that was opened, and its record, the drop's answer, the undo and a move back all
// follow that folder rather than its old path.
TEST(PegFolderMoveModel, AFolderRenamedBeforeTheMoveIsFollowedWhereverItWent) {
    const auto swapForALink = [](const QString& checked, const QString& renamed, const QString& decoy) {
        ASSERT_TRUE(QDir().rename(checked, renamed));
        ASSERT_TRUE(QFile::link(decoy, checked));
    };
    FolderRope rope({u"r.jpg"_s});
    const QString checked = QDir(makeFolder(u"target-renamed"_s)).canonicalPath();
    const QString renamed = checked + u"-now"_s;
    const QString decoy = makeFolder(u"target-decoy"_s);
    PegFolderDelivery delivery(
        rope.files, rope.storage, [&](const QList<Photo>& photos, const QString& folder, int descriptor) {
            swapForALink(checked, renamed, decoy);
            return rope->movePegPhotos(photos, folder, RopeHistoryRecording::record, descriptor);
        });
    EXPECT_EQ(delivery.answer(QUrl::fromLocalFile(checked).toEncoded()), "S");
    EXPECT_EQ(rope->actionError(), std::nullopt);
    EXPECT_EQ(readFile(renamed + u"/r.jpg"_s), "r.jpg");
    EXPECT_TRUE(QDir(decoy).isEmpty());
    EXPECT_FALSE(rope->hangs(rope.files[0])) << "the print comes down";
    ASSERT_EQ(rope->undoHistory().size(), 1);
    const auto& move = std::get<RopeHistoryEntry::Move>(rope->undoHistory().last().payload());
    EXPECT_EQ(move.directory, renamed);
    ASSERT_EQ(move.records.size(), 1);
    EXPECT_EQ(move.records[0].delivered.path, renamed + u"/r.jpg"_s);
    EXPECT_TRUE(rope->exhibition().contains(move.records[0].delivered));

    rope->undoRopeAction();
    EXPECT_EQ(rope->actionError(), std::nullopt);
    EXPECT_EQ(readFile(rope.files[0].path), "r.jpg");
    EXPECT_TRUE(rope->hangs(rope.files[0]));
    EXPECT_TRUE(QDir(renamed).isEmpty());

    // A later photo refused: the first goes back out of the folder it went into.
    FolderRope failing({u"first.jpg"_s, u"Old.photoslibrary/second.jpg"_s});
    const QString opened = QDir(makeFolder(u"target-renamed-failing"_s)).canonicalPath();
    const auto descriptor = FileMove::openFolder(opened);
    ASSERT_TRUE(descriptor);
    const FileDescriptor held(*descriptor);
    swapForALink(opened, opened + u"-now"_s, decoy);
    EXPECT_FALSE(failing->movePegPhotos(failing.files, opened, RopeHistoryRecording::record, held.get()));
    EXPECT_EQ(failing->actionError(),
              u"未能移动照片："_s + QString::fromUtf8(PegFolderMove::kLibraryFileRefused))
        << "nothing left behind to name";
    EXPECT_EQ(readFile(failing.files[0].path), "first.jpg");
    EXPECT_TRUE(originalIdentityMatches(failing.files[0]));
    EXPECT_TRUE(QDir(opened + u"-now"_s).isEmpty());
    EXPECT_TRUE(QDir(decoy).isEmpty());
    EXPECT_TRUE(failing->undoHistory().isEmpty());
}

TEST(PegFolderMoveModel, ASecondFailureMovesTheFirstBackAndJournalsNothing) {
    FolderRope rope({u"first.jpg"_s, u"Old.photoslibrary/second.jpg"_s, u"third.jpg"_s});
    const QString target = makeFolder(u"target-failing"_s);
    const QByteArray exhibitionBefore = readFile(rope.storage + u"/exhibition.json"_s);

    EXPECT_FALSE(rope->movePegPhotos(rope.files, target, RopeHistoryRecording::record));
    EXPECT_EQ(rope->actionError(),
              u"未能移动照片："_s + QString::fromUtf8(PegFolderMove::kLibraryFileRefused));
    EXPECT_EQ(readFile(rope.files[0].path), "first.jpg") << "moved back";
    EXPECT_TRUE(originalIdentityMatches(rope.files[0]));
    EXPECT_TRUE(QDir(target).entryList(QDir::Files | QDir::Hidden).isEmpty());
    EXPECT_FALSE(QFile::exists(rope.journal()));
    EXPECT_EQ(readFile(rope.storage + u"/exhibition.json"_s), exhibitionBefore);
    EXPECT_TRUE(rope->undoHistory().isEmpty());
    for (const Photo& photo : rope.files)
        EXPECT_TRUE(rope->hangs(photo)) << photo.path.toStdString();

    // Prints already in the folder: nothing moves, they only come down.
    const auto names = rope->movePegPhotos({rope.files[2]}, rope.folder, RopeHistoryRecording::record);
    ASSERT_TRUE(names);
    EXPECT_EQ(*names, QStringList{u"third.jpg"_s});
    EXPECT_FALSE(rope->hangs(rope.files[2]));
    EXPECT_EQ(rope->undoHistory().last().kind(), RopeHistoryEntry::Kind::takeDown);
    EXPECT_FALSE(QFile::exists(rope.journal()));
}

TEST(PegFolderMoveModel, UndoReturnsTheFilesThroughTheJournalAlsoAcrossFileSystems) {
    struct Case {
        const char* name;
        std::optional<QString> target;
    };
    // Removed with the test, however it ends.
    const auto other = folderOnAnotherFileSystem();
    const Case cases[] = {{"same file system", makeFolder(u"target-undo"_s)},
                          {"another file system", other ? std::optional(other->path()) : std::nullopt}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (!c.target) {
            std::cout << "[  SKIPPED ] " << c.name << ": /dev/shm is not a file system of its own here\n";
            continue;
        }
        FolderRope rope({u"c.jpg"_s, u"d.jpg"_s});
        const auto placed = rope->clotheslinePlacements().position(rope.files[1]);
        ASSERT_TRUE(rope->movePegPhotos(rope.files, *c.target, RopeHistoryRecording::record));

        rope->undoRopeAction();
        EXPECT_EQ(rope->actionError(), std::nullopt);
        EXPECT_TRUE(rope->undoHistory().isEmpty());
        ASSERT_EQ(rope->redoHistory().size(), 1);
        EXPECT_FALSE(QFile::exists(rope.journal()));
        EXPECT_TRUE(QDir(*c.target).entryList(QDir::Files | QDir::Hidden).isEmpty());
        const auto& redo = std::get<RopeHistoryEntry::Move>(rope->redoHistory().last().payload());
        ASSERT_EQ(redo.records.size(), 2);
        for (qsizetype i = 0; i < 2; ++i) {
            const Photo& back = redo.records[i].original;
            EXPECT_EQ(back.path, rope.files[i].path);
            EXPECT_EQ(readFile(back.path), rope.files[i].name().toUtf8());
            EXPECT_TRUE(rope->hangs(back));
        }
        EXPECT_EQ(rope->clotheslinePlacements().position(redo.records[1].original), placed);

        rope->redoRopeAction();
        EXPECT_EQ(readFile(*c.target + u"/d.jpg"_s), "d.jpg");
        EXPECT_EQ(rope->undoHistory().size(), 1);
        QDir(*c.target).removeRecursively();
    }
}

TEST(PegFolderMoveModel, UndoLeavesAChangedFileWhereItIsAndRefusesWhileAnotherJournalWaits) {
    FolderRope rope({u"e.jpg"_s});
    const QString target = makeFolder(u"target-changed"_s);
    ASSERT_TRUE(rope->movePegPhotos(rope.files, target, RopeHistoryRecording::record));

    // Another transaction's journal is on disk: nothing is written, the entry stays.
    writeFile(rope.journal(), "{}");
    rope->undoRopeAction();
    EXPECT_EQ(rope->actionError(),
              u"撤销移动尚未完成：已有尚未完成的展览事务，请重启应用恢复；请重启应用恢复。"_s);
    EXPECT_TRUE(rope->exhibitionBlocked());
    EXPECT_EQ(readFile(rope.journal()), "{}");
    EXPECT_EQ(rope->undoHistory().size(), 1);

    // Nor does a move go ahead: a journal it found afterwards could not be told from its own.
    FolderRope waiting({u"g.jpg"_s});
    writeFile(waiting.journal(), "{}");
    EXPECT_FALSE(waiting->movePegPhotos(waiting.files, target, RopeHistoryRecording::record));
    EXPECT_TRUE(waiting->actionError().value_or(QString()).startsWith(u"未能移动照片："_s));
    EXPECT_TRUE(originalIdentityMatches(waiting.files[0]));
    EXPECT_FALSE(waiting->exhibitionBlocked());
    EXPECT_EQ(readFile(waiting.journal()), "{}");

    FolderRope edited({u"f.jpg"_s});
    ASSERT_TRUE(edited->movePegPhotos(edited.files, target, RopeHistoryRecording::record));
    writeFile(target + u"/f.jpg"_s, "edited in the folder");
    edited->undoRopeAction();
    EXPECT_TRUE(edited->actionError().value_or(QString()).contains(u"文件已被修改或移动"_s))
        << edited->actionError().value_or(u"<none>"_s).toStdString();
    EXPECT_EQ(readFile(target + u"/f.jpg"_s), "edited in the folder");
    ASSERT_EQ(edited->redoHistory().size(), 1);
    const auto& redo = std::get<RopeHistoryEntry::Move>(edited->redoHistory().last().payload());
    EXPECT_EQ(redo.records[0].original.path, target + u"/f.jpg"_s) << "it hangs again from the folder";
}

TEST(PegFolderMoveModel, RefusesAPhotoTakenDownDuringTheDragAndATargetThatIsNoFolder) {
    FolderRope rope({u"h.jpg"_s, u"i.jpg"_s});
    const QString target = makeFolder(u"target-refusals"_s);
    const auto refused = [&](const QList<Photo>& photos, const QString& folder, const QString& reason) {
        const qsizetype undo = rope->undoHistory().size();
        EXPECT_FALSE(rope->movePegPhotos(photos, folder, RopeHistoryRecording::record));
        EXPECT_EQ(rope->actionError(), u"未能移动照片："_s + reason);
        EXPECT_TRUE(originalIdentityMatches(photos[0])) << "the file stays where it was";
        EXPECT_TRUE(QDir(target).isEmpty());
        EXPECT_FALSE(QFile::exists(rope.journal()));
        EXPECT_EQ(rope->undoHistory().size(), undo);
    };

    ASSERT_TRUE(rope->setHanging({rope.files[0]}, false, RopeHistoryRecording::record));
    refused({rope.files[0]}, target, u"拖动的照片已改变，请重新拖动。"_s);

    // A plain file is no folder; a target whose kind cannot be read gives the reason it cannot.
    const QString file = target + u"-file"_s;
    writeFile(file, "not a folder");
    refused({rope.files[1]}, file, u"投放目标不是可用的文件夹。"_s);
    const QString missing = target + u"-missing"_s;
    refused({rope.files[1]}, missing, Error::fromErrno(ENOENT, missing).localizedDescription());
    const QString loop = target + u"-loop"_s;
    ASSERT_TRUE(QFile::link(loop, loop));
    refused({rope.files[1]}, loop, Error::fromErrno(ELOOP, loop).localizedDescription());
    EXPECT_TRUE(rope->hangs(rope.files[1]));
}
