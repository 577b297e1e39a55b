#include "platform/Bookmark.h"
#include "platform/JsonFile.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <cstdio>

using namespace vennimo;
using namespace vennimo::test;

void move(const QString& from, const QString& to) {
    ASSERT_EQ(std::rename(QFile::encodeName(from), QFile::encodeName(to)), 0) << from.toStdString();
}

TEST(Bookmark, FollowsARenameInItsFolderButNotToAnotherFileAndRefusesOtherBytes) {
    const QString folder = makeFolder("bm");
    const QString path = folder + "/a.jpg";
    writeFile(path, "first");
    const QByteArray bytes = Bookmark::create(path).value();
    EXPECT_EQ(Bookmark::recordedPath(bytes), path);
    EXPECT_EQ(Bookmark::resolve(bytes).value(), (ResolvedBookmark{path, false}));

    writeFile(folder + "/other.jpg", "other");
    move(path, folder + "/renamed.jpg");
    EXPECT_EQ(Bookmark::resolve(bytes).value(), (ResolvedBookmark{folder + "/renamed.jpg", true}))
        << "found by its file number";

    // Another file now under the recorded name, the bookmarked one replaced: not followed.
    writeFile(folder + "/new.jpg", "new");
    move(folder + "/new.jpg", folder + "/renamed.jpg");
    move(folder + "/other.jpg", path);
    const auto gone = Bookmark::resolve(bytes);
    ASSERT_FALSE(gone.ok());
    EXPECT_EQ(gone.error().domain, QString::fromLatin1(kBookmarkErrorDomain));
    EXPECT_EQ(gone.error().message, QStringLiteral("找不到书签指向的文件。"));

    // Folders are bookmarked the same way.
    QDir().mkpath(folder + "/Pictures");
    const QByteArray folderBookmark = Bookmark::create(folder + "/Pictures/").value();
    move(folder + "/Pictures", folder + "/Photos");
    EXPECT_EQ(Bookmark::resolve(folderBookmark).value(), (ResolvedBookmark{folder + "/Photos", true}));

    // Bytes that are not a bookmark are refused.
    const QByteArray good = bytes;
    const auto with = [&](const char* key, const QJsonValue& value) {
        QJsonObject object = *JsonFile::parse(good);
        object.insert(QLatin1String(key), value);
        return JsonFile::encode(object);
    };
    const QByteArray bad[] = {{},
                              "not json",
                              "[1,2]",
                              with("path", "a.jpg"),
                              with("fileNumber", "12x"),
                              with("kind", "something"),
                              with("version", 2),
                              QByteArray(Bookmark::kMaxBytes + 1, ' ') + good};
    for (const QByteArray& bytes : bad) {
        const auto resolved = Bookmark::resolve(bytes);
        EXPECT_TRUE(!resolved.ok() && resolved.error().code == 1) << bytes.left(80).toStdString();
        EXPECT_FALSE(Bookmark::recordedPath(bytes).has_value());
    }
}

TEST(Bookmark, ManyBookmarksReadEachFolderOnceWithinOneBound) {
    // First a bookmark whose file is gone from a folder of 102 entries: its search reads them all.
    const QString other = makeFolder("many-other");
    for (int i = 0; i < 100; ++i)
        writeFile(other + QStringLiteral("/filler-%1").arg(i), "x");
    writeFile(other + "/gone.jpg", "gone");
    QList<QByteArray> bookmarks{Bookmark::create(other + "/gone.jpg").value()};
    QFile::remove(other + "/gone.jpg");
    // Then ten files renamed in a folder of 62 entries: one pass finds them all.
    const QString big = makeFolder("many");
    for (int i = 0; i < 50; ++i)
        writeFile(big + QStringLiteral("/filler-%1").arg(i), "x");
    for (int i = 0; i < 10; ++i) {
        const QString path = big + QStringLiteral("/photo-%1.jpg").arg(i);
        writeFile(path, "photo");
        bookmarks.append(Bookmark::create(path).value());
        move(path, big + QStringLiteral("/renamed-%1.jpg").arg(i));
    }
    // A bookmark still in place needs no search; bytes that are no bookmark are refused.
    writeFile(big + "/kept.jpg", "kept");
    bookmarks.append(Bookmark::create(big + "/kept.jpg").value());
    bookmarks.append("not a bookmark");

    const auto results = Bookmark::resolveAll(bookmarks, 102 + 63);
    ASSERT_EQ(results.size(), 13);
    EXPECT_EQ(results[0].ok() ? QString() : results[0].error().message,
              QStringLiteral("找不到书签指向的文件。"));
    for (int i = 1; i <= 10; ++i)
        EXPECT_EQ(results[i].valueOr({}),
                  (ResolvedBookmark{big + QStringLiteral("/renamed-%1.jpg").arg(i - 1), true}))
            << i;
    EXPECT_EQ(results[11].valueOr({}), (ResolvedBookmark{big + "/kept.jpg", false}));
    ASSERT_FALSE(results[12].ok());
    EXPECT_EQ(results[12].error().message, QStringLiteral("文件书签已损坏。"));

    // The bound spent on the first folder, the second is not read at all.
    const auto bounded = Bookmark::resolveAll(bookmarks, 102);
    for (int i = 1; i <= 10; ++i)
        EXPECT_FALSE(bounded[i].ok()) << i;
    EXPECT_TRUE(bounded[11].ok());
}
