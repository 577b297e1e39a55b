#include "core/ExhibitionJournal.h"
#include "core/ClotheslinePlacementStore.h"
#include "core/ExhibitionStore.h"
#include "core/PegReturnIntent.h"
#include "core/UsageHistory.h"
#include "platform/JsonFile.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QFile>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sys/wait.h>
#include <unistd.h>

using namespace vennimo;
using namespace vennimo::test;

namespace {

constexpr int kCrashExit = 77;

QString stateFile(const QString& name) {
    return storageFolder() + "/" + name;
}

QList<ExhibitionReference> references(int count, const QString& prefix = "K") {
    QList<ExhibitionReference> refs;
    for (int i = 0; i < count; ++i) {
        Photo p;
        p.id = QString("%1-%2").arg(prefix).arg(i);
        p.usageID = p.id;
        p.path = QString("/exhibit/%1%2.jpg").arg(prefix).arg(i);
        p.source = "展览";
        p.added = 100 + i;
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

// Commits `count` references at `at` into an otherwise empty storage and answers the new
// placements by record key.
ClotheslinePlacementRecords committedPlacements(int count, double at) {
    ExhibitionStore store(storageFolder());
    UsageHistory line(storageFolder(), "clothesline.json");
    ClotheslinePlacementStore positions(storageFolder());
    const auto refs = references(count, QString("C%1x").arg(count));
    EXPECT_TRUE(store.commit(refs, at, line, positions).ok());
    return ClotheslinePlacementStore(storageFolder()).records();
}

JournalData journalOf(const QStringList& names) {
    JournalData data;
    const QByteArray empty = JsonFile::encode(QJsonObject{});
    for (const QString& name : names) {
        if (name == "clothesline.json")
            data.insert(name, JsonFile::encode(toJson(UsageState{2, true, {}})));
        else if (name == "clothesline-positions.json")
            data.insert(name, JsonFile::encode(toJson(ClotheslinePlacementState{1, {}})));
        else if (name == PegReturnIntent::key)
            data.insert(name, JsonFile::encode(toJson(PegReturnIntent::make({}))));
        else
            data.insert(name, empty);
    }
    return data;
}

} // namespace

TEST(ExhibitionJournal, CommitLaysPrintsOutSideBySideInFront) {
    ClotheslinePlacementRecords existing;
    existing.insert("old", ClotheslinePlacementRecord{1.0, ClotheslinePlacement{3, 0.4, 41}});
    writePlacements(existing);

    ExhibitionStore store(storageFolder());
    UsageHistory line(storageFolder(), "clothesline.json");
    ClotheslinePlacementStore positions(storageFolder());
    const auto refs = references(3);
    ASSERT_TRUE(store.commit(refs, 0.95, line, positions).ok());

    EXPECT_FALSE(QFile::exists(stateFile("exhibition-import.json"))) << "journal removed once applied";
    const auto placements = ClotheslinePlacementStore(storageFolder()).records();
    const double xs[] = {0.76, 0.88, 1.0};
    for (int i = 0; i < 3; ++i) {
        const auto record = placements.value(refs[i].photo.recordKey());
        EXPECT_NEAR(record.placement.x, xs[i], 1e-12) << i;
        EXPECT_EQ(record.placement.row, 0);
        EXPECT_EQ(record.placement.zIndex, 42 + i) << "in front of the deepest print, last frontmost";
        EXPECT_EQ(record.created, refs[i].photo.created);
    }
    EXPECT_EQ(placements.value("old").placement, (ClotheslinePlacement{3, 0.4, 41}));

    ExhibitionStore fresh(storageFolder());
    EXPECT_EQ(fresh.references().size(), 3);
    UsageHistory freshLine(storageFolder(), "clothesline.json");
    EXPECT_TRUE(freshLine.initialized());
    for (const auto& ref : refs) {
        EXPECT_EQ(fresh.references().value(ref.photo.recordKey()), ref);
        EXPECT_EQ(freshLine.records().value(ref.photo.recordKey()),
                  (UsageRecord{ref.photo.created, std::nullopt}))
            << "hangs";
    }
    EXPECT_FALSE(positions.records().contains(refs[0].photo.recordKey()))
        << "stores in memory are not updated";
}

TEST(ExhibitionJournal, CommitLayoutAtTheEdges) {
    auto one = committedPlacements(1, 0.95);
    ASSERT_EQ(one.size(), 1);
    EXPECT_DOUBLE_EQ(one.begin()->placement.x, 0.95);
    EXPECT_EQ(one.begin()->placement.zIndex, 0) << "no earlier prints: depths start at 0";

    auto ten = committedPlacements(10, 0.5);
    QList<double> xs;
    for (int i = 0; i < 10; ++i)
        xs.append(ten.value(QString("C10x-%1").arg(i)).placement.x);
    for (int i = 0; i < 10; ++i)
        EXPECT_NEAR(xs[i], 0.1 * (i + 1), 1e-12) << "step 0.1, last start 0.1";

    auto below = committedPlacements(2, -0.3);
    EXPECT_DOUBLE_EQ(below.value("C2x-0").placement.x, 0.0);
    EXPECT_DOUBLE_EQ(below.value("C2x-1").placement.x, 0.12);
}

TEST(ExhibitionJournal, CommitRefusesWithoutTouchingAnything) {
    ExhibitionStore store(storageFolder());
    UsageHistory line(storageFolder(), "clothesline.json");
    {
        ClotheslinePlacementStore positions(storageFolder());
        for (double at : {std::nan(""), std::numeric_limits<double>::infinity()}) {
            auto s = store.commit(references(1), at, line, positions);
            ASSERT_FALSE(s.ok());
            EXPECT_EQ(s.error(), ExhibitionStore::failure("没有可挂上的照片。"));
        }
        auto empty = store.commit({}, 0.5, line, positions);
        ASSERT_FALSE(empty.ok());
        EXPECT_EQ(empty.error().message, "没有可挂上的照片。");
    }
    {
        ClotheslinePlacementRecords deep;
        deep.insert("deep", ClotheslinePlacementRecord{std::nullopt,
                                                       {0, 0.5, std::numeric_limits<qint64>::max() - 4}});
        writePlacements(deep);
        ClotheslinePlacementStore positions(storageFolder());
        ASSERT_FALSE(positions.loadError().has_value());
        auto full = store.commit(references(3), 0.5, line, positions);
        ASSERT_FALSE(full.ok());
        EXPECT_EQ(full.error().message, "照片层级已满，请先调整绳上照片。");
        EXPECT_TRUE(store.commit(references(2), 0.5, line, positions).ok()) << "two more still fit";
    }
    {
        writePlacements({}, 2);
        const QByteArray before = readFile(stateFile("clothesline-positions.json"));
        ClotheslinePlacementStore broken(storageFolder());
        ASSERT_TRUE(broken.loadError().has_value());
        auto refused = store.commit(references(1), 0.5, line, broken);
        ASSERT_FALSE(refused.ok());
        EXPECT_EQ(refused.error(), ExhibitionStore::failure(*broken.loadError()));
        EXPECT_FALSE(QFile::exists(stateFile("exhibition-import.json")));
        EXPECT_EQ(readFile(stateFile("clothesline-positions.json")), before);
    }
    {
        // The exhibition's own load error comes first, then the line history's.
        writeFile(stateFile("exhibition.json"), "[]");
        writeFile(stateFile("clothesline.json"), "[]");
        ExhibitionStore brokenExhibition(storageFolder());
        UsageHistory brokenLine(storageFolder(), "clothesline.json");
        ClotheslinePlacementStore brokenPositions(storageFolder());
        ASSERT_TRUE(brokenExhibition.loadError() && brokenLine.loadError() && brokenPositions.loadError());
        auto first = brokenExhibition.commit(references(1), 0.5, brokenLine, brokenPositions);
        EXPECT_EQ(first.error().message, *brokenExhibition.loadError());
        auto second = store.commit(references(1), 0.5, brokenLine, brokenPositions);
        EXPECT_EQ(second.error().message, *brokenLine.loadError());
        EXPECT_FALSE(QFile::exists(stateFile("exhibition-import.json")));
    }
}

TEST(ExhibitionJournal, RecoveryAcceptsOnlyTheKnownMemberSets) {
    auto none = ExhibitionStore::recover(storageFolder());
    ASSERT_TRUE(none.ok());
    EXPECT_TRUE(none->isEmpty());

    const QString journal = stateFile("exhibition-import.json");
    const QList<QStringList> refused{
        {"exhibition.json", "clothesline.json"},
        {"exhibition.json", "clothesline.json", "clothesline-positions.json", "usage.json"},
        {"exhibition.json", "clothesline.json", "clothesline-positions.json", "peg-return.json",
         "extra.json"},
        {},
    };
    for (const QStringList& names : refused) {
        ASSERT_TRUE(ExhibitionJournal::write(journal, journalOf(names)).ok());
        const QByteArray before = readFile(journal);
        auto result = ExhibitionStore::recover(storageFolder());
        ASSERT_FALSE(result.ok()) << names.join(",").toStdString();
        EXPECT_EQ(result.error(), ExhibitionStore::failure("展览保存记录格式不受支持。"));
        EXPECT_EQ(readFile(journal), before) << "the journal stays";
        EXPECT_FALSE(QFile::exists(stateFile("exhibition.json"))) << "no state file touched";
    }

    // Members that do not decode, and a journal that is not one.
    auto badLine = journalOf(ExhibitionJournal::files());
    badLine.insert("clothesline.json", R"({"records":{}})");
    auto badExhibition = journalOf(ExhibitionJournal::files());
    badExhibition.insert("exhibition.json", R"({"k":{"photo":{}}})");
    for (const JournalData& data : {badLine, badExhibition}) {
        ASSERT_TRUE(ExhibitionJournal::write(journal, data).ok());
        EXPECT_FALSE(ExhibitionStore::recover(storageFolder()).ok());
        EXPECT_TRUE(QFile::exists(journal));
        EXPECT_FALSE(QFile::exists(stateFile("clothesline-positions.json")));
    }
    writeFile(journal, R"({"exhibition.json":"not base64!"})");
    EXPECT_FALSE(ExhibitionStore::recover(storageFolder()).ok());
    EXPECT_TRUE(QFile::exists(journal));

    // The peg-return member is accepted and never becomes a file; a version the store refuses
    // is still applied, since recovery only checks the shapes.
    auto withReturn = journalOf(ExhibitionJournal::files() + QStringList{"peg-return.json"});
    withReturn.insert("clothesline-positions.json",
                      JsonFile::encode(toJson(ClotheslinePlacementState{2, {}})));
    ASSERT_TRUE(ExhibitionJournal::write(journal, withReturn).ok());
    auto applied = ExhibitionStore::recover(storageFolder());
    ASSERT_TRUE(applied.ok()) << applied.error().message.toStdString();
    EXPECT_FALSE(QFile::exists(journal));
    EXPECT_FALSE(QFile::exists(stateFile("peg-return.json")));
    for (const QString& name : ExhibitionJournal::files())
        EXPECT_EQ(readFile(stateFile(name)), withReturn.value(name)) << name.toStdString();
    EXPECT_TRUE(ClotheslinePlacementStore(storageFolder()).loadError().has_value());
}

TEST(ExhibitionJournal, AnInterruptedApplyIsCompletedAtTheNextStart) {
    const auto refs = references(3);
    ExhibitionReferences exhibition;
    UsageState usage{2, true, {}};
    ClotheslinePlacementState placed;
    for (int i = 0; i < refs.size(); ++i) {
        const QString key = refs[i].photo.recordKey();
        exhibition.insert(key, refs[i]);
        usage.records.insert(key, UsageRecord{refs[i].photo.created, {}});
        placed.records.insert(key, ClotheslinePlacementRecord{refs[i].photo.created, {0, 0.1 * i, i}});
    }
    const JournalData data{{"exhibition.json", encodeExhibition(exhibition)},
                           {"clothesline.json", JsonFile::encode(toJson(usage))},
                           {"clothesline-positions.json", JsonFile::encode(toJson(placed))}};

    // 0: the crash came before any file was written; 1 to 3: after that many files.
    for (int filesWritten = 0; filesWritten <= 3; ++filesWritten) {
        for (const QString& name : ExhibitionJournal::files())
            writeFile(stateFile(name), name == "clothesline.json"
                                           ? JsonFile::encode(toJson(UsageState{2, true, {}}))
                                       : name == "exhibition.json"
                                           ? QByteArray("{}")
                                           : JsonFile::encode(toJson(ClotheslinePlacementState{1, {}})));
        ASSERT_TRUE(ExhibitionJournal::write(ExhibitionJournal::path(storageFolder()), data).ok());
        if (filesWritten > 0) {
            fflush(nullptr);
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                int written = 0;
                (void)ExhibitionStore::recover(storageFolder(), {}, [&](JournalStep step) {
                    if (step == JournalStep::StateFileWritten && ++written == filesWritten)
                        _exit(kCrashExit);
                });
                _exit(0);
            }
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == kCrashExit) << filesWritten;
        }
        ASSERT_TRUE(QFile::exists(ExhibitionJournal::path(storageFolder()))) << "left behind by the crash";

        auto messages = ExhibitionStore::recover(storageFolder());
        ASSERT_TRUE(messages.ok()) << messages.error().message.toStdString();
        EXPECT_TRUE(messages->isEmpty());
        EXPECT_FALSE(QFile::exists(ExhibitionJournal::path(storageFolder())));
        ExhibitionStore store(storageFolder());
        UsageHistory line(storageFolder(), "clothesline.json");
        ClotheslinePlacementStore positions(storageFolder());
        EXPECT_EQ(store.references(), exhibition) << filesWritten;
        EXPECT_EQ(line.records(), usage.records) << filesWritten;
        EXPECT_EQ(positions.records(), placed.records) << filesWritten;
    }
}

