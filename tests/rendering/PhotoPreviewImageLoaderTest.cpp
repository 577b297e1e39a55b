#include "rendering/PhotoPreviewImageLoader.h"
#include "RenderingTestSupport.h"
#include "rendering/PhotoPreviewPreloader.h"
#include "support/TestEnvironment.h"

#include <QFile>
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>

namespace vennimo {
namespace {

using namespace Qt::StringLiterals;
using L = PhotoPreviewImageLoader;
using test::solid;

// "<folder>/<name>.png" with a half-size "<name>-thumb.jpg" beside it unless `ownThumbnail` is false.
Photo writtenPhoto(const QString& folder, const QString& name, QSize size = {64, 48},
                   bool ownThumbnail = true) {
    const QString path = folder + u'/' + name;
    test::saveImage(test::makeImage(size.width(), size.height()), path + u".png"_s);
    if (ownThumbnail)
        test::saveImage(test::makeImage(size.width() / 2, size.height() / 2), path + u"-thumb.jpg"_s);
    return test::photoFor(path + u".png"_s, ownThumbnail ? path + u"-thumb.jpg"_s : QString(),
                          u"7-"_s + name);
}

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

    Photo photo = writtenPhoto(test::makeFolder(u"versions"_s), u"a"_s);
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
    const Photo photo = writtenPhoto(folder, u"q"_s, QSize(1600, 1200));
    EXPECT_EQ(L::thumbnail(photo, L::version(photo)).value_or(QImage()).size(), QSize(720, 540))
        << "quick images have at most 720 pixels";
    const Photo own = writtenPhoto(folder, u"own"_s, QSize(64, 48), false);
    EXPECT_FALSE(L::thumbnail(own, L::version(own)).has_value()) << "only from a separate thumbnail file";
}

TEST(PhotoPreviewImageLoader, RequestsSupersedeAndDropChangedFiles) {
    const QString folder = test::makeFolder(u"requests"_s);
    const Photo photo = writtenPhoto(folder, u"r"_s);
    const QString version = L::version(photo);
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    std::atomic<int> decodes{0};
    L loader([&](const Photo&, int maxPixels) {
        ++decodes;
        gate.wait();
        return solid(maxPixels, maxPixels / 2);
    });
    std::vector<int> widths;
    const auto note = [&](const QImage& image) { widths.push_back(image.width()); };
    loader.request(photo, version, 512, note);
    ASSERT_TRUE(test::spinUntil([&] { return decodes == 1; }));
    loader.request(photo, version, 640, note);
    release.set_value();
    ASSERT_TRUE(test::spinUntil([&] { return !widths.empty(); }));
    test::settle();
    EXPECT_EQ(widths, std::vector<int>{640}) << "the superseded request never completes";
    EXPECT_TRUE(L::cachedImage(version, 640).has_value()) << "a good decode is stored";
    loader.request(photo, version, 600, note);
    EXPECT_EQ(widths, (std::vector<int>{640, 640})) << "a cached decode large enough answers at once";

    const Photo changing = writtenPhoto(folder, u"c"_s);
    const QString before = L::version(changing);
    L rewriting([&](const Photo& p, int) {
        test::saveImage(test::makeImage(90, 90), p.path);
        return solid(32, 32);
    });
    std::optional<QImage> delivered;
    rewriting.request(changing, before, 512, [&](const QImage& image) { delivered = image; });
    ASSERT_TRUE(test::spinUntil([&] { return delivered.has_value(); }));
    EXPECT_TRUE(delivered->isNull()) << "a file rewritten while it decodes gives nothing";
    EXPECT_FALSE(L::cachedImage(before).has_value()) << "and stores nothing";

    L cancelled([](const Photo&, int) { return solid(8, 8); });
    cancelled.request(writtenPhoto(folder, u"x"_s), u"stale"_s, 256, note);
    cancelled.cancel();
    test::settle();
    EXPECT_EQ(widths.size(), 2u) << "a cancelled request never completes";
}

TEST(PhotoPreviewImageLoader, PreloaderPlansThreeDistinctPhotosOnce) {
    const QString folder = test::makeFolder(u"preload"_s);
    QList<Photo> photos;
    for (int i = 0; i < 4; ++i)
        photos.push_back(writtenPhoto(folder, u"p%1"_s.arg(i), QSize(400, 300)));
    QFile::remove(photos[1].path);
    QFile::remove(photos[1].thumbnail);
    std::mutex mutex;
    QStringList decoded;
    PhotoPreviewPreloader preloader([&](const Photo& photo, int maxPixels) {
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
    ASSERT_TRUE(test::spinUntil([&] { return decodedNow().size() == 2; }));
    preloader.schedule(plan, screen, 2, 0);
    test::settle();
    // 400 x 300 is laid out as 912 x 684 points on this screen: 1920 pixels at scale 2.
    EXPECT_EQ(decodedNow(), (QStringList{u"7-p0@1920"_s, u"7-p2@1920"_s}))
        << "repeats dropped, at most three kept, the unreadable one skipped without stopping the rest, "
           "an identical plan not started twice";
    EXPECT_TRUE(L::cachedImage(L::version(photos[0]), 1920).has_value());

    L::clearCaches();
    preloader.cancel();
    preloader.schedule(plan, screen, 2, 0);
    EXPECT_TRUE(test::spinUntil([&] { return decodedNow().size() == 4; })) << "after a cancel it runs again";
    preloader.schedule({photos[3]}, screen, 2, 5);
    preloader.cancel();
    test::settle();
    EXPECT_EQ(decodedNow().size(), 4) << "a cancelled plan never starts";
}

TEST(PhotoPreviewImageLoader, PrepareUsesTheScreenItShowsOn) {
    const Photo photo = writtenPhoto(test::makeFolder(u"prepare"_s), u"s"_s, {400, 300});
    const QString version = L::version(photo);
    // The offscreen screen is 800 x 800 at ratio 1: a 4:3 photo shows 640 x 480 points.
    L::prepare({photo}, nullptr, 0);
    ASSERT_TRUE(test::spinUntil([&] { return L::cachedImage(version, 640).has_value(); }));
    EXPECT_FALSE(L::cachedImage(version, 641).has_value()) << "no more pixels than shown";
    L::cancelPreparation();
    EXPECT_TRUE(L::preloader().planKey().isEmpty());
}

} // namespace
} // namespace vennimo
