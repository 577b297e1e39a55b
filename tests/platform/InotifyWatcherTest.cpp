#include "platform/InotifyWatcher.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <gtest/gtest.h>

#include <sys/inotify.h>

using namespace vennimo;
using namespace std::chrono_literals;
using vennimo::test::makeFolder;
using vennimo::test::TestEnvironment;
using vennimo::test::writeFile;

namespace {

struct Recorder {
    QList<FileEvent> events;
    InotifyWatcher::Handler handler() {
        return [this](const QList<FileEvent>& batch) { events += batch; };
    }
    std::uint32_t flagsFor(const QString& path) const {
        std::uint32_t flags = 0;
        for (const FileEvent& e : events)
            flags |= e.path == path ? e.flags : 0;
        return flags;
    }
    bool waitFor(const QString& path, std::uint32_t flag) {
        return QTest::qWaitFor([&] { return (flagsFor(path) & flag) == flag; }, 10000);
    }
};

QByteArray rawEvent(int wd, std::uint32_t mask, const QByteArray& name = {}) {
    inotify_event header{};
    header.wd = wd;
    header.mask = mask;
    header.len = static_cast<std::uint32_t>(name.size());
    return QByteArray(reinterpret_cast<const char*>(&header), sizeof header) + name;
}

void move(const QString& from, const QString& to) {
    ASSERT_EQ(::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()), 0);
}

} // namespace

TEST(InotifyWatcher, ReportsChangesBelowEveryFolderAndFollowsNewFolders) {
    const QString root = makeFolder("watched");
    makeFolder("watched/sub/deeper");
    makeFolder("watched/.hidden");
    makeFolder("watched/storage");
    Recorder recorder;
    InotifyWatcher watcher({root}, {root + "/storage"}, recorder.handler());
    ASSERT_TRUE(watcher.start());
    EXPECT_EQ(watcher.watchCount(), 3) << "root, sub and sub/deeper; hidden and excluded folders are skipped";

    writeFile(root + "/sub/deeper/a.jpg", "x");
    EXPECT_TRUE(recorder.waitFor(root + "/sub/deeper/a.jpg", FileEventFlag::kItemCreated |
                                                                 FileEventFlag::kItemIsFile |
                                                                 FileEventFlag::kItemModified))
        << "closing the written file counts as a modification";

    ASSERT_TRUE(QDir().mkpath(root + "/fresh"));
    ASSERT_TRUE(recorder.waitFor(root + "/fresh", FileEventFlag::kItemCreated | FileEventFlag::kItemIsDir));
    writeFile(root + "/fresh/b.png", "y");
    EXPECT_TRUE(recorder.waitFor(root + "/fresh/b.png", FileEventFlag::kItemCreated))
        << "a folder made after the start gets its own watch";

    // A tree moved in from outside brings folders whose contents produced no events.
    makeFolder("outside/tree/inner");
    move(TestEnvironment::root() + "/outside/tree", root + "/moved");
    ASSERT_TRUE(recorder.waitFor(root + "/moved", FileEventFlag::kItemRenamed | FileEventFlag::kItemIsDir));
    writeFile(root + "/moved/inner/c.gif", "z");
    EXPECT_TRUE(recorder.waitFor(root + "/moved/inner/c.gif", FileEventFlag::kItemCreated))
        << "folders inside a moved-in tree are watched too";

    move(root + "/moved", TestEnvironment::root() + "/gone");
    writeFile(TestEnvironment::root() + "/gone/inner/d.gif", "z");
    writeFile(root + "/sub/e.jpg", "e");
    ASSERT_TRUE(recorder.waitFor(root + "/sub/e.jpg", FileEventFlag::kItemCreated));
    EXPECT_EQ(recorder.flagsFor(root + "/moved/inner/d.gif"), 0u) << "a tree moved out is no longer watched";
}

