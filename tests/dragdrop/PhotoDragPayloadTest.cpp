#include "DropTestHelpers.h"

#include "dragdrop/PhotoDragPayload.h"
#include "rendering/GalleryThumbnailLoader.h"
#include "rendering/PolaroidRenderer.h"
#include "support/WaitUntil.h"

#include <QFile>
#include <QMimeData>
#include <QPainter>
#include <gtest/gtest.h>

#include <atomic>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

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
    for (int i = 0; i < 5; ++i) {
        photos.append(photoOf(written(folder + u"/p%1.png"_s.arg(i), encoded("png", 30 + 10 * i, 40))));
        photos.last().thumbnail = photos.last().path;
    }

    const QRectF rect(100, 200, 300, 120);
    const auto single = PhotoDragPayload({photos[0]}).makeItems(rect);
    ASSERT_EQ(single.size(), 1);
    const QSizeF print(30, 40);
    EXPECT_EQ(single[0].frame.center(), rect.center());
    EXPECT_EQ(single[0].frame.height(), rect.height()) << "the tall print meets the short side";
    EXPECT_NEAR(single[0].frame.width() / single[0].frame.height(), print.width() / print.height(), 1e-9);
    EXPECT_EQ(single[0].url, QUrl::fromLocalFile(photos[0].path));
    EXPECT_EQ(single[0].image.size(), QSize(30, 40)) << "the thumbnail's picture";

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

namespace {

// The drag's picture of `photo`, made on this, the main thread, as a drag makes it. A reader of
// the FIFO `fifo` blocks until a writer comes: after a while a watchdog comes as one, and the
// answer is none.
std::optional<QImage> itemImageWithin(const Photo& photo, double scale, const QString& fifo) {
    std::atomic<bool> done{false};
    std::atomic<bool> fired{false};
    std::thread watchdog([&] {
        for (int i = 0; i < 500 && !done; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        while (!done) {
            fired = true;
            if (const int writer = ::open(QFile::encodeName(fifo).constData(), O_WRONLY | O_NONBLOCK);
                writer >= 0)
                ::close(writer);
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    const QImage image = PhotoDragPayload::itemImage(photo, scale);
    done = true;
    watchdog.join();
    if (fired)
        return std::nullopt;
    return image;
}

} // namespace

// A drag starts on the main thread; the photo's own file may be any picture a folder was given
// (an SVG drawn by a helper for up to ten seconds, a camera RAW): it is never read for the drag.
TEST(PhotoDragPayload, ADragShowsWhatTheScreenHasOrTheThumbnailAndNeverReadsTheOriginal) {
    const QString folder = makeFolder(u"shown"_s);
    const QString fifo = folder + u"/original.jpg"_s;
    ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);

    // An original that reads quickly: its picture never shows.
    const Photo plain = photoOf(written(folder + u"/plain.png"_s, encoded("png", 50, 20, Qt::darkGreen)));
    const QImage standIn = PhotoDragPayload::itemImage(plain, 2);
    EXPECT_EQ(standIn.size(), QSize(96, 72)) << "the original was read instead of a stand-in shown";
    const Photo bare{.id = u"bare"_s, .path = fifo};
    const auto blocked = itemImageWithin(bare, 2, fifo);
    ASSERT_TRUE(blocked) << "the drag read the original";
    EXPECT_EQ(blocked->size(), QSize(96, 72));

    // The index's own thumbnail file.
    Photo indexed{.id = u"indexed"_s, .path = fifo};
    indexed.thumbnail = written(folder + u"/thumbnail.png"_s, encoded("png", 60, 40, Qt::darkRed));
    const auto thumbnail = itemImageWithin(indexed, 2, fifo);
    ASSERT_TRUE(thumbnail) << "the drag read the original";
    EXPECT_EQ(thumbnail->size(), QSize(60, 40));

    // The grid card's picture, once decoded for the screen, is taken as it is: the thumbnail file
    // is not read again.
    std::optional<QImage> loaded;
    GalleryThumbnailLoader::shared().image(indexed, 1, nullptr,
                                           [&loaded](const std::optional<QImage>& image) { loaded = image; });
    ASSERT_TRUE(waitUntil([&] { return loaded.has_value(); }));
    ASSERT_TRUE(QFile::remove(indexed.thumbnail));
    const auto card = itemImageWithin(indexed, 1, fifo);
    ASSERT_TRUE(card) << "the drag read the original";
    EXPECT_EQ(card->size(), QSize(60, 40)) << "the grid card's picture";
    EXPECT_EQ(card->pixelColor(30, 20).rgb(), QColor(Qt::darkRed).rgb());

    // The rope's print, drawn for the screen: its window of the paper is the picture.
    QImage paper((PolaroidRenderer::defaultSize * 2).toSize(), QImage::Format_ARGB32_Premultiplied);
    paper.fill(Qt::darkBlue);
    paper.setDevicePixelRatio(2);
    PolaroidRenderer::storePrepared(paper, bare, 2);
    const auto print = itemImageWithin(bare, 2, fifo);
    ASSERT_TRUE(print) << "the drag read the original";
    const PolaroidGeometry g = PolaroidRenderer::geometry(bare);
    const QRectF window = g.paperTransform.mapRect(g.imageRect);
    EXPECT_NEAR(print->width(), window.width() * 2, 2) << "the print's window";
    EXPECT_NEAR(print->height(), window.height() * 2, 2) << "the print's window";
    EXPECT_EQ(print->pixelColor(print->rect().center()).rgb(), QColor(Qt::darkBlue).rgb());
    PolaroidRenderer::clearCaches();
}

// The print's picture is cut from its paper on whole pixels of the photo's window: where the
// window's edge falls inside a pixel, that pixel shows paper too, a light line along the picture.
TEST(PhotoDragPayload, APrintsPictureHoldsItsPhotoAndNoneOfItsPaper) {
    const Photo photo{.id = u"print"_s, .path = u"/nonexistent/print.jpg"_s};
    const PolaroidGeometry g = PolaroidRenderer::geometry(photo);
    const QRectF window = g.paperTransform.mapRect(g.imageRect);
    for (const double scale : {1.0, 1.5, 2.0}) {
        SCOPED_TRACE(scale);
        QImage paper((PolaroidRenderer::defaultSize * scale).toSize(), QImage::Format_ARGB32_Premultiplied);
        paper.setDevicePixelRatio(scale);
        paper.fill(Qt::white);
        {
            QPainter painter(&paper);
            painter.setRenderHint(QPainter::Antialiasing);
            painter.fillRect(window, Qt::darkBlue);
        }
        PolaroidRenderer::storePrepared(paper, photo, scale);
        const QImage print = PhotoDragPayload::itemImage(photo, scale);
        EXPECT_NEAR(print.width(), window.width() * scale, 2) << "the print's window";
        EXPECT_NEAR(print.height(), window.height() * scale, 2) << "the print's window";
        int papery = 0;
        for (int y = 0; y < print.height(); ++y)
            for (int x = 0; x < print.width(); ++x)
                papery += qRed(print.pixel(x, y)) > 8;
        EXPECT_EQ(papery, 0) << "pixels of paper in the " << print.width() << "x" << print.height()
                             << " picture";
        PolaroidRenderer::clearCaches();
    }
}
