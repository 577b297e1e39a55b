#include "core/ClotheslinePlacementStore.h"
#include "ControlledDisk.h"
#include "platform/JsonFile.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QTest>
#include <gtest/gtest.h>

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
    const Photo first = photo("first", 12.5);
    ASSERT_TRUE(store.ensurePositions({first}, 5).value());
    EXPECT_EQ(test::readFile(placementsFile(storage)),
              R"({"records":{"first":{"created":12.5,"placement":{"row":0,"x":0,"zIndex":0}}},"version":1})");

    // One print at 0.1 occupies the slots 0 and 0.25 (spacing 0.2125), so the next goes to 0.5.
    const Photo early = photo("early"), a = photo("a"), b = photo("b"), c = photo("c"), d = photo("d");
    ASSERT_TRUE(store.setPositions({{early, 7, 0.1}}).value());
    ASSERT_TRUE(store.ensurePositions({early, a, b, c, d}, 5).value());
    EXPECT_EQ(store.position(early)->row, 0) << "listed prints return to row 0";
    EXPECT_DOUBLE_EQ(xOf(store, a), 0.5);
    EXPECT_DOUBLE_EQ(xOf(store, b), 0.75);
    EXPECT_DOUBLE_EQ(xOf(store, c), 1.0);
    EXPECT_DOUBLE_EQ(xOf(store, d), 0.3) << "no free slot: the middle of the widest gap (0.1 to 0.5)";
    EXPECT_EQ(xOf(store, first), 0) << "unlisted prints do not occupy slots but keep their place";
    EXPECT_LT(store.position(a)->zIndex, store.position(d)->zIndex) << "later photos lie in front";
    const int writes = store.deferredWriter().writeCount();
    EXPECT_FALSE(store.ensurePositions({early, a, b, c, d}, 5).value());
    EXPECT_EQ(store.deferredWriter().writeCount(), writes) << "an unchanged store is not written";
    EXPECT_EQ(ClotheslinePlacementStore(storage).records(), store.records());

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

TEST(ClotheslinePlacementStore, FileBirthDecidesOwnership) {
    ClotheslinePlacementStore store(test::makeFolder("rows"));
    ASSERT_TRUE(store.setPositions({{photo("k"), 7, 0.4}}).value());
    EXPECT_TRUE(store.position(photo("k", 100.0 + 1e-7))) << "1e-7 s apart is the same file";
    EXPECT_TRUE(store.position(photo("k", std::nullopt))) << "an unknown creation date matches any record";
    const Photo replaced = photo("k", 100.5);
    EXPECT_FALSE(store.position(replaced)) << "a new file under an old key has no placement";
    ASSERT_TRUE(store.bringToFront(replaced).ok());
    EXPECT_FALSE(store.deferredWriter().needsSave()) << "another file under the key is left alone";
    ASSERT_TRUE(store.ensurePositions({replaced}, 5).value());
    EXPECT_EQ(store.records().value("k").created, 100.5) << "the old file's record is replaced";
    EXPECT_FALSE(store.position(photo("k")));
}

TEST(ClotheslinePlacementStore, MovesClampRefuseWholeCallsAndKeepMemoryOnWriteFailure) {
    const QString storage = test::makeFolder("moves");
    test::ControlledDisk disk;
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return !store.deferredWriter().needsSave(); }, 5000));
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

    ClotheslinePlacementRecords almost{{"x", {std::nullopt, {0, 0, kMax - 3}}}};
    EXPECT_EQ(ClotheslinePlacementStore::nextDepth(almost), kMax - 2) << "below the limit: one more";
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
        {file(R"({"row":10001,"x":0.5,"zIndex":1})"), unsupported},
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
        if (!expected.isEmpty()) {
            EXPECT_EQ(*store.loadError(), expected);
        }
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
