#include "DropTestHelpers.h"

#include "dragdrop/PegFolderDelivery.h"
#include "dragdrop/PegFolderMove.h"
#include "platform/FileMove.h"
#include "support/CrashChild.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>
#include <gtest/gtest.h>

#include <cstdio>

using namespace vennimo;
using namespace vennimo::test;

namespace {

Photo writtenPhoto(const QString& path, const QByteArray& bytes) {
    return photoOf(written(path, bytes));
}

} // namespace

TEST(PegFolderMove, NumbersTheNameAfterTheStemAndKeepsTheExtension) {
    const struct {
        QString name;
        int attempt;
        QString expected;
    } cases[] = {
        {u"a.jpg"_s, 0, u"a.jpg"_s},           {u"a.jpg"_s, 1, u"a 2.jpg"_s},
        {u"a.jpg"_s, 9999, u"a 10000.jpg"_s},  {u"notes"_s, 1, u"notes 2"_s},
        {u".hidden"_s, 1, u".hidden 2"_s},     {u"a.tar.gz"_s, 2, u"a.tar 3.gz"_s},
        {u"照片.HEIC"_s, 1, u"照片 2.HEIC"_s},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PegFolderMove::candidateName(c.name, c.attempt), c.expected) << c.name.toStdString();
}

TEST(PegFolderMove, TakesTheNextFreeNameAndNeverOverwrites) {
    const QString from = makeFolder(u"clash-from"_s);
    const QString to = makeFolder(u"clash-to"_s);
    writeFile(to + u"/a.jpg"_s, "first");
    writeFile(to + u"/a 2.jpg"_s, "second");
    const Photo photo = writtenPhoto(from + u"/a.jpg"_s, "moved");

    const auto moved = PegFolderMove::move(photo, to);
    ASSERT_TRUE(moved) << moved.error().message.toStdString();
    EXPECT_EQ(*moved, to + u"/a 3.jpg"_s);
    EXPECT_EQ(readFile(to + u"/a.jpg"_s), "first");
    EXPECT_EQ(readFile(to + u"/a 2.jpg"_s), "second");
    EXPECT_EQ(readFile(*moved), "moved");
    EXPECT_FALSE(QFileInfo::exists(photo.path));
}

TEST(PegFolderMove, LeavesAFileInItsOwnFolderAlsoWhenNamedThroughALink) {
    const QString folder = makeFolder(u"own"_s);
    const Photo photo = writtenPhoto(folder + u"/b.png"_s, "b");
    const QString link = TestEnvironment::root() + u"/own-link"_s;
    ASSERT_TRUE(QFile::link(folder, link));

    for (const QString& target : {folder, link, folder + u"/./"_s}) {
        const auto moved = PegFolderMove::move(photo, target);
        ASSERT_TRUE(moved) << target.toStdString();
        EXPECT_EQ(*moved, photo.path);
    }
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList{u"b.png"_s});
    EXPECT_TRUE(PegFolderMove::sameDirectory(link, folder));
    EXPECT_FALSE(PegFolderMove::sameDirectory(folder, makeFolder(u"elsewhere"_s)));
    EXPECT_FALSE(PegFolderMove::sameDirectory(folder, folder + u"/missing"_s));
}

TEST(PegFolderMove, RefusesWithoutMovingAnything) {
    const QString to = makeFolder(u"refuse-to"_s);
    const QString from = makeFolder(u"refuse-from"_s);

    const Photo library = writtenPhoto(from + u"/My.photoslibrary/originals/c.jpg"_s, "c");
    auto moved = PegFolderMove::move(library, to);
    ASSERT_FALSE(moved);
    EXPECT_EQ(moved.error().message, QString::fromUtf8(PegFolderMove::kLibraryFileRefused));

    // The file at the path is no longer the photo's.
    const Photo replaced = writtenPhoto(from + u"/d.jpg"_s, "d");
    writeFile(from + u"/other.jpg"_s, "another file");
    ASSERT_EQ(std::rename(QFile::encodeName(from + u"/other.jpg"_s).constData(),
                          QFile::encodeName(replaced.path).constData()),
              0);
    moved = PegFolderMove::move(replaced, to);
    ASSERT_FALSE(moved);
    EXPECT_EQ(moved.error().code, kReplacedOriginalCode);

    // A failure other than a taken name ends the attempts at once.
    const Photo photo = writtenPhoto(from + u"/e.jpg"_s, "e");
    moved = PegFolderMove::move(photo, to + u"/gone"_s);
    ASSERT_FALSE(moved);
    EXPECT_EQ(moved.error().sysErrno, ENOENT);
    EXPECT_TRUE(QFileInfo::exists(photo.path));
    EXPECT_TRUE(QDir(to).entryList(QDir::Files | QDir::Hidden).isEmpty());

    // After ten thousand taken names it gives up.
    const QString full = makeFolder(u"full"_s);
    for (int attempt = 0; attempt < PegFolderMove::kMaxNameAttempts; ++attempt)
        QFile(full + u"/"_s + PegFolderMove::candidateName(u"e.jpg"_s, attempt)).open(QIODevice::WriteOnly);
    moved = PegFolderMove::move(photo, full);
    ASSERT_FALSE(moved);
    EXPECT_EQ(moved.error().message, QString::fromUtf8(PegFolderMove::kTooManyNames));
    EXPECT_TRUE(QFileInfo::exists(photo.path));
}

