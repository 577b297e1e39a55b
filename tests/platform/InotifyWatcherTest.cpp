#include "platform/InotifyWatcher.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <gtest/gtest.h>

#include <sys/inotify.h>
#include <sys/stat.h>

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
        return QTest::qWaitFor([&] { return (flagsFor(path) & flag) == flag; }, 2000);
    }
};

QByteArray rawEvent(int wd, std::uint32_t mask, const QByteArray& name = {}) {
    inotify_event header{};
    header.wd = wd;
    header.mask = mask;
    header.len = name.isEmpty() ? 0 : static_cast<std::uint32_t>(name.size() + 1);
    QByteArray out(reinterpret_cast<const char*>(&header), sizeof header);
    if (!name.isEmpty())
        out += name + QByteArray(1, '\0');
    return out;
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
    ASSERT_TRUE(recorder.waitFor(root + "/sub/deeper/a.jpg",
                                 FileEventFlag::kItemCreated | FileEventFlag::kItemIsFile));
    EXPECT_TRUE(recorder.waitFor(root + "/sub/deeper/a.jpg", FileEventFlag::kItemModified))
        << "closing the written file counts as a modification";

    ASSERT_TRUE(QDir().mkpath(root + "/fresh"));
    ASSERT_TRUE(recorder.waitFor(root + "/fresh", FileEventFlag::kItemCreated | FileEventFlag::kItemIsDir));
    writeFile(root + "/fresh/b.png", "y");
    EXPECT_TRUE(recorder.waitFor(root + "/fresh/b.png", FileEventFlag::kItemCreated))
        << "a folder made after the start gets its own watch";

    // A tree moved in from outside brings folders whose contents produced no events.
    const QString outside = makeFolder("outside/tree/inner");
    ASSERT_EQ(::rename(QFile::encodeName(makeFolder("outside/tree")).constData(),
                       QFile::encodeName(root + "/moved").constData()),
              0);
    ASSERT_TRUE(recorder.waitFor(root + "/moved", FileEventFlag::kItemRenamed | FileEventFlag::kItemIsDir));
    writeFile(root + "/moved/inner/c.gif", "z");
    EXPECT_TRUE(recorder.waitFor(root + "/moved/inner/c.gif", FileEventFlag::kItemCreated))
        << "folders inside a moved-in tree are watched too";

    ASSERT_EQ(::rename(QFile::encodeName(root + "/moved").constData(),
                       QFile::encodeName(TestEnvironment::root() + "/gone").constData()),
              0);
    ASSERT_TRUE(recorder.waitFor(root + "/moved", FileEventFlag::kItemRenamed));
    recorder.events.clear();
    writeFile(TestEnvironment::root() + "/gone/inner/d.gif", "z");
    writeFile(root + "/sub/e.jpg", "e");
    ASSERT_TRUE(recorder.waitFor(root + "/sub/e.jpg", FileEventFlag::kItemCreated));
    for (const FileEvent& e : recorder.events)
        EXPECT_FALSE(e.path.contains("inner"))
            << "a tree moved out is no longer watched: " << e.path.toStdString();

    recorder.events.clear();
    writeFile(root + "/.hidden/h.jpg", "h");
    writeFile(root + "/storage/s.jpg", "s");
    writeFile(root + "/sub/f.jpg", "f");
    ASSERT_TRUE(recorder.waitFor(root + "/sub/f.jpg", FileEventFlag::kItemCreated));
    EXPECT_EQ(recorder.flagsFor(root + "/.hidden/h.jpg"), 0u);
    EXPECT_EQ(recorder.flagsFor(root + "/storage/s.jpg"), 0u);

    watcher.stop();
    EXPECT_FALSE(watcher.running());
    EXPECT_EQ(watcher.watchCount(), 0);
}

TEST(InotifyWatcher, LostEventsAndLostRootsAskForRescans) {
    const QString root = makeFolder("lost");
    const QString other = makeFolder("lost-too");
    Recorder recorder;
    InotifyWatcher watcher({root, other}, {}, recorder.handler());
    ASSERT_TRUE(watcher.start());

    watcher.processRawEvents(rawEvent(-1, IN_Q_OVERFLOW));
    EXPECT_TRUE(recorder.flagsFor(root) & FileEventFlag::kMustScanSubDirs)
        << "an overflow concerns every root";
    EXPECT_TRUE(recorder.flagsFor(other) & FileEventFlag::kMustScanSubDirs);

    recorder.events.clear();
    watcher.processRawEvents(rawEvent(12345, IN_CREATE, "unknown-watch.jpg") + QByteArray("\x01\x02", 2));
    EXPECT_TRUE(recorder.events.isEmpty()) << "records of unknown watches and truncated records are dropped";

    ASSERT_TRUE(QDir(other).removeRecursively());
    ASSERT_TRUE(recorder.waitFor(other, FileEventFlag::kRootChanged));
    const QString moved = TestEnvironment::root() + "/lost-moved";
    ASSERT_EQ(::rename(QFile::encodeName(root).constData(), QFile::encodeName(moved).constData()), 0);
    EXPECT_TRUE(recorder.waitFor(root, FileEventFlag::kRootChanged)) << "a moved root is a changed root";
}

TEST(InotifyWatcher, RunningOutOfWatchesKillsTheStartOrAsksForARescan) {
    const QString root = makeFolder("limited");
    makeFolder("limited/a");
    makeFolder("limited/b");

    InotifyWatcher missing(QStringList{TestEnvironment::root() + "/no-such-root"}, {}, {});
    EXPECT_FALSE(missing.start()) << "a root that cannot be watched leaves the watcher dead";
    EXPECT_FALSE(missing.running());

    InotifyWatcher tooSmall(QStringList{root}, {}, {});
    tooSmall.setWatchLimitForTesting(2);
    EXPECT_FALSE(tooSmall.start()) << "three folders do not fit into two watches";
    EXPECT_FALSE(tooSmall.running());

    Recorder recorder;
    InotifyWatcher watcher({root}, {}, recorder.handler());
    watcher.setWatchLimitForTesting(3);
    ASSERT_TRUE(watcher.start());
    ASSERT_TRUE(QDir().mkpath(root + "/c"));
    ASSERT_TRUE(recorder.waitFor(root + "/c", FileEventFlag::kItemCreated | FileEventFlag::kMustScanSubDirs))
        << "a later folder without a watch asks for a full rescan";
}
