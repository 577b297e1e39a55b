#include "core/UsageHistory.h"
#include "ControlledDisk.h"
#include "platform/Dates.h"
#include "platform/FileIdentity.h"
#include "platform/JsonFile.h"
#include "platform/VolumeUuid.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>

using namespace vennimo;
using namespace std::chrono_literals;

namespace {

Photo photo(const QString& key, std::optional<double> created = 100.0,
            std::optional<bool> baselineImported = std::nullopt) {
    Photo p;
    p.id = "1-" + key;
    p.usageID = key;
    p.path = "/nowhere/" + key + ".jpg";
    p.created = created;
    p.baselineImported = baselineImported;
    return p;
}

QJsonObject fileRecords(const QString& path) {
    return JsonFile::read(path).value().value("records").toObject();
}

class FixedClock {
public:
    explicit FixedClock(double now) { set(now); }
    ~FixedClock() { Clock::setOverride({}); }
    void set(double now) {
        Clock::setOverride([now] { return now; });
    }
};

} // namespace

TEST(UsageHistory, FirstObservationMarksEverythingUsedAndLaterArrivalsHangUnlessBaseline) {
    FixedClock clock(1000);
    const QString storage = test::makeFolder("line");
    const QString file = storage + "/clothesline.json";
    UsageHistory history(storage, kLineHistoryFileName);
    EXPECT_EQ(history.file(), file);
    EXPECT_FALSE(history.initialized());
    EXPECT_FALSE(history.loadError());

    const Photo a = photo("a", 10.0), b = photo("b", std::nullopt), c = photo("c", 30.0, true);
    ASSERT_TRUE(history.observe({a, b, c}).ok());
    EXPECT_TRUE(history.initialized());
    for (const Photo& p : {a, b, c})
        EXPECT_TRUE(history.isUsed(p)) << "everything present at the first run counts as used";
    const QByteArray written = test::readFile(file);
    EXPECT_TRUE(written.startsWith(R"({"initialized":true,"records":{"a":{"created":10,"usedAt":1000},)"))
        << written.toStdString();
    EXPECT_TRUE(written.endsWith(R"(},"version":2})")) << written.toStdString();
    EXPECT_EQ(history.deferredWriter().writeCount(), 1);
    ASSERT_TRUE(history.observe({a, b, c}).ok());
    EXPECT_EQ(history.deferredWriter().writeCount(), 1) << "seeing the same photos again writes nothing";

    clock.set(2000);
    const Photo arrival = photo("arrival");
    const Photo fromNewFolder = photo("fromNewFolder", 100.0, true);
    const Photo notBaseline = photo("notBaseline", 100.0, false);
    ASSERT_TRUE(history.observe({a, arrival, fromNewFolder, notBaseline}).ok());
    EXPECT_TRUE(history.hasRecord(arrival));
    EXPECT_FALSE(history.isUsed(arrival)) << "a new arrival gets a record without a used date: it hangs";
    EXPECT_FALSE(history.isUsed(notBaseline));
    EXPECT_TRUE(history.isUsed(fromNewFolder)) << "a newly added folder's existing photos do not hang";
    EXPECT_EQ(history.records().value("fromNewFolder").usedAt, 2000.0);
    EXPECT_EQ(history.records().value("a").usedAt, 1000.0) << "known records are left alone";
    EXPECT_TRUE(history.hasRecord(c)) << "records of photos no longer listed stay";
    EXPECT_EQ(fileRecords(file).value("arrival").toObject(), QJsonObject({{"created", 100.0}}));

    UsageHistory reopened(storage, kLineHistoryFileName);
    EXPECT_TRUE(reopened.initialized());
    EXPECT_EQ(reopened.records(), history.records());
}

