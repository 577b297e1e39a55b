#include "rendering/PolaroidRenderer.h"
#include "RenderingTestSupport.h"
#include "platform/WorkQueue.h"
#include "rendering/ClotheslineMaterialAssets.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QDir>
#include <QPainter>
#include <gtest/gtest.h>

#include <limits>

namespace vennimo {
namespace {

using test::near;
using namespace Qt::StringLiterals;
using R = PolaroidRenderer;
const QColor kPlaceholderWindow = QColor::fromRgbF(0.93f, 0.92f, 0.88f);

// A pixel of a layer at a point given in print coordinates.
QRgb at(const QImage& layer, QPointF point) {
    const double s = layer.devicePixelRatio();
    return layer.pixel(int(point.x() * s), int(point.y() * s));
}

QColor colourAt(const QImage& layer, QPointF point) {
    return QColor::fromRgba(qUnpremultiply(at(layer, point)));
}

// Saves a layer laid over a sky-blue wall, as on the desktop behind the rope, into the build folder.
void saveForLooking(const QImage& layer, const QString& name) {
    const QString folder = QCoreApplication::applicationDirPath() + u"/print-layers"_s;
    QDir().mkpath(folder);
    QImage shown(layer.size(), QImage::Format_ARGB32_Premultiplied);
    shown.fill(QColor(96, 140, 190));
    QPainter(&shown).drawImage(QRectF(shown.rect()), layer); // pixel for pixel, whatever the ratio
    ASSERT_TRUE(shown.save(folder + QLatin1Char('/') + name + u".png"_s));
}

// Photos with image files of the given sizes, ids "1-0", "1-1", ...
std::vector<Photo> photosOf(const QString& folderName, std::vector<QSize> sizes) {
    const QString folder = test::makeFolder(folderName);
    std::vector<Photo> photos;
    for (size_t i = 0; i < sizes.size(); ++i) {
        const QString path = folder + u"/p%1.png"_s.arg(i);
        test::saveImage(test::makeImage(sizes[i].width(), sizes[i].height(), i % 2 ? Qt::blue : Qt::red),
                        path);
        photos.push_back(test::photoFor(path, {}, u"1-%1"_s.arg(i)));
    }
    return photos;
}

TEST(PolaroidRenderer, KeysSpellEveryFieldAndBitmapsRaiseDegenerateSizes) {
    Photo photo = photosOf(u"keys"_s, {{40, 30}})[0];
    photo.created = 50;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        QString key, expected;
    };
    for (const Case& c :
         {Case{R::imageKey(photo, QSizeF(290, 292), 2, R::kPeg), "peg|290.0x292.0@2.0"},
          Case{R::imageKey(photo, QSizeF(0, 0), 0.5, R::kPeg), "peg|1.0x1.0@1.0"},
          Case{R::imageKey(photo, QSizeF(nan, 10), nan, R::kPeg), "peg|1.0x10.0@1.0"},
          Case{R::imageKey(photo, QSizeF(0.5, 292), 2, R::kSelection),
               "selection|1.3333333333333333|0.5x292.0@2.0"}, // badge keys keep the size as given
          Case{R::placeholderKey(photo, QSizeF(290, 292), 2, R::kPaper),
               "placeholder-paper|1.3333333333333333|290.0x292.0@2.0"},
          Case{R::paperBaseKey(photo, QSizeF(290, 292), 2), "paper-base|1.3333333333333333|290.0x292.0@2.0"},
          Case{R::imageKey(photo), "complete|" + photo.id + "|" + photo.path + "|978307250.0|" + photo.path +
                                       "|978307300.0|0.0|" + QString::number(photo.size) +
                                       "|290.0x292.0@2.0"}})
        EXPECT_EQ(c.key.toStdString(), c.expected.toStdString());
    Photo touched = photo;
    touched.thumbnailModified = 1;
    EXPECT_NE(R::imageKey(touched), R::imageKey(photo)) << "a new thumbnail makes a new key";

