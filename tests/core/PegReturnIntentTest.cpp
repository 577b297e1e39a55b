#include "core/PegReturnIntent.h"
#include "core/ClotheslinePlacementStore.h"
#include "core/ExhibitionJournal.h"
#include "core/ExhibitionStore.h"
#include "core/PhotoIdentity.h"
#include "core/PhotoRelocation.h"
#include "core/UsageHistory.h"
#include "platform/Bookmark.h"
#include "platform/Dates.h"
#include "platform/FileIdentity.h"
#include "platform/FileMove.h"
#include "platform/JsonFile.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/wait.h>
#include <unistd.h>

using namespace vennimo;
using namespace vennimo::test;

namespace {

constexpr int kCrashExit = 77;

// A folder on another file system than the test's temporary home, removed with the object.
class ForeignFolder {
public:
    ForeignFolder() {
        QByteArray pattern = "/dev/shm/vennimo-test-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr)
            return;
        m_path = QString::fromUtf8(pattern);
        const auto here = FileIdentity::read(TestEnvironment::root());
        const auto there = FileIdentity::read(m_path);
        if (!here || !there || here->fileSystemNumber == there->fileSystemNumber)
            m_path.clear();
    }
    ~ForeignFolder() {
        if (!m_path.isEmpty()) {
            std::error_code ec;
            std::filesystem::remove_all(QFile::encodeName(m_path).toStdString(), ec);
        }
    }
    // Empty when no other file system is at hand.
    QString path() const { return m_path; }

private:
    QString m_path;
};

// A print's file dropped from its pegs into a folder: the record of that move.
PegReturnRecord dropInto(const QString& originalFolder, const QString& targetFolder, const QString& name,
                         std::optional<ClotheslinePlacement> placement = ClotheslinePlacement{0, 0.3, 7}) {
    QDir().mkpath(originalFolder);
    QDir().mkpath(targetFolder);
    const QString originalPath = originalFolder + "/" + name;
    writeFile(originalPath, "image bytes of " + name.toUtf8() + QByteArray(3000, 'x'));
    const auto identity = currentIdentity(originalPath);
    const auto file = FileIdentity::read(originalPath);
    Photo original;
    original.id = identity->id;
    original.usageID = identity->usageID;
    original.path = originalPath;
    original.source = "桌面";
    original.added = 50;
    original.modified = file->modified;
    original.size = file->size;
    original.thumbnail = "/thumbs/" + name;
    original.sourceRoot = originalFolder;
    original.created = file->created;
    const QString deliveredPath = targetFolder + "/" + name;
    EXPECT_TRUE(FileMove::moveNoReplace(originalPath, deliveredPath).ok());
    auto delivered = relocatedPhoto(original, deliveredPath);
    EXPECT_TRUE(delivered.ok());
    return PegReturnRecord{original, *delivered, placement, *Bookmark::create(deliveredPath)};
}

// The journal a folder move's undo leaves: the delivered photos are exhibition items, taken down.
void writeReturnJournal(const QList<PegReturnRecord>& records, const PegReturnIntent& intent) {
    ExhibitionReferences exhibition;
    UsageState line{2, true, {}};
    ClotheslinePlacementState positions;
    for (const auto& r : records) {
        exhibition.insert(r.delivered.recordKey(), {r.delivered, r.bookmark});
        line.records.insert(r.delivered.recordKey(), UsageRecord{r.delivered.created, 1.0});
    }
    positions.records.insert("other", ClotheslinePlacementRecord{std::nullopt, {2, 0.9, 3}});
    const JournalData data{{"exhibition.json", encodeExhibition(exhibition)},
                           {"clothesline.json", JsonFile::encode(toJson(line))},
                           {"clothesline-positions.json", JsonFile::encode(toJson(positions))},
                           {PegReturnIntent::key, JsonFile::encode(toJson(intent))}};
    ASSERT_TRUE(ExhibitionJournal::write(ExhibitionJournal::path(storageFolder()), data).ok());
}

void writeReturnJournal(const QList<PegReturnRecord>& records) {
    writeReturnJournal(records, PegReturnIntent::make(records));
}

std::optional<PegReturnIntent> journalIntent() {
    auto data = ExhibitionJournal::decode(readFile(ExhibitionJournal::path(storageFolder())));
    if (!data || !data->contains(PegReturnIntent::key))
        return std::nullopt;
    auto intent = pegReturnIntentFromJson(*JsonFile::parse(data->value(PegReturnIntent::key)));
    return intent ? std::optional(*intent) : std::nullopt;
}

QString message(const PegReturnRecord& r, const QString& reason) {
    return r.original.name() + "：" + reason + "，已保留文件并在当前位置重新挂上。";
}

// After a return: the state files agree with where each file is.
void expectConsistent(const QList<PegReturnRecord>& records, const QString& context) {
    SCOPED_TRACE(context.toStdString());
    EXPECT_FALSE(QFile::exists(ExhibitionJournal::path(storageFolder())));
    EXPECT_FALSE(QFile::exists(storageFolder() + "/peg-return.json"));
    ExhibitionStore store(storageFolder());
    UsageHistory line(storageFolder(), "clothesline.json");
    ClotheslinePlacementStore positions(storageFolder());
    ASSERT_FALSE(store.loadError() || line.loadError() || positions.loadError());
    EXPECT_EQ(store.references().size(), records.size());
    for (const auto& r : records) {
        EXPECT_TRUE(QFile::exists(r.original.path)) << r.original.path.toStdString();
        EXPECT_FALSE(QFile::exists(r.delivered.path)) << "no second copy " << r.delivered.path.toStdString();
        const QString name = r.original.name();
        EXPECT_EQ(readFile(r.original.path), "image bytes of " + name.toUtf8() + QByteArray(3000, 'x'));
        bool found = false;
        for (const auto& ref : store.references()) {
            if (ref.photo.path != r.original.path)
                continue;
            found = true;
            EXPECT_TRUE(originalIdentityMatches(ref.photo));
            EXPECT_EQ(ref.photo.sourceRoot, r.original.sourceRoot);
            EXPECT_EQ(line.records().value(ref.photo.recordKey()),
                      (UsageRecord{ref.photo.created, std::nullopt}));
            EXPECT_EQ(positions.position(ref.photo), r.placement);
        }
        EXPECT_TRUE(found) << "hung again from " << r.original.path.toStdString();
    }
}

} // namespace