TEST(InotifyWatcher, LostWatchesEventsAndRootsAskForRescansOrKillTheStart) {
    const QString root = makeFolder("lost");
    const QString other = makeFolder("lost-too");
    makeFolder("lost/a");
    const QString absent = TestEnvironment::root() + "/no-such-root";
    InotifyWatcher missing(QStringList{absent}, {}, {});
    missing.setWatchLimitForTesting(0);
    EXPECT_FALSE(missing.start() || missing.running()) << "a missing root that cannot even be awaited";
    Recorder partial;
    InotifyWatcher oneMissing(QStringList{absent, other}, {}, partial.handler());
    ASSERT_TRUE(oneMissing.start()) << "a missing source folder does not blind the others";
    writeFile(other + "/seen.jpg", "s");
    EXPECT_TRUE(partial.waitFor(other + "/seen.jpg", FileEventFlag::kItemCreated));
    oneMissing.stop();
    QFile::remove(other + "/seen.jpg");
    InotifyWatcher tooSmall(QStringList{root, other}, {}, {});
    tooSmall.setWatchLimitForTesting(2);
    EXPECT_FALSE(tooSmall.start() || tooSmall.running()) << "three folders do not fit into two watches";

    Recorder recorder;
    InotifyWatcher watcher({root, other}, {}, recorder.handler());
    ASSERT_TRUE(watcher.start());

    // A later folder without a watch asks for a full rescan; the overflow then gives it its watch.
    watcher.setWatchLimitForTesting(watcher.watchCount());
    ASSERT_TRUE(QDir().mkpath(root + "/lost-folder"));
    ASSERT_TRUE(recorder.waitFor(root + "/lost-folder",
                                 FileEventFlag::kItemCreated | FileEventFlag::kMustScanSubDirs));
    watcher.setWatchLimitForTesting(-1);
    recorder.events.clear();
    watcher.processRawEvents(rawEvent(-1, IN_Q_OVERFLOW));
    EXPECT_TRUE(recorder.flagsFor(root) & FileEventFlag::kMustScanSubDirs)
        << "an overflow concerns every root";
    EXPECT_TRUE(recorder.flagsFor(other) & FileEventFlag::kMustScanSubDirs);
    writeFile(root + "/lost-folder/found.jpg", "f");
    EXPECT_TRUE(recorder.waitFor(root + "/lost-folder/found.jpg", FileEventFlag::kItemCreated));

    recorder.events.clear();
    watcher.processRawEvents(rawEvent(12345, IN_CREATE, QByteArray("unknown.jpg\0", 12)) +
                             QByteArray("\x01\x02", 2));
    EXPECT_TRUE(recorder.events.isEmpty()) << "records of unknown watches and truncated records are dropped";

    ASSERT_TRUE(QDir(other).removeRecursively());
    ASSERT_TRUE(recorder.waitFor(other, FileEventFlag::kRootChanged));
    move(root, TestEnvironment::root() + "/lost-moved");
    EXPECT_TRUE(recorder.waitFor(root, FileEventFlag::kRootChanged)) << "a moved root is a changed root";
}

TEST(InotifyWatcher, AMissingRootIsAwaitedAboveAndWatchedFromTheMomentItAppears) {
    const QString base = makeFolder("awaiting");
    const QString downloads = base + "/later/Downloads";
    const QString other = makeFolder("awaiting-other");
    Recorder recorder;
    InotifyWatcher watcher({downloads, other}, {}, recorder.handler());
    ASSERT_TRUE(watcher.start());
    EXPECT_EQ(watcher.watchCount(), 2) << "the other root, and the nearest folder above the missing one";
    writeFile(base + "/unrelated.jpg", "u");
    const QString bom = other + QStringLiteral("/\uFEFFbom.jpg");
    writeFile(bom, "s");
    ASSERT_TRUE(recorder.waitFor(bom, FileEventFlag::kItemCreated)) << "a leading U+FEFF stays in the path";
    EXPECT_EQ(recorder.flagsFor(base + "/unrelated.jpg"), 0u) << "the folder above a root is no source";

    ASSERT_TRUE(QDir().mkpath(downloads));
    ASSERT_TRUE(recorder.waitFor(downloads, FileEventFlag::kItemCreated | FileEventFlag::kItemIsDir));
    writeFile(downloads + "/arrival.jpg", "a");
    EXPECT_TRUE(recorder.waitFor(downloads + "/arrival.jpg", FileEventFlag::kItemCreated));
    EXPECT_EQ(watcher.watchCount(), 2) << "the watches on the way down are let go";

    // Deleted and made again: awaited and watched again, without a new watcher.
    ASSERT_TRUE(QDir(base + "/later").removeRecursively());
    ASSERT_TRUE(recorder.waitFor(downloads, FileEventFlag::kRootChanged));
    EXPECT_TRUE(watcher.running());
    recorder.events.clear();
    ASSERT_TRUE(QDir().mkpath(downloads));
    ASSERT_TRUE(recorder.waitFor(downloads, FileEventFlag::kItemCreated | FileEventFlag::kItemIsDir))
        << "files made before the watch are found by the scan this event asks for";
    writeFile(downloads + "/again.jpg", "b");
    EXPECT_TRUE(recorder.waitFor(downloads + "/again.jpg", FileEventFlag::kItemCreated));
    EXPECT_EQ(watcher.watchCount(), 2);
}
