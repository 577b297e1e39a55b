#include "RopeModelFixture.h"

#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;
using namespace Qt::StringLiterals;

namespace {

Photo copyPhoto(int number) {
    Photo photo = recordPhoto(100 + number);
    photo.path = u"/store/imported-images/照片副本-%1.jpg"_s.arg(number);
    return photo;
}

CopyUndoRecord recordOf(int source, int copy, bool recycled) {
    return {.source = recordPhoto(source),
            .photo = copyPhoto(copy),
            .digest = QByteArray(32, char(copy)),
            .recycled = recycled};
}

} // namespace

TEST(PhotoCopyRecords, AreBuiltForEveryCopyOrNotAtAll) {
    const QList<Photo> sources{recordPhoto(1), recordPhoto(2)};
    const QStringList paths{copyPhoto(1).path, copyPhoto(2).path};
    const QList<QByteArray> digests{QByteArray(32, 'a'), QByteArray(32, 'b')};
    const QHash<QString, Photo> byPath{{paths[0], copyPhoto(1)}, {paths[1], copyPhoto(2)}};

    const auto records = GalleryModel::copyUndoRecords(sources, paths, digests, byPath);
    ASSERT_EQ(records.size(), 2);
    EXPECT_EQ(records[1], (CopyUndoRecord{sources[1], copyPhoto(2), digests[1], false}));

    EXPECT_TRUE(GalleryModel::copyUndoRecords(sources, paths, {digests[0]}, byPath).isEmpty())
        << "lists of different lengths";
    EXPECT_TRUE(GalleryModel::copyUndoRecords(sources, paths, digests, {{paths[0], copyPhoto(1)}}).isEmpty())
        << "one copy missing from the exhibition";
    // Another spelling of the same path finds its copy.
    const auto respelled = GalleryModel::copyUndoRecords(
        {sources[0]}, {u"/store/imported-images/../imported-images/照片副本-1.jpg"_s}, {digests[0]}, byPath);
    EXPECT_EQ(respelled.size(), 1);
}

TEST(PhotoCopyRecords, ReplayReplacesEachRecycledCopyByTheNewCopyOfItsSource) {
    const QList<CopyUndoRecord> old{recordOf(1, 1, true), recordOf(2, 2, false), recordOf(3, 3, true)};
    const QList<CopyUndoRecord> made{recordOf(3, 13, false), recordOf(1, 11, false)};

    const auto replayed = GalleryModel::replayedCopyRecords(old, made);
    ASSERT_TRUE(replayed);
    EXPECT_EQ(replayed->records, (QList<CopyUndoRecord>{made[1], old[1], made[0]}));
    EXPECT_EQ(replayed->replacements,
              (QList<PhotoReplacement>{{copyPhoto(1), copyPhoto(11)}, {copyPhoto(3), copyPhoto(13)}}));

    const struct {
        const char* name;
        QList<CopyUndoRecord> created;
    } unmatched[] = {
        {"one source without a new copy", {made[0]}},
        {"one new copy too many", {made[0], made[1], recordOf(2, 12, false)}},
        {"a new copy of another source", {made[0], recordOf(4, 14, false)}},
    };
    for (const auto& c : unmatched)
        EXPECT_FALSE(GalleryModel::replayedCopyRecords(old, c.created)) << c.name;
}