TEST(PegReturnIntent, SameVolumeReturnMovesTheFileBackAndRehangsIt) {
    const QString root = makeFolder("same");
    const auto record = dropInto(root + "/Desktop", root + "/Target", "a.jpg");
    writeReturnJournal({record});

    int journalWrites = 0;
    QList<std::pair<PegReturnRecord, Photo>> returned;
    auto messages = ExhibitionStore::recover(
        storageFolder(),
        [&](const PegReturnRecord& r, const Photo& p) {
            returned.append({r, p});
        },
        [&](JournalStep step) {
            if (step != JournalStep::ReturnJournalWritten)
                return;
            ++journalWrites;
            const auto intent = journalIntent();
            ASSERT_TRUE(intent.has_value());
            EXPECT_FALSE(intent->inFlightDigest.has_value()) << "no digest on one volume";
            EXPECT_EQ(intent->pending.size(), 1);
            EXPECT_TRUE(QFile::exists(record.delivered.path)) << "the journal comes before the move";
        });
    ASSERT_TRUE(messages.ok()) << messages.error().message.toStdString();
    EXPECT_TRUE(messages->isEmpty());
    EXPECT_EQ(journalWrites, 1);
    ASSERT_EQ(returned.size(), 1);
    EXPECT_EQ(returned[0].first, record);
    EXPECT_EQ(returned[0].second.path, record.original.path);
    EXPECT_EQ(returned[0].second.recordKey(), record.delivered.recordKey()) << "same volume keeps the key";
    EXPECT_EQ(returned[0].second.added, 50);
    expectConsistent({record}, "same volume");
    EXPECT_EQ(ClotheslinePlacementStore(storageFolder()).records().value("other").placement,
              (ClotheslinePlacement{2, 0.9, 3}));
}

