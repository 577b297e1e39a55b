#include "platform/X11InputShape.h"

#include <gtest/gtest.h>

#include <vector>

using namespace vennimo;

TEST(X11InputShape, AShapeTooLargeForOneRequestIsMadeCoarserButKeepsEveryPixel) {
    // A fine checkerboard: one rectangle to every other pixel.
    std::vector<QRect> cells;
    for (int y = 0; y < 300; ++y)
        for (int x = y % 2; x < 400; x += 2)
            cells.emplace_back(x, y, 1, 1);
    QRegion fine;
    fine.setRects(cells.data(), int(cells.size()));
    ASSERT_EQ(fine.rectCount(), 60000);

    const QRegion rows = X11InputShape::bounded(fine, 1000);
    EXPECT_LE(rows.rectCount(), 1000);
    EXPECT_TRUE(fine.subtracted(rows).isEmpty()) << "a pixel of the shape is left out";
    EXPECT_EQ(rows.boundingRect(), fine.boundingRect());

    const QRegion runs = X11InputShape::bounded(fine, 7);
    EXPECT_LE(runs.rectCount(), 7);
    EXPECT_TRUE(fine.subtracted(runs).isEmpty());

    const QRegion small = fine & QRect(0, 0, 40, 30);
    ASSERT_EQ(small.rectCount(), 600);
    EXPECT_EQ(X11InputShape::bounded(small, X11InputShape::kMaximumRectangles), small)
        << "a shape within the bound is sent as it is";
    EXPECT_TRUE(X11InputShape::bounded(QRegion(), 1).isEmpty());
}
