#include "core/PhotoRecordIndex.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

#include <algorithm>

using namespace vennimo;

namespace {

Photo photo(const QString& id, double added, const QString& path) {
    Photo made;
    made.id = id;
    made.added = added;
    made.path = path;
    return made;
}

QStringList sorted(QStringList ids) {
    ids.sort();
    return ids;
}

} // namespace

// Records taken out and put in, a few at a time and many at once, leave the list and what the
// index finds exactly as sorting the records and indexing them afresh would.
TEST(PhotoRecordIndex, UpdatesMatchAFreshIndexAfterEveryChange) {
    QRandomGenerator random(13);
    QList<Photo> photos;
    for (int i = 0; i < 300; ++i)
        photos.append(photo(QStringLiteral("id-%1").arg(i), random.bounded(50),
                            QStringLiteral("/r/f%1/p%2.jpg").arg(i % 7).arg(i)));
    std::sort(photos.begin(), photos.end(), PhotoRecordIndex::precedes);
    PhotoRecordIndex index;
    ASSERT_TRUE(index.rebuild(photos));

    int next = 300;
    for (const int batch : {1, 3, 1, 40, 2, 90, 1}) {
        QSet<QString> removed;
        for (int i = 0; i < batch; ++i)
            removed.insert(photos[random.bounded(photos.size())].id);
        QList<Photo> added;
        for (int i = 0; i < batch; ++i, ++next)
            added.append(photo(QStringLiteral("id-%1").arg(next), random.bounded(60),
                               QStringLiteral("/r/f%1/p%2.jpg").arg(next % 9).arg(next)));
        // A record that comes back changed goes out and in under its id.
        const Photo moved = photos[random.bounded(photos.size())];
        removed.insert(moved.id);
        added.append(photo(moved.id, moved.added + 100, QStringLiteral("/r/elsewhere/%1.jpg").arg(next)));

        QList<Photo> expected;
        for (const Photo& kept : std::as_const(photos))
            if (!removed.contains(kept.id))
                expected.append(kept);
        expected += added;
        std::sort(expected.begin(), expected.end(), PhotoRecordIndex::precedes);

        ASSERT_TRUE(index.update(photos, removed, added)) << "batch of " << batch;
        ASSERT_EQ(photos, expected) << "batch of " << batch;
        PhotoRecordIndex fresh;
        ASSERT_TRUE(fresh.rebuild(expected));
        for (const Photo& listed : std::as_const(expected))
            ASSERT_EQ(index.position(photos, listed.id), fresh.position(expected, listed.id));
        for (const QString& id : removed) {
            if (!std::any_of(added.cbegin(), added.cend(), [&id](const Photo& p) { return p.id == id; })) {
                EXPECT_EQ(index.position(photos, id), -1);
            }
        }
        for (const QString folder : {"/r", "/r/f3", "/r/f3/p10.jpg", "/r/elsewhere", "/r/f", "/q"})
            EXPECT_EQ(sorted(index.idsWithin(folder)), sorted(fresh.idsWithin(folder)))
                << folder.toStdString();
    }
}

TEST(PhotoRecordIndex, FindsByPathAndRefusesListsItCannotOrder) {
    QList<Photo> photos{photo("a", 3, "/r/x/1.jpg"), photo("b", 2, "/r/x/sub/2.jpg"),
                        photo("d", 1, "/private/var/r/4.jpg"), photo("c", 1, "/r/xy/3.jpg")};
    PhotoRecordIndex index;
    ASSERT_TRUE(index.rebuild(photos));
    EXPECT_EQ(sorted(index.idsWithin("/r/x")), (QStringList{"a", "b"})) << "/r/xy is not below /r/x";
    EXPECT_EQ(index.idsWithin("/r/x/1.jpg"), QStringList{"a"});
    EXPECT_EQ(index.idsWithin("/var/r"), QStringList{"d"}) << "paths are compared as keys";
    EXPECT_TRUE(index.idsWithin("/r/x/1").isEmpty());
    EXPECT_EQ(index.position(photos, "c"), 3);
    EXPECT_EQ(index.find(photos, "zz"), nullptr);

    // A record that ties with another in the order: the list is still right, the index is gone.
    EXPECT_FALSE(index.update(photos, {}, {photo("e", 2, "/r/x/sub/2.jpg")}));
    EXPECT_FALSE(index.valid());
    EXPECT_EQ(photos.size(), 5);
    EXPECT_TRUE(std::is_sorted(photos.cbegin(), photos.cend(), PhotoRecordIndex::precedes));

    EXPECT_FALSE(index.rebuild(photos)) << "tie";
    EXPECT_FALSE(index.rebuild({photo("a", 2, "/1"), photo("a", 1, "/2")})) << "repeated id";
    EXPECT_FALSE(index.rebuild({photo("a", 1, "/1"), photo("b", 2, "/2")})) << "out of order";
}

// A burst of changed files in one large folder asks for each path: every answer costs the records
// it names, so the whole scan grows with the changed paths and not with their product.
TEST(PhotoRecordIndex, LookingUpEveryChangedPathCostsThePathsNotTheFolderForEach) {
    const auto examinedForAll = [](int count) {
        QList<Photo> photos;
        for (int i = 0; i < count; ++i)
            photos.append(
                photo(QStringLiteral("id-%1").arg(i), count - i, QStringLiteral("/r/burst/p%1.jpg").arg(i)));
        for (int i = 0; i < 20; ++i)
            photos.append(
                photo(QStringLiteral("deep-%1").arg(i), -i, QStringLiteral("/r/burst/sub%1/q.jpg").arg(i)));
        PhotoRecordIndex index;
        EXPECT_TRUE(index.rebuild(photos));
        qint64 found = 0;
        for (int i = 0; i < count; ++i)
            found += index.idsWithin(QStringLiteral("/r/burst/p%1.jpg").arg(i)).size();
        EXPECT_EQ(found, count);
        EXPECT_EQ(index.idsWithin("/r/burst").size(), count + 20) << "a folder still answers all below it";
        EXPECT_EQ(index.idsWithin("/r/burst/sub3/").size(), 1);
        EXPECT_EQ(index.idsWithin("/").size(), count + 20);
        return index.examinedCount();
    };
    const qint64 thousand = examinedForAll(1000);
    const qint64 tenThousand = examinedForAll(10'000);
    EXPECT_LE(thousand, 3 * 1000 + 100);
    EXPECT_LE(tenThousand, 3 * 10'000 + 100) << "not a walk of the folder for every path";
    EXPECT_LE(tenThousand, 12 * thousand);
}
