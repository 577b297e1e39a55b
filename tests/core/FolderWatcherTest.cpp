#include "core/FolderWatcher.h"
#include "core/Indexer.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <sys/inotify.h>

using namespace vennimo;
using namespace std::chrono_literals;
using vennimo::test::makeFolder;
using vennimo::test::storageFolder;
using vennimo::test::TestEnvironment;
using vennimo::test::writeFile;

namespace {

struct Batches {
    QList<QList<FolderChange>> batches;
    FolderWatcher::Handler handler() {
        return [this](const QList<FolderChange>& batch) { batches.append(batch); };
    }
    QHash<QString, std::uint32_t> merged() const {
        QHash<QString, std::uint32_t> all;
        for (const auto& batch : batches)
            for (const FolderChange& change : batch)
                all[change.path] |= change.flags;
        return all;
    }
};

} // namespace

TEST(FolderWatcher, ReconciliationFlagsAreTheLowBitsButHistoryDone) {
    for (std::uint32_t flag : {0x01u, 0x02u, 0x04u, 0x08u, 0x20u, 0x40u, 0x80u})
        EXPECT_TRUE((FolderChange{"/a", flag | 0x100u}.requiresReconciliation())) << flag;
    for (std::uint32_t flag : {0x00u, 0x10u, 0x100u, 0x200u, 0x800u, 0x1000u, 0x10000u, 0x20000u})
        EXPECT_FALSE((FolderChange{"/a", flag}.requiresReconciliation())) << flag;
}

TEST(FolderWatcher, MergesFlagsPerPathAndDropsStorageEvents) {
    Batches out;
    FolderWatcher watcher({"/roots"}, {"/roots/storage/"}, out.handler());
    watcher.setDeliveryWindow(30ms);
    watcher.receive({{"/roots/a.jpg", 0x100}, {"/roots/a.jpg", 0x1000}});
    watcher.receive({{"/roots/a.jpg", 0x10000},
                     {"/roots/storage/index.json", 0x1000},
                     {"/roots/storage", 0x400},
                     {"/roots/storage/thumbnails", 0x01},
                     {"/roots/storagex/b.jpg", 0x100},
                     {"/private/var/c.png", 0x100}});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !out.batches.isEmpty(); }, 2000));
    ASSERT_EQ(out.batches.size(), 1) << "everything within the window is one batch";
    const auto all = out.merged();
    EXPECT_EQ(all.value("/roots/a.jpg"), 0x11100u);
    EXPECT_FALSE(all.contains("/roots/storage/index.json"))
        << "ordinary events in the storage folder are dropped";
    EXPECT_FALSE(all.contains("/roots/storage"));
    EXPECT_EQ(all.value("/roots/storage/thumbnails"), 0x01u) << "a rescan request is kept even there";
    EXPECT_TRUE(all.contains("/roots/storagex/b.jpg")) << "a sibling with a longer name is not inside";
    EXPECT_TRUE(all.contains("/var/c.png")) << "paths are reported under their comparison key";
    EXPECT_EQ(all.size(), 4);
}

TEST(FolderWatcher, FixedWindowFromTheFirstEventAndStopDropsTheBatch) {
    Batches out;
    FolderWatcher watcher(QStringList{}, {}, out.handler());
    watcher.setDeliveryWindow(100ms);
    // A steady trickle every 40 ms must not hold the delivery back.
    int sent = 0;
    QTimer trickle;
    QObject::connect(&trickle, &QTimer::timeout, [&] {
        watcher.receive({{QStringLiteral("/r/%1.jpg").arg(sent++), 0x100}});
    });
    QElapsedTimer clock;
    clock.start();
    watcher.receive({{"/r/first.jpg", 0x100}});
    trickle.start(40);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !out.batches.isEmpty(); }, 2000));
    EXPECT_LT(clock.elapsed(), 400) << "delivered a window after the first event, not after the last";
    EXPECT_TRUE(out.merged().contains("/r/first.jpg"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return out.batches.size() >= 2; }, 2000))
        << "later events form the next batch";
    trickle.stop();

    Batches stopped;
    FolderWatcher other(QStringList{}, {}, stopped.handler());
    other.setDeliveryWindow(30ms);
    other.receive({{"/r/x.jpg", 0x100}});
    other.stop();
    QTest::qWait(80);
    EXPECT_TRUE(stopped.batches.isEmpty()) << "stop() within the window delivers nothing";
    other.receive({{"/r/y.jpg", 0x100}});
    QTest::qWait(80);
    EXPECT_TRUE(stopped.batches.isEmpty()) << "a stopped watcher stays dead";

    int calls = 0;
    FolderWatcher counting(QStringList{}, {}, std::function<void()>([&calls] { ++calls; }));
    counting.setDeliveryWindow(10ms);
    counting.receive({{"/r/z.jpg", 0x100}});
    EXPECT_TRUE(QTest::qWaitFor([&] { return calls == 1; }, 2000));
}