    const QImage tiny = R::image(photo, QSizeF(0, 0), 2, R::kComplete);
    EXPECT_EQ(tiny.size(), QSize(2, 2)) << "1 x 1 point at scale 2";
    EXPECT_EQ(tiny.devicePixelRatio(), 2.0);
    EXPECT_EQ(tiny.format(), QImage::Format_ARGB32_Premultiplied) << "paper bases are copied as raw bytes";
    EXPECT_EQ(R::image(photo, QSizeF(100.2, 50), 1.5, R::kPeg).size(), QSize(151, 75)) << "pixels round up";
    EXPECT_TRUE(R::image(photo, QSizeF(1e9, 292), 2, R::kPeg).isNull())
        << "a print beyond any bitmap is refused, not allocated";
    EXPECT_FALSE(R::cachedImage(photo, QSizeF(1e9, 292), 2, R::kPeg).has_value());
}

TEST(PolaroidRenderer, CachesShareWhatTheyShouldAndStoreOnlyWhenAsked) {
    const auto photos = photosOf(u"caches"_s, {{80, 60}, {160, 120}});
    const Photo &first = photos[0], &second = photos[1];
    R::clearCaches();
    EXPECT_EQ(R::image(first, R::defaultSize, 2, R::kPeg).cacheKey(),
              R::image(second, R::defaultSize, 2, R::kPeg).cacheKey())
        << "one peg bitmap serves every photo";

    const int bases = R::baseRenderCount();
    const QImage paperA = R::image(first, R::defaultSize, 2, R::kPaper);
    const QImage paperB = R::image(second, R::defaultSize, 2, R::kPaper);
    EXPECT_EQ(R::baseRenderCount(), bases + 1) << "one paper base per aspect, size and scale";
    const QPointF centre = R::geometry(first).imageRect.center();
    EXPECT_TRUE(near(at(paperA, centre), Qt::red, 40)) << "the copied base is painted over with the photo";
    EXPECT_TRUE(near(at(paperB, centre), Qt::blue, 40));

    const QImage unshared1 = R::image(first, QSizeF(200, 200), 2, R::kComplete, false, true, false);
    const QImage unshared2 = R::image(first, QSizeF(200, 200), 2, R::kComplete, false, true, false);
    EXPECT_NE(unshared1.cacheKey(), unshared2.cacheKey()) << "without shared paper every call draws";
    EXPECT_EQ(unshared1, unshared2) << "and draws the same";
    EXPECT_FALSE(R::cachedImage(first, QSizeF(200, 200), 2).has_value()) << "nor stores";
    EXPECT_EQ(R::baseRenderCount(), bases + 1) << "private bases are not counted";

    EXPECT_FALSE(R::image(first, QSizeF(250, 250), 2, R::kComplete, false, false).isNull());
    EXPECT_FALSE(R::cachedImage(first, QSizeF(250, 250), 2).has_value()) << "cacheResult false";
    const QImage stored = R::image(first, QSizeF(250, 250), 2);
    EXPECT_EQ(R::image(first, QSizeF(250, 250), 2, R::kComplete, false, false).cacheKey(), stored.cacheKey())
        << "a cached image is still returned with cacheResult false";

    const qint64 costBefore = R::cachedImageCost();
    const QImage prepared = test::solid(580, 584, Qt::green);
    R::storePrepared(prepared, second, 2);
    const auto found = R::cachedImage(second, R::defaultSize, 2, R::kPaper);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->cacheKey(), prepared.cacheKey());
    EXPECT_EQ(R::cachedImageCost(), costBefore + 580 * 584 * 4 - qint64(paperB.sizeInBytes()))
        << "the prepared image replaced the rendered one at its pixel cost";
}

