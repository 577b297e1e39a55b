#include "core/ClotheslinePlacementStore.h"
#include "ControlledDisk.h"
#include "platform/JsonFile.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QTest>
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <limits>

using namespace vennimo;
using namespace std::chrono_literals;

namespace {

constexpr qint64 kMax = std::numeric_limits<qint64>::max();

Photo photo(const QString& key, std::optional<double> created = 100.0) {
    Photo p;
    p.id = "1-" + key;
    p.usageID = key;
    p.path = "/nowhere/" + key + ".jpg";
    p.created = created;
    return p;
}

double xOf(const ClotheslinePlacementStore& store, const Photo& p) {
    const auto placement = store.position(p);
    return placement ? placement->x : -1;
}

QString placementsFile(const QString& storage) {
    return storage + "/clothesline-positions.json";
}

} // namespace

TEST(ClotheslinePlacementStore, NewPrintsTakeFreeSlotsOnRowZero) {
    const QString storage = test::makeFolder("five");
    ClotheslinePlacementStore store(storage);
    EXPECT_FALSE(store.loadError());
    EXPECT_TRUE(store.records().isEmpty());
    EXPECT_FALSE(QFile::exists(placementsFile(storage)));

    const Photo first = photo("first", 12.5);
    ASSERT_TRUE(store.ensurePositions({first}, 5).value());
    EXPECT_EQ(store.position(first), (ClotheslinePlacement{0, 0, 0}));
    EXPECT_EQ(test::readFile(placementsFile(storage)),
              R"({"records":{"first":{"created":12.5,"placement":{"row":0,"x":0,"zIndex":0}}},"version":1})");

    // One print at 0.1 occupies the slots 0 and 0.25 (spacing 0.2125), so the next goes to 0.5.
    const Photo early = photo("early");
    ASSERT_TRUE(store.setPositions({{early, 0, 0.1}}).value());
    const Photo a = photo("a"), b = photo("b"), c = photo("c"), d = photo("d");
    ASSERT_TRUE(store.ensurePositions({early, a, b, c, d}, 5).value());
    EXPECT_DOUBLE_EQ(xOf(store, a), 0.5);
    EXPECT_DOUBLE_EQ(xOf(store, b), 0.75);
    EXPECT_DOUBLE_EQ(xOf(store, c), 1.0);
    EXPECT_DOUBLE_EQ(xOf(store, d), 0.3) << "no free slot: the middle of the widest gap (0.1 to 0.5)";
    EXPECT_EQ(store.position(first)->x, 0) << "unlisted prints do not occupy slots but keep their place";
    EXPECT_LT(store.position(a)->zIndex, store.position(d)->zIndex) << "later photos lie in front";

    const int writes = store.deferredWriter().writeCount();
    EXPECT_FALSE(store.ensurePositions({early, a, b, c, d}, 5).value()) << "nothing new";
    EXPECT_EQ(store.deferredWriter().writeCount(), writes) << "an unchanged store is not written";

    ClotheslinePlacementStore reopened(storage);
    EXPECT_EQ(reopened.records(), store.records());
}

TEST(ClotheslinePlacementStore, SlotRulesForFewAndManyColumns) {
    for (const int columns : {0, 1, -3}) {
        ClotheslinePlacementStore store(test::makeFolder(QString("single%1").arg(columns)));
        const Photo a = photo("a"), b = photo("b"), c = photo("c");
        ASSERT_TRUE(store.ensurePositions({a, b, c}, columns).value());
        EXPECT_DOUBLE_EQ(xOf(store, a), 0.5) << columns;
        EXPECT_DOUBLE_EQ(xOf(store, b), 0.25) << "the left of two equal gaps, columns " << columns;
        EXPECT_DOUBLE_EQ(xOf(store, c), 0.75) << columns;
        EXPECT_EQ(store.position(c)->zIndex, 2);
    }

    ClotheslinePlacementStore many(test::makeFolder("many"));
    const Photo a = photo("a"), b = photo("b");
    ASSERT_TRUE(many.ensurePositions({a, b}, 250).value());
    EXPECT_DOUBLE_EQ(xOf(many, b), 1.0 / 99) << "250 columns are capped at 100";

    ClotheslinePlacementStore twice(test::makeFolder("twice"));
    ASSERT_TRUE(twice.ensurePositions({a, a, photo("a", 300.0)}, 5).value());
    EXPECT_EQ(twice.records().size(), 1) << "one placement per record key, the first photo wins";
    EXPECT_EQ(twice.records().value("a").created, 100.0);
}