TEST(FolderWatcher, DeadWatchersAreDetectableAndDoNotRevive) {
    FolderWatcher missing(QStringList{TestEnvironment::root() + "/missing"}, {}, FolderWatcher::Handler{});
    missing.activate();
    EXPECT_FALSE(missing.running()) << "a root that cannot be watched";
    makeFolder("missing");
    missing.activate();
    EXPECT_FALSE(missing.running()) << "a failed start is final";

    const QString root = makeFolder("limit");
    makeFolder("limit/a");
    FolderWatcher limited(QStringList{root}, {}, FolderWatcher::Handler{});
    limited.setWatchLimitForTesting(1);
    limited.activate();
    EXPECT_FALSE(limited.running()) << "out of watches";

    FolderWatcher live(QStringList{root}, {}, FolderWatcher::Handler{});
    live.activate();
    EXPECT_TRUE(live.running());
    live.activate();
    EXPECT_TRUE(live.running()) << "a second activate changes nothing";
    EXPECT_EQ(live.source()->watchCount(), 2);
    live.stop();
    EXPECT_FALSE(live.running());
}

TEST(FolderWatcher, FiftyFilesCopiedAtOnceArriveInAFewBatches) {
    const QString root = makeFolder("burst");
    Batches out;
    FolderWatcher watcher(QStringList{root}, {storageFolder()}, out.handler());
    watcher.activate();
    ASSERT_TRUE(watcher.running());
    for (int i = 0; i < 50; ++i)
        writeFile(root + QStringLiteral("/img%1.jpg").arg(i), QByteArray(4096, 'x'));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            const auto all = out.merged();
            return std::count_if(all.keyBegin(), all.keyEnd(),
                                 [](const QString& p) { return p.endsWith(".jpg"); }) == 50;
        },
        3000));
    QTest::qWait(300);
    EXPECT_LE(out.batches.size(), 3) << "one window collects the burst";
    for (const auto& batch : out.batches) {
        QSet<QString> paths;
        for (const FolderChange& change : batch)
            EXPECT_FALSE(std::exchange(paths, paths + QSet<QString>{change.path}).contains(change.path))
                << "one entry per path in a batch";
    }
    const auto all = out.merged();
    EXPECT_EQ(all.value(root + "/img7.jpg") & 0x1100u, 0x1100u) << "created and modified merged";
}

TEST(FolderWatcher, OverflowAndNewFoldersDriveTheIndexer) {
    const QString root = makeFolder("driven");
    Indexer indexer({{"Driven", root}}, storageFolder());
    ASSERT_TRUE(indexer.scan(std::nullopt, false).isEmpty());

    Batches out;
    FolderWatcher watcher(QStringList{root}, {storageFolder()}, out.handler());
    watcher.setDeliveryWindow(50ms);
    watcher.activate();
    ASSERT_TRUE(watcher.running());

    // A folder arriving with its content: its files never produced events of their own.
    writeFile(TestEnvironment::root() + "/incoming/album/one.jpg", "1");
    writeFile(TestEnvironment::root() + "/incoming/album/deep/two.png", "2");
    ASSERT_EQ(::rename(QFile::encodeName(TestEnvironment::root() + "/incoming/album").constData(),
                       QFile::encodeName(root + "/album").constData()),
              0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !out.batches.isEmpty(); }, 2000));
    const QList<FolderChange> changes = out.batches.takeFirst();
    bool reconcile = false;
    for (const FolderChange& change : changes)
        reconcile = reconcile || change.requiresReconciliation();
    EXPECT_FALSE(reconcile);
    const QList<Photo> photos = indexer.scan(changes, false);
    EXPECT_EQ(photos.size(), 2) << "the moved-in folder is scanned as a whole";

    out.batches.clear();
    watcher.source()->processRawEvents([] {
        inotify_event overflow{};
        overflow.wd = -1;
        overflow.mask = IN_Q_OVERFLOW;
        return QByteArray(reinterpret_cast<const char*>(&overflow), sizeof overflow);
    }());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !out.batches.isEmpty(); }, 2000));
    ASSERT_EQ(out.batches.first().size(), 1);
    EXPECT_TRUE(out.batches.first().first().requiresReconciliation())
        << "a lost queue asks for a full rescan";
    EXPECT_EQ(out.batches.first().first().path, root);
}
