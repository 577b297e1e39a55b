#include "core/Indexer.h"
#include "platform/Dates.h"
#include "platform/FileIdentity.h"
#include "platform/JsonFile.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

using namespace vennimo;
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
        // Later than any file date of the test files.
        m_now = 2'000'000'000;
        Clock::setOverride([this] { return m_now; });
    }
    void TearDown() override { Clock::setOverride({}); }

    static const Photo* find(const QList<Photo>& photos, const QString& path) {
        for (const Photo& p : photos)
            if (p.path == path)
                return &p;
        return nullptr;
    }
    static QStringList names(const QList<Photo>& photos) {
        QStringList out;
        for (const Photo& p : photos)
            out << p.name();
        return out;
    }

    double m_now = 0;
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
        auto file = FileIdentity::read(photo.path);
        ASSERT_TRUE(file.ok());
        EXPECT_EQ(photo.added, file->created.value_or(file->modified))
            << "baseline photos keep their file date";
        EXPECT_EQ(photo.baselineImported, true);
        EXPECT_EQ(photo.id, file->idString());
        EXPECT_TRUE(photo.usageID.has_value());
        EXPECT_EQ(photo.source, "Pictures");
        EXPECT_EQ(photo.sourceRoot, root);
        EXPECT_EQ(photo.thumbnail, storageFolder() + "/thumbnails/" + photo.id + ".jpg");
        EXPECT_FALSE(photo.thumbnailModified.has_value());
        EXPECT_EQ(photo.modified, file->modified);
        EXPECT_EQ(photo.size, file->size);
    }
    EXPECT_TRUE(indexer.library().initialized);
    EXPECT_EQ(indexer.library().pendingBaselineRoots, QStringList{}) << "the root is indexed now";
    auto stored = JsonFile::read(storageFolder() + "/index.json");
    ASSERT_TRUE(stored.ok());
    EXPECT_EQ(libraryFromJson(*stored).value(), indexer.library());

    m_now += 100;
    writeFile(root + "/new.webp", "new");
    const QList<Photo> second = indexer.scan(QList<FolderChange>{{root + "/new.webp", kCreated}}, false);
    ASSERT_EQ(second.size(), 3);
    EXPECT_EQ(second.first().name(), "new.webp") << "newest first";
    EXPECT_EQ(second.first().added, m_now);
    EXPECT_EQ(second.first().baselineImported, false);
    EXPECT_EQ(indexer.lastScanVisitedEntries(), 1) << "a change-driven scan looks at the changed path only";
    EXPECT_EQ(*find(second, root + "/old.jpg"), *find(first, root + "/old.jpg")) << "untouched records stay";

    // A new index reads the stored one: nothing is a baseline any more.
    Indexer reopened({{"Pictures", root}}, storageFolder());
    EXPECT_EQ(reopened.library(), indexer.library());
    m_now += 100;
    writeFile(root + "/later.gif", "later");
    const QList<Photo> third = reopened.scan(std::nullopt, false);
    EXPECT_EQ(find(third, root + "/later.gif")->added, m_now);
    EXPECT_EQ(find(third, root + "/later.gif")->baselineImported, false);
}

