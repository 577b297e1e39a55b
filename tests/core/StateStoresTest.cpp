#include "core/ClotheslinePlacementStore.h"
#include "core/DeferredStateWriter.h"
#include "core/UsageHistory.h"
#include "platform/Dates.h"
#include "platform/JsonFile.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>
#include <thread>

#include <sys/stat.h>

using namespace vennimo;
using namespace std::chrono_literals;

namespace {

constexpr qint64 kMax = std::numeric_limits<qint64>::max();

Photo photo(const QString& key, std::optional<double> created = 100.0,
            std::optional<bool> baselineImported = std::nullopt) {
    Photo p{"1-" + key, "/nowhere/" + key + ".jpg", "", 0, 0, 0, ""};
    p.usageID = key;
    p.created = created;
    p.baselineImported = baselineImported;
    return p;
}

// A state file writer that counts its writes and fails with "disk full" while told to.
struct ControlledDisk {
    std::atomic<int> writes{0};
    std::atomic<bool> failing{false};
    DeferredStateWriter::Options options(std::chrono::milliseconds delay) {
        return {delay, [this](const QJsonObject& value, const QString& path) -> Status {
                    if (failing)
                        return Error::fromErrno(ENOSPC, path);
                    ++writes;
                    return DeferredStateWriter::write(value, path);
                }};
    }
};

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

double xOf(const ClotheslinePlacementStore& store, const Photo& p) {
    const auto placement = store.position(p);
    return placement ? placement->x : -1;
}

QString placementsFile(const QString& storage) {
    return storage + "/clothesline-positions.json";
}

// Records which operations ran and whether all ran off the main thread, and the results reported.
struct Log {
    mutable std::mutex mutex;
    QStringList ran;
    bool offMain = true;
    QList<std::optional<Error>> results;
    bool resultsOnMain = true;
    DeferredStateWriter::Operation op(const QString& name, Status result = {}) {
        return [this, name, result] {
            std::lock_guard lock(mutex);
            ran << name;
            offMain = offMain && !isMainThread();
            return result;
        };
    }
    QStringList operations() const {
        std::lock_guard lock(mutex);
        return ran;
    }
    void attach(DeferredStateWriter& writer) {
        writer.setOnResult([this](const std::optional<Error>& error) {
            results << error;
            resultsOnMain = resultsOnMain && isMainThread();
        });
    }
};

const Error kDiskFull = Error::fromErrno(ENOSPC, QStringLiteral("/state.json"));

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
    // A record of another file birth under the same key is not inherited.
    const Photo replacement = photo("a", 11.0);
    EXPECT_FALSE(history.hasRecord(replacement));
    EXPECT_FALSE(history.isUsed(replacement)) << "a new file on a reused inode is not yet used";
    EXPECT_TRUE(history.isUsed(photo("a", 10.0 + 1e-7))) << "below a microsecond it is the same file";
    ASSERT_TRUE(history.observe({replacement}).ok());
    EXPECT_FALSE(history.isUsed(replacement)) << "the new file arrives and hangs";
    EXPECT_FALSE(history.hasRecord(photo("a", 10.0)));
}

TEST(UsageHistory, OlderFormsLoadAndBrokenFilesAreKeptAndRefused) {
    const QString older = test::makeFolder("older");
    test::writeFile(older + "/usage.json", R"({"k1":{"usedAt":5},"k2":{"created":null}})");
    UsageHistory bare(older);
    ASSERT_FALSE(bare.loadError());
    EXPECT_FALSE(bare.initialized()) << "the bare dictionary form is not initialized";
    EXPECT_TRUE(bare.isUsed(photo("k1")));
    EXPECT_FALSE(bare.isUsed(photo("k2")));
    test::writeFile(older + "/usage.json", R"({"initialized":true,"records":{},"version":7})");
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
}

TEST(UsageHistory, WritesAdoptChangesOnlyOnSuccessAndDeferredMarksCoalesce) {
    FixedClock clock(42);
    ControlledDisk disk;
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return !results.isEmpty(); }, 10000));
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

