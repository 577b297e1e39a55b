#include "core/ExhibitionJournal.h"
#include "core/ClotheslinePlacementStore.h"
#include "core/ExhibitionStore.h"
#include "core/PegReturnIntent.h"
#include "core/PhotoIdentity.h"
#include "core/PhotoRelocation.h"
#include "core/UsageHistory.h"
#include "platform/Bookmark.h"
#include "platform/Dates.h"
#include "platform/FileIdentity.h"
#include "platform/FileMove.h"
#include "platform/JsonFile.h"
#include "support/CrashChild.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cmath>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vennimo;
using namespace vennimo::test;

namespace {

constexpr int kCrashExit = 77;
constexpr qint64 kMax = std::numeric_limits<qint64>::max();

QString stateFile(const QString& name) {
    return storageFolder() + "/" + name;
}

QList<ExhibitionReference> references(int count, const QString& prefix = "K") {
    QList<ExhibitionReference> refs;
    for (int i = 0; i < count; ++i) {
        const QString id = QString("%1-%2").arg(prefix).arg(i);
        Photo p{id, "/exhibit/" + id + ".jpg", "展览", 100.0 + i, 0, 0, ""};
        p.usageID = id;
        p.created = 10.0 + i;
        refs.append({p, QByteArray("bm") + QByteArray::number(i)});
    }
    return refs;
}

void writePlacements(const ClotheslinePlacementRecords& records, qint64 version = 1) {
    ASSERT_TRUE(JsonFile::write(stateFile("clothesline-positions.json"),
                                toJson(ClotheslinePlacementState{version, records}))
                    .ok());
}

// Runs recovery in a child process that dies at its `crashAt`-th journal step; answers the exit
// code: kCrashExit when it died there, 0 when recovery finished first.
int recoverCrashingAt(int crashAt, std::optional<JournalStep> counted = std::nullopt) {
    fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
        int steps = 0;
        auto result = ExhibitionStore::recover(storageFolder(), {}, [&](JournalStep step) {
            if ((!counted || step == *counted) && ++steps == crashAt)
                _exit(kCrashExit);
        });
        _exit(result.ok() ? 0 : 1);
    }
    int status = 0;
    if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}

JournalData journalOf(const QStringList& names) {
    JournalData data;
    for (const QString& name : names)
        data.insert(name, name == "clothesline.json"     ? JsonFile::encode(toJson(UsageState{2, true, {}}))
                          : name == PegReturnIntent::key ? JsonFile::encode(toJson(PegReturnIntent::make({})))
                                                         : QByteArray("{}"));
    return data;
}

Photo photoAt(const QString& path, double added) {
    Photo p;
    p.id = "1-" + path;
    p.path = path;
    p.added = added;
    return p;
}

// Real exhibition items for image files made in `folder`.
QList<ExhibitionReference> prepared(const QString& folder, const QStringList& names) {
    QStringList paths;
    for (const QString& name : names) {
        saveImage(makeImage(8, 6), folder + "/" + name);
        paths << folder + "/" + name;
    }
    return ExhibitionStore(storageFolder()).prepare(paths, {});
}

void writeExhibition(const QList<ExhibitionReference>& refs) {
    ExhibitionReferences map;
    for (const auto& r : refs)
        map.insert(r.photo.recordKey(), r);
    ASSERT_TRUE(JsonFile::writeAtomically(stateFile("exhibition.json"), encodeExhibition(map)).ok());
}

} // namespace