TEST(PegReturnIntent, CrossVolumeReturnKeepsTheModificationTimeAndRekeysThePhoto) {
    ForeignFolder foreign;
    if (foreign.path().isEmpty())
        GTEST_SKIP() << "no second file system";
    Clock::setOverride([] { return 777.0; });
    const auto record = dropInto(makeFolder("cross") + "/Desktop", foreign.path() + "/Target", "b.jpg");
    writeReturnJournal({record});
    std::optional<QString> digestBeforeMove;
    auto messages = ExhibitionStore::recover(storageFolder(), {}, [&](JournalStep step) {
        if (step == JournalStep::ReturnJournalWritten)
            digestBeforeMove = journalIntent()->inFlightDigest;
    });
    Clock::setOverride({});
    ASSERT_TRUE(messages.ok()) << messages.error().message.toStdString();
    EXPECT_TRUE(messages->isEmpty());
    ASSERT_TRUE(digestBeforeMove.has_value());
    EXPECT_EQ(digestBeforeMove->size(), 64);
    EXPECT_EQ(FileIdentity::read(record.original.path)->modified, record.delivered.modified)
        << "to the nanosecond";
    expectConsistent({record}, "cross volume");

    ExhibitionStore store(storageFolder());
    const QString newKey = store.references().begin()->photo.recordKey();
    EXPECT_NE(newKey, record.delivered.recordKey());
    const UsageHistory line(storageFolder(), "clothesline.json");
    EXPECT_EQ(line.records().value(record.delivered.recordKey()),
              (UsageRecord{record.delivered.created, 777.0}))
        << "the old key is taken down";
    const ClotheslinePlacementStore positions(storageFolder());
    EXPECT_FALSE(positions.records().contains(record.delivered.recordKey()));
    EXPECT_EQ(positions.records().value(newKey).placement, *record.placement);
}

TEST(PegReturnIntent, FilesThatCannotGoBackStayAndHangWhereTheyAre) {
    const QString root = makeFolder("reasons");
    const auto renamed = dropInto(root + "/O", root + "/T", "renamed.jpg");
    const auto modified = dropInto(root + "/O", root + "/T", "modified.jpg");
    const auto folderGone = dropInto(root + "/Gone", root + "/T", "gone.jpg");
    const auto nameTaken = dropInto(root + "/O", root + "/T", "taken.jpg", std::nullopt);
    ASSERT_EQ(
        std::rename(QFile::encodeName(renamed.delivered.path), QFile::encodeName(root + "/T/new name.jpg")),
        0);
    {
        QFile f(modified.delivered.path);
        ASSERT_TRUE(f.open(QIODevice::Append));
        f.write("more");
    }
    ASSERT_TRUE(QDir(root + "/Gone").removeRecursively());
    writeFile(nameTaken.original.path, "someone else's file");
    writeReturnJournal({renamed, modified, folderGone, nameTaken},
                       PegReturnIntent{{renamed, modified, folderGone, nameTaken}, {"earlier message"}, {}});

    auto messages = ExhibitionStore::recover(storageFolder());
    ASSERT_TRUE(messages.ok()) << messages.error().message.toStdString();
    EXPECT_EQ(*messages,
              (QStringList{"earlier message", message(renamed, "文件已被修改或移动"),
                           message(modified, "文件已被修改或移动"), message(folderGone, "原始目录已不存在"),
                           message(nameTaken, "原位置已有同名文件")}));
    EXPECT_EQ(readFile(nameTaken.original.path), "someone else's file");

    ExhibitionStore store(storageFolder());
    ASSERT_EQ(store.references().size(), 4);
    const Photo found = store.references().value(renamed.delivered.recordKey()).photo;
    EXPECT_EQ(found.path, root + "/T/new name.jpg") << "found through the bookmark";
    EXPECT_EQ(store.references().value(modified.delivered.recordKey()).photo.path, modified.delivered.path);
    const UsageHistory line(storageFolder(), "clothesline.json");
    const ClotheslinePlacementStore positions(storageFolder());
    for (const auto& r : {renamed, modified, folderGone, nameTaken}) {
        EXPECT_TRUE(line.records().contains(r.delivered.recordKey()));
        EXPECT_FALSE(line.records().value(r.delivered.recordKey()).usedAt.has_value()) << "hangs again";
        EXPECT_EQ(store.references().value(r.delivered.recordKey()).photo.sourceRoot, std::nullopt);
    }
    EXPECT_EQ(positions.records().value(modified.delivered.recordKey()).placement, *modified.placement);
    EXPECT_FALSE(positions.records().contains(nameTaken.delivered.recordKey())) << "no placement, none made";
}