TEST(ClotheslinePlacementStore, NewPrintsTakeFreeSlotsOnRowZero) {
    const QString storage = test::makeFolder("five");
    ClotheslinePlacementStore store(storage);
    const Photo first = photo("first", 12.5);
    ASSERT_TRUE(store.ensurePositions({first}, 5).value());
    EXPECT_EQ(test::readFile(placementsFile(storage)),
              R"({"records":{"first":{"created":12.5,"placement":{"row":0,"x":0,"zIndex":0}}},"version":1})");
    // One print at 0.045 occupies the slots 0 and 0.25 (spacing 0.2125), so the next goes to 0.5.
    const Photo early = photo("early"), a = photo("a"), b = photo("b"), c = photo("c"), d = photo("d");
    ASSERT_TRUE(store.setPositions({{early, 7, 0.045}}).value());
    ASSERT_TRUE(store.ensurePositions({early, a, b, c, d}, 5).value());
    EXPECT_DOUBLE_EQ(xOf(store, a), 0.5);
    EXPECT_DOUBLE_EQ(xOf(store, b), 0.75);
    EXPECT_DOUBLE_EQ(xOf(store, c), 1.0);
    EXPECT_DOUBLE_EQ(xOf(store, d), 0.2725) << "no free slot: the middle of the widest gap (0.045 to 0.5)";
    EXPECT_EQ(xOf(store, first), 0) << "unlisted prints do not occupy slots but keep their place";
    EXPECT_LT(store.position(a)->zIndex, store.position(d)->zIndex) << "later photos lie in front";
    const int writes = store.deferredWriter().writeCount();
    EXPECT_FALSE(store.ensurePositions({early, a, b, c, d}, 5).value());
    EXPECT_EQ(store.deferredWriter().writeCount(), writes) << "an unchanged store is not written";
    for (const int columns : {1, -3}) {
        ClotheslinePlacementStore single(test::makeFolder(QString("single%1").arg(columns)));
        ASSERT_TRUE(single.ensurePositions({a, b, c}, columns).value());
        EXPECT_DOUBLE_EQ(xOf(single, a), 0.5) << columns;
        EXPECT_DOUBLE_EQ(xOf(single, b), 0.25) << "the left of two equal gaps, columns " << columns;
        EXPECT_DOUBLE_EQ(xOf(single, c), 0.75) << columns;
    }
    ClotheslinePlacementStore many(test::makeFolder("many"));
    ASSERT_TRUE(many.ensurePositions({a, b}, 250).value());
    EXPECT_DOUBLE_EQ(xOf(many, b), 1.0 / 99) << "250 columns are capped at 100";
}

// Past the free slots, newcomers halve the gaps level by level, left to right; the gaps they
// leave behind are the ones the next call splits.
TEST(ClotheslinePlacementStore, NewcomersBeyondTheSlotsHalveTheWidestGapsLeftToRight) {
    ClotheslinePlacementStore store(test::makeFolder("halves"));
    QList<Photo> first;
    for (int i = 0; i < 7; ++i)
        first.append(photo(QString("p%1").arg(i)));
    ASSERT_TRUE(store.ensurePositions(first, 1).value());
    const double expected[] = {0.5, 0.25, 0.75, 0.125, 0.375, 0.625, 0.875};
    for (int i = 0; i < 7; ++i)
        EXPECT_DOUBLE_EQ(xOf(store, first[i]), expected[i]) << i;
    const Photo eighth = photo("p7"), ninth = photo("p8");
    ASSERT_TRUE(store.ensurePositions(first + QList<Photo>{eighth, ninth}, 1).value());
    EXPECT_DOUBLE_EQ(xOf(store, eighth), 0.0625);
    EXPECT_DOUBLE_EQ(xOf(store, ninth), 0.1875);
}

TEST(ClotheslinePlacementStore, MovesClampRefuseWholeCallsAndKeepMemoryOnWriteFailure) {
    const QString storage = test::makeFolder("moves");
    ControlledDisk disk;
    ClotheslinePlacementStore store(storage, disk.options(100ms));
    const Photo a = photo("a"), b = photo("b"), c = photo("c");
    ASSERT_TRUE(store.setPositions({{a, 2, 1.7}, {b, 10000, -0.2}}).value());
    EXPECT_EQ(store.position(a), (ClotheslinePlacement{2, 1.0, 0}));
    EXPECT_EQ(store.position(b), (ClotheslinePlacement{10000, 0.0, 1})) << "the last update is frontmost";
    const auto before = store.records();
    const QByteArray onDisk = test::readFile(placementsFile(storage));
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
    for (const auto& [row, x] :
         std::vector<std::pair<qint64, double>>{{10001, 0.5}, {-1, 0.5}, {0, nan}, {0, inf}}) {
        const auto refused = store.setPositions({{c, 0, 0.3}, {a, row, x}});
        EXPECT_EQ(refused.error(), Error::make("Vennimo.Placements", 4, "照片位置超出晾衣绳范围。"))
            << row << x;
        EXPECT_EQ(store.records(), before) << "earlier updates of a refused call are dropped";
    }
    disk.failing = true;
    EXPECT_EQ(store.setPositions({{c, 0, 0.3}}).error().sysErrno, ENOSPC);
    EXPECT_FALSE(store.ensurePositions({c}, 5).ok());
    EXPECT_EQ(store.records(), before) << "memory follows the disk only after a successful write";
    EXPECT_EQ(test::readFile(placementsFile(storage)), onDisk);
    disk.failing = false;
    const int writes = disk.writes;
    ASSERT_TRUE(store.bringToFront(a).ok());
    ASSERT_TRUE(store.bringToFront(a).ok());
    EXPECT_EQ(store.position(a)->zIndex, 3) << "raised in memory at once, even when already in front";
    EXPECT_EQ(disk.writes, writes);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !store.deferredWriter().needsSave(); }, 10000));
    EXPECT_EQ(disk.writes, writes + 1) << "a quick series of raises costs one write";
    EXPECT_EQ(ClotheslinePlacementStore(storage).records(), store.records());
}