TEST(ClotheslinePlacementStore, ListedPrintsReturnToRowZeroAndFileBirthDecidesOwnership) {
    const QString storage = test::makeFolder("rows");
    ClotheslinePlacementStore store(storage);
    const Photo listed = photo("listed"), other = photo("other");
    ASSERT_TRUE(store.setPositions({{listed, 7, 0.4}, {other, 3, 0.9}}).value());
    const qint64 depth = store.position(listed)->zIndex;
    ASSERT_TRUE(store.ensurePositions({listed}, 5).value());
    EXPECT_EQ(store.position(listed), (ClotheslinePlacement{0, 0.4, depth})) << "row 0, same x and depth";
    EXPECT_EQ(store.position(other)->row, 3) << "unlisted photos keep their rows";

    const Photo nearlySame = photo("listed", 100.0 + 1e-7);
    EXPECT_TRUE(store.position(nearlySame));
    EXPECT_FALSE(store.ensurePositions({nearlySame}, 5).value()) << "1e-7 s apart is the same file";

    const Photo replaced = photo("listed", 100.5);
    EXPECT_FALSE(store.position(replaced)) << "a new file under an old key has no placement";
    ASSERT_TRUE(store.ensurePositions({replaced}, 5).value());
    EXPECT_EQ(store.records().value("listed").created, 100.5) << "the old file's record is replaced";
    EXPECT_EQ(store.position(replaced)->x, 0);
    EXPECT_FALSE(store.position(photo("listed", 100.0)));

    const Photo unknownBirth = photo("listed", std::nullopt);
    EXPECT_TRUE(store.position(unknownBirth)) << "an unknown creation date matches any record";
}

TEST(ClotheslinePlacementStore, MovesClampRefuseWholeCallsAndKeepMemoryOnWriteFailure) {
    const QString storage = test::makeFolder("moves");
    test::ControlledDisk disk;
    ClotheslinePlacementStore store(storage, disk.options());
    const Photo a = photo("a"), b = photo("b"), c = photo("c");
    ASSERT_TRUE(store.setPositions({{a, 2, 1.7}, {b, 10000, -0.2}}).value());
    EXPECT_EQ(store.position(a), (ClotheslinePlacement{2, 1.0, 0}));
    EXPECT_EQ(store.position(b), (ClotheslinePlacement{10000, 0.0, 1})) << "the last update is frontmost";
    EXPECT_TRUE(store.setPositions({{a, 2, 1.0}}).value()) << "an equal move still raises the print";
    EXPECT_EQ(store.position(a)->zIndex, 2);

    const auto before = store.records();
    const QByteArray onDisk = test::readFile(placementsFile(storage));
    const int writes = disk.writes;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    for (const auto& [row, x] :
         std::vector<std::pair<qint64, double>>{{10001, 0.5}, {-1, 0.5}, {0, nan}, {0, inf}}) {
        const auto refused = store.setPositions({{c, 0, 0.3}, {a, row, x}});
        ASSERT_FALSE(refused.ok()) << row << " " << x;
        EXPECT_EQ(refused.error(), Error::make("Vennimo.Placements", 4, "照片位置超出晾衣绳范围。"));
        EXPECT_EQ(store.records(), before) << "earlier updates of a refused call are dropped";
    }
    EXPECT_EQ(disk.writes, writes);
    EXPECT_EQ(test::readFile(placementsFile(storage)), onDisk);

    disk.failing = true;
    const auto failed = store.setPositions({{c, 0, 0.3}});
    ASSERT_FALSE(failed.ok());
    EXPECT_EQ(failed.error().sysErrno, ENOSPC);
    EXPECT_EQ(store.records(), before) << "memory follows the disk only after a successful write";
    const auto failedEnsure = store.ensurePositions({c}, 5);
    ASSERT_FALSE(failedEnsure.ok());
    EXPECT_FALSE(store.position(c));
    disk.failing = false;
    EXPECT_TRUE(store.setPositions({{c, 0, 0.3}}).value());
    EXPECT_EQ(ClotheslinePlacementStore(storage).records(), store.records());
}