TEST_F(IndexerScanTest, RootsOwnTheirPathsAndTheStorageFolderIsNeverIndexed) {
    const QString outer = makeFolder("home");
    const QString inner = makeFolder("home/Downloads");
    writeFile(outer + "/a.jpg", "a");
    writeFile(inner + "/b.jpg", "b");
    writeFile(inner + "/deep/c.jpg", "c");
    const QString storage = makeFolder("home/.local/share/VennimoGallery");
    const QString visibleStorage = makeFolder("home/Storage");
    writeFile(storage + "/x.jpg", "x");
    writeFile(visibleStorage + "/thumbnails/y.jpg", "y");
    writeFile(outer + "/.hidden.jpg", "h");
    writeFile(outer + "/.folder/h.jpg", "h");
    writeFile(outer + "/Album.photoslibrary/p.jpg", "p");
    writeFile(outer + "/odd.PNG", "upper-case extension");
    writeFile(outer + "/folder.jpg/inside.gif", "a folder with an image name");
    ASSERT_TRUE(QFile::link(outer + "/a.jpg", outer + "/link.jpg"));
    ASSERT_TRUE(QFile::link(inner, outer + "/linked-folder"));

    Indexer indexer({{"Home", outer}, {"Downloads", inner}}, visibleStorage);
    EXPECT_EQ(indexer.roots().first().name, "Downloads") << "deepest root first";
    const QList<Photo> photos = indexer.scan(std::nullopt, false);
    QStringList found = names(photos);
    found.sort();
    EXPECT_EQ(found, (QStringList{"a.jpg", "b.jpg", "c.jpg", "inside.gif", "odd.PNG"}));
    EXPECT_EQ(find(photos, inner + "/deep/c.jpg")->source, "Downloads");
    EXPECT_EQ(find(photos, inner + "/deep/c.jpg")->sourceRoot, inner);
    EXPECT_EQ(find(photos, outer + "/a.jpg")->source, "Home");

    // Change-driven: events inside the nested root, the storage folder and hidden places.
    writeFile(inner + "/d.jpg", "d");
    writeFile(visibleStorage + "/z.jpg", "z");
    writeFile(outer + "/.folder/i.jpg", "i");
    const QList<Photo> again =
        indexer.scan(QList<FolderChange>{{inner + "/d.jpg", kCreated},
                                         {visibleStorage + "/z.jpg", kCreated},
                                         {outer + "/.folder/i.jpg", kCreated},
                                         {outer + "/Album.photoslibrary/p.jpg", kCreated}},
                     false);
    EXPECT_EQ(find(again, inner + "/d.jpg")->source, "Downloads");
    EXPECT_EQ(again.size(), photos.size() + 1);
    EXPECT_TRUE(indexer.errors().isEmpty()) << indexer.errors().join(", ").toStdString();
}

TEST_F(IndexerScanTest, ChangeListsFoldAndOnlyReconciliationFlagsForceFullScans) {
    const QString root = makeFolder("A");
    for (int i = 0; i < 5; ++i)
        writeFile(root + QStringLiteral("/x/%1.jpg").arg(i), "x");
    writeFile(root + "/y/1.jpg", "y");
    Indexer indexer({{"A", root}}, storageFolder());
    ASSERT_EQ(indexer.scan(std::nullopt, false).size(), 6);
    const int full = indexer.lastScanVisitedEntries();

    indexer.scan(QList<FolderChange>{{root + "/x/1.jpg", kCreated}, {root + "/x", 0x400}}, false);
    EXPECT_EQ(indexer.lastScanVisitedEntries(), 5) << "/A/x/1.jpg folds into /A/x";
    indexer.scan(QList<FolderChange>{{root + "/y/1.jpg", 0x10}}, false);
    EXPECT_EQ(indexer.lastScanVisitedEntries(), 1) << "history-done alone does not reconcile";
    indexer.scan(QList<FolderChange>{{root + "/y/1.jpg", 0x01}}, false);
    EXPECT_EQ(indexer.lastScanVisitedEntries(), full) << "must-scan-subdirs makes the scan full";
    indexer.scan(QList<FolderChange>{{TestEnvironment::root(), 0x200}}, false);
    EXPECT_EQ(indexer.lastScanVisitedEntries(), full) << "a change above the root rescans the root";
    indexer.scan(QList<FolderChange>{{"/elsewhere/q.jpg", kCreated}}, false);
    EXPECT_EQ(indexer.lastScanVisitedEntries(), 0);
    EXPECT_EQ(indexer.scanCount(), 6);

    // A removed file and a removed folder vanish silently.
    ASSERT_TRUE(QFile::remove(root + "/y/1.jpg"));
    ASSERT_TRUE(QDir(root + "/x").removeRecursively());
    const QList<Photo> left = indexer.scan(
        QList<FolderChange>{{root + "/y/1.jpg", 0x200 | 0x10000}, {root + "/x", 0x200 | 0x20000}}, false);
    EXPECT_TRUE(left.isEmpty());
    EXPECT_TRUE(indexer.errors().isEmpty());
}

