#include "core/FolderWatcher.h"
#include "core/Indexer.h"
#include "platform/Dates.h"
#include "platform/Error.h"
#include "platform/FileIdentity.h"
#include "platform/JsonFile.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace vennimo;
using namespace std::chrono_literals;
using vennimo::test::makeFolder;
using vennimo::test::readFile;
using vennimo::test::storageFolder;
using vennimo::test::TestEnvironment;
using vennimo::test::writeFile;

namespace {

constexpr std::uint32_t kCreated = 0x100 | 0x10000;

class IndexerScanTest : public ::testing::Test {
protected:
    void SetUp() override {
        Clock::setOverride([this] { return m_now; }); // later than any test file's date
    }
    void TearDown() override { Clock::setOverride({}); }
    static const Photo* find(const QList<Photo>& photos, const QString& path) {
        const auto it =
            std::find_if(photos.begin(), photos.end(), [&](const Photo& p) { return p.path == path; });
        return it == photos.end() ? nullptr : &*it;
    }
    double m_now = 2'000'000'000;
};

bool renameFile(const QString& from, const QString& to) {
    return ::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

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
        return QTest::qWaitFor([&] { return batches.size() >= count; }, 10000);
    }
};

} // namespace

TEST_F(IndexerScanTest, BaselineImportThenArrivalsGetTheScanTime) {
    const QString root = makeFolder("pictures");
    writeFile(root + "/old.jpg", "old");
    writeFile(root + "/sub/older.png", "older");
    writeFile(root + "/notes.txt", "not an image");
    Indexer indexer({{"Pictures", root}}, storageFolder());
    const QList<Photo> first = indexer.scan(std::nullopt, false);
    ASSERT_EQ(first.size(), 2);
    for (const Photo& photo : first) {
        const auto file = FileIdentity::read(photo.path);
        EXPECT_EQ(photo.added, file->created.value_or(file->modified)) << "baseline photos keep their date";
        EXPECT_EQ(photo.baselineImported, true);
    }
    indexer.flushIndex();
    EXPECT_EQ(readFile(storageFolder() + "/index.json"), JsonFile::encode(toJson(indexer.library())))
        << "the fast index encoder writes what the record coding gives";
    m_now += 100;
    writeFile(root + "/new.webp", "new");
    const QList<Photo> second = indexer.scan(QList<FolderChange>{{root + "/new.webp", kCreated}}, false);
    ASSERT_EQ(second.size(), 3);
    EXPECT_EQ(second.first().name(), "new.webp") << "newest first";
    EXPECT_EQ(second.first().added, m_now);
    EXPECT_EQ(second.first().baselineImported, false);
    EXPECT_EQ(indexer.lastScanVisitedEntries(), 1) << "a change-driven scan looks at the changed path only";
    // A reopened index is no baseline any more.
    indexer.flushIndex();
    Indexer reopened({{"Pictures", root}}, storageFolder());
    EXPECT_EQ(reopened.library(), indexer.library());
    m_now += 100;
    writeFile(root + "/later.gif", "later");
    EXPECT_EQ(reopened.scan(std::nullopt, false).first().baselineImported, false);
}