TEST(ClotheslinePlacementStore, BringToFrontRaisesAtOnceAndWritesDebounced) {
    const QString storage = test::makeFolder("front");
    test::ControlledDisk disk;
    ClotheslinePlacementStore store(storage, disk.options(100ms));
    const Photo a = photo("a"), b = photo("b");
    ASSERT_TRUE(store.ensurePositions({a, b}, 5).value());
    const int writes = disk.writes;

    ASSERT_TRUE(store.bringToFront(photo("stranger")).ok());
    ASSERT_TRUE(store.bringToFront(photo("a", 555.0)).ok()) << "another file under the key is left alone";
    EXPECT_FALSE(store.deferredWriter().needsSave());
    EXPECT_EQ(store.position(a)->zIndex, 0);

    ASSERT_TRUE(store.bringToFront(a).ok());
    EXPECT_EQ(store.position(a)->zIndex, 2) << "raised in memory at once";
    ASSERT_TRUE(store.bringToFront(a).ok());
    EXPECT_EQ(store.position(a)->zIndex, 3) << "raised even when already in front";
    EXPECT_TRUE(store.deferredWriter().needsSave());
    EXPECT_EQ(disk.writes, writes);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !store.deferredWriter().needsSave(); }, 5000));
    EXPECT_EQ(disk.writes, writes + 1) << "a quick series of raises costs one write";
    EXPECT_EQ(ClotheslinePlacementStore(storage).position(a)->zIndex, 3);
}

TEST(ClotheslinePlacementStore, DepthsNearTheInt64LimitRenumberWithoutOverflow) {
    const QString storage = test::makeFolder("deep");
    // U+FF21 sorts before U+1F600 by scalar value but after it in UTF-16 code units.
    const QString wide = QString::fromUcs4(U"\U0000FF21");
    const QString emoji = QString::fromUcs4(U"\U0001F600");
    ClotheslinePlacementState state;
    state.records.insert("top", {1.0, {0, 0.5, kMax - 2}});
    state.records.insert("m", {1.0, {0, 0.2, 5}});
    state.records.insert("c", {1.0, {0, 0.2, 5}});
    state.records.insert(emoji, {1.0, {0, 0.2, 9}});
    state.records.insert(wide, {1.0, {0, 0.2, 9}});
    test::writeFile(placementsFile(storage), JsonFile::encode(toJson(state)));

    ClotheslinePlacementStore store(storage);
    ASSERT_FALSE(store.loadError()) << store.loadError()->toStdString();
    EXPECT_EQ(store.records().value("top").placement.zIndex, kMax - 2) << "64-bit depths read back exactly";
    const Photo added = photo("added");
    ASSERT_TRUE(store.setPositions({{added, 0, 0.7}}).value());
    EXPECT_EQ(store.records().value("c").placement.zIndex, 0);
    EXPECT_EQ(store.records().value("m").placement.zIndex, 1);
    EXPECT_EQ(store.records().value(wide).placement.zIndex, 2);
    EXPECT_EQ(store.records().value(emoji).placement.zIndex, 3);
    EXPECT_EQ(store.records().value("top").placement.zIndex, 4);
    EXPECT_EQ(store.position(added)->zIndex, 5) << "the next depth is the number of records";
    EXPECT_FALSE(ClotheslinePlacementStore(storage).loadError());

    ClotheslinePlacementRecords almost{{"x", {std::nullopt, {0, 0, kMax - 3}}}};
    EXPECT_EQ(ClotheslinePlacementStore::nextDepth(almost), kMax - 2) << "below the limit: one more";
    ClotheslinePlacementRecords highest{{"x", {std::nullopt, {0, 0, kMax - 1}}},
                                        {"y", {std::nullopt, {0, 0, 0}}}};
    EXPECT_EQ(ClotheslinePlacementStore::nextDepth(highest), 2);
    EXPECT_EQ(highest.value("x").placement.zIndex, 1);
    ClotheslinePlacementRecords none;
    EXPECT_EQ(ClotheslinePlacementStore::nextDepth(none), 0);

    // Raising at the limit renumbers the stored records themselves.
    const QString raised = test::makeFolder("raised");
    ClotheslinePlacementState edge;
    edge.records.insert("a", {100.0, {0, 0.5, kMax - 1}});
    edge.records.insert("b", {100.0, {0, 0.5, 3}});
    test::writeFile(placementsFile(raised), JsonFile::encode(toJson(edge)));
    ClotheslinePlacementStore edgeStore(raised);
    ASSERT_FALSE(edgeStore.loadError());
    ASSERT_TRUE(edgeStore.bringToFront(photo("b")).ok());
    ASSERT_TRUE(edgeStore.position(photo("a")) && edgeStore.position(photo("b")));
    EXPECT_EQ(edgeStore.position(photo("a"))->zIndex, 1);
    EXPECT_EQ(edgeStore.position(photo("b"))->zIndex, 2);
}

