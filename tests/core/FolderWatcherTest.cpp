#include "core/FolderWatcher.h"
#include "core/Indexer.h"
#include "support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <sys/inotify.h>

using namespace vennimo;
using namespace std::chrono_literals;
using namespace vennimo::test;

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
    bool wait(int count = 1) {
        return QTest::qWaitFor([&] { return batches.size() >= count; }, 2000);
    }
};

} // namespace

TEST(FolderWatcher, OneBatchPerWindowWithStorageEventsDropped) {
    Batches out;
    FolderWatcher watcher({"/roots"}, {"/roots/storage/"}, out.handler());
    watcher.setDeliveryWindow(100ms);
    QElapsedTimer clock;
    clock.start();
    watcher.receive({{"/roots/a.jpg", 0x100}, {"/roots/a.jpg", 0x1000}});
    watcher.receive({{"/roots/storage/index.json", 0x1000},
                     {"/roots/storage/thumbnails", 0x01},
                     {"/roots/storagex/b.jpg", 0x100},
                     {"/private/var/c.png", 0x100}});
    // A steady trickle every 40 ms must not hold the delivery back.
    int sent = 0;
    QTimer trickle;
    QObject::connect(&trickle, &QTimer::timeout, [&] {
        watcher.receive({{QStringLiteral("/r/%1.jpg").arg(sent++), 0x100}});
    });
    trickle.start(40);
    ASSERT_TRUE(out.wait());
    EXPECT_LT(clock.elapsed(), 400) << "delivered a window after the first event, not after the last";
    const auto first = out.batches.first();
    QHash<QString, std::uint32_t> all;
    for (const FolderChange& change : first)
        EXPECT_FALSE(std::exchange(all[change.path], change.flags)) << "one entry per path in a batch";
    EXPECT_EQ(all.value("/roots/a.jpg"), 0x1100u);
    EXPECT_FALSE(all.contains("/roots/storage/index.json")) << "ordinary storage events are dropped";
    EXPECT_EQ(all.value("/roots/storage/thumbnails"), 0x01u) << "a rescan request is kept even there";
    EXPECT_TRUE(all.contains("/roots/storagex/b.jpg")) << "a sibling with a longer name is not inside";
    EXPECT_TRUE(all.contains("/var/c.png")) << "paths are reported under their comparison key";
    ASSERT_TRUE(out.wait(2)) << "later events form the next batch";
    trickle.stop();

    watcher.stop();
    const int batches = out.batches.size();
    watcher.receive({{"/r/y.jpg", 0x100}});
    QTest::qWait(150);
    EXPECT_EQ(out.batches.size(), batches) << "a stopped watcher stays dead";
}

TEST(FolderWatcher, DeadWatchersAreDetectable) {
    FolderWatcher missing(QStringList{TestEnvironment::root() + "/missing"}, {}, FolderWatcher::Handler{});
    missing.activate();
    EXPECT_FALSE(missing.running()) << "a root that cannot be watched";

    const QString root = makeFolder("limit");
    makeFolder("limit/a");
    FolderWatcher limited(QStringList{root}, {}, FolderWatcher::Handler{});
    limited.setWatchLimitForTesting(1);
    limited.activate();
    EXPECT_FALSE(limited.running()) << "out of watches";

    FolderWatcher live(QStringList{root}, {}, FolderWatcher::Handler{});
    live.activate();
    EXPECT_TRUE(live.running());
    EXPECT_EQ(live.source()->watchCount(), 2) << "recursive";
}

TEST(FolderWatcher, BurstsMovedInFoldersAndOverflowDriveTheIndexer) {
    const QString root = makeFolder("driven");
    Indexer indexer({{"Driven", root}}, storageFolder());
    Batches out;
    FolderWatcher watcher(QStringList{root}, {storageFolder()}, out.handler());
    watcher.activate();
    ASSERT_TRUE(watcher.running());

    for (int i = 0; i < 50; ++i)
        writeFile(root + QStringLiteral("/img%1.jpg").arg(i), QByteArray(4096, 'x'));
    ASSERT_TRUE(QTest::qWaitFor([&] { return out.merged().size() >= 50; }, 3000));
    QTest::qWait(300);
    EXPECT_LE(out.batches.size(), 3) << "one window collects the burst";
    EXPECT_EQ(out.merged().value(root + "/img7.jpg") & 0x1100u, 0x1100u) << "created and modified merged";

    ASSERT_EQ(indexer.scan(std::nullopt, false).size(), 50);

    // A folder arriving with its content: its files never produced events of their own.
    out.batches.clear();
    watcher.setDeliveryWindow(50ms);
    writeFile(TestEnvironment::root() + "/incoming/album/one.jpg", "1");
    writeFile(TestEnvironment::root() + "/incoming/album/deep/two.png", "2");
    ASSERT_EQ(::rename(QFile::encodeName(TestEnvironment::root() + "/incoming/album").constData(),
                       QFile::encodeName(root + "/album").constData()),
              0);
    ASSERT_TRUE(out.wait());
    for (const FolderChange& change : out.batches.first())
        EXPECT_FALSE(change.requiresReconciliation()) << change.path.toStdString();
    EXPECT_EQ(indexer.scan(out.batches.first(), false).size(), 52) << "the moved-in folder is scanned whole";

    out.batches.clear();
    inotify_event overflow{};
    overflow.wd = -1;
    overflow.mask = IN_Q_OVERFLOW;
    watcher.source()->processRawEvents(QByteArray(reinterpret_cast<const char*>(&overflow), sizeof overflow));
    ASSERT_TRUE(out.wait());
    ASSERT_EQ(out.batches.first().size(), 1);
    EXPECT_TRUE(out.batches.first().first().requiresReconciliation()) << "a lost queue asks for a rescan";
    EXPECT_EQ(out.batches.first().first().path, root);
}
