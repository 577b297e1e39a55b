#include "rendering/PolaroidPreviewGeometry.h"
#include "rendering/PreviewToolbarMetrics.h"

#include <gtest/gtest.h>

namespace vennimo {
namespace {

const QRectF kLaptop(0, 0, 1440, 900);

void expectRect(const QRectF& r, double x, double y, double w, double h, const char* what) {
    EXPECT_NEAR(r.x(), x, 0.01) << what;
    EXPECT_NEAR(r.y(), y, 0.01) << what;
    EXPECT_NEAR(r.width(), w, 0.01) << what;
    EXPECT_NEAR(r.height(), h, 0.01) << what;
}

TEST(PolaroidPreviewGeometry, LayoutOnALaptopScreen) {
    const auto g = PolaroidPreviewGeometry::layout(QSizeF(4000, 3000), kLaptop);
    expectRect(g.image, 40, 40, 912, 684, "photo below the top border");
    expectRect(g.paper, 16, 16, 960, 804, "paper inside the margin");
    EXPECT_NEAR(g.controlsY, 744, 0.01);
    EXPECT_NEAR(g.size.width(), 992, 0.01);
    EXPECT_NEAR(g.size.height(), 836, 0.01);
    EXPECT_EQ(g, PolaroidPreviewGeometry::layout(QSizeF(4000, 3000), kLaptop, false))
        << "navigation changes nothing";

    const auto small = PolaroidPreviewGeometry::layout(QSizeF(100, 100), kLaptop);
    EXPECT_NEAR(small.image.width(), 684, 0.01) << "small images are enlarged";
    EXPECT_NEAR(small.image.height(), 684, 0.01);

    const auto wide = PolaroidPreviewGeometry::layout(QSizeF(4000, 500), kLaptop);
    EXPECT_NEAR(wide.paper.width(), 1168, 0.01);
    expectRect(wide.image, 40, 40, 1120, 140, "wide photo");

    const auto narrow = PolaroidPreviewGeometry::layout(QSizeF(100, 4000), kLaptop);
    EXPECT_NEAR(narrow.paper.width(), 420, 0.01) << "a minimum paper width";
    EXPECT_NEAR(narrow.image.center().x(), narrow.paper.center().x(), 0.01)
        << "photo centred across the paper";

    const auto degenerate = PolaroidPreviewGeometry::layout(QSizeF(0, 0), kLaptop);
    EXPECT_EQ(degenerate, PolaroidPreviewGeometry::layout(QSizeF(1, 1), kLaptop));
}

TEST(PolaroidPreviewGeometry, TinyScreensAndPanelPlacement) {
    const QRectF tiny(0, 0, 300, 300);
    const auto g = PolaroidPreviewGeometry::layout(QSizeF(1000, 1000), tiny);
    expectRect(g.paper, 16, 16, 228, 228, "paper at its smallest");
    EXPECT_NEAR(g.image.width(), 108, 0.01);
    EXPECT_NEAR(g.image.height(), 108, 0.01);
    const auto landscape = PolaroidPreviewGeometry::layout(QSizeF(5, 3), tiny);
    EXPECT_LE(landscape.image.width(), 180 + 1e-9);
    EXPECT_LE(landscape.image.height(), 108 + 1e-9);

    EXPECT_EQ(PolaroidPreviewGeometry::fittedFrame(QSizeF(500, 400), QPointF(100, 100), kLaptop),
              QRectF(0, 0, 500, 400));
    EXPECT_EQ(PolaroidPreviewGeometry::fittedFrame(QSizeF(500, 400), QPointF(720, 450), kLaptop),
              QRectF(470, 250, 500, 400))
        << "centred where it fits";
    EXPECT_EQ(PolaroidPreviewGeometry::fittedFrame(QSizeF(500, 400), QPointF(1400, 880), kLaptop),
              QRectF(940, 500, 500, 400))
        << "pushed inside at the far edges";
    EXPECT_EQ(PolaroidPreviewGeometry::fittedFrame(QSizeF(2000, 1000), QPointF(1400, 880),
                                                   QRectF(100, 50, 1440, 900)),
              QRectF(100, 50, 2000, 1000))
        << "larger than the bounds: aligned to their minimum edges";
}

TEST(PreviewToolbarMetrics, ButtonWidths) {
    EXPECT_EQ(PreviewToolbarMetrics::width(QString()), 32);
    const double copy = PreviewToolbarMetrics::width(QStringLiteral("拷贝"));
    EXPECT_EQ(copy, std::ceil(copy)) << "whole points";
    EXPECT_GT(copy, 24 + 20) << "two characters of 13 points plus the padding";
    EXPECT_GT(PreviewToolbarMetrics::width(QStringLiteral("移到废纸篓")), copy);
    EXPECT_EQ(PreviewToolbarMetrics::font().weight(), QFont::Medium);
}

} // namespace
} // namespace vennimo
