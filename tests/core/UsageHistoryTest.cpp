#include "core/UsageHistory.h"
#include "ControlledDisk.h"
#include "platform/Dates.h"
#include "platform/FileIdentity.h"
#include "platform/JsonFile.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QTest>
#include <gtest/gtest.h>

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

struct FixedClock {
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
    UsageHistory history(storage, kLineHistoryFileName);
    const Photo a = photo("a", 10.0), b = photo("b", std::nullopt), c = photo("c", 30.0, true);
    ASSERT_TRUE(history.observe({a, b, c}).ok());
    for (const Photo& p : {a, b, c})
        EXPECT_TRUE(history.isUsed(p)) << "everything present at the first run counts as used";
    const QByteArray written = test::readFile(storage + "/clothesline.json");
    EXPECT_TRUE(written.startsWith(R"({"initialized":true,"records":{"a":{"created":10,"usedAt":1000},)"))
        << written.toStdString();
    EXPECT_TRUE(written.endsWith(R"(},"version":2})"));
    ASSERT_TRUE(history.observe({a, b, c}).ok());
    EXPECT_EQ(history.deferredWriter().writeCount(), 1) << "seeing the same photos again writes nothing";

    clock.set(2000);
    const Photo arrival = photo("arrival"), fromNewFolder = photo("new", 100.0, true);
    ASSERT_TRUE(history.observe({a, arrival, fromNewFolder, photo("notBaseline", 100.0, false)}).ok());
    EXPECT_TRUE(history.hasRecord(arrival));
    EXPECT_FALSE(history.isUsed(arrival)) << "a new arrival gets a record without a used date: it hangs";
    EXPECT_FALSE(history.isUsed(photo("notBaseline")));
    EXPECT_EQ(history.records().value("new").usedAt, 2000.0) << "a new folder's existing photos do not hang";
    EXPECT_EQ(history.records().value("a").usedAt, 1000.0) << "known records are left alone";
    EXPECT_TRUE(history.hasRecord(c)) << "records of photos no longer listed stay";
    EXPECT_EQ(UsageHistory(storage, kLineHistoryFileName).records(), history.records());

    // A record of another file birth under the same key is not inherited.
    const Photo replacement = photo("a", 11.0);
    EXPECT_FALSE(history.hasRecord(replacement));
    EXPECT_TRUE(history.isUsed(photo("a", 10.0 + 1e-7))) << "below a microsecond it is the same file";
    ASSERT_TRUE(history.observe({replacement}).ok());
    EXPECT_FALSE(history.isUsed(replacement)) << "the new file arrives and hangs";
    EXPECT_FALSE(history.hasRecord(photo("a", 10.0)));

    // Without a creation date on the photo the file's own birth is recorded.
    Photo onDisk = photo("real", std::nullopt);
    onDisk.path = test::makeFolder("files") + "/real.jpg";
    test::writeFile(onDisk.path, "jpeg");
    ASSERT_TRUE(history.setUsed(onDisk, true).ok());
    EXPECT_EQ(history.records().value("real").created, FileIdentity::read(onDisk.path)->created);
}

