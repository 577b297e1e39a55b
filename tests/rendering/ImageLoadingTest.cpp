#include "RenderingTestSupport.h"
#include "rendering/GalleryThumbnailLoader.h"
#include "rendering/PhotoPreviewImageLoader.h"
#include "rendering/PhotoPreviewPreloader.h"
#include "support/TestEnvironment.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>

namespace vennimo {
namespace {

using namespace Qt::StringLiterals;

using Kind = GridThumbnailOutcome::Kind;

// The outcome of one load, whichever thread delivers it; `calls` is raised after `value` is set.
struct Outcome {
    std::optional<GridThumbnailOutcome> value;
    std::atomic<int> calls{0};
    GalleryThumbnailLoader::Completion completion() {
        return [this](const GridThumbnailOutcome& outcome) { value = outcome, ++calls; };
    }
    std::optional<Kind> wait() {
        return test::spinUntil([this] { return calls > 0; }) ? std::optional(value->kind) : std::nullopt;
    }
};

Photo photoWithThumbnail(const QString& folderName) {
    return test::writePhoto(test::makeFolder(folderName), u"image"_s, {800, 600}, true);
}

TEST(GalleryThumbnailLoader, SizesAndTheDefaultDecoder) {
    for (auto [scale, pixels] :
         {std::pair{2.0, 580}, {0.5, 290}, {1.25, 363}, {qQNaN(), 290}, {1e300, 16 * 290}})
        EXPECT_EQ(GalleryThumbnailLoader::pixelSize(scale), pixels) << scale;
    const Photo photo = photoWithThumbnail(u"keys"_s);
    GalleryThumbnailLoader loader;
    Outcome first, hit, failed, retried;
    loader.load(photo, 0.5, nullptr, first.completion());
    ASSERT_EQ(first.wait(), Kind::Image);
    EXPECT_EQ(first.value->image.width(), 290) << "the thumbnail file at the cell's pixel size";
    loader.load(photo, 1, nullptr, hit.completion());
    ASSERT_EQ(hit.calls, 1) << "a cache hit answers at once";
    EXPECT_EQ(hit.value->image.cacheKey(), first.value->image.cacheKey());
    Photo later = photo;
    later.thumbnail = photo.path + u"-later.jpg"_s;
    loader.load(later, 2, nullptr, failed.completion());
    EXPECT_EQ(failed.wait(), Kind::Failed) << "the image file itself is never read";
    test::saveImage(test::makeImage(100, 100), later.thumbnail);
    loader.load(later, 2, nullptr, retried.completion());
    EXPECT_EQ(retried.wait(), Kind::Image) << "a failure is not cached";
}

TEST(GalleryThumbnailLoader, CancellationBeforeDuringAndAfterTheDecode) {
    Photo photo = photoWithThumbnail(u"cancel"_s);
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    std::atomic<int> decodes{0};
    GalleryThumbnailLoader loader([&](const Photo&, int size, const auto&) {
        ++decodes;
        gate.wait();
        return test::solid(size, size);
    });
    const auto early = CancellationToken::make(), keep = CancellationToken::make(),
               waiting = CancellationToken::make();
    early->cancel();
    Outcome before, running1, running2, queued;
    loader.load(photo, 2, early, before.completion());
    ASSERT_EQ(before.calls, 1);
    EXPECT_EQ(before.value->kind, Kind::Cancelled) << "an already-cancelled task never decodes";
    // Two decodes occupy both workers; a third load waits in the queue and is cancelled there.
    loader.load(photo, 2, keep, running1.completion());
    photo.id = u"9-2"_s;
    loader.load(photo, 2, nullptr, running2.completion());
    ASSERT_TRUE(test::spinUntil([&] { return decodes == 2; }));
    photo.id = u"9-3"_s;
    loader.load(photo, 2, waiting, queued.completion());
    waiting->cancel();
    ASSERT_EQ(queued.calls, 1) << "cancelling settles the load at once";
    EXPECT_EQ(queued.value->kind, Kind::Cancelled);
    release.set_value();
    EXPECT_EQ(running1.wait(), Kind::Image);
    EXPECT_EQ(running2.wait(), Kind::Image);
    keep->cancel();
    QThread::msleep(20);
    EXPECT_EQ(running1.calls, 1) << "a cancel after the decode changes nothing";
    EXPECT_EQ(decodes, 2) << "the cancelled queued decode never ran";
}

TEST(GalleryThumbnailLoader, ACancelAndTheLoaderGoingAwayStopTheDecodesUnderWay) {
    Photo photo = photoWithThumbnail(u"stops"_s);
    // Each decode reads until it is told to stop, as a large picture's would for seconds.
    std::atomic<int> begun{0}, stopped{0};
    const auto decode = [&](const Photo&, int size, const GalleryThumbnailLoader::Stop& stop) {
        ++begun;
        QDeadlineTimer patience(30000);
        while (!(stop && stop()) && !patience.hasExpired())
            QThread::msleep(1);
        stopped += stop && stop();
        return test::solid(size, size);
    };
    const auto token = CancellationToken::make();
    Outcome cancelled, dropped;
    {
        GalleryThumbnailLoader loader(decode);
        loader.load(photo, 2, token, cancelled.completion());
        ASSERT_TRUE(test::spinUntil([&] { return begun == 1; }));
        token->cancel();
        EXPECT_EQ(cancelled.value->kind, Kind::Cancelled);
        ASSERT_TRUE(test::spinUntil([&] { return stopped == 1; })) << "a cancelled decode read on";
        photo.id = u"9-4"_s;
        loader.load(photo, 2, nullptr, dropped.completion());
        ASSERT_TRUE(test::spinUntil([&] { return begun == 2; }));
        QThread::msleep(20);
        EXPECT_EQ(stopped, 1) << "a decode nobody cancelled was stopped";
    }
    EXPECT_EQ(stopped, 2) << "the loader went away waiting for a whole decode";
    EXPECT_EQ(cancelled.calls, 1);
    EXPECT_TRUE(dropped.calls == 0 || dropped.value->kind != Kind::Image)
        << "a stopped decode passed as an image";
}

TEST(GalleryThumbnailLoader, AThumbnailRewrittenDuringTheDecodeIsReportedChanged) {
    const Photo photo = photoWithThumbnail(u"changed"_s);
    for (const bool decodes : {true, false}) {
        GalleryThumbnailLoader loader([decodes](const Photo& p, int size, const auto&) {
            QImage image = decodes ? GalleryThumbnailLoader::decodeThumbnail(p, size) : QImage();
            test::saveImage(test::makeImage(decodes ? 123 : 77, 45), p.thumbnail);
            return image;
        });
        Outcome outcome;
        loader.load(photo, 2, nullptr, outcome.completion());
        EXPECT_EQ(outcome.wait(), Kind::Changed) << (decodes ? "" : "changed wins over failed");
        EXPECT_FALSE(loader.cachedImage(photo).has_value()) << "nothing is cached";
    }
}

TEST(GalleryThumbnailLoader, CacheEvictsByCountAndByBytes) {
    MemoryCache<QImage> byBytes(100, 1000);
    byBytes.insert(u"a"_s, QImage(), 400);
    byBytes.insert(u"b"_s, QImage(), 400);
    byBytes.insert(u"a"_s, QImage(), 500);
    byBytes.insert(u"c"_s, QImage(), 300);
    EXPECT_FALSE(byBytes.contains(u"b"_s));
    EXPECT_EQ(byBytes.totalCost(), 800) << "replacing an entry replaced its cost";
    GalleryThumbnailLoader loader([](const Photo&, int, const auto&) { return test::solid(2048, 2048); });
    std::vector<Photo> photos(5, photoWithThumbnail(u"bytes"_s));
    for (int i = 0; i < 5; ++i) {
        photos[i].id = u"5-%1"_s.arg(i);
        Outcome outcome;
        loader.load(photos[i], 2, nullptr, outcome.completion());
        EXPECT_EQ(outcome.wait(), Kind::Image);
    }
    EXPECT_FALSE(loader.cachedImage(photos[0]).has_value()) << "five 16 MiB thumbnails pass 64 MiB";
    EXPECT_TRUE(loader.cachedImage(photos[4]).has_value());
}

using L = PhotoPreviewImageLoader;
using test::solid;

TEST(PhotoPreviewImageLoader, TargetPixelsAndVersions) {
    for (auto [image, bounds, scale, pixels] :
         {std::tuple{QSizeF(4000, 3000), QSizeF(800, 600), 2.0, 1664}, // rounded up to a step of 128
          {QSizeF(4000, 3000), QSizeF(912, 684), 2.0, 1920},           // the laptop preview
          {QSizeF(4000, 3000), QSizeF(100, 100), 1.0, 256},            // lower clamp
          {QSizeF(4000, 3000), QSizeF(3000, 2000), 2.0, 4096},         // upper clamp
          {QSizeF(4000, 3000), QSizeF(800, 600), 0.5, 896},            // scales below 1 count as 1
          {QSizeF(0, 0), QSizeF(-10, 50), 2.0, 256},
          {QSizeF(1000, 1000), QSizeF(640, 640), 1.0, 640}})
        EXPECT_EQ(L::targetPixels(image, bounds, scale), pixels) << bounds.width() << " at " << scale;
    Photo photo = test::writePhoto(test::makeFolder(u"versions"_s), u"a"_s, {64, 48}, true);
    const QString v = L::version(photo);
    Photo changed = photo;
    changed.usageID = photo.id;
    EXPECT_EQ(L::version(changed), v) << "an absent usage identity reads as the id";
    changed.created = 0;
    EXPECT_NE(L::version(changed), v) << "a creation date of 0 is not an absent one";
    changed = photo;
    changed.thumbnailModified.reset();
    EXPECT_NE(L::version(changed), v);
    test::saveImage(test::makeImage(10, 10), photo.thumbnail);
    const QString afterThumbnail = L::version(photo);
    EXPECT_NE(afterThumbnail, v) << "a rewritten thumbnail file";
    QFile::remove(photo.path);
    EXPECT_NE(L::version(photo), afterThumbnail) << "a missing image file";
}

TEST(PhotoPreviewImageLoader, CacheNeverShrinksAnEntryAndKeepsTwelve) {
    L::store(solid(512, 384), u"v1"_s, 512);
    L::store(solid(256, 192), u"v1"_s, 256);
    EXPECT_TRUE(L::cachedImage(u"v1"_s, 512).has_value()) << "the larger decode stays";
    EXPECT_FALSE(L::cachedImage(u"v1"_s, 513).has_value());
    L::store(solid(1024, 768), u"v1"_s, 1024);
    EXPECT_TRUE(L::cachedImage(u"v1"_s, 1024).has_value()) << "a larger one replaces it";
    L::store(QImage(), u"v2"_s, 4096);
    EXPECT_FALSE(L::cachedImage(u"v2"_s).has_value()) << "no empty decodes";
    for (int i = 0; i < 12; ++i)
        L::store(solid(16, 16), u"n%1"_s.arg(i), 256);
    EXPECT_FALSE(L::cachedImage(u"v1"_s).has_value()) << "the thirteenth evicts the oldest";
    EXPECT_TRUE(L::cachedImage(u"n0"_s).has_value());
    L::store(solid(4096, 4096), u"big1"_s, 4096);
    L::store(solid(4096, 4096), u"big2"_s, 4096);
    EXPECT_FALSE(L::cachedImage(u"big1"_s).has_value()) << "two 64 MiB decodes pass 96 MiB";
    EXPECT_TRUE(L::cachedImage(u"big2"_s).has_value());
    const QString folder = test::makeFolder(u"quick"_s);
    const Photo photo = test::writePhoto(folder, u"q"_s, {1600, 1200}, true);
    EXPECT_EQ(L::thumbnail(photo, L::version(photo)).value_or(QImage()).size(), QSize(720, 540))
        << "quick images have at most 720 pixels";
    const Photo own = test::writePhoto(folder, u"own"_s);
    EXPECT_FALSE(L::thumbnail(own, L::version(own)).has_value()) << "only from a separate thumbnail file";
}

TEST(PhotoPreviewImageLoader, RequestsSupersedeAndDropChangedFiles) {
    const QString folder = test::makeFolder(u"requests"_s);
    const Photo photo = test::writePhoto(folder, u"r"_s);
    const QString version = L::version(photo);
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    std::atomic<int> decodes{0};
    std::atomic<bool> supersededStopped{false};
    std::atomic<int> finished{0};
    L loader([&](const Photo&, int maxPixels, const L::Stop& stop) {
        ++decodes;
        gate.wait();
        if (maxPixels == 512)
            supersededStopped = stop && stop();
        ++finished;
        return solid(maxPixels, maxPixels / 2);
    });
    std::vector<int> widths;
    const auto note = [&](const QImage& image) { widths.push_back(image.width()); };
    loader.request(photo, version, 512, note);
    ASSERT_TRUE(test::spinUntil([&] { return decodes == 1; }));
    loader.request(photo, version, 640, note);
    release.set_value();
    // The two decodes run side by side: the newer one may be delivered before the older ends.
    ASSERT_TRUE(test::spinUntil([&] { return !widths.empty() && finished == 2; }));
    test::settle();
    EXPECT_EQ(widths, std::vector<int>{640}) << "the superseded request never completes";
    EXPECT_TRUE(supersededStopped) << "the superseded decode was not told to stop";
    EXPECT_TRUE(L::cachedImage(version, 640).has_value()) << "a good decode is stored";
    loader.request(photo, version, 600, note);
    EXPECT_EQ(widths, (std::vector<int>{640, 640})) << "a cached decode large enough answers at once";
    const Photo changing = test::writePhoto(folder, u"c"_s);
    const QString before = L::version(changing);
    L rewriting([&](const Photo& p, int, const L::Stop&) {
        test::saveImage(test::makeImage(90, 90), p.path);
        return solid(32, 32);
    });
    std::optional<QImage> delivered;
    rewriting.request(changing, before, 512, [&](const QImage& image) { delivered = image; });
    ASSERT_TRUE(test::spinUntil([&] { return delivered.has_value(); }));
    EXPECT_TRUE(delivered->isNull()) << "a file rewritten while it decodes gives nothing";
    EXPECT_FALSE(L::cachedImage(before).has_value()) << "and stores nothing";
    L cancelled([](const Photo&, int, const L::Stop&) { return solid(8, 8); });
    cancelled.request(test::writePhoto(folder, u"x"_s), u"stale"_s, 256, note);
    cancelled.cancel();
    test::settle();
    EXPECT_EQ(widths.size(), 2u) << "a cancelled request never completes";
}

TEST(PhotoPreviewImageLoader, PreloaderPlansThreeDistinctPhotosOnce) {
    const auto photos = test::writePhotos(u"preload"_s, 4, {400, 300}, true);
    QFile::remove(photos[1].path);
    QFile::remove(photos[1].thumbnail);
    std::mutex mutex;
    QStringList decoded;
    PhotoPreviewPreloader preloader([&](const Photo& photo, int maxPixels, const auto&) {
        std::lock_guard lock(mutex);
        decoded.push_back(photo.id + u"@%1"_s.arg(maxPixels));
        return L::decodeFile(photo.path, maxPixels);
    });
    const auto decodedNow = [&] {
        std::lock_guard lock(mutex);
        return decoded;
    };
    const QList<Photo> plan{photos[0], photos[0], photos[1], photos[2], photos[3]};
    const QRectF screen(0, 0, 1440, 900);
    preloader.schedule(plan, screen, 2, 0);
    preloader.schedule(plan, screen, 2, 0);
    // The plan is over only once its last decode is stored; a store landing after the caches
    // are cleared below would let the second plan skip that photo.
    ASSERT_TRUE(test::spinUntil(
        [&] { return decodedNow().size() == 2 && L::cachedImage(L::version(photos[2]), 1920).has_value(); }));
    preloader.schedule(plan, screen, 2, 0);
    test::settle();
    // 400 x 300 is laid out as 912 x 684 points on this screen: 1920 pixels at scale 2.
    EXPECT_EQ(decodedNow(), (QStringList{u"1-p0@1920"_s, u"1-p2@1920"_s}))
        << "repeats dropped, at most three kept, the unreadable one skipped without stopping the rest, "
           "an identical plan not started twice";
    EXPECT_TRUE(L::cachedImage(L::version(photos[0]), 1920).has_value());
    L::clearCaches();
    preloader.cancel();
    preloader.schedule(plan, screen, 2, 0);
    EXPECT_TRUE(test::spinUntil([&] { return decodedNow().size() == 4; }))
        << "after a cancel it runs again: " << decodedNow().join(u' ').toStdString();
    preloader.schedule({photos[3]}, screen, 2, 5);
    preloader.cancel();
    test::settle();
    EXPECT_EQ(decodedNow().size(), 4) << "a cancelled plan never starts";
}

} // namespace
} // namespace vennimo
