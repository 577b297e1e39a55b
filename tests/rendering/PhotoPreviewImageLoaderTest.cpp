#include "rendering/PhotoPreviewImageLoader.h"
#include "RenderingTestSupport.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>

namespace vennimo {
namespace {

bool spinUntil(const std::function<bool()>& condition, int milliseconds = 2000) {
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return condition();
}

void settle() {
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

QImage solid(int w, int h) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::gray);
    return image;
}

Photo writtenPhoto(const QString& folder, const QString& name, QSize size = QSize(64, 48),
                   bool ownThumbnail = true) {
    const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".png");
    test::saveImage(test::makeImage(size.width(), size.height()), path);
    QString thumbnail;
    if (ownThumbnail) {
        thumbnail = folder + QLatin1Char('/') + name + QStringLiteral("-thumb.jpg");
        test::saveImage(test::makeImage(size.width() / 2, size.height() / 2), thumbnail);
    }
    return test::photoFor(path, thumbnail, QStringLiteral("7-") + name);
}

TEST(PhotoPreviewImageLoader, TargetPixelsFollowTheShownSize) {
    EXPECT_EQ(PhotoPreviewImageLoader::targetPixels(QSizeF(4000, 3000), QSizeF(800, 600), 2), 1664);
    EXPECT_EQ(PhotoPreviewImageLoader::targetPixels(QSizeF(4000, 3000), QSizeF(100, 100), 1), 256)
        << "lower clamp";
    EXPECT_EQ(PhotoPreviewImageLoader::targetPixels(QSizeF(4000, 3000), QSizeF(3000, 2000), 2), 4096)
        << "upper clamp";
    EXPECT_EQ(PhotoPreviewImageLoader::targetPixels(QSizeF(4000, 3000), QSizeF(800, 600), 0.5), 896)
        << "scales below 1 count as 1";
    EXPECT_EQ(PhotoPreviewImageLoader::targetPixels(QSizeF(0, 0), QSizeF(-10, 50), 2), 256)
        << "degenerate input";
    EXPECT_EQ(PhotoPreviewImageLoader::targetPixels(QSizeF(1000, 1000), QSizeF(640, 640), 1), 640)
        << "exact steps stay";
}

TEST(PhotoPreviewImageLoader, VersionsChangeWithTheRecordAndBothFiles) {
    const QString folder = test::makeFolder(QStringLiteral("versions"));
    Photo photo = writtenPhoto(folder, QStringLiteral("a"));
    const QString v = PhotoPreviewImageLoader::version(photo);
    EXPECT_EQ(v, PhotoPreviewImageLoader::version(photo));
    EXPECT_EQ(v.count(QChar(0)), 9) << "ten fields";

    Photo withUsage = photo;
    withUsage.usageID = photo.id;
    EXPECT_EQ(PhotoPreviewImageLoader::version(withUsage), v) << "an absent usage identity reads as the id";
    Photo created = photo;
    created.created = 0;
    EXPECT_NE(PhotoPreviewImageLoader::version(created), v) << "a creation date of 0 is not an absent one";
    Photo noThumbDate = photo;
    noThumbDate.thumbnailModified.reset();
    EXPECT_NE(PhotoPreviewImageLoader::version(noThumbDate), v);

    test::saveImage(test::makeImage(10, 10), photo.thumbnail);
    const QString afterThumbnail = PhotoPreviewImageLoader::version(photo);
    EXPECT_NE(afterThumbnail, v) << "a rewritten thumbnail file";
    QFile::remove(photo.path);
    const QString afterRemoval = PhotoPreviewImageLoader::version(photo);
    EXPECT_NE(afterRemoval, afterThumbnail) << "a missing image file";
    EXPECT_TRUE(afterRemoval.contains(QStringLiteral("missing")));
}

