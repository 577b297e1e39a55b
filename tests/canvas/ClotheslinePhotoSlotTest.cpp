#include "canvas/ClotheslinePhotoSlot.h"

#include <QImage>
#include <QList>
#include <QPainter>
#include <QPolygonF>
#include <gtest/gtest.h>

using namespace vennimo;

TEST(ClotheslinePhotoSlot, WritesOnlyWhatChangedAndReportsTheAreaToRepaint) {
    QImage paper(20, 20, QImage::Format_ARGB32_Premultiplied);
    paper.fill(Qt::white);
    QImage peg(20, 20, QImage::Format_ARGB32_Premultiplied);
    peg.fill(Qt::black);
    ClotheslinePhotoSlot slot;
    ClotheslinePhotoSlot::Content content{QRectF(100, 10, 290, 292), paper, peg, {}, {}, {}};
    EXPECT_FALSE(slot.update(content).isEmpty());
    EXPECT_TRUE(slot.update(content).isEmpty()) << "an identical update changes nothing";
    EXPECT_EQ(slot.writes(), 1);

    ClotheslinePhotoSlot::Content moved = content;
    moved.frame.translate(50, 0);
    const QRectF area = slot.update(moved);
    EXPECT_TRUE(area.contains(QRectF(100, 10, 340, 292))) << "old and new place are repainted";

    ClotheslinePhotoSlot::Content badge = moved;
    badge.overlay = paper;
    EXPECT_FALSE(slot.update(badge).isEmpty());
    QImage copy = paper; // shares the data, so it is the same image
    badge.overlay = copy;
    EXPECT_TRUE(slot.update(badge).isEmpty());

    EXPECT_FALSE(slot.setHidden(true).isEmpty());
    EXPECT_TRUE(slot.bounds().isEmpty());
    EXPECT_TRUE(slot.setHidden(true).isEmpty());
    EXPECT_TRUE(slot.setZ(0).isEmpty());
}

TEST(ClotheslinePhotoSlot, OnlyAnOpaquePaperHidesThePrintsBelow) {
    const QSizeF size(290, 292);
    const QRectF paperRect(40, 32, 210, 230);
    QImage paper(580, 584, QImage::Format_ARGB32_Premultiplied);
    paper.fill(Qt::transparent);
    paper.setDevicePixelRatio(2);
    ClotheslinePhotoSlot slot;
    ClotheslinePhotoSlot::Content content{QRectF(100, 10, 290, 292), paper, {}, {}, {}, {}, paperRect};
    slot.update(content);
    EXPECT_TRUE(slot.coveredRect().isEmpty()) << "a transparent stand-in paper hides nothing";
    EXPECT_TRUE(slot.bounds().isEmpty()) << "and paints nothing";

    QImage real = paper.copy();
    {
        QPainter p(&real);
        p.fillRect(paperRect, Qt::white); // the image is at scale 2, the painter in points
    }
    content.paper = real;
    content.paperTransform = QTransform().translate(145, 20).rotate(3).translate(-145, -20);
    slot.update(content);
    const QRectF covered = slot.coveredRect();
    ASSERT_FALSE(covered.isEmpty());
    const QPolygonF paperOnCanvas = content.paperTransform.map(QPolygonF(paperRect)).translated(100, 10);
    for (const QPointF corner :
         {covered.topLeft(), covered.topRight(), covered.bottomLeft(), covered.bottomRight()})
        EXPECT_TRUE(paperOnCanvas.containsPoint(corner, Qt::WindingFill)) << "inside the turned paper";
    EXPECT_TRUE(slot.bounds().contains(covered));
    slot.setHidden(true);
    EXPECT_TRUE(slot.coveredRect().isEmpty());
}

// Only the painted part of each image is drawn, found by a search that tests pixels in blocks:
// a painted pixel on either side of a block's edge, at a row's ends, or alone in the image sets
// the print's bounds, whatever the image's width.
TEST(ClotheslinePhotoSlot, TheBoundsHoldEveryPaintedPixelAndNoMore) {
    struct Case {
        int width;
        int height;
        QList<QPoint> painted;
    };
    const QList<Case> cases{
        {1, 1, {{0, 0}}},
        {15, 4, {{14, 3}}},
        {16, 4, {{0, 2}, {15, 2}}},
        {17, 4, {{16, 0}}},
        {33, 7, {{15, 1}, {17, 5}}},
        {33, 7, {{32, 6}, {31, 0}}},
        {290, 292, {{140, 150}}},
        {290, 292, {{3, 291}, {289, 5}, {160, 0}}},
    };
    for (const Case& c : cases) {
        QImage image(c.width, c.height, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        QRect expected;
        for (const QPoint& p : c.painted) {
            image.setPixel(p, qRgba(10, 20, 30, 40));
            expected |= QRect(p, QSize(1, 1));
        }
        ClotheslinePhotoSlot slot;
        slot.update({QRectF(0, 0, c.width, c.height), image, {}, {}, {}, {}, {}});
        EXPECT_EQ(slot.bounds(), QRectF(expected).adjusted(-2, -2, 2, 2))
            << c.width << " x " << c.height << ", first painted pixel " << c.painted.first().x() << ", "
            << c.painted.first().y();
    }
    QImage clear(40, 40, QImage::Format_ARGB32_Premultiplied);
    clear.fill(Qt::transparent);
    ClotheslinePhotoSlot slot;
    slot.update({QRectF(0, 0, 40, 40), clear, {}, {}, {}, {}, {}});
    EXPECT_TRUE(slot.bounds().isEmpty()) << "a clear image paints nothing";
}

// A badge cut to the corner it paints lies where its area says, at the area's scale.
TEST(ClotheslinePhotoSlot, ACutOverlayPaintsInItsAreaOfThePrint) {
    QImage badge(20, 10, QImage::Format_ARGB32_Premultiplied);
    badge.fill(Qt::transparent);
    badge.setPixel(19, 9, qRgba(200, 150, 50, 255));
    ClotheslinePhotoSlot slot;
    ClotheslinePhotoSlot::Content content{QRectF(100, 10, 290, 292), {}, {}, badge, {}, {}, {}};
    content.overlayArea = QRectF(30, 40, 10, 5); // half a point a pixel
    slot.update(content);
    EXPECT_EQ(slot.bounds(), QRectF(100 + 30 + 9.5, 10 + 40 + 4.5, 0.5, 0.5).adjusted(-2, -2, 2, 2));

    content.overlayArea = QRectF(0, 0, 20, 10);
    EXPECT_FALSE(slot.update(content).isEmpty()) << "the same badge in another place is drawn again";
    EXPECT_EQ(slot.bounds(), QRectF(119, 19, 1, 1).adjusted(-2, -2, 2, 2));
}