TEST_F(IndexerScanTest, RootsOwnTheirPathsAndTheStorageFolderIsNeverIndexed) {
    const QString outer = makeFolder("home");
    const QString inner = makeFolder("home/Downloads");
    const QString storage = makeFolder("home/Storage");
    writeFile(outer + "/a.jpg", "a");
    writeFile(inner + "/deep/c.jpg", "c");
    writeFile(storage + "/thumbnails/y.jpg", "y");
    writeFile(outer + "/.folder/h.jpg", "h");
    writeFile(outer + "/Album.photoslibrary/p.jpg", "p");
    writeFile(outer + "/odd.PNG", "upper-case extension");
    ASSERT_TRUE(QFile::link(outer + "/a.jpg", outer + "/link.jpg"));
    ASSERT_TRUE(QFile::link(inner, outer + "/linked-folder"));
    Indexer indexer({{"Home", outer}, {"Downloads", inner}}, storage);
    QList<Photo> photos = indexer.scan(std::nullopt, false);
    QStringList found;
    for (const Photo& p : photos)
        found << p.name();
    found.sort();
    EXPECT_EQ(found, (QStringList{"a.jpg", "c.jpg", "odd.PNG"}));
    EXPECT_EQ(find(photos, inner + "/deep/c.jpg")->source, "Downloads") << "the deepest root owns a path";
    writeFile(inner + "/d.jpg", "d");
    writeFile(storage + "/z.jpg", "z");
    writeFile(outer + "/.folder/i.jpg", "i");
    photos = indexer.scan(QList<FolderChange>{{inner + "/d.jpg", kCreated},
                                              {storage + "/z.jpg", kCreated},
                                              {outer + "/.folder/i.jpg", kCreated}},
                          false);
    EXPECT_EQ(photos.size(), 4) << "change-driven scans skip the storage folder and hidden places";
    writeFile(storage + "/thumbnails/w.jpg", "w");
    photos = indexer.scan(QList<FolderChange>{{storage + "/thumbnails", kCreated | 0x20000}}, false);
    EXPECT_EQ(photos.size(), 4) << "a changed folder inside the storage folder is not walked either";
    EXPECT_EQ(find(photos, inner + "/d.jpg")->source, "Downloads");
    // Folded change lists; reconciliation flags force a full scan; removed things vanish silently.
    indexer.scan(std::nullopt, false);
    const int full = indexer.lastScanVisitedEntries();
    indexer.scan(QList<FolderChange>{{inner + "/deep/c.jpg", kCreated}, {inner + "/deep", 0x400}}, false);
    EXPECT_EQ(indexer.lastScanVisitedEntries(), 1) << "/deep/c.jpg folds into /deep";
    indexer.scan(QList<FolderChange>{{inner + "/d.jpg", 0x01}}, false);
    EXPECT_EQ(indexer.lastScanVisitedEntries(), full) << "must-scan-subdirs makes the scan full";
    ASSERT_TRUE(QDir(inner + "/deep").removeRecursively());
    ASSERT_TRUE(QFile::remove(inner + "/d.jpg"));
    photos = indexer.scan(
        QList<FolderChange>{{inner + "/deep", 0x200 | 0x20000}, {inner + "/d.jpg", 0x200 | 0x10000}}, false);
    EXPECT_EQ(photos.size(), 2);
    EXPECT_TRUE(indexer.errors().isEmpty()) << indexer.errors().join(", ").toStdString();
}

TEST_F(IndexerScanTest, UnchangedScansDoNotRewriteTheIndexAndFailedSavesRetry) {
    const QString root = makeFolder("steady");
    writeFile(root + "/a.jpg", "a");
    const QString index = storageFolder() + "/index.json";
    Indexer indexer({{"Steady", root}}, storageFolder());
    indexer.scan(std::nullopt, false);
    indexer.flushIndex();
    const QByteArray bytes = readFile(index);
    const auto before = FileIdentity::read(index).value();
    indexer.scan(std::nullopt, false);
    indexer.scan(QList<FolderChange>{{root + "/a.jpg", 0x400}}, false);
    indexer.flushIndex();
    EXPECT_EQ(readFile(index), bytes);
    EXPECT_EQ(FileIdentity::read(index)->modified, before.modified) << "no write at all";
    EXPECT_EQ(FileIdentity::read(index)->fileNumber, before.fileNumber);
    ASSERT_TRUE(QFile::remove(index));
    ASSERT_TRUE(QDir().mkpath(index + "/blocker"));
    writeFile(root + "/b.jpg", "b");
    indexer.scan(std::nullopt, false);
    indexer.flushIndex();
    ASSERT_EQ(indexer.errors().size(), 1);
    EXPECT_TRUE(indexer.errors().first().startsWith("索引保存失败：")) << indexer.errors()[0].toStdString();
    EXPECT_TRUE(indexer.libraryNeedsSave());
    ASSERT_TRUE(QDir(index).removeRecursively());
    indexer.scan(std::nullopt, false);
    indexer.flushIndex();
    EXPECT_FALSE(indexer.libraryNeedsSave()) << "retried without any change";
    EXPECT_TRUE(indexer.errors().isEmpty());
    EXPECT_EQ(libraryFromJson(JsonFile::read(index).value()).value().photos.size(), 2);
}