TEST_F(IndexerScanTest, UnchangedScansDoNotRewriteTheIndexAndFailedSavesRetry) {
    const QString root = makeFolder("steady");
    writeFile(root + "/a.jpg", "a");
    const QString index = storageFolder() + "/index.json";
    Indexer indexer({{"Steady", root}}, storageFolder());
    indexer.scan(std::nullopt, false);
    const QByteArray bytes = readFile(index);
    const double written = FileIdentity::read(index)->modified;
    const auto inode = FileIdentity::read(index)->fileNumber;
    indexer.scan(std::nullopt, false);
    indexer.scan(QList<FolderChange>{{root + "/a.jpg", 0x400}}, false);
    EXPECT_EQ(readFile(index), bytes);
    EXPECT_EQ(FileIdentity::read(index)->modified, written) << "no write at all, not even of equal bytes";
    EXPECT_EQ(FileIdentity::read(index)->fileNumber, inode);

    // A save that fails is reported and retried by the next scan even without changes.
    ASSERT_TRUE(QFile::remove(index));
    ASSERT_TRUE(QDir().mkpath(index + "/blocker"));
    writeFile(root + "/b.jpg", "b");
    indexer.scan(std::nullopt, false);
    ASSERT_EQ(indexer.errors().size(), 1);
    EXPECT_TRUE(indexer.errors().first().startsWith("索引保存失败："))
        << indexer.errors().first().toStdString();
    EXPECT_TRUE(indexer.libraryNeedsSave());
    EXPECT_EQ(indexer.library().photos.size(), 2) << "memory is up to date";
    ASSERT_TRUE(QDir(index).removeRecursively());
    indexer.scan(std::nullopt, false);
    EXPECT_TRUE(indexer.errors().isEmpty());
    EXPECT_FALSE(indexer.libraryNeedsSave());
    EXPECT_EQ(libraryFromJson(JsonFile::read(index).value()).value(), indexer.library());
}

TEST_F(IndexerScanTest, ChangedAndReplacedFilesAndOrderOfEqualDates) {
    const QString root = makeFolder("changes");
    writeFile(root + "/keep.jpg", "one");
    Indexer indexer({{"Changes", root}}, storageFolder());
    const Photo before = indexer.scan(std::nullopt, false).first();
    writeFile(before.thumbnail, "thumbnail");

    // Rewritten in place: same file, new size; the thumbnail must go.
    m_now += 50;
    writeFile(root + "/keep.jpg", "one two");
    const Photo after = indexer.scan(QList<FolderChange>{{root + "/keep.jpg", 0x1000}}, false).first();
    EXPECT_EQ(after.id, before.id);
    EXPECT_EQ(after.added, before.added) << "a changed file keeps its added date";
    EXPECT_EQ(after.size, 7);
    EXPECT_FALSE(QFile::exists(before.thumbnail));
    EXPECT_FALSE(after.thumbnailModified.has_value());

    // Unchanged files keep their thumbnail and read its date.
    writeFile(after.thumbnail, "thumbnail");
    const Photo kept = indexer.scan(QList<FolderChange>{{root + "/keep.jpg", 0x400}}, false).first();
    EXPECT_TRUE(QFile::exists(kept.thumbnail));
    EXPECT_EQ(kept.thumbnailModified, FileIdentity::read(kept.thumbnail)->modified);

    // The same file number with another birth: a different file.
    Library library = indexer.library();
    library.photos[0].created = *library.photos[0].created - 10;
    indexer.setLibrary(library);
    const Photo replaced = indexer.scan(QList<FolderChange>{{root + "/keep.jpg", 0x400}}, false).first();
    EXPECT_EQ(replaced.added, m_now) << "a replaced file is an arrival";
    EXPECT_NE(replaced.created, library.photos[0].created);
    EXPECT_FALSE(QFile::exists(kept.thumbnail));
    library = indexer.library();
    library.photos[0].usageID = "OTHER-VOLUME-1";
    library.photos[0].added = 5;
    indexer.setLibrary(library);
    EXPECT_EQ(indexer.scan(QList<FolderChange>{{root + "/keep.jpg", 0x400}}, false).first().added, m_now)
        << "another usage identity is another file";

    // One scan time for every arrival: the path orders them.
    m_now += 50;
    for (const char* name : {"c.jpg", "a.jpg", "b.jpg"})
        writeFile(root + "/" + name, name);
    const QList<Photo> photos = indexer.scan(std::nullopt, false);
    EXPECT_EQ(names(photos), (QStringList{"a.jpg", "b.jpg", "c.jpg", "keep.jpg"}));

    // Duplicate ids in a stored library: the later added record wins.
    library = indexer.library();
    Photo stale = library.photos.last();
    stale.added = 1;
    library.photos.append(stale);
    indexer.setLibrary(library);
    const QList<Photo> deduplicated = indexer.scan(std::nullopt, false);
    EXPECT_EQ(deduplicated.size(), 4);
    EXPECT_NE(find(deduplicated, root + "/keep.jpg")->added, 1);
}