TEST(ClotheslinePlacementStore, DepthsNearTheInt64LimitRenumberWithoutOverflow) {
    const QString storage = test::makeFolder("deep");
    // U+FF21 sorts before U+1F600 by scalar value but after it in UTF-16 code units.
    const QString wide = QString::fromUcs4(U"\U0000FF21"), emoji = QString::fromUcs4(U"\U0001F600");
    ClotheslinePlacementState state;
    state.records.insert("top", {1.0, {0, 0.5, kMax - 1}});
    state.records.insert("m", {1.0, {0, 0.2, 5}});
    state.records.insert("c", {1.0, {0, 0.2, 5}});
    state.records.insert(emoji, {1.0, {0, 0.2, 9}});
    state.records.insert(wide, {1.0, {0, 0.2, 9}});
    test::writeFile(placementsFile(storage), JsonFile::encode(toJson(state)));
    ClotheslinePlacementStore store(storage);
    ASSERT_FALSE(store.loadError()) << store.loadError()->toStdString();
    EXPECT_EQ(store.records().value("top").placement.zIndex, kMax - 1) << "64-bit depths read back exactly";
    ASSERT_TRUE(store.bringToFront(photo("top", 1.0)).ok());
    QStringList order;
    for (const QString& key : {QString("c"), QString("m"), wide, emoji, QString("top")})
        order << QString::number(store.records().value(key).placement.zIndex);
    EXPECT_EQ(order.join(","), "0,1,2,3,5") << "ordered by (depth, key), then the raised one on top";
}

TEST(ClotheslinePlacementStore, UnreadableFilesAreKeptAndEveryChangeRefused) {
    const QString unsupported = "照片位置无法读取：照片位置记录格式不受支持。";
    const QString corrupt = "照片位置无法读取：数据已损坏，无法读取。";
    const auto file = [](const char* placement) {
        return QByteArray(R"({"records":{"k":{"placement":)") + placement + R"(}},"version":1})";
    };
    const std::vector<std::pair<QByteArray, QString>> cases{
        {R"({"records":{},"version":2})", unsupported},
        {file(R"({"row":0,"x":1.5,"zIndex":1})"), unsupported},
        {file(R"({"row":0,"x":0.5,"zIndex":-1})"), unsupported},
        {file(R"({"row":0,"x":0.5,"zIndex":9223372036854775807})"), {}},
        {file(R"({"row":0.5,"x":0.5,"zIndex":1})"), corrupt},
        {R"({"records":{}})", corrupt},
        {file(R"({"row":0,"x":0.5,"zIndex":1})").chopped(9), corrupt},
    };
    int n = 0;
    for (const auto& [bytes, expected] : cases) {
        SCOPED_TRACE(bytes.toStdString());
        const QString storage = test::makeFolder(QString("broken%1").arg(n++));
        test::writeFile(placementsFile(storage), bytes);
        ClotheslinePlacementStore store(storage);
        ASSERT_TRUE(store.loadError());
        EXPECT_TRUE(expected.isEmpty() || *store.loadError() == expected) << store.loadError()->toStdString();
        const Error refusal = Error::make("Vennimo.Placements", 2, *store.loadError());
        const Photo p = photo("k");
        EXPECT_EQ(store.ensurePositions({p}, 5).error(), refusal);
        EXPECT_EQ(store.setPositions({{p, 0, 0.5}}).error(), refusal);
        EXPECT_EQ(store.bringToFront(p).error(), refusal);
        EXPECT_TRUE(store.deferredWriter().flush().ok());
        EXPECT_EQ(test::readFile(placementsFile(storage)), bytes) << "a broken file stays byte-identical";
        EXPECT_EQ(QDir(storage).entryList(QDir::Files | QDir::Hidden).size(), 1) << "nothing else written";
    }
}

