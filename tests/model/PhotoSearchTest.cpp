#include "model/PhotoSearch.h"

#include <gtest/gtest.h>

using namespace vennimo;

TEST(PhotoSearch, EveryWordMustOccurInNameSourceOrFormat) {
    Photo photo;
    photo.path = "/Users/秋/Pictures/Holiday Beach.PNG";
    photo.source = "下载";

    for (const QString& query : {QString(), QString("   "), QString(" \n\t ")})
        EXPECT_TRUE(matchesSearch(photo, query)) << "blank query: " << query.toStdString();
    EXPECT_TRUE(matchesSearch(photo, "png"));
    EXPECT_TRUE(matchesSearch(photo, "beach holi"));
    EXPECT_TRUE(matchesSearch(photo, "下载 BEACH")) << "across name and source, any order";
    EXPECT_TRUE(matchesSearch(photo, "  beach\n下载  "));
    EXPECT_FALSE(matchesSearch(photo, "beach 桌面")) << "every word must occur";
    EXPECT_FALSE(matchesSearch(photo, "Pictures")) << "the folder path is not searched";
    EXPECT_FALSE(matchesSearch(photo, "png下载")) << "a word does not span the joining space";
    EXPECT_TRUE(matchesSearch(photo, "png 下载"));

    Photo lower;
    lower.path = "/tmp/shot.png";
    lower.source = "桌面";
    EXPECT_TRUE(matchesSearch(lower, "PNG"));
    EXPECT_TRUE(matchesSearch(lower, "Shot.PNG"));
    EXPECT_FALSE(matchesSearch(lower, "tmp"));
}