TEST_F(IndexerScanTest, IndexWritesAreCoalescedAndAlwaysReachTheDisk) {
    const QString root = makeFolder("burst");
    writeFile(root + "/a.jpg", "a");
    const QString index = storageFolder() + "/index.json";
    const auto photosOnDisk = [&index] {
        return libraryFromJson(JsonFile::read(index).value()).value().photos.size();
    };
    {
        Indexer indexer({{"Burst", root}}, storageFolder());
        indexer.setIndexWriteInterval(std::chrono::hours(1));
        indexer.scan(std::nullopt, false);
        indexer.flushIndex();
        ASSERT_EQ(photosOnDisk(), 1);
        for (const int count : {2, 3}) {
            const QString path = root + QString("/%1.jpg").arg(count);
            writeFile(path, "x");
            EXPECT_EQ(indexer.scan(QList<FolderChange>{{path, kCreated}}, false).size(), count);
        }
        EXPECT_EQ(photosOnDisk(), 1) << "no second write within the interval";
        EXPECT_TRUE(indexer.libraryNeedsSave());
    }
    EXPECT_EQ(photosOnDisk(), 3) << "what is owed is written when the index goes away";
}

TEST_F(IndexerScanTest, ChangedAndReplacedFiles) {
    const QString root = makeFolder("changes");
    writeFile(root + "/keep.jpg", "one");
    Indexer indexer({{"Changes", root}}, storageFolder());
    const Photo before = indexer.scan(std::nullopt, false).first();
    writeFile(before.thumbnail, "thumbnail");
    m_now += 50;
    writeFile(root + "/keep.jpg", "one two");
    const Photo after = indexer.scan(QList<FolderChange>{{root + "/keep.jpg", 0x1000}}, false).first();
    EXPECT_EQ(after.added, before.added) << "a changed file keeps its added date";
    EXPECT_EQ(after.size, 7);
    EXPECT_FALSE(QFile::exists(before.thumbnail)) << "the stale thumbnail goes";
    // The same file number with another birth, or another usage identity: a different file.
    Library library = indexer.library();
    library.photos[0].created = *library.photos[0].created - 10;
    indexer.setLibrary(library);
    EXPECT_EQ(indexer.scan(QList<FolderChange>{{root + "/keep.jpg", 0x400}}, false).first().added, m_now);
}

TEST_F(IndexerScanTest, UnreadableRootsKeepRecordsAndStayPending) {
    const QString root = makeFolder("flaky");
    const QString other = makeFolder("steady2");
    writeFile(root + "/a.jpg", "a");
    writeFile(other + "/b.jpg", "b");
    Indexer indexer({{"Flaky", root}, {"Steady", other}}, storageFolder());
    ASSERT_EQ(indexer.scan(std::nullopt, false).size(), 2);
    const QString orphan = storageFolder() + "/thumbnails/nobody.jpg";
    writeFile(orphan, "stale thumbnail");
    const QString aside = TestEnvironment::root() + "/flaky-aside";
    ASSERT_TRUE(renameFile(root, aside));
    writeFile(root, "now a file where the folder was");
    EXPECT_EQ(indexer.scan(std::nullopt, false).size(), 2) << "an unreadable root keeps its records";
    EXPECT_EQ(indexer.errors(), QStringList{"无法读取Flaky"});
    EXPECT_TRUE(QFile::exists(orphan)) << "no cleanup after a scan with errors";
    // Removed from the sources and added again: a baseline import.
    indexer.reconfigure({{"Steady", other}});
    ASSERT_TRUE(QFile::remove(root));
    ASSERT_TRUE(renameFile(aside, root));
    indexer.reconfigure({{"Flaky", root}, {"Steady", other}});
    m_now += 1000;
    writeFile(root + "/c.jpg", "c");
    const QList<Photo> back = indexer.scan(QList<FolderChange>{{root + "/c.jpg", kCreated}}, false);
    EXPECT_EQ(find(back, root + "/c.jpg")->baselineImported, true) << "a re-added folder is a baseline";
    EXPECT_EQ(indexer.library().pendingBaselineRoots, QStringList{});
    EXPECT_TRUE(QFile::exists(orphan)) << "only full scans clean up";
    indexer.scan(std::nullopt, false);
    EXPECT_FALSE(QFile::exists(orphan)) << "a clean full scan removes thumbnails nobody owns";
}

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
}

