#include "core/Indexer.h"
#include "platform/Dates.h"
#include "platform/FileIdentity.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <condition_variable>
#include <future>
#include <mutex>

using namespace vennimo;
using namespace std::chrono_literals;
using vennimo::test::makeFolder;
using vennimo::test::storageFolder;
using vennimo::test::writeFile;

namespace {

constexpr std::uint32_t kCreated = 0x100 | 0x10000;

// Counts the folders a walk opens and holds the walk at one of them until released (or a minute
// passed, so that a walk that never gets a stop still ends). The hook shares it: a stopped scan
// comes back before the listings it left have ended.
class FolderGate : public std::enable_shared_from_this<FolderGate> {
public:
    explicit FolderGate(int holdAt)
        : m_holdAt(holdAt) {}

    std::function<int(const QString&)> hook() {
        return [self = shared_from_this()](const QString&) {
            std::unique_lock lock(self->m_mutex);
            if (++self->m_opened == self->m_holdAt) {
                self->m_held = true;
                self->m_changed.notify_all();
                self->m_changed.wait_for(lock, 60s, [&self] { return self->m_released; });
            }
            return 0;
        };
    }
    bool waitUntilHeld() {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, 60s, [this] { return m_held; });
    }
    void release() {
        const std::lock_guard lock(m_mutex);
        m_released = true;
        m_changed.notify_all();
    }
    int opened() {
        const std::lock_guard lock(m_mutex);
        return m_opened;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    const int m_holdAt;
    int m_opened = 0;
    bool m_held = false;
    bool m_released = false;
};

struct StoppedScan {
    QList<Photo> photos;
    Library library;
    bool saveOwed = false;
    QStringList errors;
    bool scannedAgain = false;
    // Folders opened from the stop until the indexer was gone.
    int openedAfterStop = 0;
    int openedInAll = 0;
    // A listing that outlived the scan would read what the scan held after it went.
    int openedOnceBack = 0;
};

// Runs the scan on a thread of its own, stops the indexer while the walk is held at its 40th
// folder, waits (a minute at most) for the scan to come back, tries another and lets the indexer go.
testing::AssertionResult scanAndStop(std::unique_ptr<Indexer> indexer,
                                     const std::optional<QList<FolderChange>>& changes, bool oneByOne,
                                     StoppedScan& outcome) {
    const auto gate = std::make_shared<FolderGate>(40);
    indexer->setFolderOpenFaultForTesting(gate->hook());
    indexer->setThumbnailRenderer([](const QString&, const QString&) {});
    auto scanned = std::async(std::launch::async, [&] { return indexer->scan(changes, oneByOne); });
    if (!gate->waitUntilHeld()) {
        gate->release();
        return testing::AssertionFailure() << "the walk never reached its 40th folder";
    }
    indexer->stop();
    const int openedAtStop = gate->opened();
    gate->release();
    if (scanned.wait_for(60s) != std::future_status::ready)
        return testing::AssertionFailure() << "the stopped scan did not come back";
    outcome.photos = scanned.get();
    outcome.openedOnceBack = gate->opened();
    outcome.library = indexer->library();
    outcome.saveOwed = indexer->libraryNeedsSave();
    outcome.errors = indexer->errors();
    const int scans = indexer->scanCount();
    indexer->scan(std::nullopt, false);
    outcome.scannedAgain = indexer->scanCount() != scans;
    indexer.reset();
    outcome.openedInAll = gate->opened();
    outcome.openedAfterStop = outcome.openedInAll - openedAtStop;
    return testing::AssertionSuccess();
}

void addFolders(const QString& root, const QString& prefix, int count) {
    for (int i = 0; i < count; ++i)
        writeFile(QString("%1/%2-%3/p.jpg").arg(root, prefix).arg(i), "p");
}

} // namespace