TEST(ExhibitionJournal, CommitFlushesDebouncedWritesFirst) {
    ClotheslinePlacementRecords existing;
    existing.insert("K-0", ClotheslinePlacementRecord{std::nullopt, {0, 0.5, 1}});
    writePlacements(existing);
    Photo raised;
    raised.id = "K-0";
    ExhibitionStore store(storageFolder());
    UsageHistory line(storageFolder(), "clothesline.json");
    {
        // A raise still waiting for its debounced write must not land after the commit and put
        // back the old records.
        ClotheslinePlacementStore positions(storageFolder(), {std::chrono::milliseconds(30), {}});
        ASSERT_TRUE(positions.bringToFront(raised).ok());
        ASSERT_TRUE(store.commit(references(1, "N"), 0.5, line, positions).ok());
        EXPECT_FALSE(positions.deferredWriter().needsSave());
        usleep(80'000);
        QCoreApplication::processEvents();
    }
    const ClotheslinePlacementStore reloaded(storageFolder());
    EXPECT_TRUE(reloaded.records().contains("N-0"));
    EXPECT_EQ(reloaded.records().value("K-0").placement.zIndex, 2) << "the raise was flushed into the commit";

    // A writer that cannot flush stops the commit before any journal exists.
    int attempts = 0;
    ClotheslinePlacementStore failing(storageFolder(), {std::chrono::milliseconds(10'000),
                                                        [&](const QJsonObject&, const QString&) -> Status {
                                                            ++attempts;
                                                            return Error::fromErrno(ENOSPC);
                                                        }});
    ASSERT_TRUE(failing.bringToFront(raised).ok());
    auto refused = store.commit(references(1, "M"), 0.5, line, failing);
    ASSERT_FALSE(refused.ok());
    EXPECT_EQ(refused.error().sysErrno, ENOSPC);
    EXPECT_EQ(attempts, 1);
    EXPECT_FALSE(QFile::exists(ExhibitionJournal::path(storageFolder())));
    EXPECT_FALSE(ClotheslinePlacementStore(storageFolder()).records().contains("M-0"));
}