TEST(ExhibitionJournal, CommitLaysPrintsOutSideBySideInFront) {
    writePlacements({{"old", ClotheslinePlacementRecord{1.0, ClotheslinePlacement{3, 0.4, 41}}}});
    ExhibitionStore store(storageFolder());
    UsageHistory line(storageFolder(), "clothesline.json");
    ClotheslinePlacementStore positions(storageFolder());
    const auto refs = references(3);
    ASSERT_TRUE(store.commit(refs, 0.95, line, positions).ok());
    EXPECT_FALSE(QFile::exists(stateFile("exhibition-import.json"))) << "journal removed once applied";
    const auto placements = ClotheslinePlacementStore(storageFolder()).records();
    ExhibitionStore fresh(storageFolder());
    UsageHistory freshLine(storageFolder(), "clothesline.json");
    const double xs[] = {0.76, 0.88, 1.0};
    for (int i = 0; i < 3; ++i) {
        const QString key = refs[i].photo.recordKey();
        EXPECT_NEAR(placements.value(key).placement.x, xs[i], 1e-12) << i;
        EXPECT_EQ(placements.value(key).placement.zIndex, 42 + i)
            << "in front of the deepest, last frontmost";
        EXPECT_EQ(fresh.references().value(key), refs[i]);
        EXPECT_EQ(freshLine.records().value(key), (UsageRecord{refs[i].photo.created, std::nullopt}))
            << "hangs";
    }
    EXPECT_EQ(placements.value("old").placement, (ClotheslinePlacement{3, 0.4, 41}));
}

