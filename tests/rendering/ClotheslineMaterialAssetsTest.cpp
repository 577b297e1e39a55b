#include "rendering/ClotheslineMaterialAssets.h"

#include <gtest/gtest.h>

namespace vennimo {
namespace {

// The share of opaque pixels in a band of rows, to tell artwork from empty margins.
double opaqueShare(const QImage& image, int firstRow, int lastRow) {
    int opaque = 0;
    int total = 0;
    for (int y = firstRow; y <= lastRow; ++y)
        for (int x = 0; x < image.width(); ++x, ++total)
            opaque += qAlpha(image.pixel(x, y)) > 128;
    return total ? double(opaque) / total : 0;
}

TEST(ClotheslineMaterialAssets, ArtworkLoadsCroppedAndBounded) {
    const auto& peg = ClotheslineMaterialAssets::peg();
    ASSERT_TRUE(peg.has_value()) << "the peg artwork is compiled into the library";
    EXPECT_LE(peg->height(), ClotheslineMaterialAssets::kPegMaxPixels);
    EXPECT_NEAR(double(peg->width()) / peg->height(), 315.0 / 1466.0, 0.02) << "crop scaled with the decode";
    EXPECT_GT(peg->height(), 400) << "decoded near the 512 pixel bound";
    EXPECT_GT(opaqueShare(*peg, peg->height() / 2 - 2, peg->height() / 2 + 2), 0.5)
        << "the peg fills the middle of its crop";
    EXPECT_EQ(peg->format(), QImage::Format_ARGB32_Premultiplied);

    const auto& tack = ClotheslineMaterialAssets::tack();
    ASSERT_TRUE(tack.has_value());
    EXPECT_LE(std::max(tack->width(), tack->height()), ClotheslineMaterialAssets::kTackMaxPixels);
    EXPECT_NEAR(tack->width(), tack->height(), 2) << "a round tack";
    EXPECT_EQ(qAlpha(tack->pixel(1, 1)), 0) << "transparent outside the sphere";
    EXPECT_EQ(qAlpha(tack->pixel(tack->width() / 2, tack->height() / 2)), 255);
    EXPECT_EQ(&ClotheslineMaterialAssets::tack(), &tack) << "loaded once";

    const auto plain =
        ClotheslineMaterialAssets::load(QStringLiteral("ClotheslinePeg"), QRect(344, 51, 326, 1434), 1540);
    ASSERT_TRUE(plain.has_value()) << "the spare peg is decoded whole";
    EXPECT_EQ(plain->size(), QSize(326, 1434));

    EXPECT_FALSE(ClotheslineMaterialAssets::load(QStringLiteral("NoSuchArtwork"), QRect(0, 0, 10, 10), 64))
        << "a missing resource is absent, not an error";
    EXPECT_FALSE(
        ClotheslineMaterialAssets::load(QStringLiteral("ClotheslinePeg"), QRect(5000, 5000, 10, 10), 512))
        << "a crop outside the picture is absent";
}

} // namespace
} // namespace vennimo
