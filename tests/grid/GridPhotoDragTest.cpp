#include "grid/GridPhotoDrag.h"
#include "canvas/OpaquePegPreview.h"
#include "platform/ReduceMotion.h"

#include <QImage>
#include <QPointer>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

namespace vennimo::test {
namespace {

TEST(GridPhotoDrag, APictureNothingTookSlidesBackOntoItsCardsAndIsGoneOnceLandedButNotUnderReduceMotion) {
    ReduceMotion::setReader([] { return std::optional<bool>(false); });
    QWidget grid;
    grid.setGeometry(100, 100, 400, 300);
    grid.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
    QImage picture(60, 40, QImage::Format_ARGB32_Premultiplied);
    picture.fill(Qt::darkCyan);

    GridPhotoDrag::returnPicture(picture, QPointF(600, 500), &grid, QPointF(20, 30));
    QPointer<OpaquePegPreview> slide = grid.findChild<OpaquePegPreview*>();
    ASSERT_TRUE(slide) << "the view keeps the picture while it slides";
    EXPECT_EQ(slide->imageRects(), QList<QRectF>{QRectF(600, 500, 60, 40)}) << "from where it was let go";
    QRectF last;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            if (slide && slide->phase() == OpaquePegPreview::Phase::returning)
                last = slide->imageRects().value(0);
            return !slide;
        },
        5000))
        << "the picture is still there";
    EXPECT_EQ(last, QRectF(QPointF(grid.mapToGlobal(QPoint(20, 30))), QSizeF(60, 40))) << "onto the cards";

    // The cards went meanwhile: it goes at once.
    GridPhotoDrag::returnPicture(picture, QPointF(600, 500), &grid, QPointF(20, 30));
    slide = grid.findChild<OpaquePegPreview*>();
    ASSERT_TRUE(slide);
    grid.hide();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !slide; }, 1000));

    ReduceMotion::setReader([] { return std::optional<bool>(true); });
    grid.show();
    GridPhotoDrag::returnPicture(picture, QPointF(600, 500), &grid, QPointF(20, 30));
    EXPECT_FALSE(grid.findChild<OpaquePegPreview*>()) << "under Reduce Motion the picture just goes";
    ReduceMotion::setReader({});
}

} // namespace
} // namespace vennimo::test
