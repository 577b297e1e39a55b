#include "model/PhotoSearch.h"
#include "model/RopeHistoryEntry.h"

#include <gtest/gtest.h>

using namespace vennimo;
using E = RopeHistoryEntry;

namespace {

Photo photo(const QString& key, std::optional<double> created = 10.0, const QString& path = {}) {
    Photo p;
    p.id = key + "-id";
    p.usageID = key;
    p.path = path.isEmpty() ? "/photos/" + key + ".jpg" : path;
    p.created = created;
    return p;
}

std::function<bool(const Photo&)> removing(const QList<Photo>& gone) {
    return [gone](const Photo& p) {
        return std::ranges::any_of(gone, [&](auto& g) { return isSamePhoto(g, p); });
    };
}

} // namespace

TEST(PhotoSearch, EveryWordMustOccurInNameSourceOrFormat) {
    Photo photo;
    photo.path = "/Users/秋/Pictures/Holiday Beach.PNG";
    photo.source = "下载";
    const std::pair<const char*, bool> cases[] = {
        {"", true},           {" \n\t ", true},          {"png", true},       {"beach holi", true},
        {"下载 BEACH", true}, {"  beach\n下载  ", true}, {"beach.png", true}, {"beach 桌面", false},
        {"Pictures", false},  {"png下载", false},        {"png 下载", true}};
    for (const auto& [query, matches] : cases)
        EXPECT_EQ(matchesSearch(photo, QString::fromUtf8(query)), matches) << "query: '" << query << "'";

    // Every Unicode space separates words; composed and decomposed accents are the same letter.
    Photo decomposed;
    decomposed.path = QString::fromUtf8("/x/Cafe\u0301 東京.jpg");
    decomposed.source = "桌面";
    const std::pair<const char*, bool> unicodeCases[] = {
        {"\u3000", true},     {"桌面\u3000東京", true}, {"café", true},  {"CAFÉ", true},
        {"cafe\u0301", true}, {"é\u2003jpg", true},     {"cafe", false}, {"桌面\u3000大阪", false}};
    for (const auto& [query, matches] : unicodeCases)
        EXPECT_EQ(matchesSearch(decomposed, QString::fromUtf8(query)), matches) << "query: '" << query << "'";
}

TEST(RopeHistoryEntry, SamePhotoNeedsKeyAndFileBirth) {
    EXPECT_TRUE(isSamePhoto(photo("a"), photo("a", 10.0, "/elsewhere/a.jpg")));
    EXPECT_TRUE(isSamePhoto(photo("a", std::nullopt), photo("a", 99.0))) << "an unknown birth may match";
    EXPECT_FALSE(isSamePhoto(photo("a"), photo("a", 10.5))) << "another file at the same key";
    Photo withoutUsage = photo("a");
    withoutUsage.usageID.reset();
    EXPECT_FALSE(isSamePhoto(withoutUsage, photo("a"))) << "the key falls back to the id";
    withoutUsage.id = "a";
    EXPECT_TRUE(isSamePhoto(withoutUsage, photo("a")));
}

TEST(RopeHistoryEntry, PruningDecidesByTheSidesPhoto) {
    const Photo a = photo("a"), b = photo("b"), c = photo("c");
    EXPECT_EQ(E::takeDown({a, b, c}).pruned(true, removing({b})), E::takeDown({a, c})) << "order kept";
    EXPECT_EQ(E::takeDown({a, b}).pruned(false, removing({a, b})), std::nullopt) << "nothing left, no entry";

    // Copies: the copy decides, except on the redo side once it was recycled.
    const CopyUndoRecord recycled{photo("s1"), photo("c1"), "d1", true}, kept{photo("s2"), photo("c2"), "d2"};
    const auto copy = E::copy({recycled, kept}, 0.4);
    EXPECT_EQ(copy.pruned(true, removing({recycled.photo})), E::copy({kept}, 0.4));
    EXPECT_EQ(copy.pruned(false, removing({recycled.photo, kept.source})), copy);
    EXPECT_EQ(copy.pruned(false, removing({recycled.source, kept.photo})), std::nullopt);

    // Moves: the delivered photo on the undo side, the original on the redo side.
    const PegReturnRecord first{photo("o"), photo("o", 10.0, "/folder/o.jpg"), {}, "bm"};
    const PegReturnRecord second{photo("p"), photo("q"), {}, "bm2"};
    const auto move = E::move({first, second}, "/folder");
    EXPECT_EQ(move.pruned(true, removing({second.original})), move);
    EXPECT_EQ(move.pruned(true, removing({second.delivered})), E::move({first}, "/folder"));
    EXPECT_EQ(move.pruned(false, removing({second.original})), E::move({first}, "/folder"));
    // The Trash and other file births: RopeHistory.PruningDropsDeletedPhotosFromBothSides.
}

TEST(RopeHistoryEntry, RemappingReplacesEveryHeldPhotoByTheFirstMatch) {
    const Photo a = photo("a"), b = photo("b"), a1 = photo("a1"), b1 = photo("b1"), z = photo("z");
    const QList<PhotoReplacement> pairs{{a, a1}, {photo("a", 10.0, "/moved.jpg"), photo("a2")}, {b, b1}};
    EXPECT_EQ(E::takeDown({b, a, z, photo("a", 20.0)}).remapping(pairs),
              E::takeDown({b1, a1, z, photo("a", 20.0)}))
        << "first pair wins; another file birth stays";
    EXPECT_EQ(E::copy({CopyUndoRecord{a, b, "dd", true}}, 0.7).remapping(pairs),
              E::copy({CopyUndoRecord{a1, b1, "dd", true}}, 0.7));
    EXPECT_EQ(E::move({PegReturnRecord{a, b, {}, "bm"}}, "/d").remapping(pairs),
              E::move({PegReturnRecord{a1, b1, {}, "bm"}}, "/d"));
    EXPECT_EQ(E::trash({RopeTrashedItem{b, "/t/b", true, true, 0.3}}).remapping(pairs),
              E::trash({RopeTrashedItem{b1, "/t/b", true, true, 0.3}}));

    // A returned move points both its original and its delivered photo at the restored one.
    const PegReturnRecord record{a, photo("a", 10.0, "/folder/a.jpg"), ClotheslinePlacement{1, 0.2, 3}, "bm"};
    QList<PegReturnRecord> returned{PegReturnRecord{}};
    QList<PhotoReplacement> replacements;
    recordReturnedMove(record, a1, returned, replacements);
    EXPECT_EQ(returned, (QList<PegReturnRecord>{{}, {a1, record.delivered, record.placement, "bm"}}))
        << "appended";
    EXPECT_EQ(replacements, (QList<PhotoReplacement>{{a, a1}, {record.delivered, a1}}));
}
