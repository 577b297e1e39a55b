#include "canvas/ClotheslineCoverGrid.h"

#include <QList>
#include <QRandomGenerator>
#include <QRegion>
#include <gtest/gtest.h>

#include <algorithm>

using namespace vennimo;

// A print said to be covered must be: every point of it in view lies inside a paper in front of it.
TEST(ClotheslineCoverGrid, APrintSaidToBeCoveredLiesWhollyUnderThePapersInFront) {
    const QRectF area(0, 0, 980, 458);
    QRandomGenerator random(42);
    const auto rect = [&](double maxSide) {
        const double w = 1 + random.bounded(maxSide);
        const double h = 1 + random.bounded(maxSide);
        return QRectF(random.bounded(area.width() + 40) - 20, random.bounded(area.height() + 40) - 20, w, h);
    };
    int covered = 0;
    for (int pile = 0; pile < 200; ++pile) {
        ClotheslineCoverGrid grid(area, 4);
        QList<QRectF> papers;
        for (int i = 0; i < 12; ++i) {
            const QRectF paper = rect(400);
            grid.cover(paper);
            papers.append(paper);
        }
        for (int i = 0; i < 20; ++i) {
            const QRectF print = rect(120);
            if (!grid.covers(print))
                continue;
            ++covered;
            for (double x = print.left(); x <= print.right(); x += 0.5)
                for (double y = print.top(); y <= print.bottom(); y += 0.5) {
                    if (!area.contains(x, y))
                        continue;
                    bool under = false;
                    for (const QRectF& paper : papers)
                        under = under || paper.contains(x, y);
                    ASSERT_TRUE(under) << "pile " << pile << ": (" << x << ", " << y << ") shows";
                }
        }
    }
    EXPECT_GT(covered, 50) << "the piles covered too little to tell";
}

TEST(ClotheslineCoverGrid, PapersSideBySideCoverWhatLiesUnderBothAndNothingSticksOut) {
    ClotheslineCoverGrid grid(QRectF(0, 0, 400, 200), 4);
    EXPECT_FALSE(grid.covers(QRectF(10, 10, 50, 50))) << "nothing is covered yet";
    grid.cover(QRectF(0, 0, 100, 100));
    grid.cover(QRectF(100, 0, 100, 100));
    EXPECT_TRUE(grid.covers(QRectF(60, 20, 80, 60))) << "under both papers";
    EXPECT_FALSE(grid.covers(QRectF(60, 20, 80, 81))) << "a point below the papers shows";
    EXPECT_FALSE(grid.covers(QRectF(150, 20, 50.5, 20))) << "a point beside the papers shows";
    EXPECT_TRUE(grid.covers(QRectF(-50, -50, 100, 100))) << "what lies outside the view is not seen";
    EXPECT_TRUE(grid.covers(QRectF(500, 10, 20, 20)));
    EXPECT_FALSE(grid.covers(QRectF())) << "an empty print covers nothing and is not covered";

    // A turned paper's box is not on the cells' lines: only the cells wholly inside it cover.
    ClotheslineCoverGrid offGrid(QRectF(0, 0, 400, 200), 4);
    offGrid.cover(QRectF(1.5, 1.5, 9, 9));
    EXPECT_FALSE(offGrid.covers(QRectF(2, 2, 1, 1)));
    EXPECT_TRUE(offGrid.covers(QRectF(4.5, 4.5, 3, 3)));

    ClotheslineCoverGrid none(QRectF(), 4);
    none.cover(QRectF(0, 0, 100, 100));
    EXPECT_FALSE(none.covers(QRectF(10, 10, 10, 10))) << "a grid over nothing says nothing is covered";
}

// What a print may paint is cut to what the papers above leave open: a point left out lies under a
// paper, and a print under a large paper paints little more than what sticks out.
TEST(ClotheslineCoverGrid, TheOpenPartOfAPrintLeavesOutOnlyWhatPapersInFrontHide) {
    const QRectF area(0, 0, 980, 458);
    QRandomGenerator random(7);
    const auto rect = [&](int maxSide) {
        return QRect(int(random.bounded(1020)) - 20, int(random.bounded(500)) - 20,
                     1 + int(random.bounded(maxSide)), 1 + int(random.bounded(maxSide)));
    };
    qint64 leftOut = 0;
    for (int pile = 0; pile < 100; ++pile) {
        ClotheslineCoverGrid grid(area, 4);
        QList<QRectF> papers;
        for (int i = 0; i < 8; ++i) {
            const QRectF paper = QRectF(rect(300)).adjusted(0.3, 0.7, -0.2, -0.6);
            grid.cover(paper);
            papers.append(paper);
        }
        for (int i = 0; i < 10; ++i) {
            const QRect print = rect(150);
            const QRegion open = grid.open(print);
            ASSERT_TRUE(print.contains(open.boundingRect()) || open.isEmpty());
            for (int y = print.top(); y <= print.bottom(); ++y)
                for (int x = print.left(); x <= print.right(); ++x) {
                    if (open.contains(QPoint(x, y)))
                        continue;
                    ++leftOut;
                    const QRectF pixel(x, y, 1, 1);
                    const bool under = std::any_of(papers.begin(), papers.end(), [&](const QRectF& paper) {
                        return paper.contains(pixel);
                    });
                    ASSERT_TRUE(under) << "pile " << pile << ": (" << x << ", " << y << ") left out";
                }
        }
    }
    EXPECT_GT(leftOut, 100000) << "the piles hid too little to tell";

    ClotheslineCoverGrid grid(QRectF(0, 0, 400, 200), 4);
    grid.cover(QRectF(0, 0, 200, 200));
    const QRegion open = grid.open(QRect(100, 50, 200, 100));
    EXPECT_EQ(open, QRegion(QRect(200, 50, 100, 100))) << "what sticks out of the paper";
    EXPECT_EQ(grid.open(QRect(350, -50, 100, 100)), QRegion(QRect(350, -50, 100, 100)))
        << "outside the view nothing is covered";
    ClotheslineCoverGrid uneven(QRectF(0.5, 0, 400, 200), 4);
    uneven.cover(QRectF(0, 0, 200, 200));
    EXPECT_EQ(uneven.open(QRect(10, 10, 20, 20)), QRegion(QRect(10, 10, 20, 20)))
        << "cells off the whole points leave the print whole";
}
