#include "model/RopeHistoryEntry.h"

#include <gtest/gtest.h>

using namespace vennimo;

namespace {

Photo photo(const QString& key, std::optional<double> created = 10.0, const QString& path = {}) {
    Photo p;
    p.id = key + "-id";
    p.usageID = key;
    p.path = path.isEmpty() ? "/photos/" + key + ".jpg" : path;
    p.created = created;
    return p;
}

std::function<bool(const Photo&)> removingSame(const QList<Photo>& removed) {
    return [removed](const Photo& candidate) {
        for (const Photo& gone : removed) {
            if (isSamePhoto(gone, candidate))
                return true;
        }
        return false;
    };
}

} // namespace

TEST(RopeHistoryEntry, MenuWordsCountsAndTitles) {
    const Photo a = photo("a");
    const QList<RopeHistoryEntry> entries{
        RopeHistoryEntry::takeDown({a, photo("b")}),
        RopeHistoryEntry::copy({CopyUndoRecord{a, photo("c")}}, 0.25),
        RopeHistoryEntry::move({PegReturnRecord{a, photo("d")}, PegReturnRecord{}, PegReturnRecord{}},
                               "/dir"),
        RopeHistoryEntry::trash({}),
    };
    const QStringList words{"取下", "复制", "移动", "删除"};
    const QList<qsizetype> counts{2, 1, 3, 0};
    for (int i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].menuWord(), words[i]) << i;
        EXPECT_EQ(entries[i].recordCount(), counts[i]) << i;
        EXPECT_EQ(static_cast<int>(entries[i].kind()), i);
    }
    EXPECT_EQ(ropeHistoryTitle("撤销", {}), "撤销");
    EXPECT_EQ(ropeHistoryTitle("重做", entries), "重做删除") << "the newest entry is the last one";
    EXPECT_EQ(ropeHistoryTitle("撤销", entries.mid(0, 2)), "撤销复制");
}

TEST(RopeHistoryEntry, SamePhotoNeedsKeyAndFileBirth) {
    EXPECT_TRUE(isSamePhoto(photo("a", 10.0), photo("a", 10.0, "/elsewhere/a.jpg")));
    EXPECT_TRUE(isSamePhoto(photo("a", std::nullopt), photo("a", 99.0))) << "an unknown birth may match";
    EXPECT_FALSE(isSamePhoto(photo("a", 10.0), photo("a", 10.5))) << "another file at the same key";
    EXPECT_FALSE(isSamePhoto(photo("a"), photo("b")));
    Photo withoutUsage = photo("a");
    withoutUsage.usageID.reset();
    EXPECT_FALSE(isSamePhoto(withoutUsage, photo("a"))) << "the key falls back to the id";
    withoutUsage.id = "a";
    EXPECT_TRUE(isSamePhoto(withoutUsage, photo("a")));
}

TEST(RopeHistoryEntry, PruningDecidesByTheSidesPhoto) {
    const Photo a = photo("a"), b = photo("b"), c = photo("c");

    auto takeDown = RopeHistoryEntry::takeDown({a, b, c}).pruned(true, removingSame({b}));
    ASSERT_TRUE(takeDown);
    EXPECT_EQ(*takeDown, RopeHistoryEntry::takeDown({a, c})) << "order kept";
    EXPECT_FALSE(RopeHistoryEntry::takeDown({a, b}).pruned(false, removingSame({a, b})))
        << "nothing left means no entry";
    EXPECT_EQ(RopeHistoryEntry::takeDown({a}).pruned(true, removingSame({photo("a", 11.0)})),
              RopeHistoryEntry::takeDown({a}))
        << "another file birth is not pruned";

    // Copies: the copy decides, except on the redo side once it was recycled.
    const Photo source1 = photo("s1"), copy1 = photo("c1"), source2 = photo("s2"), copy2 = photo("c2");
    const auto copy = RopeHistoryEntry::copy(
        {CopyUndoRecord{source1, copy1, "d1", true}, CopyUndoRecord{source2, copy2, "d2", false}}, 0.4);
    EXPECT_EQ(copy.pruned(true, removingSame({copy1})),
              RopeHistoryEntry::copy({CopyUndoRecord{source2, copy2, "d2", false}}, 0.4));
    EXPECT_EQ(copy.pruned(false, removingSame({copy1})), copy) << "a recycled copy is decided by its source";
    EXPECT_EQ(copy.pruned(false, removingSame({source1, copy2})), std::nullopt);
    EXPECT_EQ(copy.pruned(false, removingSame({source2})), copy) << "a kept copy is decided by the copy";

    // Moves: the delivered photo on the undo side, the original on the redo side.
    const Photo original = photo("o"), delivered = photo("o", 10.0, "/folder/o.jpg");
    const Photo other = photo("p"), otherDelivered = photo("q");
    const auto move = RopeHistoryEntry::move(
        {PegReturnRecord{original, delivered, {}, "bm"}, PegReturnRecord{other, otherDelivered, {}, "bm2"}},
        "/folder");
    EXPECT_EQ(move.pruned(true, removingSame({other})), move)
        << "the original does not decide on the undo side";
    EXPECT_EQ(move.pruned(true, removingSame({otherDelivered})),
              RopeHistoryEntry::move({PegReturnRecord{original, delivered, {}, "bm"}}, "/folder"));
    EXPECT_EQ(move.pruned(false, removingSame({other})),
              RopeHistoryEntry::move({PegReturnRecord{original, delivered, {}, "bm"}}, "/folder"));

    const auto trash = RopeHistoryEntry::trash(
        {RopeTrashedItem{a, "/t/a", true, false, 0.1}, RopeTrashedItem{b, "/t/b", false, true, 0.2}});
    EXPECT_EQ(trash.pruned(false, removingSame({a})),
              RopeHistoryEntry::trash({RopeTrashedItem{b, "/t/b", false, true, 0.2}}));
}