TEST(PegReturnIntent, InterruptedCrossVolumeCopiesAreFinishedOrKeptWhole) {
    const QString root = makeFolder("inflight");
    // The copy reached the return place and the source is gone: nothing moves again.
    const auto arrived = dropInto(root + "/O", root + "/T", "arrived.jpg");
    ASSERT_TRUE(FileMove::moveNoReplace(arrived.delivered.path, arrived.original.path).ok());
    // The copy reached the return place but the source was not yet removed.
    const auto twice = dropInto(root + "/O", root + "/T", "twice.jpg");
    ASSERT_TRUE(FileMove::copyNoReplace(twice.delivered.path, twice.original.path).ok());
    const auto digest = PegReturnIntent::digest(twice.delivered.path);
    ASSERT_TRUE(digest.ok());

    const auto arrivedInode = FileIdentity::read(arrived.original.path)->fileNumber;
    writeReturnJournal({arrived},
                       PegReturnIntent{{arrived}, {}, *PegReturnIntent::digest(arrived.original.path)});
    ASSERT_TRUE(ExhibitionStore::recover(storageFolder()).ok());
    EXPECT_EQ(FileIdentity::read(arrived.original.path)->fileNumber, arrivedInode);

    writeReturnJournal({twice}, PegReturnIntent{{twice}, {}, *digest});
    auto messages = ExhibitionStore::recover(storageFolder());
    ASSERT_TRUE(messages.ok()) << messages.error().message.toStdString();
    EXPECT_TRUE(messages->isEmpty());
    EXPECT_FALSE(QFile::exists(twice.delivered.path)) << "the leftover source is removed";
    expectConsistent({twice}, "finished by removing the source");

    // The source was changed after the copy: both stay, and the print hangs from the source.
    const auto changed = dropInto(root + "/O2", root + "/T2", "changed.jpg");
    ASSERT_TRUE(FileMove::copyNoReplace(changed.delivered.path, changed.original.path).ok());
    const auto changedDigest = *PegReturnIntent::digest(changed.delivered.path);
    {
        QFile f(changed.delivered.path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.write("X");
    }
    writeReturnJournal({changed}, PegReturnIntent{{changed}, {}, changedDigest});
    messages = ExhibitionStore::recover(storageFolder());
    ASSERT_TRUE(messages.ok());
    EXPECT_EQ(*messages, QStringList{message(changed, "文件已被修改或移动")});
    EXPECT_TRUE(QFile::exists(changed.delivered.path));
    EXPECT_TRUE(QFile::exists(changed.original.path));
    EXPECT_EQ(ExhibitionStore(storageFolder()).references().begin()->photo.path, changed.delivered.path);
}

TEST(PegReturnIntent, ACrashAtAnyStepResumesToOneConsistentState) {
    ForeignFolder foreign;
    for (int crashAt = 1;; ++crashAt) {
        ASSERT_LT(crashAt, 40) << "the return never completed";
        const QString root = makeFolder(QString("crash%1").arg(crashAt));
        const QString targetRoot =
            foreign.path().isEmpty() ? root : foreign.path() + QString("/c%1").arg(crashAt);
        const auto local = dropInto(root + "/O", root + "/T", "local.jpg");
        const auto travelling = dropInto(root + "/O", targetRoot + "/T2", "travelling.jpg");
        writeReturnJournal({local, travelling});

        fflush(nullptr);
        const pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            int steps = 0;
            auto result = ExhibitionStore::recover(storageFolder(), {}, [&](JournalStep) {
                if (++steps == crashAt)
                    _exit(kCrashExit);
            });
            _exit(result.ok() ? 0 : 1);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status));
        const int code = WEXITSTATUS(status);
        ASSERT_TRUE(code == 0 || code == kCrashExit) << "step " << crashAt << " exit " << code;
        if (code == kCrashExit) {
            auto messages = ExhibitionStore::recover(storageFolder());
            ASSERT_TRUE(messages.ok())
                << "step " << crashAt << ": " << messages.error().message.toStdString();
            EXPECT_TRUE(messages->isEmpty())
                << "step " << crashAt << ": " << messages->join("\n").toStdString();
        }
        expectConsistent({local, travelling}, QString("crash at step %1").arg(crashAt));
        if (HasFailure())
            break;
        if (code == 0) {
            // Journal, move and state for the local file; journal, copy, move and state for the
            // travelling one; then the three state files.
            EXPECT_EQ(crashAt, foreign.path().isEmpty() ? 10 : 11) << "every step was interrupted once";
            break;
        }
    }
}