TEST(PegFolderMove, CopiesAcrossFileSystemsWithoutReplacing) {
    // Removed with the test, however it ends.
    const auto other = folderOnAnotherFileSystem();
    if (!other)
        GTEST_SKIP() << "/dev/shm is not a file system of its own here";
    const std::optional<QString> to = other->path() + u"/across"_s;
    QDir().mkpath(*to);
    writeFile(*to + u"/g.jpg"_s, "taken");
    const Photo photo = writtenPhoto(makeFolder(u"across-from"_s) + u"/g.jpg"_s, "travels");

    const auto moved = PegFolderMove::move(photo, *to);
    ASSERT_TRUE(moved) << moved.error().message.toStdString();
    EXPECT_EQ(*moved, *to + u"/g 2.jpg"_s);
    EXPECT_EQ(readFile(*to + u"/g.jpg"_s), "taken");
    EXPECT_EQ(readFile(*moved), "travels");
    EXPECT_EQ(FileIdentity::read(*moved)->modified, photo.modified);
    EXPECT_FALSE(QFileInfo::exists(photo.path));
    EXPECT_EQ(QDir(*to).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST(PegFolderMove, AFolderSwappedForALinkAfterItWasOpenedStillGetsTheFile) {
    const QString root = makeFolder(u"swap"_s);
    const QString from = makeFolder(u"swap-from"_s);
    QDir().mkpath(root + u"/dest"_s);
    QDir().mkpath(root + u"/elsewhere"_s);
    const Photo photo = writtenPhoto(from + u"/h.jpg"_s, "h");
    const Photo later = writtenPhoto(from + u"/i.jpg"_s, "i");

    // Checked and opened, then replaced by a link to another folder before the move.
    const auto opened = PegFolderDelivery::openDestination(QUrl::fromLocalFile(root + u"/dest"_s).toEncoded(),
                                                           makeFolder(u"swap-storage"_s));
    ASSERT_TRUE(opened);
    ASSERT_EQ(std::rename(QFile::encodeName(root + u"/dest"_s).constData(),
                          QFile::encodeName(root + u"/kept"_s).constData()),
              0);
    ASSERT_TRUE(QFile::link(root + u"/elsewhere"_s, root + u"/dest"_s));
    const auto moved = PegFolderMove::move(photo, opened->descriptor->get(), opened->path);
    ASSERT_TRUE(moved) << moved.error().message.toStdString();
    EXPECT_EQ(readFile(root + u"/kept/h.jpg"_s), "h") << "the folder that was checked";
    EXPECT_TRUE(QDir(root + u"/elsewhere"_s).isEmpty()) << "not the link's target";

    // A link is never opened as the folder to move into.
    EXPECT_FALSE(FileMove::openFolder(root + u"/dest"_s));

    // Across file systems the copy and its name go through the descriptor too.
    const auto other = folderOnAnotherFileSystem();
    if (!other)
        return;
    const std::optional<QString> across = other->path();
    QDir().mkpath(*across + u"/dest"_s);
    const auto far = PegFolderDelivery::openDestination(QUrl::fromLocalFile(*across + u"/dest"_s).toEncoded(),
                                                        makeFolder(u"swap-storage"_s));
    ASSERT_TRUE(far);
    ASSERT_EQ(std::rename(QFile::encodeName(*across + u"/dest"_s).constData(),
                          QFile::encodeName(*across + u"/kept"_s).constData()),
              0);
    ASSERT_TRUE(QFile::link(root + u"/elsewhere"_s, *across + u"/dest"_s));
    const auto copied = PegFolderMove::move(later, far->descriptor->get(), far->path);
    ASSERT_TRUE(copied) << copied.error().message.toStdString();
    EXPECT_EQ(readFile(*across + u"/kept/i.jpg"_s), "i");
    EXPECT_TRUE(QDir(root + u"/elsewhere"_s).isEmpty());
    EXPECT_EQ(QDir(*across + u"/kept"_s).entryList(QDir::Files | QDir::Hidden), QStringList{u"i.jpg"_s})
        << "no partial left beside it";
    EXPECT_FALSE(QFileInfo::exists(later.path));
}
