#include "DropTestHelpers.h"

#include "dragdrop/PhotoDragPayload.h"

#include <QFile>
#include <QMimeData>
#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;

TEST(PhotoDragPayload, KeepsReadableOriginalsOnceInOrderAndWritesThemAsAFileList) {
    const QString folder = makeFolder(u"payload"_s);
    const Photo a = photoOf(written(folder + u"/a.png"_s, encoded("png", 40, 20)));
    const Photo b = photoOf(written(folder + u"/b b.png"_s, encoded("png", 20, 40)));
    const Photo gone = photoOf(written(folder + u"/gone.png"_s, encoded("png")));
    ASSERT_TRUE(QFile::remove(gone.path));
    const Photo replaced = photoOf(written(folder + u"/replaced.png"_s, encoded("png")));
    ASSERT_TRUE(QFile::remove(replaced.path));
    written(folder + u"/other.png"_s, encoded("png", 9, 9));
    ASSERT_TRUE(QFile::rename(folder + u"/other.png"_s, replaced.path)) << "another file under the same name";

    const PhotoDragPayload payload({b, gone, a, b, replaced});
    ASSERT_EQ(payload.photos().size(), 2);
    EXPECT_EQ(payload.photos()[0].id, b.id);
    EXPECT_EQ(payload.photos()[1].id, a.id);
    EXPECT_TRUE(PhotoDragPayload({gone}).isEmpty());

    const auto data = payload.makeMimeData();
    EXPECT_EQ(data->data(u"text/uri-list"_s), QUrl::fromLocalFile(b.path).toEncoded() + "\r\n" +
                                                  QUrl::fromLocalFile(a.path).toEncoded() + "\r\n");
}

TEST(PhotoDragPayload, OnePhotoFillsItsRectangleAndSeveralPileUpWithTheirPrintsAspect) {
    const QString folder = makeFolder(u"pile"_s);
    QList<Photo> photos;
    for (int i = 0; i < 5; ++i)
        photos.append(photoOf(written(folder + u"/p%1.png"_s.arg(i), encoded("png", 30 + 10 * i, 40))));

    const QRectF rect(100, 200, 300, 120);
    const auto single = PhotoDragPayload({photos[0]}).makeItems(rect);
    ASSERT_EQ(single.size(), 1);
    const QSizeF print(30, 40);
    EXPECT_EQ(single[0].frame.center(), rect.center());
    EXPECT_EQ(single[0].frame.height(), rect.height()) << "the tall print meets the short side";
    EXPECT_NEAR(single[0].frame.width() / single[0].frame.height(), print.width() / print.height(), 1e-9);
    EXPECT_EQ(single[0].url, QUrl::fromLocalFile(photos[0].path));
    EXPECT_FALSE(single[0].image.isNull()) << "the file's own image stands in for a missing thumbnail";

    const auto pile = PhotoDragPayload(photos).makeItems(rect);
    ASSERT_EQ(pile.size(), 5);
    // Each card steps down and to the right of the one before, the fourth and fifth alike.
    const QList<double> steps{0, 5, 10, 15, 15};
    for (int i = 0; i < 5; ++i) {
        const QPointF cardCentre = rect.center() + QPointF(steps[i], steps[i]);
        EXPECT_NEAR(pile[i].frame.center().x(), cardCentre.x(), 1e-9) << i;
        EXPECT_NEAR(pile[i].frame.center().y(), cardCentre.y(), 1e-9) << i;
        EXPECT_LE(pile[i].frame.width(), 150 + 1e-9);
        EXPECT_LE(pile[i].frame.height(), 110 + 1e-9);
        EXPECT_TRUE(std::abs(pile[i].frame.width() - 150) < 1e-9 ||
                    std::abs(pile[i].frame.height() - 110) < 1e-9);
    }

    // One picture of the whole pile, its origin where the pile's bounds begin.
    const auto picture = PhotoDragPayload::picture(pile, 2);
    QRectF bounds;
    for (const auto& item : pile)
        bounds |= item.frame;
    EXPECT_EQ(picture.origin, QPointF(bounds.toAlignedRect().topLeft()));
    EXPECT_EQ(picture.image.size(), bounds.toAlignedRect().size() * 2);
    EXPECT_GT(qAlpha(picture.image.pixel((bounds.center() - picture.origin).toPoint() * 2)), 0);
}