TEST(DeferredStateWriter, StateFilesThatAreNoRegularFilesAreRefusedUnopened) {
    const QString storage = test::makeFolder("odd");
    const QString fifo = storage + "/clothesline.json";
    ASSERT_EQ(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    EXPECT_EQ(DeferredStateWriter::readStateFile(fifo).error().sysErrno, EINVAL) << "opening it would block";
    EXPECT_EQ(DeferredStateWriter::readStateFile(storage).error().sysErrno, EISDIR);
    UsageHistory history(storage, "clothesline.json");
    EXPECT_TRUE(history.loadError()) << "kept and refused like any unreadable file";
}

TEST(DeferredStateWriter, ABurstWritesOnlyTheLastOnceAfterTheQuietSpell) {
    // A quiet spell far longer than the pauses between the requests, which a loaded machine may
    // stretch.
    DeferredStateWriter writer(DeferredStateWriter::Options{1000ms, {}});
    Log log;
    log.attach(writer);
    writer.schedule(log.op("first"));
    std::this_thread::sleep_for(50ms);
    writer.schedule(log.op("second"));
    std::this_thread::sleep_for(50ms);
    QElapsedTimer sinceLast;
    sinceLast.start();
    std::atomic<qint64> writtenAfter{-1};
    writer.schedule([&, third = log.op("third")] {
        writtenAfter = sinceLast.elapsed();
        return third();
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !log.results.isEmpty(); }, 10000)) << "no result reported";
    EXPECT_GE(writtenAfter, 1000) << "the wait restarts with every request: no earlier timer writes";
    EXPECT_EQ(log.operations(), QStringList{"third"}) << "earlier operations are dropped unrun";
    EXPECT_TRUE(log.offMain && log.resultsOnMain) << "written on the queue, reported on the main thread";
    EXPECT_EQ(writer.writeCount(), 1);
}

TEST(DeferredStateWriter, FlushImmediateDiscardAndDroppingTheOwnerSupersedeTheDebounce) {
    Log log;
    {
        DeferredStateWriter writer(DeferredStateWriter::Options{100ms, {}});
        log.attach(writer);
        writer.schedule(log.op("debounced"));
        ASSERT_TRUE(writer.immediate(log.op("immediate")).ok());
        EXPECT_FALSE(writer.needsSave()) << "the immediate write stands for the owed one";
        writer.schedule(log.op("flushed"));
        ASSERT_TRUE(writer.flush().ok());
        EXPECT_EQ(log.operations(), (QStringList{"immediate", "flushed"})) << "flush writes at once";
        writer.schedule(log.op("discarded"));
        writer.discardPending();
        QTest::qWait(300);
        EXPECT_EQ(log.operations(), (QStringList{"immediate", "flushed"})) << "no timer writes again";
        writer.schedule(log.op("owed"));
    }
    QTest::qWait(50);
    EXPECT_EQ(log.operations().last(), "owed") << "dropping the owner writes what is owed";
    EXPECT_TRUE(log.results.isEmpty()) << "flushed, discarded and dropped writes report nothing";
}

TEST(DeferredStateWriter, FailedWritesStayOwedUntilALaterWriteSucceeds) {
    DeferredStateWriter writer(DeferredStateWriter::Options{50ms, {}});
    Log log;
    log.attach(writer);
    std::atomic<int> attempts{0};
    std::atomic<bool> failing{true};
    writer.schedule([&]() -> Status {
        ++attempts;
        return failing ? Status(kDiskFull) : Status();
    });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !log.results.isEmpty(); }, 10000));
    ASSERT_TRUE(log.results.first().has_value()) << "the failure reaches the result callback";
    EXPECT_TRUE(writer.needsSave()) << "a failed debounced write is still owed";
    EXPECT_EQ(writer.flush().error().sysErrno, ENOSPC) << "flush passes the error on";
    failing = false;
    ASSERT_TRUE(writer.flush().ok());
    EXPECT_EQ(attempts.load(), 3) << "the next flush retries the same operation";
    EXPECT_FALSE(writer.needsSave());
    // A failing immediate write must not cancel what was owed before it.
    writer.schedule(log.op("owed"));
    EXPECT_FALSE(writer.immediate(log.op("immediate", kDiskFull)).ok());
    EXPECT_TRUE(writer.needsSave());
    ASSERT_TRUE(writer.flush().ok());
    EXPECT_EQ(log.operations(), (QStringList{"immediate", "owed"}));
}