TEST_F(IndexerScanTest, UnreadableRootsKeepRecordsAndStayPending) {
    const QString root = makeFolder("flaky");
    const QString other = makeFolder("steady2");
    writeFile(root + "/a.jpg", "a");
    writeFile(other + "/b.jpg", "b");
    Indexer indexer({{"Flaky", root}, {"Steady", other}}, storageFolder());
    ASSERT_EQ(indexer.scan(std::nullopt, false).size(), 2);
    const QByteArray thumbnailBytes("stale thumbnail");
    writeFile(storageFolder() + "/thumbnails/nobody.jpg", thumbnailBytes);

    const QString aside = TestEnvironment::root() + "/flaky-aside";
    ASSERT_EQ(::rename(QFile::encodeName(root).constData(), QFile::encodeName(aside).constData()), 0);
    writeFile(root, "now a file where the folder was");
    const QList<Photo> photos = indexer.scan(std::nullopt, false);
    EXPECT_EQ(photos.size(), 2) << "an unreadable root keeps its records";
    EXPECT_EQ(indexer.errors(), QStringList{"无法读取Flaky"});
    EXPECT_TRUE(QFile::exists(storageFolder() + "/thumbnails/nobody.jpg"))
        << "no cleanup after a scan with errors";

    // Removed from the sources and added again: a baseline import.
    indexer.reconfigure({{"Steady", other}});
    EXPECT_TRUE(indexer.errors().isEmpty()) << "errors of a removed root go with it";
    ASSERT_TRUE(QFile::remove(root));
    ASSERT_EQ(::rename(QFile::encodeName(aside).constData(), QFile::encodeName(root).constData()), 0);
    indexer.reconfigure({{"Flaky", root}, {"Steady", other}});
    m_now += 1000;
    writeFile(root + "/c.jpg", "c");
    const QList<Photo> back = indexer.scan(QList<FolderChange>{{root + "/c.jpg", kCreated}}, false);
    EXPECT_EQ(back.size(), 3);
    EXPECT_EQ(find(back, root + "/c.jpg")->baselineImported, true) << "a re-added folder is a baseline";
    EXPECT_NE(find(back, root + "/c.jpg")->added, m_now);
    EXPECT_EQ(indexer.library().pendingBaselineRoots, QStringList{});
    EXPECT_TRUE(QFile::exists(storageFolder() + "/thumbnails/nobody.jpg")) << "only full scans clean up";
    indexer.scan(std::nullopt, false);
    EXPECT_FALSE(QFile::exists(storageFolder() + "/thumbnails/nobody.jpg"))
        << "a clean full scan removes thumbnails nobody owns";
}

TEST_F(IndexerScanTest, CorruptIndexIsKeptAsideAndStartsOver) {
    const QString root = makeFolder("corrupt");
    writeFile(root + "/a.jpg", "a");
    writeFile(storageFolder() + "/index.json", "{\"photos\": [ broken");
    writeFile(storageFolder() + "/thumbnail-failures.json", "[]");
    Indexer indexer({{"Corrupt", root}}, storageFolder());
    EXPECT_FALSE(indexer.library().initialized);
    EXPECT_TRUE(indexer.thumbnailFailures().empty());
    EXPECT_EQ(readFile(storageFolder() + "/index.json.corrupt"), "{\"photos\": [ broken");
    EXPECT_EQ(readFile(storageFolder() + "/thumbnail-failures.json.corrupt"), "[]");
    const QList<Photo> photos = indexer.scan(std::nullopt, false);
    ASSERT_EQ(photos.size(), 1);
    EXPECT_EQ(photos.first().baselineImported, true);
    EXPECT_TRUE(JsonFile::read(storageFolder() + "/index.json").ok());
}