TEST(ExhibitionJournal, CommitRefusesWithoutTouchingAnything) {
    ExhibitionStore store(storageFolder());
    UsageHistory line(storageFolder(), "clothesline.json");
    {
        writePlacements({{"deep", ClotheslinePlacementRecord{std::nullopt, {0, 0.5, kMax - 4}}}});
        ClotheslinePlacementStore positions(storageFolder());
        EXPECT_EQ(store.commit(references(1), std::nan(""), line, positions).error(),
                  ExhibitionStore::failure("没有可挂上的照片。"));
        EXPECT_EQ(store.commit(references(3), 0.5, line, positions).error().message,
                  "照片层级已满，请先调整绳上照片。");
        EXPECT_TRUE(store.commit(references(2), 0.5, line, positions).ok()) << "two more still fit";
    }
    {
        // A raise still waiting for its debounced write is flushed into the commit first; a writer
        // that cannot flush stops the commit before any journal exists.
        int attempts = 0;
        ClotheslinePlacementStore failing(
            storageFolder(),
            {std::chrono::milliseconds(10'000), [&](const QJsonObject&, const QString&) -> Status {
                 ++attempts;
                 return Error::fromErrno(ENOSPC);
             }});
        ASSERT_TRUE(failing.bringToFront(references(1)[0].photo).ok());
        EXPECT_EQ(store.commit(references(1, "M"), 0.5, line, failing).error().sysErrno, ENOSPC);
        EXPECT_EQ(attempts, 1);
        ClotheslinePlacementStore positions(storageFolder(), {std::chrono::milliseconds(30), {}});
        ASSERT_TRUE(positions.bringToFront(references(1)[0].photo).ok());
        ASSERT_TRUE(store.commit(references(1, "N"), 0.5, line, positions).ok());
        usleep(80'000);
        QCoreApplication::processEvents();
        const auto records = ClotheslinePlacementStore(storageFolder()).records();
        EXPECT_FALSE(records.contains("M-0"));
        EXPECT_EQ(records.value("K-0").placement.zIndex, records.value("N-0").placement.zIndex - 1)
            << "the raise landed before the commit, not after it";
    }
    {
        writePlacements({}, 2);
        const QByteArray before = readFile(stateFile("clothesline-positions.json"));
        writeFile(stateFile("clothesline.json"), "[]");
        UsageHistory brokenLine(storageFolder(), "clothesline.json");
        ClotheslinePlacementStore brokenPositions(storageFolder());
        EXPECT_EQ(store.commit(references(1), 0.5, line, brokenPositions).error(),
                  ExhibitionStore::failure(*brokenPositions.loadError()));
        EXPECT_EQ(store.commit(references(1), 0.5, brokenLine, brokenPositions).error().message,
                  *brokenLine.loadError())
            << "the line history's load error comes before the placements'";
        writeFile(stateFile("exhibition.json"), "[]");
        ExhibitionStore brokenExhibition(storageFolder());
        EXPECT_EQ(brokenExhibition.commit(references(1), 0.5, brokenLine, brokenPositions).error().message,
                  *brokenExhibition.loadError())
            << "the exhibition's own load error comes first";
        EXPECT_FALSE(QFile::exists(stateFile("exhibition-import.json")));
        EXPECT_EQ(readFile(stateFile("clothesline-positions.json")), before);
    }
}

TEST(ExhibitionJournal, RecoveryAcceptsOnlyTheKnownMemberSets) {
    const QString journal = ExhibitionJournal::path(storageFolder());
    const QStringList all = ExhibitionJournal::files();
    JournalData badLine = journalOf(all);
    badLine["clothesline.json"] = R"({"records":{}})";
    const QList<JournalData> refused{journalOf({"exhibition.json", "clothesline.json"}),
                                     journalOf(all + QStringList{"usage.json"}),
                                     journalOf(all + QStringList{"peg-return.json", "extra.json"}), badLine};
    for (int i = 0; i < refused.size(); ++i) {
        ASSERT_TRUE(ExhibitionJournal::write(journal, refused[i]).ok());
        const QByteArray before = readFile(journal);
        const auto result = ExhibitionStore::recover(storageFolder());
        ASSERT_FALSE(result.ok()) << i;
        if (i < 3) {
            EXPECT_EQ(result.error(), ExhibitionStore::failure("展览保存记录格式不受支持。")) << i;
        }
        EXPECT_EQ(readFile(journal), before) << "the journal stays";
        EXPECT_FALSE(QFile::exists(stateFile("exhibition.json"))) << "no state file touched";
    }
    // Every file written at once or after a crash after 1 or 2 of them: all three agree.
    for (int crashAfter = 0; crashAfter < 3; ++crashAfter) {
        const auto refs = references(3, QString("R%1x").arg(crashAfter));
        ExhibitionReferences exhibition;
        UsageState usage{2, true, {}};
        ClotheslinePlacementState placed;
        for (int i = 0; i < 3; ++i) {
            const QString key = refs[i].photo.recordKey();
            exhibition.insert(key, refs[i]);
            usage.records.insert(key, UsageRecord{refs[i].photo.created, {}});
            placed.records.insert(key, ClotheslinePlacementRecord{refs[i].photo.created, {0, 0.1 * i, i}});
        }
        ASSERT_TRUE(ExhibitionJournal::write(
                        journal, {{"exhibition.json", encodeExhibition(exhibition)},
                                  {"clothesline.json", JsonFile::encode(toJson(usage))},
                                  {"clothesline-positions.json", JsonFile::encode(toJson(placed))},
                                  {"peg-return.json", JsonFile::encode(toJson(PegReturnIntent::make({})))}})
                        .ok());
        if (crashAfter > 0) {
            ASSERT_EQ(recoverCrashingAt(crashAfter, JournalStep::StateFileWritten), kCrashExit);
        }
        ASSERT_TRUE(ExhibitionStore::recover(storageFolder()).ok());
        EXPECT_FALSE(QFile::exists(journal));
        EXPECT_FALSE(QFile::exists(stateFile("peg-return.json"))) << "travels only inside the journal";
        EXPECT_EQ(ExhibitionStore(storageFolder()).references(), exhibition) << crashAfter;
        EXPECT_EQ(UsageHistory(storageFolder(), "clothesline.json").records(), usage.records) << crashAfter;
        EXPECT_EQ(ClotheslinePlacementStore(storageFolder()).records(), placed.records) << crashAfter;
    }
}

namespace {

QByteArray contentOf(const QString& name) {
    return "image bytes of " + name.toUtf8() + QByteArray(3000, 'x');
}

// A print's file dropped from its pegs into a folder: the record of that move.
PegReturnRecord dropInto(const QString& originalFolder, const QString& targetFolder, const QString& name,
                         std::optional<ClotheslinePlacement> placement = ClotheslinePlacement{0, 0.3, 7}) {
    QDir().mkpath(targetFolder);
    Photo original;
    original.path = originalFolder + "/" + name;
    writeFile(original.path, contentOf(name));
    original.sourceRoot = originalFolder;
    original.added = 50;
    original = relocatedPhoto(original, original.path).value();
    original.sourceRoot = originalFolder;
    const QString deliveredPath = targetFolder + "/" + name;
    EXPECT_TRUE(FileMove::moveNoReplace(original.path, deliveredPath).ok());
    return {original, relocatedPhoto(original, deliveredPath).value(), placement,
            *Bookmark::create(deliveredPath)};
}

// The journal a folder move's undo leaves: the delivered photos are exhibition items, taken down.
void writeReturnJournal(const QList<PegReturnRecord>& records, const PegReturnIntent& intent) {
    ExhibitionReferences exhibition;
    UsageState line{2, true, {}};
    for (const auto& r : records) {
        exhibition.insert(r.delivered.recordKey(), {r.delivered, r.bookmark});
        line.records.insert(r.delivered.recordKey(), UsageRecord{r.delivered.created, 1.0});
    }
    const ClotheslinePlacementState positions{1, {{"other", {std::nullopt, {2, 0.9, 3}}}}};
    ASSERT_TRUE(ExhibitionJournal::write(ExhibitionJournal::path(storageFolder()),
                                         {{"exhibition.json", encodeExhibition(exhibition)},
                                          {"clothesline.json", JsonFile::encode(toJson(line))},
                                          {"clothesline-positions.json", JsonFile::encode(toJson(positions))},
                                          {PegReturnIntent::key, JsonFile::encode(toJson(intent))}})
                    .ok());
}

QString message(const PegReturnRecord& r, const QString& reason) {
    return r.original.name() + "：" + reason + "，已保留文件并在当前位置重新挂上。";
}

// After a return: each file is back at its place, once, and the state files agree.
void expectReturned(const QList<PegReturnRecord>& records) {
    EXPECT_FALSE(QFile::exists(ExhibitionJournal::path(storageFolder())));
    ExhibitionStore store(storageFolder());
    UsageHistory line(storageFolder(), "clothesline.json");
    ClotheslinePlacementStore positions(storageFolder());
    ASSERT_FALSE(store.loadError() || line.loadError() || positions.loadError());
    EXPECT_EQ(store.references().size(), records.size());
    EXPECT_EQ(positions.records().value("other").placement, (ClotheslinePlacement{2, 0.9, 3}));
    for (const auto& r : records) {
        EXPECT_EQ(readFile(r.original.path), contentOf(r.original.name()));
        EXPECT_EQ(FileIdentity::read(r.original.path)->modified, r.delivered.modified) << "to the nanosecond";
        EXPECT_FALSE(QFile::exists(r.delivered.path)) << "no second copy " << r.delivered.path.toStdString();
        const auto ref = std::find_if(store.references().begin(), store.references().end(),
                                      [&](const auto& ref) { return ref.photo.path == r.original.path; });
        ASSERT_NE(ref, store.references().end()) << "hung again from " << r.original.path.toStdString();
        EXPECT_TRUE(originalIdentityMatches(ref->photo));
        EXPECT_EQ(ref->photo.sourceRoot, r.original.sourceRoot);
        EXPECT_EQ(line.records().value(ref->photo.recordKey()),
                  (UsageRecord{ref->photo.created, std::nullopt}));
        EXPECT_EQ(positions.position(ref->photo), r.placement);
        if (ref->photo.recordKey() != r.delivered.recordKey()) {
            EXPECT_TRUE(line.records().value(r.delivered.recordKey()).usedAt) << "the old key is taken down";
            EXPECT_FALSE(positions.records().contains(r.delivered.recordKey())) << "and unplaced";
        }
    }
}

} // namespace

TEST(PegReturnIntent, ACrashAtAnyStepResumesToOneConsistentState) {
    const auto foreign = folderOnAnotherFileSystem();
    if (!foreign)
        GTEST_SKIP() << "no second file system: /dev/shm is missing or on the test home's";
    for (int crashAt = 1;; ++crashAt) {
        SCOPED_TRACE(testing::Message() << "crash at step " << crashAt);
        ASSERT_LT(crashAt, 40) << "the return never completed";
        const QString root = makeFolder(QString("crash%1").arg(crashAt));
        const auto local = dropInto(root + "/O", root + "/T", "local.jpg");
        const auto travelling =
            dropInto(root + "/O", foreign->path() + QString("/c%1").arg(crashAt), "travelling.jpg");
        writeReturnJournal({local, travelling}, PegReturnIntent::make({local, travelling}));
        const int code = recoverCrashingAt(crashAt);
        ASSERT_TRUE(code == 0 || code == kCrashExit) << "exit " << code;
        if (code == kCrashExit) {
            auto messages = ExhibitionStore::recover(storageFolder());
            ASSERT_TRUE(messages.ok()) << messages.error().message.toStdString();
            EXPECT_TRUE(messages->isEmpty()) << messages->join("\n").toStdString();
        }
        expectReturned({local, travelling});
        if (HasFailure() || code == 0) {
            // Journal, move and state for the local file; journal, copy, move and state for the
            // travelling one; then the three state files.
            EXPECT_EQ(crashAt, 11) << "every step was interrupted once";
            break;
        }
    }
}

TEST(PegReturnIntent, FilesThatCannotGoBackStayAndHangWhereTheyAre) {
    const QString root = makeFolder("reasons");
    const auto renamed = dropInto(root + "/O", root + "/T", "renamed.jpg");
    const auto folderGone = dropInto(root + "/Gone", root + "/T", "gone.jpg");
    const auto nameTaken = dropInto(root + "/O", root + "/T", "taken.jpg", std::nullopt);
    ASSERT_EQ(rename(QFile::encodeName(renamed.delivered.path), QFile::encodeName(root + "/T/new.jpg")), 0);
    ASSERT_TRUE(QDir(root + "/Gone").removeRecursively());
    writeFile(nameTaken.original.path, "someone else's file");
    // A copy that reached the return place before the crash, while the delivered file then changed.
    const auto changed = dropInto(root + "/O2", root + "/T2", "changed.jpg");
    ASSERT_TRUE(FileMove::copyNoReplace(changed.delivered.path, changed.original.path).ok());
    const QString digest = PegReturnIntent::digest(changed.delivered.path).value();
    writeFile(changed.delivered.path, "changed meanwhile");
    const QList<PegReturnRecord> all{renamed, folderGone, nameTaken};
    writeReturnJournal(all, PegReturnIntent{all, {"earlier message"}, {}});
    auto messages = ExhibitionStore::recover(storageFolder());
    ASSERT_TRUE(messages.ok()) << messages.error().message.toStdString();
    EXPECT_EQ(*messages, (QStringList{"earlier message", message(renamed, "文件已被修改或移动"),
                                      message(folderGone, "原始目录已不存在"),
                                      message(nameTaken, "原位置已有同名文件")}));
    EXPECT_EQ(readFile(nameTaken.original.path), "someone else's file");
    ExhibitionStore store(storageFolder());
    EXPECT_EQ(store.references().value(renamed.delivered.recordKey()).photo.path, root + "/T/new.jpg")
        << "found through the bookmark";
    writeReturnJournal({changed}, PegReturnIntent{{changed}, {}, digest});
    messages = ExhibitionStore::recover(storageFolder());
    ASSERT_TRUE(messages.ok());
    EXPECT_EQ(*messages, QStringList{message(changed, "文件已被修改或移动")});
    EXPECT_TRUE(QFile::exists(changed.delivered.path) && QFile::exists(changed.original.path)) << "both kept";
    EXPECT_EQ(ExhibitionStore(storageFolder()).references().begin()->photo.path, changed.delivered.path);

    // Edited after its return was journaled, just before the move: it stays where it is.
    const auto edited = dropInto(root + "/O3", root + "/T3", "edited.jpg");
    writeReturnJournal({edited}, PegReturnIntent::make({edited}));
    messages = ExhibitionStore::recover(storageFolder(), {}, [&](JournalStep step) {
        if (step != JournalStep::ReturnJournalWritten)
            return;
        writeFile(edited.delivered.path, QByteArray(contentOf("edited.jpg").size(), 'e'));
        const timespec times[2] = {{1'600'000'000, 0}, {1'600'000'000, 0}};
        utimensat(AT_FDCWD, QFile::encodeName(edited.delivered.path).constData(), times, 0);
    });
    ASSERT_TRUE(messages.ok());
    EXPECT_EQ(*messages, QStringList{message(edited, "文件已被修改或移动")});
    EXPECT_TRUE(QFile::exists(edited.delivered.path) && !QFile::exists(edited.original.path));
}

TEST(ExhibitionStore, LoadFollowsRenamedFilesKeepsLostOnesAndNeverRewritesABrokenFile) {
    const QString folder = makeFolder("pictures");
    const auto refs = prepared(folder, {"kept.jpg", "renamed.jpg", "deleted.jpg"});
    ASSERT_EQ(refs.size(), 3);
    writeExhibition(refs);
    ASSERT_EQ(rename(QFile::encodeName(folder + "/renamed.jpg"), QFile::encodeName(folder + "/new name.jpg")),
              0);
    ASSERT_TRUE(QFile::remove(folder + "/deleted.jpg"));
    {
        ExhibitionStore store(storageFolder());
        ASSERT_EQ(store.references().size(), 3) << "loading never drops an entry";
        EXPECT_EQ(store.references().value(refs[0].photo.recordKey()), refs[0]);
        const Photo found = store.references().value(refs[1].photo.recordKey()).photo;
        EXPECT_EQ(found.path, folder + "/new name.jpg") << "found again through its bookmark";
        EXPECT_TRUE(originalIdentityMatches(found));
        EXPECT_EQ(store.references().value(refs[2].photo.recordKey()), refs[2])
            << "a lost file stays as stored";
    }
    const QByteArray garbage = R"({"k": {"bookmark": "@@", "photo": {}}})";
    writeFile(stateFile("exhibition.json"), garbage);
    ExhibitionStore broken(storageFolder());
    ASSERT_TRUE(broken.loadError().has_value());
    EXPECT_TRUE(broken.loadError()->startsWith("展览记录无法读取：")) << broken.loadError()->toStdString();
    EXPECT_TRUE(broken.remove({photoAt("/a.jpg", 1)}).ok()) << "nothing to remove is no error";
    EXPECT_EQ(readFile(stateFile("exhibition.json")), garbage) << "a broken file is never rewritten";
}

TEST(ExhibitionStore, MergedHidesIndexedPhotosByKeyOrMatchingFileAndRemoveWritesOnlyItsChange) {
    const QString folder = makeFolder("merge");
    auto refs = prepared(folder, {"same.jpg", "stale.jpg"});
    ASSERT_EQ(refs.size(), 2);
    ExhibitionReference& stale = refs[1];
    stale.photo.created = stale.photo.created.value_or(0) + 50; // no longer that file's birth
    stale.photo.usageID = "STALE-1";
    ExhibitionReference keyed = refs[0];
    keyed.photo.id += "0";
    keyed.photo.usageID = "SHARED-KEY";
    keyed.photo.path = "/nowhere/keyed.jpg";
    keyed.photo.created = 500.0;
    keyed.photo.added = 1e9;
    writeExhibition({refs[0], stale, keyed});
    ExhibitionStore store(storageFolder());
    const Photo indexedSame = photoAt(folder + "/same.jpg", 1),
                indexedStale = photoAt(folder + "/stale.jpg", 1);
    Photo indexedKeyed = photoAt("/elsewhere/x.jpg", 1);
    indexedKeyed.usageID = "SHARED-KEY";
    const Photo plain = photoAt("/elsewhere/plain.jpg", 1), plainB = photoAt("/elsewhere/b.jpg", 1);
    const auto merged = store.merged({indexedSame, indexedStale, indexedKeyed, plain, plainB});
    EXPECT_EQ(merged.count(indexedSame), 0) << "hidden by the exhibition photo of the same file";
    EXPECT_EQ(merged.count(indexedStale), 1) << "exhibition photo no longer matches: both listed";
    EXPECT_EQ(merged.count(indexedKeyed), 0) << "same record key";
    ASSERT_EQ(merged.size(), 6);
    EXPECT_EQ(merged.first(), keyed.photo) << "added descending";
    EXPECT_LT(merged.indexOf(plainB), merged.indexOf(plain)) << "then by path";
    Photo otherBirth = keyed.photo;
    otherBirth.created = 501.0;
    EXPECT_TRUE(store.remove({otherBirth}).ok());
    EXPECT_EQ(store.references().size(), 3) << "another file birth under the same key is not removed";
    ASSERT_TRUE(store.remove({keyed.photo}).ok());
    EXPECT_EQ(decodeExhibition(readFile(stateFile("exhibition.json"))).value(), store.references());
    EXPECT_EQ(store.references().size(), 2);
}

TEST(ExhibitionStore, PrepareMakesOneReferencePerImageFile) {
    const QString folder = makeFolder("drop");
    saveImage(makeImage(8, 6), folder + "/a.jpg");
    saveImage(makeImage(8, 6), folder + "/UPPER.JPG");
    writeFile(folder + "/notes.txt", "text");
    QDir().mkpath(folder + "/folder.jpg");
    ASSERT_EQ(link(QFile::encodeName(folder + "/a.jpg"), QFile::encodeName(folder + "/hard.jpg")), 0);
    ASSERT_TRUE(QFile::link(folder + "/a.jpg", folder + "/link.jpg"));
    const QString library = folder + "/Lib.photoslibrary/originals";
    QDir().mkpath(library);
    saveImage(makeImage(8, 6), library + "/p.jpg");
    saveImage(makeImage(8, 6), folder + "/origin.jpg");
    Clock::setOverride([] { return 5000.0; });
    ExhibitionStore store(storageFolder());
    const PhotosOrigin origin{"LOCAL-1", "/lib"};
    const auto refs = store.prepare({folder + "/./a.jpg", folder + "/hard.jpg", folder + "/notes.txt",
                                     folder + "/folder.jpg", folder + "/link.jpg", folder + "/missing.jpg",
                                     library + "/p.jpg", folder + "/origin.jpg", QString()},
                                    {}, {{folder + "/origin.jpg", origin}});
    Clock::setOverride({});
    ASSERT_EQ(refs.size(), 3);
    const Photo& a = refs[0].photo;
    EXPECT_EQ(a.path, folder + "/a.jpg") << "standardized; the hard link is the same file";
    EXPECT_EQ(a.id, currentIdentity(folder + "/a.jpg")->usageID) << "volume UUID form";
    EXPECT_EQ(a.usageID, a.id);
    EXPECT_EQ(a.source, "展览");
    EXPECT_EQ(a.added, 5000.0);
    EXPECT_EQ(a.thumbnail, storageFolder() + "/exhibition-thumbnails/" + a.id + ".jpg");
    EXPECT_EQ(Bookmark::resolve(refs[0].bookmark)->path, a.path);
    EXPECT_EQ(refs[1].photo.source, "照片.app") << "inside a library package";
    EXPECT_EQ(refs[2].photo.source, "照片.app");
    EXPECT_EQ(refs[2].photo.photosOrigin, origin);
    EXPECT_TRUE(ExhibitionStore::isImageFile(folder + "/UPPER.JPG"));
    EXPECT_FALSE(ExhibitionStore::isImageFile(folder + "/folder.jpg")) << "not a regular file";
}