TEST(PegReturnIntent, AnIntentWithNothingPendingOnlyReportsItsMessages) {
    auto none = JournalData{{"exhibition.json", "{}"}};
    auto passed = PegReturnIntent::resume(none, storageFolder() + "/unused.json");
    ASSERT_TRUE(passed.ok());
    EXPECT_TRUE(passed->isEmpty());

    writeReturnJournal({},
                       PegReturnIntent{{}, {"a：原始目录已不存在，已保留文件并在当前位置重新挂上。"}, {}});
    auto data = *ExhibitionJournal::decode(readFile(ExhibitionJournal::path(storageFolder())));
    const JournalData before = data;
    const QString journal = storageFolder() + "/never-written.json";
    auto messages = PegReturnIntent::resume(data, journal);
    ASSERT_TRUE(messages.ok());
    EXPECT_EQ(messages->size(), 1);
    EXPECT_EQ(data, before);
    EXPECT_FALSE(QFile::exists(journal));
}

TEST(PegReturnIntent, RecordsEncodeAndDecodeStrictly) {
    const QString root = makeFolder("json");
    const auto record = dropInto(root + "/O", root + "/T", "j.jpg");
    PegReturnIntent intent{{record, PegReturnRecord{record.original, record.delivered, std::nullopt, "b"}},
                           {"m"},
                           QString(64, 'a')};
    const QJsonObject json = toJson(intent);
    EXPECT_EQ(pegReturnIntentFromJson(json).value(), intent);
    EXPECT_FALSE(json["pending"].toArray()[1].toObject().contains("placement"));
    EXPECT_FALSE(toJson(PegReturnIntent::make({record})).contains("inFlightDigest"));

    auto noMessages = json;
    noMessages.remove("messages");
    auto shortDigest = json;
    shortDigest.insert("inFlightDigest", "abc");
    auto upperDigest = json;
    upperDigest.insert("inFlightDigest", QString(64, 'A'));
    auto noBookmark = json;
    auto records = noBookmark["pending"].toArray();
    auto first = records[0].toObject();
    first.remove("bookmark");
    records[0] = first;
    noBookmark.insert("pending", records);
    for (const auto& bad : {noMessages, shortDigest, upperDigest, noBookmark})
        EXPECT_FALSE(pegReturnIntentFromJson(bad).ok());

    writeFile(root + "/abc", "abc");
    EXPECT_EQ(PegReturnIntent::digest(root + "/abc").value(),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(PegReturnIntent::digest(root + "/missing").error().sysErrno, ENOENT);
}

TEST(PegReturnIntent, RelocatedPhotoRereadsTheFileAndKeepsTheRest) {
    const QString folder = makeFolder("relocate");
    writeFile(folder + "/a.jpg", "12345");
    Photo photo;
    photo.id = "1-1";
    photo.usageID = "OLD-1";
    photo.path = "/old/a.jpg";
    photo.source = "展览";
    photo.added = 9;
    photo.modified = 8;
    photo.size = 1;
    photo.thumbnail = "/t.jpg";
    photo.thumbnailModified = 7.0;
    photo.sourceRoot = "/old";
    photo.created = 6.0;
    photo.baselineImported = true;
    photo.photosOrigin = PhotosOrigin{"L", "/lib"};
    auto moved = relocatedPhoto(photo, folder + "/a.jpg");
    ASSERT_TRUE(moved.ok());
    const auto identity = currentIdentity(folder + "/a.jpg");
    const auto file = FileIdentity::read(folder + "/a.jpg");
    Photo expected = photo;
    expected.id = identity->id;
    expected.usageID = identity->usageID;
    expected.path = folder + "/a.jpg";
    expected.modified = file->modified;
    expected.size = 5;
    expected.created = file->created;
    expected.sourceRoot.reset();
    EXPECT_EQ(*moved, expected);
    EXPECT_EQ(relocatedPhoto(photo, folder + "/missing.jpg").error().sysErrno, ENOENT);
}