TEST(RopeHistoryEntry, RemappingReplacesEveryHeldPhotoByTheFirstMatch) {
    const Photo a = photo("a"), b = photo("b");
    const Photo a1 = photo("a1"), a2 = photo("a2"), b1 = photo("b1");
    const QList<PhotoReplacement> pairs{{a, a1}, {photo("a", 10.0, "/moved.jpg"), a2}, {b, b1}};

    EXPECT_EQ(RopeHistoryEntry::takeDown({b, a, photo("z")}).remapping(pairs),
              RopeHistoryEntry::takeDown({b1, a1, photo("z")}))
        << "first pair wins, order and count kept";
    EXPECT_EQ(RopeHistoryEntry::takeDown({photo("a", 20.0)}).remapping(pairs),
              RopeHistoryEntry::takeDown({photo("a", 20.0)}))
        << "a different file birth stays";

    EXPECT_EQ(RopeHistoryEntry::copy({CopyUndoRecord{a, b, "dd", true}}, 0.7).remapping(pairs),
              RopeHistoryEntry::copy({CopyUndoRecord{a1, b1, "dd", true}}, 0.7));
    const ClotheslinePlacement placement{2, 0.5, 7};
    EXPECT_EQ(RopeHistoryEntry::move({PegReturnRecord{a, b, placement, "bm"}}, "/d").remapping(pairs),
              RopeHistoryEntry::move({PegReturnRecord{a1, b1, placement, "bm"}}, "/d"));
    EXPECT_EQ(RopeHistoryEntry::trash({RopeTrashedItem{b, "/t/b", true, true, 0.3}}).remapping(pairs),
              RopeHistoryEntry::trash({RopeTrashedItem{b1, "/t/b", true, true, 0.3}}));
    const auto untouched = RopeHistoryEntry::trash({RopeTrashedItem{photo("n"), "/t/n", false, false, 0}});
    EXPECT_EQ(untouched.remapping(pairs), untouched);
    EXPECT_EQ(RopeHistoryEntry::takeDown({}).remapping(pairs).recordCount(), 0) << "never dropped";
}

TEST(RopeHistoryEntry, AReturnedMoveRepointsBothPhotosToTheRestoredOne) {
    const Photo original = photo("o", 10.0, "/photos/o.jpg");
    const Photo delivered = photo("o", 10.0, "/folder/o.jpg");
    Photo restored = photo("o2", 10.0, "/photos/o.jpg");
    const PegReturnRecord record{original, delivered, ClotheslinePlacement{1, 0.2, 3}, "bm"};
    QList<PegReturnRecord> returned{PegReturnRecord{}};
    QList<PhotoReplacement> replacements;
    recordReturnedMove(record, restored, returned, replacements);
    ASSERT_EQ(returned.size(), 2) << "appended to the caller's list";
    EXPECT_EQ(returned[1], (PegReturnRecord{restored, delivered, ClotheslinePlacement{1, 0.2, 3}, "bm"}));
    EXPECT_EQ(replacements, (QList<PhotoReplacement>{{original, restored}, {delivered, restored}}));

    // Both the original and the delivered photo held by later entries now point at it.
    const auto entry = RopeHistoryEntry::takeDown({delivered, photo("x")}).remapping(replacements);
    EXPECT_EQ(entry, RopeHistoryEntry::takeDown({restored, photo("x")}));
}
