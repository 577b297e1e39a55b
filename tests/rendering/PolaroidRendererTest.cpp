#include "rendering/PolaroidRenderer.h"
#include "RenderingTestSupport.h"
#include "platform/ProcessExit.h"
#include "platform/WorkQueue.h"
#include "rendering/ClotheslineImagePreparation.h"
#include "rendering/ClotheslineMaterialAssets.h"
#include "rendering/DropShadow.h"
#include "support/TestEnvironment.h"
#include "support/TestImages.h"

#include <QDeadlineTimer>
#include <QPainter>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace vennimo {
namespace {

using namespace Qt::StringLiterals;

using test::near;
using R = PolaroidRenderer;
const QColor kPlaceholderWindow = QColor::fromRgbF(0.93f, 0.92f, 0.88f);

// The unpremultiplied colour of a layer at a point given in print coordinates.
QColor at(const QImage& layer, QPointF point) {
    const double s = layer.devicePixelRatio();
    return QColor::fromRgba(qUnpremultiply(layer.pixel(int(point.x() * s), int(point.y() * s))));
}
bool near(QColor actual, QColor expected, int tolerance) {
    return near(qPremultiply(actual.rgba()), expected, tolerance);
}

TEST(PolaroidRenderer, KeysSpellEveryFieldAndBitmapsRaiseDegenerateSizes) {
    Photo photo = test::writePhoto(test::makeFolder(u"keys"_s), u"a"_s, {40, 30});
    photo.created = 50;
    const double nan = qQNaN();
    const QString aspect = u"1.3333333333333333|"_s;
    for (auto [key, expected] :
         {std::pair{R::imageKey(photo, QSizeF(290, 292), 2, R::kPeg), u"peg|290.0x292.0@2.0"_s},
          {R::imageKey(photo, QSizeF(0, 0), 0.5, R::kPeg), u"peg|1.0x1.0@1.0"_s},
          {R::imageKey(photo, QSizeF(nan, 10), nan, R::kPeg), u"peg|1.0x10.0@1.0"_s},
          {R::imageKey(photo, QSizeF(0.5, 292), 2, R::kSelection), "selection|" + aspect + "0.5x292.0@2.0"},
          {R::placeholderKey(photo, R::defaultSize, 2, R::kPaper),
           "placeholder-paper|" + aspect + "290.0x292.0@2.0"},
          {R::paperBaseKey(photo, R::defaultSize, 2), "paper-base|" + aspect + "290.0x292.0@2.0"},
          {R::imageKey(photo), "complete|" + photo.id + "|" + photo.path + "|978307250.0|" + photo.path +
                                   "|978307300.0|0.0|" + QString::number(photo.size) + "|290.0x292.0@2.0"}})
        EXPECT_EQ(key.toStdString(), expected.toStdString());
    const QImage tiny = R::image(photo, QSizeF(0, 0), 2, R::kComplete);
    EXPECT_TRUE(tiny.size() == QSize(2, 2) && tiny.devicePixelRatio() == 2) << "1 x 1 point at scale 2";
    EXPECT_EQ(tiny.format(), QImage::Format_ARGB32_Premultiplied) << "paper bases are copied as raw bytes";
    EXPECT_EQ(R::image(photo, QSizeF(100.2, 50), 1.5, R::kPeg).size(), QSize(151, 75)) << "pixels round up";
    EXPECT_TRUE(R::image(photo, QSizeF(1e9, 292), 2, R::kPeg).isNull()) << "beyond any bitmap: refused";
    EXPECT_FALSE(R::cachedImage(photo, QSizeF(1e9, 292), 2, R::kPeg).has_value());
}

TEST(PolaroidRenderer, CachesShareWhatTheyShouldAndStoreOnlyWhenAsked) {
    const QString folder = test::makeFolder(u"caches"_s);
    const Photo first = test::writePhoto(folder, u"a"_s, {80, 60}, false, Qt::red);
    const Photo second = test::writePhoto(folder, u"b"_s, {160, 120}, false, Qt::blue);
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
    const QSizeF small(200, 200);
    const QImage unshared = R::image(first, small, 2, R::kComplete, false, true, false);
    const QImage again = R::image(first, small, 2, R::kComplete, false, true, false);
    EXPECT_TRUE(unshared.cacheKey() != again.cacheKey() && unshared == again) << "private paper: drawn anew";
    EXPECT_FALSE(R::cachedImage(first, small, 2).has_value()) << "and never stored";
    EXPECT_EQ(R::baseRenderCount(), bases + 1) << "private bases are not counted";
    EXPECT_TRUE(!R::image(first, QSizeF(250, 250), 2, R::kComplete, false, false).isNull() &&
                !R::cachedImage(first, QSizeF(250, 250), 2))
        << "cacheResult false: drawn, not stored";
    const QImage stored = R::image(first, QSizeF(250, 250), 2);
    EXPECT_EQ(R::image(first, QSizeF(250, 250), 2, R::kComplete, false, false).cacheKey(), stored.cacheKey())
        << "a cached image is still returned with cacheResult false";
    const qint64 costBefore = R::cachedImageCost();
    const QImage prepared = test::solid(580, 584, Qt::green);
    R::storePrepared(prepared, second, 2);
    EXPECT_EQ(R::cachedImage(second, R::defaultSize, 2, R::kPaper).value_or(QImage()).cacheKey(),
              prepared.cacheKey());
    EXPECT_EQ(R::cachedImageCost(), costBefore + 580 * 584 * 4 - qint64(paperB.sizeInBytes()))
        << "the prepared image replaced the rendered one at its pixel cost";

    // Badges asked for below one point are drawn at one point and found again under that size.
    for (QStringView layer : {R::kSelection, R::kArrival}) {
        const QImage badge = R::image(first, QSizeF(0.5, 0.25), 2, layer);
        EXPECT_EQ(badge.size(), QSize(2, 2));
        EXPECT_EQ(R::cachedImage(second, QSizeF(0.5, 0.25), 2, layer).value_or(QImage()).cacheKey(),
                  badge.cacheKey())
            << layer.toString().toStdString();
    }
}

// A rope keeps more prepared papers than the cache holds: they push each other out, never the
// peg and badges every print shows.
TEST(PolaroidRenderer, PapersNeverPushPegsAndBadgesOut) {
    const Photo photo = test::writePhoto(test::makeFolder(u"marks"_s), u"a"_s, {80, 60});
    R::clearCaches();
    const QImage peg = R::image(photo, R::defaultSize, 2, R::kPeg);
    const QImage badge = R::image(photo, R::defaultSize, 2, R::kArrival);
    const QImage prepared = test::solid(580, 584, Qt::green);
    for (int i = 0; i < R::kCacheCount + 20; ++i) {
        Photo other = photo;
        other.id = u"other-%1"_s.arg(i);
        R::storePrepared(prepared, other, 2);
    }
    const int renders = R::renderCount();
    EXPECT_EQ(R::image(photo, R::defaultSize, 2, R::kPeg).cacheKey(), peg.cacheKey());
    EXPECT_EQ(R::image(photo, R::defaultSize, 2, R::kArrival).cacheKey(), badge.cacheKey());
    EXPECT_EQ(R::renderCount(), renders) << "nothing drawn again";
}

TEST(PolaroidRenderer, EveryLayerOfARealPhotoLooksLikeAPrintOnAPeg) {
    const Photo photo = test::writePhoto(test::makeFolder(u"real"_s), u"IMG_0042"_s, {1600, 1200}, true);
    const auto g = R::geometry(photo);
    std::map<QStringView, QImage> layers;
    for (QStringView layer : {R::kComplete, R::kPaper, R::kPeg, R::kSelection, R::kArrival}) {
        const QImage& image = layers[layer] = R::image(photo, R::defaultSize, 2, layer);
        ASSERT_EQ(image.size(), QSize(580, 584)) << layer.toString().toStdString();
    }
    const QImage& complete = layers[R::kComplete];
    const QRectF window = g.imageRect, paper = g.paperRect;
    EXPECT_TRUE(test::isMarkerRed(at(complete, window.topLeft() + QPointF(8, 8))) &&
                !test::isMarkerRed(at(complete, window.bottomRight() - QPointF(8, 8))))
        << "the photo is upright: its marked corner top left";
    EXPECT_TRUE(near(at(complete, {paper.center().x(), paper.bottom() - 10}), QColor(245, 242, 237), 8))
        << "the wide bottom border of the paper";
    EXPECT_EQ(at(complete, QPointF(10, 10)).alpha(), 0) << "transparent beside the peg";
    const QColor shadow = at(complete, {paper.center().x(), paper.bottom() + 6});
    EXPECT_TRUE(shadow.alpha() > 10 && shadow.alpha() < 120 && shadow.red() < 30)
        << "a soft dark shadow under the paper, alpha " << shadow.alpha();
    const QColor peg = at(complete, QPointF(g.pegRect.center().x() - 2, 14));
    EXPECT_TRUE(peg.alpha() == 255 && peg.red() > peg.blue() + 40) << "the wooden peg above the paper";
    const QImage& selection = layers[R::kSelection];
    const QColor blue(23, 101, 223);
    const QPointF badge = g.indicatorPath(true).boundingRect().center() + QPointF(-7, 4);
    EXPECT_TRUE(near(at(selection, badge), blue, 10)) << "blue badge";
    EXPECT_TRUE(near(at(selection, {paper.left() - 1.5, paper.center().y()}), blue, 30)) << "ring";
    EXPECT_EQ(at(selection, window.center()).alpha(), 0) << "no paper in the selection layer";
    const QImage& arrival = layers[R::kArrival];
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
    const auto g = R::geometry(broken);
    EXPECT_TRUE(near(at(complete, g.imageRect.topLeft() + QPointF(4, 4)), kPlaceholderWindow, 3));
    EXPECT_TRUE(R::cachedImage(broken).has_value()) << "the fallback render is cached";
    const QColor wood = at(complete, g.pegRect.center() + QPointF(0, -10));
    EXPECT_TRUE(wood.alpha() == 255 && wood.red() > wood.green() && wood.green() > wood.blue())
        << "a wooden peg";
    const QImage placeholder = R::image(broken, R::defaultSize, 2, R::kPaper, true);
    EXPECT_TRUE(near(at(placeholder, g.imageRect.topLeft() + QPointF(4, 4)), kPlaceholderWindow, 3));
    EXPECT_EQ(at(placeholder, QPointF(145, 10)).alpha(), 0) << "the paper layer has no peg";
}

TEST(PolaroidRenderer, PlaceholdersRenderOnceOffTheMainThreadAndAnswerInOrder) {
    const QString folder = test::makeFolder(u"placeholders"_s);
    const Photo photos[] = {test::writePhoto(folder, u"a"_s, {40, 30}),
                            test::writePhoto(folder, u"b"_s, {400, 300})};
    R::clearCaches();
    const int mainRenders = R::placeholderMainRenderCount();
    std::vector<int> calls; // negative when called off the main thread
    const auto note = [&](int which) {
        return [&, which] { calls.push_back(isMainThread() ? which : -which); };
    };
    EXPECT_EQ(R::placeholder(photos[0], 2, note(1)).cacheKey(), R::emptyPaper().cacheKey());
    EXPECT_EQ(R::placeholder(photos[1], 2, note(2)).cacheKey(), R::emptyPaper().cacheKey());
    ASSERT_TRUE(test::spinUntil([&] { return calls.size() == 2; }));
    const QImage ready = R::placeholder(photos[0], 2, note(3));
    EXPECT_EQ(ready.cacheKey(), R::placeholder(photos[1], 2, {}).cacheKey()) << "one render per aspect";
    EXPECT_EQ(ready.size(), QSize(580, 584));
    test::settle();
    EXPECT_EQ(calls, (std::vector<int>{1, 2}))
        << "each callback once, on the main thread, in request order; none for a cache hit";
    EXPECT_EQ(R::placeholderMainRenderCount(), mainRenders);
    R::image(photos[0], R::defaultSize, 3, R::kPaper, true);
    EXPECT_EQ(R::placeholderMainRenderCount(), mainRenders + 1) << "a placeholder drawn on the main thread";
}

// Leaving while placeholders are still drawn used to hang or crash the exit: they painted with
// Qt's thread pool after it had been torn down. The race is narrow, so it is run a few times. The
// drawings still queued are dropped, not drawn for nobody before the process may end.
TEST(PolaroidRenderer, AnExitWhilePlaceholdersAreDrawnEndsCleanly) {
    constexpr int kAsked = 200;
    for (int run = 0; run < 5; ++run) {
        QProcess child;
        child.start(QStringLiteral(VENNIMO_PLACEHOLDER_EXIT_CHILD), {});
        ASSERT_TRUE(child.waitForStarted());
        if (!child.waitForFinished(60000)) {
            child.kill();
            child.waitForFinished();
            FAIL() << "run " << run << ": the exit hung";
        }
        EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << "run " << run << ": the exit crashed";
        EXPECT_EQ(child.exitCode(), 0) << "run " << run;
        const QByteArray said = child.readAllStandardOutput().trimmed();
        ASSERT_TRUE(said.startsWith("drawn ")) << said.toStdString();
        EXPECT_LT(said.mid(6).toInt(), kAsked / 2)
            << "run " << run << ": the exit drew the queued placeholders";
    }
}

TEST(PolaroidRenderer, ConcurrentRendersDrawOnePaperBase) {
    const auto photos = test::writePhotos(u"threads"_s, 8);
    const int before = R::baseRenderCount();
    WorkQueue queue(u"test.render"_s, 4);
    for (const Photo& photo : photos)
        queue.async([photo] { R::image(photo, QSizeF(145, 146), 2, R::kPaper); });
    queue.waitUntilIdle();
    EXPECT_EQ(R::baseRenderCount(), before + 1);
    for (const Photo& photo : photos)
        EXPECT_TRUE(R::cachedImage(photo, QSizeF(145, 146), 2, R::kPaper).has_value());
}

TEST(ClotheslineMaterialAssets, ArtworkLoadsCroppedAndBounded) {
    const auto& peg = ClotheslineMaterialAssets::peg();
    ASSERT_TRUE(peg.has_value()) << "the peg artwork is compiled into the library";
    EXPECT_TRUE(peg->height() > 400 && peg->height() <= 512) << "decoded near the 512 pixel bound";
    EXPECT_NEAR(double(peg->width()) / peg->height(), 315.0 / 1466.0, 0.02) << "crop scaled with the decode";
    EXPECT_GT(qAlpha(peg->pixel(peg->width() / 2, peg->height() / 2)), 128) << "the peg fills its crop";
    const auto& tack = ClotheslineMaterialAssets::tack();
    ASSERT_TRUE(tack.has_value());
    EXPECT_NEAR(tack->width(), tack->height(), 2) << "a round tack";
    EXPECT_EQ(qAlpha(tack->pixel(1, 1)), 0) << "transparent outside the sphere";
    EXPECT_EQ(qAlpha(tack->pixel(tack->width() / 2, tack->height() / 2)), 255);
    const auto load = [](const char16_t* name, QRect crop, int pixels) {
        return ClotheslineMaterialAssets::load(QString::fromUtf16(name), crop, pixels)
            .value_or(QImage())
            .size();
    };
    EXPECT_EQ(load(u"ClotheslinePeg", {344, 51, 326, 1434}, 1540), QSize(326, 1434)) << "the spare peg";
    EXPECT_EQ(load(u"NoSuchArtwork", {0, 0, 10, 10}, 64), QSize(0, 0)) << "a missing resource is absent";
    EXPECT_EQ(load(u"ClotheslinePeg", {5000, 5000, 10, 10}, 512), QSize(0, 0)) << "so is a crop outside it";
}

TEST(ClotheslineImagePreparation, BoundsOutstandingWorkAndDelivers) {
    const auto all = test::writePhotos(u"bounded"_s, 5);
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    std::atomic<int> renders{0};
    ClotheslineImagePreparation preparation([&](const Photo&, double, const auto&) {
        ++renders;
        gate.wait();
        return test::solid(4, 4);
    });
    int delivered = 0, empty = 0;
    const auto done = [&](const QImage& image) { ++delivered, empty += image.isNull(); };
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(preparation.request(all[i], 2, done)) << i;
    EXPECT_FALSE(preparation.request(all[4], 2, done)) << "a fifth request while four are pending";
    EXPECT_TRUE(preparation.pending().contains(R::imageKey(all[0], R::defaultSize, 2, R::kPaper)))
        << "pending keys are the renderer's paper keys";
    release.set_value();
    ASSERT_TRUE(test::spinUntil([&] { return delivered == 4; }));
    EXPECT_TRUE(empty == 0 && preparation.pending().isEmpty());
    EXPECT_EQ(renders, 4) << "nothing was queued for the refused request";
    EXPECT_TRUE(preparation.request(all[0], 2, done)) << "after delivery the same photo can be asked again";
    EXPECT_FALSE(preparation.request(all[0], 2, done)) << "but not twice at once";
    EXPECT_TRUE(preparation.request(all[0], 3, done)) << "another scale is another key";
    ASSERT_TRUE(test::spinUntil([&] { return delivered == 6; }));
}

TEST(ClotheslineImagePreparation, ACancelAndGoingAwayStopTheRendersUnderWay) {
    const auto all = test::writePhotos(u"stops"_s, 2);
    // Each render reads until it is told to stop, as a camera photo's decode would for seconds.
    std::atomic<int> begun{0}, stopped{0};
    const auto render = [&](const Photo&, double, const ClotheslineImagePreparation::Stop& stop) {
        ++begun;
        QDeadlineTimer patience(30000);
        while (!(stop && stop()) && !patience.hasExpired())
            QThread::msleep(1);
        stopped += stop && stop();
        return test::solid(4, 4);
    };
    bool delivered = false;
    {
        ClotheslineImagePreparation preparation(render);
        ASSERT_TRUE(preparation.request(all[0], 2, [&](const QImage&) { delivered = true; }));
        ASSERT_TRUE(test::spinUntil([&] { return begun == 1; }));
        preparation.cancel();
        ASSERT_TRUE(test::spinUntil([&] { return stopped == 1; })) << "a cancelled render read on";
        ASSERT_TRUE(preparation.request(all[1], 2, [&](const QImage&) { delivered = true; }));
        ASSERT_TRUE(test::spinUntil([&] { return begun == 2; }));
        QThread::msleep(20);
        EXPECT_EQ(stopped, 1) << "the cancel reached a render asked for after it";
    }
    EXPECT_EQ(stopped, 2) << "going away waited for a whole render";
    test::settle();
    EXPECT_FALSE(delivered);

    // The renderer's own drawing: a stop gives nothing, so an empty window never passes for the print.
    const QImage given =
        R::image(all[0], R::defaultSize, 2, R::kPaper, false, true, true, [] { return true; });
    EXPECT_TRUE(given.isNull());
    EXPECT_FALSE(R::cachedImage(all[0], R::defaultSize, 2, R::kPaper)) << "a stopped drawing was cached";
    EXPECT_TRUE(R::thumbnail(all[0], 64, [] { return true; }).isNull());
    EXPECT_FALSE(R::thumbnail(all[0], 64, [] { return false; }).isNull());
    // Nor does any once the process is ending.
    ProcessExit::announce();
    EXPECT_TRUE(R::thumbnail(all[0], 64).isNull()) << "a photo was decoded for a process that is ending";
    ProcessExit::resetForTesting();
}

TEST(ClotheslineImagePreparation, CancelAndChangedFilesDropResults) {
    const auto all = test::writePhotos(u"cancel"_s, 3);
    std::atomic<int> finished{0};
    ClotheslineImagePreparation preparation([&](const Photo& photo, double, const auto&) {
        if (photo.id == all[2].id)
            test::saveImage(test::makeImage(90, 90), photo.path);
        ++finished;
        return test::solid(4, 4);
    });
    std::optional<QImage> result;
    const auto keep = [&](const QImage& image) { result = image; };
    ASSERT_TRUE(preparation.request(all[0], 2, keep));
    // Waits without the event loop, so the finished render's delivery stays queued.
    for (int i = 0; i < 2000 && finished == 0; ++i)
        QThread::msleep(1);
    QThread::msleep(20);
    preparation.cancel();
    EXPECT_TRUE(preparation.pending().isEmpty());
    test::settle();
    EXPECT_FALSE(result) << "the finished render met a newer generation";
    ASSERT_TRUE(preparation.request(all[2], 2, keep));
    ASSERT_TRUE(test::spinUntil([&] { return result.has_value(); })) << "later requests still deliver";
    EXPECT_TRUE(result->isNull()) << "the file was replaced between the two version readings";
    bool orphan = false;
    {
        ClotheslineImagePreparation shortLived(
            [](const Photo&, double, const auto&) { return test::solid(4, 4); });
        shortLived.request(all[1], 2, [&](const QImage&) { orphan = true; });
    }
    test::settle();
    EXPECT_FALSE(orphan) << "a preparer that goes away delivers nothing";
    ClotheslineImagePreparation real;
    result.reset();
    ASSERT_TRUE(real.request(all[1], 2, keep));
    ASSERT_TRUE(test::spinUntil([&] { return result.has_value(); }));
    EXPECT_EQ(result->size(), QSize(580, 584)) << "the renderer's paper layer";
    EXPECT_FALSE(R::cachedImage(all[1], R::defaultSize, 2, R::kPaper)) << "the canvas stores it";
}

TEST(DropShadow, LandsInPlaceWhateverTheDevicePixelRatio) {
    // The same drawing at ratio 2 and, by hand, at ratio 1 with a 2x scale must match pixel for
    // pixel: the shadow is composed in device pixels either way.
    const auto render = [](bool hiDpi) {
        QImage image(120, 120, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        if (hiDpi)
            image.setDevicePixelRatio(2);
        QPainter painter(&image);
        if (!hiDpi)
            painter.scale(2, 2);
        DropShadow{QPointF(0, 10), 6, QColor(0, 0, 0, 200)}.paint(
            painter, QRectF(10, 10, 30, 30),
            [](QPainter& p) { p.fillRect(QRectF(15, 15, 20, 20), Qt::white); });
        painter.end();
        image.setDevicePixelRatio(1);
        return image;
    };
    const QImage hiDpi = render(true);
    EXPECT_EQ(hiDpi, render(false));
    EXPECT_GT(qAlpha(hiDpi.pixel(50, 78)), 0) << "the shadow shows below the square";
    EXPECT_EQ(qAlpha(hiDpi.pixel(50, 20)), 0) << "and not above it";
}

} // namespace
} // namespace vennimo