TEST(PolaroidRenderer, EveryLayerOfARealPhotoLooksLikeAPrintOnAPeg) {
    const QString folder = test::makeFolder(u"real"_s);
    const QImage landscape = test::makeLandscape(1600, 1200);
    const QString path = folder + u"/IMG_0042.jpg"_s;
    const QString thumb = folder + u"/IMG_0042-thumb.jpg"_s;
    test::saveImage(landscape, path);
    test::saveImage(landscape.scaled(720, 540, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), thumb);
    const Photo photo = test::photoFor(path, thumb);
    const auto g = R::geometry(photo);

    QImage stacked(580, 584, QImage::Format_ARGB32_Premultiplied);
    stacked.fill(Qt::transparent);
    for (QStringView layer : {R::kComplete, R::kPaper, R::kPeg, R::kSelection, R::kArrival}) {
        const QImage image = R::image(photo, R::defaultSize, 2, layer);
        ASSERT_EQ(image.size(), QSize(580, 584)) << layer.toString().toStdString();
        saveForLooking(image, u"layer-"_s + layer.toString());
        if (layer != R::kComplete)
            QPainter(&stacked).drawImage(QRectF(stacked.rect()), image);
    }
    saveForLooking(stacked, u"layers-stacked"_s);

    const QImage complete = R::image(photo);
    const QPointF sun(g.imageRect.left() + 0.72 * g.imageRect.width(),
                      g.imageRect.top() + 0.3 * g.imageRect.height());
    EXPECT_GT(colourAt(complete, sun).red(), 230) << "the photo is upright: its sun sits high on the right";
    const QColor grass =
        colourAt(complete, {g.imageRect.left() + 0.9 * g.imageRect.width(), g.imageRect.bottom() - 4});
    EXPECT_GT(grass.green(), grass.red()) << "and its hills at the bottom";
    EXPECT_TRUE(
        near(at(complete, {g.paperRect.center().x(), g.paperRect.bottom() - 10}), QColor(245, 242, 237), 8))
        << "the wide bottom border of the paper";
    EXPECT_EQ(qAlpha(at(complete, QPointF(10, 10))), 0) << "transparent beside the peg";
    const QRgb shadow = at(complete, QPointF(g.paperRect.center().x(), g.paperRect.bottom() + 6));
    EXPECT_TRUE(qAlpha(shadow) > 10 && qAlpha(shadow) < 120 && qRed(shadow) < 30)
        << "a soft dark shadow under the paper, alpha " << qAlpha(shadow);
    const QColor peg = colourAt(complete, QPointF(g.pegRect.center().x() - 2, 14));
    EXPECT_EQ(peg.alpha(), 255) << "the peg artwork above the paper";
    EXPECT_GT(peg.red(), peg.blue() + 40) << "in wood colours";

    const QImage selection = R::image(photo, R::defaultSize, 2, R::kSelection);
    const QColor blue(23, 101, 223);
    EXPECT_TRUE(near(at(selection, g.indicatorPath(true).boundingRect().center() + QPointF(-7, 4)), blue, 10))
        << "blue badge";
    EXPECT_TRUE(near(at(selection, {g.paperRect.left() - 1.5, g.paperRect.center().y()}), blue, 30))
        << "the ring around the paper";
    EXPECT_EQ(qAlpha(at(selection, g.imageRect.center())), 0) << "no paper in the selection layer";

    const QImage arrival = R::image(photo, R::defaultSize, 2, R::kArrival);
    const QRectF tag = g.indicatorPath(false).boundingRect();
    EXPECT_TRUE(near(at(arrival, tag.topLeft() + QPointF(3, 10)), QColor(255, 223, 159), 12)) << "yellow tag";
    int inked = 0;
    for (int y = int(tag.top() * 2); y < int(tag.bottom() * 2); ++y)
        for (int x = int(tag.left() * 2); x < int(tag.right() * 2); ++x)
            inked += near(arrival.pixel(x, y), QColor(100, 54, 0), 40);
    EXPECT_GT(inked, 40) << "the character is drawn in brown on the tag";
}

TEST(PolaroidRenderer, UnreadablePhotosGetThePlaceholderWindowAndTheVectorPegStandsInForArtwork) {
    const QString folder = test::makeFolder(u"broken"_s);
    const Photo broken = test::photoFor(folder + u"/broken.jpg"_s, folder + u"/broken-thumb.jpg"_s);
    test::writeFile(broken.path, "not an image");
    test::writeFile(broken.thumbnail, "nor this");
    const auto artwork = R::pegMaterial();
    R::setPegMaterial(std::nullopt);
    const QImage complete = R::image(broken);
    R::setPegMaterial(artwork);
    saveForLooking(complete, u"unreadable-vector-peg"_s);
    const auto g = R::geometry(broken);
    EXPECT_TRUE(near(at(complete, g.imageRect.topLeft() + QPointF(4, 4)), kPlaceholderWindow, 3));
    EXPECT_TRUE(near(at(complete, g.paperRect.bottomLeft() + QPointF(20, -8)), QColor(247, 244, 239), 6));
    EXPECT_TRUE(R::cachedImage(broken).has_value()) << "the fallback render is cached";

    const QColor wood = colourAt(complete, g.pegRect.center() + QPointF(0, -10));
    EXPECT_TRUE(wood.alpha() == 255 && wood.red() > wood.green() && wood.green() > wood.blue())
        << "wood brown, not grey";

    const QImage placeholder = R::image(broken, R::defaultSize, 2, R::kPaper, true);
    EXPECT_TRUE(near(at(placeholder, g.imageRect.topLeft() + QPointF(4, 4)), kPlaceholderWindow, 3));
    EXPECT_EQ(qAlpha(at(placeholder, QPointF(145, 10))), 0) << "the paper layer has no peg";
}