TEST(FolderWatcher, DeadWatchersAreDetectable) {
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return out.merged().size() >= 50; }, 10000));
    QTest::qWait(300);
    EXPECT_LE(out.batches.size(), 3) << "one window collects the burst";
    EXPECT_EQ(out.merged().value(root + "/img7.jpg") & 0x1100u, 0x1100u) << "created and modified merged";
    ASSERT_EQ(indexer.scan(std::nullopt, false).size(), 50);
    // A folder arriving with its content: its files never produced events of their own.
    out.batches.clear();
    watcher.setDeliveryWindow(50ms);
    writeFile(TestEnvironment::root() + "/incoming/album/one.jpg", "1");
    writeFile(TestEnvironment::root() + "/incoming/album/deep/two.png", "2");
    ASSERT_TRUE(renameFile(TestEnvironment::root() + "/incoming/album", root + "/album"));
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

TEST(FolderWatcher, AStorageFolderNamedThroughALinkIsIgnoredUnderItsRealPathToo) {
    const QString root = QFileInfo(makeFolder("linked")).canonicalFilePath();
    ASSERT_TRUE(QDir().mkpath(root + "/store"));
    ASSERT_TRUE(QFile::link(root + "/store", root + "/alias"));
    Batches out;
    FolderWatcher watcher(QStringList{root}, {root + "/alias"}, out.handler());
    watcher.setDeliveryWindow(50ms);
    watcher.activate();
    ASSERT_TRUE(watcher.running());
    EXPECT_EQ(watcher.source()->watchCount(), 1) << "the storage folder is not watched";
    watcher.receive({{root + "/store/thumbnails/x.jpg", 0x100}, {root + "/a.jpg", 0x100}});
    ASSERT_TRUE(out.wait());
    EXPECT_TRUE(out.merged().contains(root + "/a.jpg"));
    EXPECT_FALSE(out.merged().contains(root + "/store/thumbnails/x.jpg")) << "thumbnail writes wake no scan";
}

TEST_F(IndexerScanTest, StateFilesThatCannotBeReadAreSetAsideWhole) {
    const QString root = makeFolder("aside");
    writeFile(root + "/a.jpg", "a");
    const QString index = storageFolder() + "/index.json";
    {
        QFile huge(index);
        ASSERT_TRUE(huge.open(QIODevice::WriteOnly) && huge.resize(Indexer::kMaxIndexBytes + 1));
    }
    const QString failures = storageFolder() + "/thumbnail-failures.json";
    ASSERT_EQ(mkfifo(QFile::encodeName(failures).constData(), 0600), 0);
    const auto before = FileIdentity::read(index).value();
    Indexer indexer({{"Aside", root}}, storageFolder());
    EXPECT_EQ(FileIdentity::read(failures + ".corrupt")->type, FileType::Other) << "a FIFO is never opened";
    const auto kept = FileIdentity::read(index + ".corrupt");
    ASSERT_TRUE(kept.ok());
    EXPECT_EQ(kept->fileNumber, before.fileNumber) << "moved aside as it is, never read into memory";
    EXPECT_EQ(indexer.scan(std::nullopt, false).size(), 1);
    indexer.flushIndex();
    EXPECT_EQ(libraryFromJson(JsonFile::read(index).value()).value().photos.size(), 1);
}

TEST(FolderWatcher, ARootThatLeavesIsWatchedAgainWhenItReturns) {
    const QString root = makeFolder("leaving");
    Batches out;
    FolderWatcher watcher(QStringList{root}, {}, out.handler());
    watcher.setDeliveryWindow(20ms);
    watcher.activate();
    ASSERT_TRUE(watcher.running());
    ASSERT_TRUE(renameFile(root, TestEnvironment::root() + "/left"));
    ASSERT_TRUE(out.wait());
    EXPECT_TRUE(out.merged().value(root) & FolderChange::kReconciliationMask) << "the owner hears of it";
    EXPECT_TRUE(watcher.running());
    out.batches.clear();
    ASSERT_TRUE(QDir().mkpath(root));
    ASSERT_TRUE(out.wait()) << "the returning root is reported";
    writeFile(root + "/back.jpg", "b");
    EXPECT_TRUE(QTest::qWaitFor([&] { return out.merged().contains(root + "/back.jpg"); }, 10000));
    // With no watch left to await it, the watcher is dead and its owner replaces it.
    watcher.source()->setWatchLimitForTesting(0);
    out.batches.clear();
    ASSERT_TRUE(QDir(root).removeRecursively());
    ASSERT_TRUE(out.wait());
    EXPECT_FALSE(watcher.running());
}

namespace {

QStringList g_warnings;
void recordWarning(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtWarningMsg)
        g_warnings << message;
}