TEST(ClotheslinePlacementStore, UnreadableFilesAreKeptAndEveryChangeRefused) {
    const QString unsupported = "照片位置无法读取：照片位置记录格式不受支持。";
    const QString corrupt = "照片位置无法读取：数据已损坏，无法读取。";
    const QByteArray good = R"({"records":{"k":{"placement":{"row":0,"x":0.5,"zIndex":1}}},"version":1})";
    const std::vector<std::pair<QByteArray, QString>> cases{
        {R"({"records":{},"version":2})", unsupported},
        {R"({"records":{"k":{"placement":{"row":0,"x":1.5,"zIndex":1}}},"version":1})", unsupported},
        {R"({"records":{"k":{"placement":{"row":-1,"x":0.5,"zIndex":1}}},"version":1})", unsupported},
        {R"({"records":{"k":{"placement":{"row":10001,"x":0.5,"zIndex":1}}},"version":1})", unsupported},
        {R"({"records":{"k":{"placement":{"row":0,"x":0.5,"zIndex":-1}}},"version":1})", unsupported},
        {R"({"records":{"k":{"placement":{"row":0,"x":0.5,"zIndex":9223372036854775807}}},"version":1})", {}},
        {R"({"records":{"k":{"placement":{"row":0,"x":"0.5","zIndex":1}}},"version":1})", corrupt},
        {R"({"records":{"k":{"placement":{"row":0.5,"x":0.5,"zIndex":1}}},"version":1})", corrupt},
        {R"({"records":{"k":{"created":"yesterday","placement":{"row":0,"x":0.5,"zIndex":1}}},"version":1})",
         corrupt},
        {R"({"records":{}})", corrupt},
        {R"([1,2])", corrupt},
        {good.left(good.size() - 9), corrupt},
        {"", corrupt},
    };
    int n = 0;
    for (const auto& [bytes, expected] : cases) {
        const QString storage = test::makeFolder(QString("broken%1").arg(n++));
        test::writeFile(placementsFile(storage), bytes);
        ClotheslinePlacementStore store(storage);
        ASSERT_TRUE(store.loadError()) << bytes.toStdString();
        if (!expected.isEmpty()) {
            EXPECT_EQ(*store.loadError(), expected) << bytes.toStdString();
        }
        EXPECT_TRUE(store.records().isEmpty());
        const Error refusal = Error::make("Vennimo.Placements", 2, *store.loadError());
        const Photo p = photo("k");
        EXPECT_EQ(store.ensurePositions({p}, 5).error(), refusal);
        EXPECT_EQ(store.setPositions({{p, 0, 0.5}}).error(), refusal);
        EXPECT_EQ(store.bringToFront(p).error(), refusal);
        EXPECT_FALSE(store.position(p));
        EXPECT_TRUE(store.deferredWriter().flush().ok());
        EXPECT_EQ(store.deferredWriter().writeCount(), 0);
        EXPECT_EQ(test::readFile(placementsFile(storage)), bytes) << "a broken file stays byte-identical";
        EXPECT_EQ(QDir(storage).entryList(QDir::Files | QDir::Hidden).size(), 1) << "nothing else written";
    }

    const QString folderInTheWay = test::makeFolder("dir");
    QDir().mkpath(placementsFile(folderInTheWay));
    ClotheslinePlacementStore unreadable(folderInTheWay);
    ASSERT_TRUE(unreadable.loadError());
    EXPECT_TRUE(unreadable.loadError()->startsWith("照片位置无法读取："));

    const QString fine = test::makeFolder("fine");
    test::writeFile(placementsFile(fine), good);
    ClotheslinePlacementStore store(fine);
    EXPECT_FALSE(store.loadError());
    EXPECT_EQ(store.position(photo("k", 1e9)), (ClotheslinePlacement{0, 0.5, 1})) << "no created: any birth";
}