TEST(UsageHistory, ARecordOfAnotherFileBirthIsNotInherited) {
    const QString storage = test::makeFolder("birth");
    UsageHistory history(storage, kLineHistoryFileName);
    const Photo original = photo("k", 100.0);
    ASSERT_TRUE(history.observe({original}).ok());
    ASSERT_TRUE(history.isUsed(original));

    const Photo replacement = photo("k", 101.0);
    EXPECT_FALSE(history.hasRecord(replacement)) << "same key, creation date 1 s later: a new file";
    EXPECT_FALSE(history.isUsed(replacement));
    EXPECT_TRUE(history.isUsed(photo("k", 100.0 + 1e-7))) << "below a microsecond it is the same file";
    EXPECT_TRUE(history.isUsed(photo("k", std::nullopt))) << "an unknown creation date matches";
    ASSERT_TRUE(history.observe({replacement}).ok());
    EXPECT_TRUE(history.hasRecord(replacement));
    EXPECT_FALSE(history.isUsed(replacement)) << "the new file arrives and hangs";
    EXPECT_FALSE(history.hasRecord(original));

    // Without a creation date on the photo the file's own birth is recorded.
    const QString path = test::makeFolder("files") + "/real.jpg";
    test::writeFile(path, "jpeg");
    Photo onDisk = photo("real", std::nullopt);
    onDisk.path = path;
    ASSERT_TRUE(history.setUsed(onDisk, true).ok());
    EXPECT_EQ(history.records().value("real").created, FileIdentity::read(path)->created);
}

TEST(UsageHistory, PhotosWithoutUsageIdentityAreKeyedByVolume) {
    const QString path = test::makeFolder("legacy") + "/old.jpg";
    test::writeFile(path, "jpeg");
    Photo old = photo("ignored");
    old.usageID.reset();
    old.id = "7-7";
    old.path = path;
    UsageHistory history(test::makeFolder("legacyStore"), kLineHistoryFileName);
    EXPECT_EQ(history.key(old), "7-7") << "before identities are prepared the id is the key";
    ASSERT_TRUE(history.setUsed(old, true).ok());
    const auto uuid = VolumeUuid::forPath(path);
    const QString expected =
        uuid ? *uuid + "-" + QString::number(FileIdentity::read(path)->fileNumber) : "7-7";
    EXPECT_EQ(history.records().keys(), QStringList{expected});
    EXPECT_TRUE(history.isUsed(old));

    Photo gone = old;
    gone.id = "8-8";
    gone.path = "/nowhere/at/all.jpg";
    history.prepareIdentities({gone});
    EXPECT_EQ(history.key(gone), "8-8") << "an unreadable file keeps its id as key";
}

