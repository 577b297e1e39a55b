#include "platform/Bookmark.h"
#include "platform/JsonFile.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <cstdio>

using namespace vennimo;
using namespace vennimo::test;

TEST(Bookmark, FollowsARenameInItsFolderButNotToAnotherFile) {
    const QString folder = makeFolder("bm");
    const QString path = folder + "/a.jpg";
    writeFile(path, "first");
    auto bytes = Bookmark::create(path);
    ASSERT_TRUE(bytes.ok());
    EXPECT_EQ(Bookmark::recordedPath(*bytes), path);

    auto same = Bookmark::resolve(*bytes);
    ASSERT_TRUE(same.ok());
    EXPECT_EQ(*same, (ResolvedBookmark{path, false}));

    writeFile(folder + "/other.jpg", "other");
    ASSERT_EQ(std::rename(QFile::encodeName(path), QFile::encodeName(folder + "/renamed.jpg")), 0);
    auto renamed = Bookmark::resolve(*bytes);
    ASSERT_TRUE(renamed.ok()) << renamed.error().message.toStdString();
    EXPECT_EQ(*renamed, (ResolvedBookmark{folder + "/renamed.jpg", true})) << "found by its file number";

    // Another file now under the recorded name, the bookmarked one replaced: not followed.
    writeFile(folder + "/new.jpg", "new");
    ASSERT_EQ(std::rename(QFile::encodeName(folder + "/new.jpg"), QFile::encodeName(folder + "/renamed.jpg")),
              0);
    ASSERT_EQ(std::rename(QFile::encodeName(folder + "/other.jpg"), QFile::encodeName(path)), 0);
    auto gone = Bookmark::resolve(*bytes);
    ASSERT_FALSE(gone.ok());
    EXPECT_EQ(gone.error().domain, QString::fromLatin1(kBookmarkErrorDomain));
    EXPECT_EQ(gone.error().message, QStringLiteral("找不到书签指向的文件。"));

    EXPECT_FALSE(Bookmark::create(folder + "/missing.jpg").ok());

    // Folders are bookmarked the same way.
    QDir().mkpath(folder + "/Pictures");
    const QByteArray folderBookmark = *Bookmark::create(folder + "/Pictures/");
    ASSERT_EQ(std::rename(QFile::encodeName(folder + "/Pictures"), QFile::encodeName(folder + "/Photos")), 0);
    EXPECT_EQ(Bookmark::resolve(folderBookmark).value(), (ResolvedBookmark{folder + "/Photos", true}));
}

TEST(Bookmark, RefusesBytesThatAreNotABookmark) {
    const QString path = makeFolder("bm2") + "/a.jpg";
    writeFile(path, "x");
    const QByteArray good = *Bookmark::create(path);
    auto object = *JsonFile::parse(good);

    auto relative = object;
    relative.insert("path", "a.jpg");
    auto badNumber = object;
    badNumber.insert("fileNumber", "12x");
    auto otherKind = object;
    otherKind.insert("kind", "something");
    auto newerVersion = object;
    newerVersion.insert("version", 2);
    const QList<QByteArray> bad{{},
                                "not json",
                                "[1,2]",
                                JsonFile::encode(relative),
                                JsonFile::encode(badNumber),
                                JsonFile::encode(otherKind),
                                JsonFile::encode(newerVersion),
                                QByteArray(Bookmark::kMaxBytes + 1, ' ') + good};
    for (const QByteArray& bytes : bad) {
        auto resolved = Bookmark::resolve(bytes);
        ASSERT_FALSE(resolved.ok()) << bytes.left(80).toStdString();
        EXPECT_EQ(resolved.error().code, 1);
        EXPECT_FALSE(Bookmark::recordedPath(bytes).has_value());
    }
}