TEST(PhotoPreviewImageLoader, CacheNeverShrinksAnEntryAndKeepsTwelve) {
    PhotoPreviewImageLoader::store(solid(512, 384), QStringLiteral("v1"), 512);
    PhotoPreviewImageLoader::store(solid(256, 192), QStringLiteral("v1"), 256);
    ASSERT_TRUE(PhotoPreviewImageLoader::cachedImage(QStringLiteral("v1")).has_value());
    EXPECT_EQ(PhotoPreviewImageLoader::cachedImage(QStringLiteral("v1"))->width(), 512)
        << "the larger decode stays";
    EXPECT_TRUE(PhotoPreviewImageLoader::cachedImage(QStringLiteral("v1"), 512).has_value());
    EXPECT_FALSE(PhotoPreviewImageLoader::cachedImage(QStringLiteral("v1"), 513).has_value());
    PhotoPreviewImageLoader::store(solid(1024, 768), QStringLiteral("v1"), 1024);
    EXPECT_EQ(PhotoPreviewImageLoader::cachedImage(QStringLiteral("v1"))->width(), 1024)
        << "a larger one replaces it";
    PhotoPreviewImageLoader::store(QImage(), QStringLiteral("v2"), 4096);
    EXPECT_FALSE(PhotoPreviewImageLoader::cachedImage(QStringLiteral("v2")).has_value())
        << "no empty decodes";

    for (int i = 0; i < 12; ++i)
        PhotoPreviewImageLoader::store(solid(16, 16), QStringLiteral("n%1").arg(i), 256);
    EXPECT_FALSE(PhotoPreviewImageLoader::cachedImage(QStringLiteral("v1")).has_value())
        << "thirteenth evicts oldest";
    EXPECT_TRUE(PhotoPreviewImageLoader::cachedImage(QStringLiteral("n0")).has_value());

    PhotoPreviewImageLoader::store(solid(4096, 4096), QStringLiteral("big1"), 4096);
    PhotoPreviewImageLoader::store(solid(4096, 4096), QStringLiteral("big2"), 4096);
    EXPECT_FALSE(PhotoPreviewImageLoader::cachedImage(QStringLiteral("big1")).has_value())
        << "two 64 MiB decodes pass the 96 MiB bound";
    EXPECT_TRUE(PhotoPreviewImageLoader::cachedImage(QStringLiteral("big2")).has_value());
}

TEST(PhotoPreviewImageLoader, QuickImagesComeFromSeparateThumbnailFilesOnly) {
    const QString folder = test::makeFolder(QStringLiteral("quick"));
    const Photo photo = writtenPhoto(folder, QStringLiteral("q"), QSize(1600, 1200));
    test::saveImage(test::makeImage(1000, 750), photo.thumbnail);
    const auto quick = PhotoPreviewImageLoader::thumbnail(photo, PhotoPreviewImageLoader::version(photo));
    ASSERT_TRUE(quick.has_value());
    EXPECT_EQ(quick->size(), QSize(720, 540)) << "at most 720 pixels";

    const Photo own = writtenPhoto(folder, QStringLiteral("own"), QSize(64, 48), false);
    EXPECT_EQ(own.thumbnail, own.path);
    EXPECT_FALSE(PhotoPreviewImageLoader::thumbnail(own, PhotoPreviewImageLoader::version(own)).has_value());
}