TEST(UsageHistory, OlderFormsLoadAndBrokenFilesAreKeptAndRefused) {
    const QString older = test::makeFolder("older");
    test::writeFile(older + "/usage.json", R"({"k1":{"usedAt":5},"k2":{},"k3":{"created":null}})");
    UsageHistory bare(older);
    ASSERT_FALSE(bare.loadError());
    EXPECT_FALSE(bare.initialized()) << "the bare dictionary form is not initialized";
    EXPECT_TRUE(bare.isUsed(photo("k1")));
    EXPECT_FALSE(bare.isUsed(photo("k2")));
    EXPECT_EQ(bare.records().value("k3"), UsageRecord{}) << "a null date reads as absent";
    test::writeFile(older + "/usage.json", R"({"initialized":true,"records":{"k":{}},"version":7})");
    EXPECT_TRUE(UsageHistory(older).initialized()) << "any version is read";

    const QString corrupt = "使用记录无法读取：数据已损坏，无法读取。";
    int n = 0;
    for (const QByteArray& bytes :
         {QByteArray("not json"), QByteArray(R"({"initialized":"yes","records":{},"version":2})"),
          QByteArray(R"({"initialized":true,"records":{"k":{"created":"x"}},"version":2})"),
          QByteArray(R"({"k":{"usedAt":true}})"), QByteArray(R"(["k"])")}) {
        SCOPED_TRACE(bytes.toStdString());
        const QString storage = test::makeFolder(QString("broken%1").arg(n++));
        test::writeFile(storage + "/photo-interactions.json", bytes);
        UsageHistory history(storage, kInteractionsHistoryFileName);
        ASSERT_TRUE(history.loadError());
        EXPECT_EQ(*history.loadError(), corrupt);
        const Photo p = photo("k");
        const Error usage = Error::make("Vennimo.Usage", 1, corrupt);
        EXPECT_EQ(history.setUsed(p, true).error(), usage);
        EXPECT_EQ(history.observe({p}).error(), usage);
        EXPECT_EQ(history.observeArrivals({p}, nullptr).error(), usage);
        EXPECT_EQ(history.setUsedDeferred({p}, true).error(), Error::make("Vennimo.Exhibition", 1, corrupt));
        EXPECT_FALSE(history.isUsed(p));
        EXPECT_FALSE(history.deferredWriter().needsSave());
        EXPECT_EQ(test::readFile(storage + "/photo-interactions.json"), bytes) << "the broken file is kept";
        EXPECT_EQ(QDir(storage).entryList(QDir::Files | QDir::Hidden).size(), 1);
    }
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
    ASSERT_TRUE(interactions
                    .observeArrivals({photo("used"), photo("open"), photo("unknown"), photo("reborn"),
                                      photo("acknowledged"), photo("pending")},
                                     &legacy)
                    .ok());
    EXPECT_TRUE(interactions.isUsed(photo("used")));
    EXPECT_FALSE(interactions.isUsed(photo("open"))) << "still unacknowledged in the older history";
    EXPECT_TRUE(interactions.isUsed(photo("unknown"))) << "unknown to the older history: seen";
    EXPECT_TRUE(interactions.isUsed(photo("reborn"))) << "another file birth in the older history: seen";
    EXPECT_EQ(interactions.records().value("acknowledged").usedAt, 7.0) << "an existing used mark stays";
    EXPECT_EQ(interactions.records().value("pending").usedAt, 500.0);
    ASSERT_TRUE(interactions.observeArrivals({photo("later")}, &legacy).ok());
    EXPECT_FALSE(interactions.isUsed(photo("later"))) << "after the first run arrivals are new";

    test::writeFile(storage + "/usage.json", "garbage");
    UsageHistory broken(storage);
    UsageHistory fresh(test::makeFolder("fresh"), kInteractionsHistoryFileName);
    ASSERT_TRUE(fresh.observeArrivals({photo("open")}, &broken).ok());
    EXPECT_TRUE(fresh.isUsed(photo("open"))) << "a broken older history decides nothing";
}

TEST(UsageHistory, WritesAdoptChangesOnlyOnSuccessAndDeferredMarksCoalesce) {
    FixedClock clock(42);
    test::ControlledDisk disk;
    UsageHistory history(test::makeFolder("fail"), kLineHistoryFileName, disk.options(100ms));
    const Photo a = photo("a"), b = photo("b");
    disk.failing = true;
    EXPECT_EQ(history.setUsed(a, true).error().sysErrno, ENOSPC);
    EXPECT_TRUE(history.records().isEmpty()) << "memory follows the disk";
    EXPECT_FALSE(history.observe({a}).ok());
    EXPECT_FALSE(history.initialized()) << "a failed first observation is repeated later";
    disk.failing = false;

    QList<std::optional<Error>> results;
    history.deferredWriter().setOnResult([&](const std::optional<Error>& e) { results << e; });
    ASSERT_TRUE(history.setUsedDeferred({a}, true).ok());
    ASSERT_TRUE(history.setUsedDeferred({b}, true).ok());
    EXPECT_TRUE(history.isUsed(a) && history.isUsed(b)) << "deferred marks change memory at once";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !results.isEmpty(); }, 5000));
    EXPECT_EQ(disk.writes, 1) << "two marks within the quiet spell cost one write";

    // An immediate write carries a deferred mark with it, and the older snapshot never lands.
    ASSERT_TRUE(history.setUsedDeferred({photo("c")}, true).ok());
    ASSERT_TRUE(history.setUsed(photo("d"), false).ok());
    EXPECT_FALSE(history.deferredWriter().needsSave());
    QTest::qWait(250);
    EXPECT_EQ(disk.writes, 2);
    EXPECT_EQ(fileRecords(history.file()).keys(), (QStringList{"a", "b", "c", "d"}));
    EXPECT_EQ(fileRecords(history.file()).value("d").toObject(), QJsonObject({{"created", 100.0}}))
        << "not used still keeps a record, which hangs the print";
}