// The way out stops a scan of thousands of folders at once, and what it leaves in the storage
// folder is what the last whole scan wrote: a later start finds a valid index, the baseline still
// pending where it was, and the files the stopped scan met still new to it.
TEST(IndexerStop, AStoppedScanEndsAtItsNextFolderAndLeavesTheIndexOfTheLastWholeScan) {
    double now = 2'000'000'000;
    Clock::setOverride([&now] { return now; });
    const QString root = makeFolder("many");
    addFolders(root, "old", 300);
    const QList<SourceRoot> roots{{"Many", root}};
    const QString index = storageFolder() + "/index.json";
    QFile::remove(index);

    {
        // The first scan: every file awaits its baseline, and nothing of it may be stored as done.
        StoppedScan stopped;
        ASSERT_TRUE(
            scanAndStop(std::make_unique<Indexer>(roots, storageFolder()), std::nullopt, false, stopped));
        EXPECT_LE(stopped.openedAfterStop, Indexer::kWalkWidth) << "of " << stopped.openedInAll;
        EXPECT_EQ(stopped.openedInAll, stopped.openedOnceBack) << "a listing outlived the scan";
        EXPECT_TRUE(stopped.photos.isEmpty());
        EXPECT_FALSE(stopped.library.initialized);
        EXPECT_FALSE(stopped.scannedAgain) << "a stopped index scans no more";
    }
    EXPECT_FALSE(QFile::exists(index)) << "nothing part-done was written";

    Library whole;
    {
        Indexer reopened(roots, storageFolder());
        const QList<Photo> photos = reopened.scan(std::nullopt, false);
        ASSERT_EQ(photos.size(), 300);
        for (const Photo& photo : photos) {
            const auto file = FileIdentity::read(photo.path).value();
            ASSERT_EQ(photo.baselineImported, true) << photo.path.toStdString();
            ASSERT_EQ(photo.added, file.created.value_or(file.modified)) << photo.path.toStdString();
        }
        // A save still owed when the index goes is written all the same.
        reopened.setIndexWriteInterval(1h);
        now += 100;
        QList<FolderChange> removed;
        for (int i = 0; i < 10; ++i) {
            const QString path = QString("%1/old-%2/p.jpg").arg(root).arg(i);
            ASSERT_TRUE(QFile::remove(path));
            removed.append({path, 0x200});
        }
        ASSERT_EQ(reopened.scan(removed, false).size(), 290);
        ASSERT_TRUE(reopened.libraryNeedsSave());
        whole = reopened.library();
    }
    ASSERT_TRUE(QFile::exists(index));
    ASSERT_TRUE(Indexer(roots, storageFolder()).library() == whole);

    // Stopped while they run, these scans would each have changed the library.
    const auto expectStopped = [&](std::unique_ptr<Indexer> indexer,
                                   const std::optional<QList<FolderChange>>& changes, bool oneByOne) {
        StoppedScan stopped;
        ASSERT_TRUE(scanAndStop(std::move(indexer), changes, oneByOne, stopped));
        EXPECT_LE(stopped.openedAfterStop, Indexer::kWalkWidth) << "of " << stopped.openedInAll;
        EXPECT_EQ(stopped.openedInAll, stopped.openedOnceBack) << "a listing outlived the scan";
        EXPECT_TRUE(stopped.photos == whole.photos) << stopped.photos.size();
        EXPECT_TRUE(stopped.library == whole) << stopped.library.photos.size();
        EXPECT_FALSE(stopped.saveOwed);
        EXPECT_TRUE(stopped.errors.isEmpty()) << stopped.errors.join('\n').toStdString();
        EXPECT_FALSE(stopped.scannedAgain);
    };
    {
        SCOPED_TRACE("change-driven");
        auto indexer = std::make_unique<Indexer>(roots, storageFolder());
        ASSERT_TRUE(indexer->scan(std::nullopt, false) == whole.photos) << "ready for changes";
        addFolders(root, "new", 300);
        now += 100;
        QList<FolderChange> created;
        for (int i = 0; i < 300; ++i)
            created.append({QString("%1/new-%2").arg(root).arg(i), kCreated});
        expectStopped(std::move(indexer), created, false);
    }
    for (const bool oneByOne : {false, true}) {
        SCOPED_TRACE(oneByOne ? "full, folder by folder" : "full, side by side");
        auto indexer = std::make_unique<Indexer>(roots, storageFolder());
        ASSERT_TRUE(indexer->library() == whole);
        expectStopped(std::move(indexer), std::nullopt, oneByOne);
    }

    Indexer later(roots, storageFolder());
    ASSERT_TRUE(later.library() == whole) << "the index reloads as the last whole scan left it";
    now += 100;
    const QList<Photo> photos = later.scan(std::nullopt, false);
    ASSERT_EQ(photos.size(), 590);
    for (const Photo& photo : photos) {
        if (photo.path.contains("/new-")) {
            ASSERT_EQ(photo.added, now) << "an arrival, " << photo.path.toStdString();
            ASSERT_EQ(photo.baselineImported, false);
        }
    }
    Clock::setOverride({});
}

// A folder of many thousand pictures is one listing: the stop ends it at its next entry, not at
// its end.
TEST(IndexerStop, AStopEndsTheListingOfOneLargeFolderAtItsNextEntry) {
    const QString root = makeFolder("large");
    constexpr int kPictures = 5000;
    for (int i = 0; i < kPictures; ++i)
        writeFile(QString("%1/p%2.jpg").arg(root).arg(i), "p");
    QFile::remove(storageFolder() + "/index.json");
    Indexer indexer({{"Large", root}}, storageFolder());
    // Inline thumbnails are made inside the listing, one picture after the other; the tenth stops.
    int renders = 0;
    indexer.setThumbnailRenderer([&](const QString&, const QString&) {
        if (++renders == 10)
            indexer.stop();
    });
    const QList<Photo> photos = indexer.scan(std::nullopt, true);
    EXPECT_EQ(renders, 10);
    EXPECT_LT(indexer.lastScanVisitedEntries(), 20) << "of " << kPictures << " entries";
    EXPECT_TRUE(photos.isEmpty());
    EXPECT_FALSE(indexer.library().initialized);
}

// A burst names every file it brought: the stop ends a change scan at its next file, not after
// the thousands still listed.
TEST(IndexerStop, AStopEndsAChangeScanOfManyFilesAtItsNextFile) {
    const QString root = makeFolder("burst");
    writeFile(root + "/first.jpg", "p");
    QFile::remove(storageFolder() + "/index.json");
    Indexer indexer({{"Burst", root}}, storageFolder());
    ASSERT_EQ(indexer.scan(std::nullopt, false).size(), 1);
    constexpr int kArrivals = 2000;
    QList<FolderChange> arrived;
    for (int i = 0; i < kArrivals; ++i) {
        const QString path = QString("%1/p%2.jpg").arg(root).arg(i);
        writeFile(path, "p");
        arrived.append({path, kCreated});
    }
    int renders = 0;
    indexer.setThumbnailRenderer([&](const QString&, const QString&) {
        if (++renders == 10)
            indexer.stop();
    });
    const QList<Photo> photos = indexer.scan(arrived, true);
    EXPECT_EQ(renders, 10);
    EXPECT_LT(indexer.lastScanVisitedEntries(), 20) << "of " << kArrivals << " changed files";
    EXPECT_EQ(photos.size(), 1) << "a stopped scan keeps the library it had";
}
