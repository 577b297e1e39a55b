#include "rendering/PolaroidRenderer.h"
#include "RenderingTestSupport.h"
#include "platform/WorkQueue.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPainter>
#include <gtest/gtest.h>

#include <cmath>

namespace vennimo {
namespace {

using test::near;

// Keeps the event loop turning until the condition holds or two seconds pass.
bool spinUntil(const std::function<bool()>& condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return condition();
}

// A pixel of a layer at a point given in print coordinates.
QRgb at(const QImage& layer, QPointF point) {
    const double s = layer.devicePixelRatio();
    return layer.pixel(int(point.x() * s), int(point.y() * s));
}

QString layerFolder() {
    const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/print-layers");
    QDir().mkpath(folder);
    return folder;
}

TEST(PolaroidRenderer, KeysSpellEveryFieldAndRaiseDegenerateSizes) {
    const QString folder = test::makeFolder(QStringLiteral("keys"));
    Photo photo = test::photoFor(folder + QStringLiteral("/a.png"));
    test::saveImage(test::makeImage(40, 30), photo.path);
    photo.created = 50;

    EXPECT_EQ(PolaroidRenderer::imageKey(photo, QSizeF(290, 292), 2, PolaroidRenderer::kPeg),
              QStringLiteral("peg|290.0x292.0@2.0"));
    EXPECT_EQ(PolaroidRenderer::imageKey(photo, QSizeF(0, 0), 0.5, PolaroidRenderer::kPeg),
              QStringLiteral("peg|1.0x1.0@1.0"));
    EXPECT_EQ(PolaroidRenderer::imageKey(photo, QSizeF(0.5, 292), 2, PolaroidRenderer::kSelection),
              QStringLiteral("selection|1.3333333333333333|0.5x292.0@2.0"))
        << "badge keys keep the size as given";
    EXPECT_EQ(PolaroidRenderer::imageKey(photo, QSizeF(290, 292), 1.5, PolaroidRenderer::kArrival),
              QStringLiteral("arrival|1.3333333333333333|290.0x292.0@1.5"));
    const QString full = QStringLiteral("complete|1-10|") + photo.path + QStringLiteral("|978307250.0|") +
                         photo.path + QStringLiteral("|978307300.0|0.0|") + QString::number(photo.size) +
                         QStringLiteral("|290.0x292.0@2.0");
    EXPECT_EQ(PolaroidRenderer::imageKey(photo), full);
    EXPECT_EQ(PolaroidRenderer::placeholderKey(photo, QSizeF(290, 292), 2, PolaroidRenderer::kPaper),
              QStringLiteral("placeholder-paper|1.3333333333333333|290.0x292.0@2.0"));
    EXPECT_EQ(PolaroidRenderer::paperBaseKey(photo, QSizeF(290, 292), 2),
              QStringLiteral("paper-base|1.3333333333333333|290.0x292.0@2.0"));

    Photo touched = photo;
    touched.thumbnailModified = 1;
    EXPECT_NE(PolaroidRenderer::imageKey(touched), full) << "a new thumbnail makes a new key";

    const QImage tiny = PolaroidRenderer::image(photo, QSizeF(0, 0), 2, PolaroidRenderer::kComplete);
    EXPECT_EQ(tiny.size(), QSize(2, 2)) << "1 x 1 point at scale 2";
    EXPECT_EQ(tiny.devicePixelRatio(), 2.0);
    EXPECT_EQ(tiny.format(), QImage::Format_ARGB32_Premultiplied);
    EXPECT_TRUE(
        PolaroidRenderer::cachedImage(photo, QSizeF(0, 0), 2, PolaroidRenderer::kComplete).has_value());

    const QImage odd = PolaroidRenderer::image(photo, QSizeF(100.2, 50), 1.5, PolaroidRenderer::kPeg);
    EXPECT_EQ(odd.size(), QSize(151, 75)) << "pixel sizes round up";
}

TEST(PolaroidRenderer, CachesShareWhatTheyShouldAndStoreOnlyWhenAsked) {
    const QString folder = test::makeFolder(QStringLiteral("caches"));
    const Photo first = test::photoFor(folder + QStringLiteral("/one.png"), {}, QStringLiteral("1-1"));
    const Photo second = test::photoFor(folder + QStringLiteral("/two.png"), {}, QStringLiteral("1-2"));
    test::saveImage(test::makeImage(80, 60, Qt::red), first.path);
    test::saveImage(test::makeImage(160, 120, Qt::blue), second.path);

    const QImage pegA = PolaroidRenderer::image(first, QSizeF(290, 292), 2, PolaroidRenderer::kPeg);
    const QImage pegB = PolaroidRenderer::image(second, QSizeF(290, 292), 2, PolaroidRenderer::kPeg);
    EXPECT_EQ(pegA.cacheKey(), pegB.cacheKey()) << "one peg bitmap serves every photo";

    const int basesBefore = PolaroidRenderer::baseRenderCount();
    const QImage paperA = PolaroidRenderer::image(first, QSizeF(290, 292), 2, PolaroidRenderer::kPaper);
    const QImage paperB = PolaroidRenderer::image(second, QSizeF(290, 292), 2, PolaroidRenderer::kPaper);
    EXPECT_EQ(PolaroidRenderer::baseRenderCount(), basesBefore + 1)
        << "one paper base per aspect, size and scale";
    EXPECT_NE(paperA.cacheKey(), paperB.cacheKey());
    const QPointF centre = PolaroidRenderer::geometry(first).imageRect.center();
    EXPECT_TRUE(near(at(paperA, centre), Qt::red, 40)) << "the copied base is painted over with the photo";
    EXPECT_TRUE(near(at(paperB, centre), Qt::blue, 40));

    const QImage unshared1 =
        PolaroidRenderer::image(first, QSizeF(200, 200), 2, PolaroidRenderer::kComplete, false, true, false);
    const QImage unshared2 =
        PolaroidRenderer::image(first, QSizeF(200, 200), 2, PolaroidRenderer::kComplete, false, true, false);
    EXPECT_NE(unshared1.cacheKey(), unshared2.cacheKey()) << "without shared paper every call draws";
    EXPECT_EQ(unshared1, unshared2) << "and draws the same";
    EXPECT_FALSE(PolaroidRenderer::cachedImage(first, QSizeF(200, 200), 2).has_value()) << "nor stores";
    EXPECT_EQ(PolaroidRenderer::baseRenderCount(), basesBefore + 1) << "private bases are not counted";

    const QImage uncached =
        PolaroidRenderer::image(first, QSizeF(250, 250), 2, PolaroidRenderer::kComplete, false, false, true);
    EXPECT_FALSE(uncached.isNull());
    EXPECT_FALSE(PolaroidRenderer::cachedImage(first, QSizeF(250, 250), 2).has_value())
        << "cacheResult false";
    const QImage stored = PolaroidRenderer::image(first, QSizeF(250, 250), 2);
    const QImage again =
        PolaroidRenderer::image(first, QSizeF(250, 250), 2, PolaroidRenderer::kComplete, false, false, true);
    EXPECT_EQ(again.cacheKey(), stored.cacheKey())
        << "a cached image is still returned with cacheResult false";

    const qint64 costBefore = PolaroidRenderer::cachedImageCost();
    QImage prepared(580, 584, QImage::Format_ARGB32_Premultiplied);
    prepared.fill(Qt::green);
    PolaroidRenderer::storePrepared(prepared, second, 2);
    const auto found =
        PolaroidRenderer::cachedImage(second, PolaroidRenderer::defaultSize, 2, PolaroidRenderer::kPaper);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->cacheKey(), prepared.cacheKey());
    EXPECT_EQ(PolaroidRenderer::cachedImageCost(), costBefore + 580 * 584 * 4 - qint64(paperB.sizeInBytes()))
        << "the prepared image replaced the rendered one at its pixel cost";
}

TEST(PolaroidRenderer, UnreadablePhotosShowThePlaceholderWindowAndTheVectorPegStandsInForArtwork) {
    const QString folder = test::makeFolder(QStringLiteral("broken"));
    Photo broken =
        test::photoFor(folder + QStringLiteral("/broken.jpg"), folder + QStringLiteral("/broken-thumb.jpg"));
    test::writeFile(broken.path, "not an image");
    test::writeFile(broken.thumbnail, "nor this");
    PolaroidRenderer::setPegMaterial(std::nullopt);

    const QImage complete = PolaroidRenderer::image(broken);
    const auto g = PolaroidRenderer::geometry(broken);
    EXPECT_TRUE(
        near(at(complete, g.imageRect.topLeft() + QPointF(4, 4)), QColor::fromRgbF(0.93f, 0.92f, 0.88f), 3))
        << "placeholder window fill";
    EXPECT_TRUE(PolaroidRenderer::cachedImage(broken).has_value()) << "the fallback render is cached";
    EXPECT_TRUE(near(at(complete, g.paperRect.bottomLeft() + QPointF(20, -8)), QColor(247, 244, 239), 6))
        << "paper below the window";

    const QPointF pegCentre = g.pegRect.center();
    const QColor wood = QColor::fromRgba(qUnpremultiply(at(complete, pegCentre + QPointF(0, -10))));
    EXPECT_EQ(wood.alpha(), 255);
    EXPECT_GT(wood.red(), wood.green());
    EXPECT_GT(wood.green(), wood.blue()) << "wood brown, not grey";
    const QColor spring =
        QColor::fromRgba(qUnpremultiply(at(complete, QPointF(pegCentre.x(), g.pegRect.top() + 29.3))));
    EXPECT_NEAR(spring.red(), spring.blue(), 25) << "a grey spring band across the vector peg";
    const QRgb contact = at(complete, QPointF(pegCentre.x(), g.pegRect.bottom() + 1.2));
    EXPECT_GT(qAlpha(contact), 0) << "the contact shadow falls below the peg";

    const QImage placeholder =
        PolaroidRenderer::image(broken, PolaroidRenderer::defaultSize, 2, PolaroidRenderer::kPaper, true);
    EXPECT_TRUE(near(at(placeholder, g.imageRect.topLeft() + QPointF(4, 4)),
                     QColor::fromRgbF(0.93f, 0.92f, 0.88f), 3));
    EXPECT_EQ(qAlpha(at(placeholder, QPointF(145, 10))), 0) << "the paper layer has no peg";
}

TEST(PolaroidRenderer, EveryLayerOfARealPhotoLooksLikeAPrintOnAPeg) {
    const QString folder = test::makeFolder(QStringLiteral("real"));
    const QImage landscape = test::makeLandscape(1600, 1200);
    const QString path = folder + QStringLiteral("/IMG_0042.jpg");
    const QString thumb = folder + QStringLiteral("/IMG_0042-thumb.jpg");
    test::saveImage(landscape, path);
    test::saveImage(landscape.scaled(720, 540, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), thumb);
    const Photo photo = test::photoFor(path, thumb);
    const auto g = PolaroidRenderer::geometry(photo);

    const QString out = layerFolder();
    QImage composite(580, 584, QImage::Format_ARGB32_Premultiplied);
    composite.fill(QColor(96, 140, 190));
    for (QStringView layer : {PolaroidRenderer::kComplete, PolaroidRenderer::kPaper, PolaroidRenderer::kPeg,
                              PolaroidRenderer::kSelection, PolaroidRenderer::kArrival}) {
        const QImage image = PolaroidRenderer::image(photo, PolaroidRenderer::defaultSize, 2, layer);
        ASSERT_EQ(image.size(), QSize(580, 584)) << layer.toString().toStdString();
        // Layers laid over a sky-blue wall, as on the desktop behind the rope.
        QImage shown(image.size(), QImage::Format_ARGB32_Premultiplied);
        shown.fill(QColor(96, 140, 190));
        {
            QPainter p(&shown);
            QImage pixels = image.copy();
            pixels.setDevicePixelRatio(1);
            p.drawImage(QPointF(0, 0), pixels);
        }
        ASSERT_TRUE(shown.save(out + QStringLiteral("/layer-") + layer.toString() + QStringLiteral(".png")));
        if (layer != PolaroidRenderer::kComplete) {
            QPainter p(&composite);
            QImage plain = image;
            plain.setDevicePixelRatio(1);
            p.drawImage(0, 0, plain);
        }
    }
    ASSERT_TRUE(composite.save(out + QStringLiteral("/layers-stacked.png")));

    const QImage complete = PolaroidRenderer::image(photo);
    const QPointF sunPoint(g.imageRect.left() + 0.72 * g.imageRect.width(),
                           g.imageRect.top() + 0.3 * g.imageRect.height());
    const QColor sun = QColor::fromRgba(complete.pixel(int(sunPoint.x() * 2), int(sunPoint.y() * 2)));
    EXPECT_GT(sun.red(), 230) << "the photo is upright: its sun sits high on the right";
    const QPointF grass(g.imageRect.left() + 0.9 * g.imageRect.width(), g.imageRect.bottom() - 4);
    const QColor green = QColor::fromRgba(at(complete, grass));
    EXPECT_GT(green.green(), green.red()) << "and its hills at the bottom";
    EXPECT_TRUE(near(at(complete, QPointF(g.paperRect.center().x(), g.paperRect.bottom() - 10)),
                     QColor(245, 242, 237), 8))
        << "the wide bottom border of the paper";
    EXPECT_EQ(qAlpha(at(complete, QPointF(10, 10))), 0) << "transparent beside the peg";
    const QRgb shadow = at(complete, QPointF(g.paperRect.center().x(), g.paperRect.bottom() + 6));
    EXPECT_GT(qAlpha(shadow), 10) << "a soft shadow under the paper";
    EXPECT_LT(qAlpha(shadow), 120);
    EXPECT_LT(qRed(shadow), 30) << "a dark one";
    const QColor peg =
        QColor::fromRgba(qUnpremultiply(at(complete, QPointF(g.pegRect.center().x() - 2, 14))));
    EXPECT_EQ(peg.alpha(), 255) << "the peg artwork above the paper";
    EXPECT_GT(peg.red(), peg.blue() + 40) << "in wood colours";

    const QImage selection =
        PolaroidRenderer::image(photo, PolaroidRenderer::defaultSize, 2, PolaroidRenderer::kSelection);
    const QRectF badge = g.indicatorPath(true).boundingRect();
    EXPECT_TRUE(near(at(selection, badge.center() + QPointF(-7, 4)), QColor(23, 101, 223), 10))
        << "blue badge";
    EXPECT_TRUE(near(at(selection, QPointF(g.paperRect.left() - 1.5, g.paperRect.center().y())),
                     QColor(23, 101, 223), 30))
        << "the ring around the paper";
    EXPECT_EQ(qAlpha(at(selection, g.imageRect.center())), 0) << "no paper in the selection layer";

    const QImage arrival =
        PolaroidRenderer::image(photo, PolaroidRenderer::defaultSize, 2, PolaroidRenderer::kArrival);
    const QRectF tag = g.indicatorPath(false).boundingRect();
    EXPECT_TRUE(near(at(arrival, tag.topLeft() + QPointF(3, 10)), QColor(255, 223, 159), 12))
        << "the yellow tag";
    int inked = 0;
    for (int y = int(tag.top() * 2); y < int(tag.bottom() * 2); ++y)
        for (int x = int(tag.left() * 2); x < int(tag.right() * 2); ++x)
            inked += near(arrival.pixel(x, y), QColor(100, 54, 0), 40);
    EXPECT_GT(inked, 40) << "the character is drawn in brown on the tag";
}

TEST(PolaroidRenderer, PlaceholdersRenderOnceOffTheMainThreadAndAnswerInOrder) {
    const QString folder = test::makeFolder(QStringLiteral("placeholders"));
    const Photo first = test::photoFor(folder + QStringLiteral("/one.png"), {}, QStringLiteral("1-1"));
    const Photo second = test::photoFor(folder + QStringLiteral("/two.png"), {}, QStringLiteral("1-2"));
    test::saveImage(test::makeImage(40, 30), first.path);
    test::saveImage(test::makeImage(400, 300), second.path);

    std::vector<int> calls;
    bool mainThreadOnly = true;
    const auto note = [&](int which) {
        return [&, which] {
            mainThreadOnly = mainThreadOnly && isMainThread();
            calls.push_back(which);
        };
    };
    const QImage a = PolaroidRenderer::placeholder(first, 2, note(1));
    const QImage b = PolaroidRenderer::placeholder(second, 2, note(2));
    EXPECT_EQ(a.cacheKey(), PolaroidRenderer::emptyPaper().cacheKey()) << "empty paper while rendering";
    EXPECT_EQ(b.cacheKey(), PolaroidRenderer::emptyPaper().cacheKey());
    ASSERT_TRUE(spinUntil([&] { return calls.size() == 2; }));
    QCoreApplication::processEvents();
    EXPECT_EQ(calls, (std::vector<int>{1, 2})) << "both callbacks once, in request order";
    EXPECT_TRUE(mainThreadOnly);
    EXPECT_EQ(PolaroidRenderer::placeholderMainRenderCount(), 0);

    const QImage ready = PolaroidRenderer::placeholder(first, 2, note(3));
    EXPECT_NE(ready.cacheKey(), PolaroidRenderer::emptyPaper().cacheKey()) << "cached now";
    EXPECT_EQ(ready.size(), QSize(580, 584));
    QCoreApplication::processEvents();
    EXPECT_EQ(calls.size(), 2u) << "a cache hit calls nothing";

    PolaroidRenderer::image(first, PolaroidRenderer::defaultSize, 3, PolaroidRenderer::kPaper, true);
    EXPECT_EQ(PolaroidRenderer::placeholderMainRenderCount(), 1)
        << "a placeholder drawn on the main thread counts";
}

TEST(PolaroidRenderer, ConcurrentRendersDrawOnePaperBase) {
    const QString folder = test::makeFolder(QStringLiteral("threads"));
    std::vector<Photo> photos;
    for (int i = 0; i < 8; ++i) {
        photos.push_back(
            test::photoFor(folder + QStringLiteral("/p%1.png").arg(i), {}, QStringLiteral("1-%1").arg(i)));
        test::saveImage(test::makeImage(64, 48), photos.back().path);
    }
    const int before = PolaroidRenderer::baseRenderCount();
    WorkQueue queue(QStringLiteral("test.render"), 4);
    for (const Photo& photo : photos)
        queue.async(
            [photo] { PolaroidRenderer::image(photo, QSizeF(145, 146), 2, PolaroidRenderer::kPaper); });
    queue.waitUntilIdle();
    EXPECT_EQ(PolaroidRenderer::baseRenderCount(), before + 1);
    for (const Photo& photo : photos)
        EXPECT_TRUE(
            PolaroidRenderer::cachedImage(photo, QSizeF(145, 146), 2, PolaroidRenderer::kPaper).has_value());
}

} // namespace
} // namespace vennimo