TEST(PhotoPreviewImageLoader, RequestsSupersedeAndDropChangedFiles) {
    const QString folder = test::makeFolder(QStringLiteral("requests"));
    const Photo photo = writtenPhoto(folder, QStringLiteral("r"));
    const QString version = PhotoPreviewImageLoader::version(photo);

    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    std::atomic<int> decodes{0};
    PhotoPreviewImageLoader loader([&](const Photo&, int maxPixels) {
        ++decodes;
        gate.wait();
        return solid(maxPixels, maxPixels / 2);
    });
    std::vector<QString> results;
    loader.request(photo, version, 512, [&](const QImage&) { results.push_back(QStringLiteral("first")); });
    ASSERT_TRUE(spinUntil([&] { return decodes.load() == 1; }));
    QImage second;
    loader.request(photo, version, 640, [&](const QImage& image) {
        results.push_back(QStringLiteral("second"));
        second = image;
    });
    release.set_value();
    ASSERT_TRUE(spinUntil([&] { return !results.empty(); }));
    settle();
    EXPECT_EQ(results, std::vector<QString>{QStringLiteral("second")})
        << "the superseded request never completes";
    EXPECT_EQ(second.width(), 640);
    ASSERT_TRUE(PhotoPreviewImageLoader::cachedImage(version, 640).has_value()) << "a good decode is stored";

    bool synchronous = false;
    loader.request(photo, version, 600, [&](const QImage& image) { synchronous = image.width() == 640; });
    EXPECT_TRUE(synchronous) << "a large enough cached decode answers before request returns";

    // The file is rewritten while it decodes: the result is dropped and nothing is stored.
    const Photo changing = writtenPhoto(folder, QStringLiteral("c"));
    const QString before = PhotoPreviewImageLoader::version(changing);
    PhotoPreviewImageLoader rewriting([&](const Photo& p, int) {
        test::saveImage(test::makeImage(90, 90), p.path);
        return solid(32, 32);
    });
    std::optional<QImage> delivered;
    rewriting.request(changing, before, 512, [&](const QImage& image) { delivered = image; });
    ASSERT_TRUE(spinUntil([&] { return delivered.has_value(); }));
    EXPECT_TRUE(delivered->isNull()) << "the completion gets nothing";
    EXPECT_FALSE(PhotoPreviewImageLoader::cachedImage(before).has_value());

    bool called = false;
    PhotoPreviewImageLoader cancelled([](const Photo&, int) { return solid(8, 8); });
    cancelled.request(writtenPhoto(folder, QStringLiteral("x")), QStringLiteral("stale"), 256,
                      [&](const QImage&) { called = true; });
    cancelled.cancel();
    settle();
    EXPECT_FALSE(called) << "a cancelled request never completes";
}

TEST(PhotoPreviewImageLoader, PreloaderPlansThreeDistinctPhotosOnce) {
    const QString folder = test::makeFolder(QStringLiteral("preload"));
    QList<Photo> photos;
    for (int i = 0; i < 4; ++i)
        photos.push_back(writtenPhoto(folder, QStringLiteral("p%1").arg(i), QSize(400, 300)));
    QFile::remove(photos[1].path);
    QFile::remove(photos[1].thumbnail);

    std::mutex mutex;
    QStringList decoded;
    std::vector<int> sizes;
    PhotoPreviewPreloader preloader([&](const Photo& photo, int maxPixels) {
        std::lock_guard lock(mutex);
        decoded.push_back(photo.id);
        sizes.push_back(maxPixels);
        return PhotoPreviewImageLoader::decodeFile(photo.path, maxPixels);
    });
    const auto decodedCount = [&] {
        std::lock_guard lock(mutex);
        return decoded.size();
    };
    const QList<Photo> request{photos[0], photos[0], photos[1], photos[2], photos[3]};
    const QRectF screen(0, 0, 1440, 900);
    preloader.schedule(request, screen, 2, 0);
    preloader.schedule(request, screen, 2, 0);
    ASSERT_TRUE(spinUntil([&] { return decodedCount() == 2; }));
    settle();
    {
        std::lock_guard lock(mutex);
        EXPECT_EQ(decoded, (QStringList{photos[0].id, photos[2].id}))
            << "repeats dropped, at most three kept, the unreadable one skipped without stopping the rest";
        // 400 x 300 laid out as 912 x 684 points at scale 2: 1824 rounded up to 1920.
        EXPECT_EQ(sizes.front(), 1920);
    }
    EXPECT_TRUE(
        PhotoPreviewImageLoader::cachedImage(PhotoPreviewImageLoader::version(photos[0]), 1920).has_value());

    preloader.schedule(request, screen, 2, 0);
    settle();
    EXPECT_EQ(decodedCount(), 2) << "the same plan is not started again";

    PhotoPreviewImageLoader::clearCaches();
    preloader.cancel();
    EXPECT_TRUE(preloader.planKey().isEmpty());
    preloader.schedule(request, screen, 2, 0);
    ASSERT_TRUE(spinUntil([&] { return decodedCount() == 4; })) << "after a cancel the same plan runs again";

    preloader.schedule({photos[3]}, screen, 2, 5);
    preloader.cancel();
    settle();
    EXPECT_EQ(decodedCount(), 4) << "a cancelled plan never starts";
}

} // namespace
} // namespace vennimo