TEST(UsageHistory, OlderFormsLoadAndBrokenFilesAreKeptAndRefused) {
    const QString older = test::makeFolder("older");
    test::writeFile(older + "/usage.json", R"({"k1":{"usedAt":5},"k2":{},"k3":{"created":null}})");
    UsageHistory bare(older);
    EXPECT_EQ(bare.file(), older + "/usage.json");
    ASSERT_FALSE(bare.loadError());
    EXPECT_FALSE(bare.initialized()) << "the bare dictionary form is not initialized";
    EXPECT_TRUE(bare.isUsed(photo("k1")));
    EXPECT_TRUE(bare.hasRecord(photo("k2")));
    EXPECT_FALSE(bare.isUsed(photo("k2")));
    EXPECT_EQ(bare.records().value("k3"), UsageRecord{}) << "a null date reads as absent";
    ASSERT_TRUE(bare.observe({photo("k2")}).ok());
    const QJsonObject rewritten = JsonFile::read(older + "/usage.json").value();
    EXPECT_EQ(rewritten.keys(), (QStringList{"initialized", "records", "version"}))
        << "rewritten in current form";
    EXPECT_EQ(rewritten.value("version").toInt(), 2);

    const QString otherVersion = test::makeFolder("v7");
    test::writeFile(otherVersion + "/usage.json", R"({"initialized":true,"records":{"k":{}},"version":7})");
    UsageHistory seven(otherVersion);
    EXPECT_FALSE(seven.loadError()) << "any version is read";
    EXPECT_TRUE(seven.initialized());

    const QString corrupt = "使用记录无法读取：数据已损坏，无法读取。";
    const std::vector<QByteArray> brokenFiles{
        "not json",
        R"({"initialized":"yes","records":{},"version":2})",
        R"({"initialized":true,"records":{"k":{"created":"x"}},"version":2})",
        R"({"initialized":true,"records":{"k":{"usedAt":5}},"ver)",
        R"({"k":{"usedAt":true}})",
        R"(["k"])",
    };
    int n = 0;
    for (const QByteArray& bytes : brokenFiles) {
        const QString storage = test::makeFolder(QString("broken%1").arg(n++));
        test::writeFile(storage + "/photo-interactions.json", bytes);
        UsageHistory history(storage, kInteractionsHistoryFileName);
        ASSERT_TRUE(history.loadError()) << bytes.toStdString();
        EXPECT_EQ(*history.loadError(), corrupt);
        EXPECT_TRUE(history.records().isEmpty());
        EXPECT_FALSE(history.initialized());
        const Photo p = photo("k");
        EXPECT_FALSE(history.isUsed(p));
        EXPECT_FALSE(history.hasRecord(p));
        const Error usage = Error::make("Vennimo.Usage", 1, corrupt);
        EXPECT_EQ(history.setUsed(p, true).error(), usage);
        EXPECT_EQ(history.observe({p}).error(), usage);
        EXPECT_EQ(history.observeArrivals({p}, nullptr).error(), usage);
        EXPECT_EQ(history.setUsedDeferred({p}, true).error(), Error::make("Vennimo.Exhibition", 1, corrupt));
        EXPECT_TRUE(history.records().isEmpty());
        EXPECT_FALSE(history.deferredWriter().needsSave());
        EXPECT_EQ(history.deferredWriter().writeCount(), 0);
        EXPECT_EQ(test::readFile(storage + "/photo-interactions.json"), bytes) << "the broken file is kept";
        EXPECT_EQ(QDir(storage).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }

    const QString folderInTheWay = test::makeFolder("dir");
    QDir().mkpath(folderInTheWay + "/clothesline.json");
    UsageHistory unreadable(folderInTheWay, kLineHistoryFileName);
    ASSERT_TRUE(unreadable.loadError());
    EXPECT_TRUE(unreadable.loadError()->startsWith("使用记录无法读取："));
}

TEST(UsageHistory, FirstArrivalsTakeTheirMarksFromTheOlderHistory) {
    FixedClock clock(500);
    const QString storage = test::makeFolder("arrivals");
    test::writeFile(storage + "/usage.json",
                    R"({"initialized":true,"version":2,"records":{)"
                    R"("used":{"created":100,"usedAt":5},"open":{"created":100},"reborn":{"created":1}}})");
    test::writeFile(storage + "/photo-interactions.json", R"({"acknowledged":{"usedAt":7},"pending":{}})");
    UsageHistory legacy(storage);
    UsageHistory interactions(storage, kInteractionsHistoryFileName);
    ASSERT_FALSE(interactions.initialized());
    ASSERT_TRUE(interactions
                    .observeArrivals({photo("used"), photo("open"), photo("unknown"), photo("reborn"),
                                      photo("acknowledged"), photo("pending")},
                                     &legacy)
                    .ok());
    EXPECT_TRUE(interactions.initialized());
    EXPECT_TRUE(interactions.isUsed(photo("used")));
    EXPECT_FALSE(interactions.isUsed(photo("open"))) << "still unacknowledged in the older history";
    EXPECT_TRUE(interactions.hasRecord(photo("open")));
    EXPECT_TRUE(interactions.isUsed(photo("unknown"))) << "unknown to the older history: seen";
    EXPECT_TRUE(interactions.isUsed(photo("reborn"))) << "another file birth in the older history: seen";
    EXPECT_EQ(interactions.records().value("acknowledged").usedAt, 7.0) << "an existing used mark stays";
    EXPECT_EQ(interactions.records().value("pending").usedAt, 500.0);
    EXPECT_EQ(test::readFile(storage + "/usage.json").count("reborn"), 1) << "the older file is only read";

    ASSERT_TRUE(interactions.observeArrivals({photo("later"), photo("baseline", 100.0, true)}, &legacy).ok());
    EXPECT_FALSE(interactions.isUsed(photo("later"))) << "after the first run arrivals are new";
    EXPECT_TRUE(interactions.isUsed(photo("baseline")));

    // An older history that is broken or never finished its first run decides nothing.
    const QString weak = test::makeFolder("weakLegacy");
    test::writeFile(weak + "/usage.json", R"({"open":{"created":100}})");
    UsageHistory unfinished(weak);
    UsageHistory fresh(weak, kInteractionsHistoryFileName);
    ASSERT_TRUE(fresh.observeArrivals({photo("open")}, &unfinished).ok());
    EXPECT_TRUE(fresh.isUsed(photo("open")));
    const QString bad = test::makeFolder("badLegacy");
    test::writeFile(bad + "/usage.json", "garbage");
    UsageHistory broken(bad);
    UsageHistory fresh2(bad, kInteractionsHistoryFileName);
    ASSERT_TRUE(fresh2.observeArrivals({photo("open")}, &broken).ok());
    EXPECT_TRUE(fresh2.isUsed(photo("open")));
}

