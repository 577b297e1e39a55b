#include "rendering/GalleryThumbnailLoader.h"
#include "RenderingTestSupport.h"
#include "rendering/PolaroidRenderer.h"
#include "support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <mutex>

namespace vennimo {
namespace {

using Kind = GridThumbnailOutcome::Kind;

// Collects the outcome of one load, whichever thread delivers it.
struct Outcome {
    std::mutex mutex;
    std::optional<GridThumbnailOutcome> value;
    int calls = 0;

    GalleryThumbnailLoader::Completion completion() {
        return [this](const GridThumbnailOutcome& outcome) {
            std::lock_guard lock(mutex);
            value = outcome;
            ++calls;
        };
    }
    std::optional<GridThumbnailOutcome> wait() {
        QElapsedTimer timer;
        timer.start();
        while (timer.elapsed() < 2000) {
            {
                std::lock_guard lock(mutex);
                if (value)
                    return value;
            }
            QThread::msleep(2);
        }
        return std::nullopt;
    }
};

Photo photoWithThumbnail(const QString& folderName, QSize size = QSize(800, 600)) {
    const QString folder = test::makeFolder(folderName);
    const QString path = folder + QStringLiteral("/image.png");
    const QString thumbnail = folder + QStringLiteral("/thumb.jpg");
    test::saveImage(test::makeImage(32, 24), path);
    test::saveImage(test::makeImage(size.width(), size.height()), thumbnail);
    return test::photoFor(path, thumbnail);
}

TEST(GalleryThumbnailLoader, KeysSizesAndTheDefaultDecoder) {
    const Photo photo = photoWithThumbnail(QStringLiteral("keys"));
    EXPECT_EQ(GalleryThumbnailLoader::pixelSize(2), 580);
    EXPECT_EQ(GalleryThumbnailLoader::pixelSize(0.5), 290) << "scale raised to 1";
    EXPECT_EQ(GalleryThumbnailLoader::pixelSize(1.25), 363) << "rounded up";
    EXPECT_EQ(GalleryThumbnailLoader::key(photo),
              PolaroidRenderer::imageKey(photo, QSizeF(290, 292), 1, u"grid") + QStringLiteral("-580"));

    GalleryThumbnailLoader loader;
    Outcome outcome;
    loader.load(photo, 0.5, nullptr, outcome.completion());
    const auto result = outcome.wait();
    ASSERT_TRUE(result.has_value());
    ASSERT_EQ(result->kind, Kind::Image);
    EXPECT_EQ(result->image.width(), 290) << "the thumbnail file at the cell's pixel size";
    ASSERT_TRUE(loader.cachedImage(photo, 1).has_value());

    Outcome hit;
    loader.load(photo, 1, nullptr, hit.completion());
    ASSERT_TRUE(hit.value.has_value()) << "a cache hit answers at once";
    EXPECT_EQ(hit.value->image.cacheKey(), result->image.cacheKey());

    Photo noThumbnail = photo;
    noThumbnail.thumbnail = photo.path + QStringLiteral("-later.jpg");
    noThumbnail.id = QStringLiteral("2-2");
    Outcome failed;
    loader.load(noThumbnail, 2, nullptr, failed.completion());
    ASSERT_TRUE(failed.wait().has_value());
    EXPECT_EQ(failed.value->kind, Kind::Failed) << "the image file itself is never read";
    EXPECT_FALSE(loader.cachedImage(noThumbnail).has_value());
    test::saveImage(test::makeImage(100, 100), noThumbnail.thumbnail);
    Outcome retried;
    loader.load(noThumbnail, 2, nullptr, retried.completion());
    ASSERT_TRUE(retried.wait().has_value());
    EXPECT_EQ(retried.value->kind, Kind::Image) << "a failure is not cached";
}

TEST(GalleryThumbnailLoader, CancellationBeforeDuringAndAfterTheDecode) {
    const Photo photo = photoWithThumbnail(QStringLiteral("cancel"));
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    std::atomic<int> decodes{0};
    GalleryThumbnailLoader loader([&](const Photo&, int size) {
        ++decodes;
        gate.wait();
        QImage image(size, size, QImage::Format_RGB32);
        image.fill(Qt::gray);
        return image;
    });

    auto early = CancellationToken::make();
    early->cancel();
    Outcome before;
    loader.load(photo, 2, early, before.completion());
    ASSERT_TRUE(before.value.has_value());
    EXPECT_EQ(before.value->kind, Kind::Cancelled) << "an already-cancelled task";
    EXPECT_EQ(decodes.load(), 0);

    // Two decodes occupy both workers; a third load waits in the queue and is cancelled there.
    Photo second = photo;
    second.id = QStringLiteral("9-2");
    Photo third = photo;
    third.id = QStringLiteral("9-3");
    Outcome running1, running2, queued;
    auto keep = CancellationToken::make();
    loader.load(photo, 2, keep, running1.completion());
    loader.load(second, 2, nullptr, running2.completion());
    QElapsedTimer timer;
    timer.start();
    while (decodes.load() < 2 && timer.elapsed() < 2000)
        QThread::msleep(1);
    ASSERT_EQ(decodes.load(), 2);
    auto waiting = CancellationToken::make();
    loader.load(third, 2, waiting, queued.completion());
    waiting->cancel();
    ASSERT_TRUE(queued.value.has_value()) << "cancelling settles the load at once";
    EXPECT_EQ(queued.value->kind, Kind::Cancelled);

    release.set_value();
    ASSERT_TRUE(running1.wait().has_value());
    ASSERT_TRUE(running2.wait().has_value());
    EXPECT_EQ(running1.value->kind, Kind::Image);
    keep->cancel();
    QThread::msleep(20);
    EXPECT_EQ(running1.calls, 1) << "a cancel after the decode changes nothing";
    EXPECT_EQ(running1.value->kind, Kind::Image);
    EXPECT_EQ(decodes.load(), 2) << "the cancelled queued decode never ran";
    EXPECT_EQ(queued.calls, 1);
}

TEST(GalleryThumbnailLoader, AThumbnailRewrittenDuringTheDecodeIsReportedChanged) {
    const Photo photo = photoWithThumbnail(QStringLiteral("changed"));
    GalleryThumbnailLoader loader([](const Photo& p, int size) {
        QImage image = GalleryThumbnailLoader::decodeThumbnail(p, size);
        test::saveImage(test::makeImage(123, 45), p.thumbnail);
        return image;
    });
    std::promise<std::optional<QImage>> done;
    loader.image(photo, 2, nullptr, [&](const std::optional<QImage>& image) { done.set_value(image); });
    auto future = done.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_FALSE(future.get().has_value()) << "image(for:) gives nothing for a changed photo";
    EXPECT_FALSE(loader.cachedImage(photo).has_value()) << "and nothing is cached";

    Outcome outcome;
    GalleryThumbnailLoader rewriting([](const Photo& p, int) {
        test::saveImage(test::makeImage(77, 33), p.thumbnail);
        return QImage();
    });
    rewriting.load(photo, 2, nullptr, outcome.completion());
    ASSERT_TRUE(outcome.wait().has_value());
    EXPECT_EQ(outcome.value->kind, Kind::Changed) << "changed wins over failed";
}

TEST(GalleryThumbnailLoader, CacheEvictsByCountAndByBytes) {
    MemoryCache<QImage> byCount(3, 0);
    for (int i = 0; i < 4; ++i)
        byCount.insert(QString::number(i), QImage(), 1);
    EXPECT_EQ(byCount.count(), 3);
    EXPECT_FALSE(byCount.contains(QStringLiteral("0"))) << "least recently used first";
    ASSERT_TRUE(byCount.value(QStringLiteral("1")).has_value());
    byCount.insert(QStringLiteral("4"), QImage(), 1);
    EXPECT_TRUE(byCount.contains(QStringLiteral("1"))) << "a read refreshes an entry";
    EXPECT_FALSE(byCount.contains(QStringLiteral("2")));

    MemoryCache<QImage> byBytes(100, 1000);
    byBytes.insert(QStringLiteral("a"), QImage(), 400);
    byBytes.insert(QStringLiteral("b"), QImage(), 400);
    byBytes.insert(QStringLiteral("a"), QImage(), 500);
    EXPECT_EQ(byBytes.totalCost(), 900) << "replacing an entry replaces its cost";
    byBytes.insert(QStringLiteral("c"), QImage(), 300);
    EXPECT_FALSE(byBytes.contains(QStringLiteral("b")));
    EXPECT_EQ(byBytes.totalCost(), 800);
    byBytes.insert(QStringLiteral("huge"), QImage(), 5000);
    EXPECT_FALSE(byBytes.contains(QStringLiteral("huge"))) << "an entry over the whole limit is not kept";
    EXPECT_EQ(byBytes.totalCost(), 0) << "and pushes out everything older on its way";

    const Photo photo = photoWithThumbnail(QStringLiteral("bytes"), QSize(600, 600));
    GalleryThumbnailLoader loader([](const Photo&, int) {
        QImage image(2048, 2048, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::gray);
        return image;
    });
    std::vector<Photo> photos;
    for (int i = 0; i < 5; ++i) {
        Photo p = photo;
        p.id = QStringLiteral("5-%1").arg(i);
        Outcome outcome;
        loader.load(p, 2, nullptr, outcome.completion());
        ASSERT_TRUE(outcome.wait().has_value());
        photos.push_back(p);
    }
    EXPECT_FALSE(loader.cachedImage(photos[0]).has_value()) << "five 16 MiB thumbnails pass 64 MiB";
    EXPECT_TRUE(loader.cachedImage(photos[4]).has_value());
}

} // namespace
} // namespace vennimo