void createRaw(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_CREAT | O_WRONLY | O_EXCL, 0644);
    ASSERT_GE(fd, 0) << path.toStdString();
    ASSERT_EQ(::write(fd, "x", 1), 1);
    ::close(fd);
}

} // namespace

TEST_F(IndexerScanTest, EveryIndexedPathOpensItsFileAndOtherNamesAreSkippedWithAReason) {
    const QString root = makeFolder("names");
    const QByteArray raw = QFile::encodeName(root);
    writeFile(root + "/plain.jpg", "p");
    createRaw(raw + "/\xEF\xBB\xBF"
                    "bom.jpg");              // starts with U+FEFF, valid UTF-8
    createRaw(raw + "/latin-\xE9t\xE9.jpg"); // "été" in Latin-1
    ASSERT_EQ(::mkdir((raw + "/old-\xFF").constData(), 0755), 0);
    createRaw(raw + "/old-\xFF/inside.jpg");
    ASSERT_EQ(::mkdir((raw + "/sub").constData(), 0755), 0);
    createRaw(raw + "/sub/notes-\xFF.txt"); // no picture: nothing to report
    g_warnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(recordWarning);
    Indexer indexer({{"Names", root}}, storageFolder());
    const QList<Photo> photos = indexer.scan(std::nullopt, false);
    indexer.scan(std::nullopt, false);
    qInstallMessageHandler(previous);
    QStringList names;
    for (const Photo& photo : photos) {
        names << photo.name();
        EXPECT_TRUE(FileIdentity::read(photo.path).ok())
            << "a path that opens nothing: " << photo.path.toStdString();
    }
    names.sort();
    EXPECT_EQ(names, (QStringList{"plain.jpg", QStringLiteral("\uFEFFbom.jpg")}));
    EXPECT_EQ(indexer.errors(),
              QStringList{QFileInfo(root).fileName() +
                          QStringLiteral("：有名称不是 UTF-8 编码的文件或文件夹，无法读取。")})
        << "once for the folder that holds them";
    ASSERT_EQ(g_warnings.size(), 3) << g_warnings.join('\n').toStdString()
                                    << "\nonce each, not once per scan";
    EXPECT_TRUE(g_warnings.filter("/latin-%E9t%E9.jpg").size() == 1 &&
                g_warnings.filter("/old-%FF").size() == 1 && g_warnings.filter("/notes-%FF.txt").size() == 1)
        << g_warnings.join('\n').toStdString();
}

TEST_F(IndexerScanTest, WhatAScanCannotReadKeepsItsRecordsAndOnlyThatPartAwaitsItsBaseline) {
    const QString root = makeFolder("partial");
    const QString locked = root + "/locked";
    writeFile(root + "/seen.jpg", "s");
    writeFile(locked + "/a.jpg", "a");
    writeFile(locked + "/deeper/b.png", "b");
    Indexer indexer({{"Partial", root}}, storageFolder());
    QString failing = locked;
    indexer.setFolderOpenFaultForTesting(
        [&](const QString& folder) { return folder == failing ? EACCES : 0; });
    QList<Photo> photos = indexer.scan(std::nullopt, false);
    ASSERT_EQ(photos.size(), 1);
    EXPECT_EQ(indexer.errors(), QStringList{"Partial：" + errnoMessage(EACCES)});
    EXPECT_EQ(indexer.library().pendingBaselineRoots, QStringList{locked})
        << "the rest of the folder has its baseline";
    m_now += 100;
    writeFile(root + "/download.jpg", "d");
    photos = indexer.scan(QList<FolderChange>{{root + "/download.jpg", kCreated}}, false);
    ASSERT_TRUE(find(photos, root + "/download.jpg"));
    EXPECT_EQ(find(photos, root + "/download.jpg")->added, m_now) << "a download is an arrival";
    EXPECT_EQ(find(photos, root + "/download.jpg")->baselineImported, false);

    // Readable later: its files join the baseline with their own dates instead of arriving.
    m_now += 100;
    failing.clear();
    photos = indexer.scan(std::nullopt, false);
    ASSERT_EQ(photos.size(), 4);
    for (const QString& path : {locked + "/a.jpg", locked + "/deeper/b.png"}) {
        const Photo* photo = find(photos, path);
        ASSERT_TRUE(photo) << path.toStdString();
        const auto file = FileIdentity::read(path).value();
        EXPECT_EQ(photo->added, file.created.value_or(file.modified)) << path.toStdString();
        EXPECT_EQ(photo->baselineImported, true);
    }
    EXPECT_EQ(indexer.library().pendingBaselineRoots, QStringList{});
    EXPECT_TRUE(indexer.errors().isEmpty());

    // Unreadable once indexed: the records the scans did not see survive, and no baseline returns.
    failing = locked + "/deeper";
    EXPECT_EQ(indexer.scan(std::nullopt, false).size(), 4);
    EXPECT_EQ(indexer.scan(QList<FolderChange>{{failing, 0x400 | 0x20000}}, false).size(), 4);
    EXPECT_TRUE(find(indexer.library().photos, failing + "/b.png"));
    EXPECT_EQ(indexer.library().pendingBaselineRoots, QStringList{});
    // A file listed but gone before it was read: the scan says so and loses nothing.
    failing.clear();
    int renders = 0;
    indexer.setThumbnailRenderer([&](const QString& source, const QString&) {
        if (renders++ == 0)
            QFile::remove(source == root + "/seen.jpg" ? root + "/download.jpg" : root + "/seen.jpg");
    });
    photos = indexer.scan(QList<FolderChange>{{root, 0x400 | 0x20000}}, true);
    EXPECT_EQ(photos.size(), 4) << "an incomplete scan drops no record";
    ASSERT_EQ(indexer.errors().size(), 1);
    EXPECT_TRUE(indexer.errors().first().endsWith("：" + errnoMessage(ENOENT)))
        << indexer.errors()[0].toStdString();
}

