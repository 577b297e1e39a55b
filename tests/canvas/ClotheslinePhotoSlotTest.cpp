#include "canvas/ClotheslinePhotoSlot.h"

#include <QImage>
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