TEST(UsageHistory, ImmediateWritesKeepMemoryWhenTheDiskFails) {
    FixedClock clock(42);
    const QString storage = test::makeFolder("fail");
    test::ControlledDisk disk;
    UsageHistory history(storage, kLineHistoryFileName, disk.options());
    const Photo a = photo("a");
    disk.failing = true;
    const Status failed = history.setUsed(a, true);
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().sysErrno, ENOSPC);
    EXPECT_TRUE(history.records().isEmpty());
    EXPECT_FALSE(history.observe({a}).ok());
    EXPECT_FALSE(history.initialized()) << "a failed first observation is repeated later";
    EXPECT_FALSE(QFile::exists(history.file()));

    disk.failing = false;
    ASSERT_TRUE(history.setUsed(a, true).ok());
    EXPECT_FALSE(history.initialized()) << "setUsed keeps the initialized flag";
    EXPECT_TRUE(history.isUsed(a));
    ASSERT_TRUE(history.setUsed({a}, false).ok());
    EXPECT_TRUE(history.hasRecord(a)) << "not used still keeps a record, which hangs the print";
    EXPECT_FALSE(history.isUsed(a));
    EXPECT_EQ(disk.writes, 2);
}

TEST(UsageHistory, DeferredMarksChangeMemoryAtOnceAndWriteOnceAfterABurst) {
    FixedClock clock(77);
    const QString storage = test::makeFolder("deferred");
    test::ControlledDisk disk;
    UsageHistory history(storage, kInteractionsHistoryFileName, disk.options(100ms));
    QList<std::optional<Error>> results;
    history.deferredWriter().setOnResult([&](const std::optional<Error>& e) { results << e; });
    const Photo a = photo("a"), b = photo("b", std::nullopt);
    ASSERT_TRUE(history.setUsedDeferred({a}, true).ok());
    ASSERT_TRUE(history.setUsedDeferred({b}, true).ok());
    EXPECT_TRUE(history.isUsed(a) && history.isUsed(b)) << "memory changes at once";
    EXPECT_FALSE(history.records().value("b").created) << "the file is not read for a deferred mark";
    EXPECT_TRUE(history.deferredWriter().needsSave());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !results.isEmpty(); }, 5000));
    EXPECT_EQ(disk.writes, 1) << "two marks within the quiet spell cost one write";
    EXPECT_FALSE(results.first());
    EXPECT_EQ(fileRecords(history.file()).keys(), (QStringList{"a", "b"}));

    disk.failing = true;
    ASSERT_TRUE(history.setUsedDeferred({a}, false).ok());
    ASSERT_TRUE(QTest::qWaitFor([&] { return results.size() == 2; }, 5000));
    ASSERT_TRUE(results.last().has_value());
    EXPECT_TRUE(history.deferredWriter().needsSave()) << "the failed write is still owed";
    EXPECT_FALSE(history.isUsed(a));
    disk.failing = false;
    ASSERT_TRUE(history.deferredWriter().flush().ok());
    EXPECT_EQ(fileRecords(history.file()).value("a").toObject(), QJsonObject({{"created", 100.0}}));
    EXPECT_EQ(UsageHistory(storage, kInteractionsHistoryFileName).records(), history.records());
}