TEST(PolaroidRenderer, PlaceholdersRenderOnceOffTheMainThreadAndAnswerInOrder) {
    const auto photos = photosOf(u"placeholders"_s, {{40, 30}, {400, 300}});
    R::clearCaches();
    const int mainRenders = R::placeholderMainRenderCount();
    std::vector<int> calls;
    bool mainThreadOnly = true;
    const auto note = [&](int which) {
        return [&, which] {
            mainThreadOnly = mainThreadOnly && isMainThread();
            calls.push_back(which);
        };
    };
    EXPECT_EQ(R::placeholder(photos[0], 2, note(1)).cacheKey(), R::emptyPaper().cacheKey())
        << "empty paper while rendering";
    EXPECT_EQ(R::placeholder(photos[1], 2, note(2)).cacheKey(), R::emptyPaper().cacheKey());
    ASSERT_TRUE(test::spinUntil([&] { return calls.size() == 2; }));
    test::settle();
    EXPECT_EQ(calls, (std::vector<int>{1, 2})) << "both callbacks once, in request order";
    EXPECT_TRUE(mainThreadOnly);
    EXPECT_EQ(R::placeholderMainRenderCount(), mainRenders);

    const QImage ready = R::placeholder(photos[0], 2, note(3));
    EXPECT_EQ(ready.cacheKey(), R::placeholder(photos[1], 2, {}).cacheKey())
        << "one render serves both photos of the same aspect";
    EXPECT_EQ(ready.size(), QSize(580, 584));
    test::settle();
    EXPECT_EQ(calls.size(), 2u) << "a cache hit calls nothing";

    R::image(photos[0], R::defaultSize, 3, R::kPaper, true);
    EXPECT_EQ(R::placeholderMainRenderCount(), mainRenders + 1) << "a placeholder drawn on the main thread";
}

TEST(PolaroidRenderer, ConcurrentRendersDrawOnePaperBase) {
    const auto photos = photosOf(u"threads"_s, std::vector<QSize>(8, QSize(64, 48)));
    const int before = R::baseRenderCount();
    WorkQueue queue(u"test.render"_s, 4);
    for (const Photo& photo : photos)
        queue.async([photo] { R::image(photo, QSizeF(145, 146), 2, R::kPaper); });
    queue.waitUntilIdle();
    EXPECT_EQ(R::baseRenderCount(), before + 1);
    for (const Photo& photo : photos)
        EXPECT_TRUE(R::cachedImage(photo, QSizeF(145, 146), 2, R::kPaper).has_value())
            << photo.id.toStdString();
}

TEST(ClotheslineMaterialAssets, ArtworkLoadsCroppedAndBounded) {
    const auto& peg = ClotheslineMaterialAssets::peg();
    ASSERT_TRUE(peg.has_value()) << "the peg artwork is compiled into the library";
    EXPECT_TRUE(peg->height() > 400 && peg->height() <= 512) << "decoded near the 512 pixel bound";
    EXPECT_NEAR(double(peg->width()) / peg->height(), 315.0 / 1466.0, 0.02) << "crop scaled with the decode";
    int opaque = 0;
    for (int x = 0; x < peg->width(); ++x)
        opaque += qAlpha(peg->pixel(x, peg->height() / 2)) > 128;
    EXPECT_GT(opaque, peg->width() / 2) << "the peg fills the middle of its crop";
    const auto& tack = ClotheslineMaterialAssets::tack();
    ASSERT_TRUE(tack.has_value());
    EXPECT_NEAR(tack->width(), tack->height(), 2) << "a round tack";
    EXPECT_EQ(qAlpha(tack->pixel(1, 1)), 0) << "transparent outside the sphere";
    EXPECT_EQ(qAlpha(tack->pixel(tack->width() / 2, tack->height() / 2)), 255);

    EXPECT_EQ(ClotheslineMaterialAssets::load(u"ClotheslinePeg"_s, QRect(344, 51, 326, 1434), 1540)
                  .value_or(QImage())
                  .size(),
              QSize(326, 1434))
        << "the spare peg, decoded whole";
    EXPECT_FALSE(ClotheslineMaterialAssets::load(u"NoSuchArtwork"_s, QRect(0, 0, 10, 10), 64));
    EXPECT_FALSE(ClotheslineMaterialAssets::load(u"ClotheslinePeg"_s, QRect(5000, 5000, 10, 10), 512))
        << "a crop outside the picture is absent";
}

} // namespace
} // namespace vennimo