// A change-driven scan edits the library in place; whatever the change, it must end where the
// scan that builds the library anew from the same change ends.
TEST_F(IndexerScanTest, ChangeDrivenScansEndWhereAScanOfTheWholeLibraryEnds) {
    const QString root = makeFolder("edits");
    const QString nested = makeFolder("edits/nested");
    for (const char* name :
         {"a.jpg", "b.png", "sub/c.jpg", "sub/d.jpg", "gone/e.jpg", "gone/f.jpg", "nested/g.jpg"})
        writeFile(root + "/" + name, name);
    Indexer indexer({{"Edits", root}, {"Nested", nested}}, storageFolder());
    indexer.scan(std::nullopt, false);

    const auto both = [&](const QString& step, const QList<FolderChange>& changes) {
        m_now += 10;
        const Library before = indexer.library();
        const QList<Photo> edited = indexer.scan(changes, false);
        const Library afterEdit = indexer.library();
        indexer.setLibrary(before);
        const QList<Photo> rebuilt = indexer.scan(changes, false);
        EXPECT_EQ(edited, rebuilt) << step.toStdString();
        EXPECT_EQ(afterEdit, indexer.library()) << step.toStdString();
        EXPECT_EQ(edited, indexer.library().photos) << step.toStdString();
    };
    writeFile(root + "/new.jpg", "new");
    both("a new file", {{root + "/new.jpg", kCreated}});
    writeFile(root + "/a.jpg", "a, longer now");
    both("a file written again", {{root + "/a.jpg", 0x1000}});
    ASSERT_TRUE(renameFile(root + "/sub/c.jpg", root + "/c-moved.jpg"));
    both("a move seen only where it arrived", {{root + "/c-moved.jpg", 0x800}});
    ASSERT_TRUE(QFile::remove(root + "/b.png"));
    both("a removed file", {{root + "/b.png", 0x200}});
    ASSERT_TRUE(QDir(root + "/gone").removeRecursively());
    both("a removed folder", {{root + "/gone", 0x200}});
    writeFile(root + "/fresh/h.jpg", "h");
    writeFile(root + "/fresh/i.jpg", "i");
    writeFile(nested + "/j.jpg", "j");
    both("a new folder, and a file of the nested root reported with its parent",
         {{root + "/fresh", kCreated}, {nested + "/j.jpg", kCreated}, {root + "/fresh/h.jpg", kCreated}});
    writeFile(root + "/.hidden.jpg", "hidden");
    writeFile(root + "/notes.txt", "text");
    both("nothing to index", {{root + "/.hidden.jpg", kCreated}, {root + "/notes.txt", kCreated}});
    both("the sub folder reported whole", {{root + "/sub", 0x800}, {root + "/nowhere/x.jpg", 0x200}});
}
