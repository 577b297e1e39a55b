#include "rendering/GalleryThumbnailLoader.h"
#include "RenderingTestSupport.h"
#include "rendering/PolaroidRenderer.h"
#include "support/TestEnvironment.h"

#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <limits>

namespace vennimo {
namespace {

using namespace Qt::StringLiterals;
using Kind = GridThumbnailOutcome::Kind;

// The outcome of one load, whichever thread delivers it; `calls` is raised after `value` is set.
struct Outcome {
    std::optional<GridThumbnailOutcome> value;
    std::atomic<int> calls{0};

    GalleryThumbnailLoader::Completion completion() {
        return [this](const GridThumbnailOutcome& outcome) {
            value = outcome;
            ++calls;
        };
    }
    std::optional<Kind> wait() {
        return test::spinUntil([this] { return calls > 0; }) ? std::optional(value->kind) : std::nullopt;
    }
};

Photo photoWithThumbnail(const QString& folderName) {
    const QString folder = test::makeFolder(folderName);
    test::saveImage(test::makeImage(32, 24), folder + u"/image.png"_s);
    test::saveImage(test::makeImage(800, 600), folder + u"/thumb.jpg"_s);
    return test::photoFor(folder + u"/image.png"_s, folder + u"/thumb.jpg"_s);
}

TEST(GalleryThumbnailLoader, SizesKeysAndTheDefaultDecoder) {
    for (auto [scale, pixels] : {std::pair{2.0, 580},
                                 {0.5, 290},
                                 {1.25, 363},
                                 {std::numeric_limits<double>::quiet_NaN(), 290},
                                 {1e300, 16 * 290}})
        EXPECT_EQ(GalleryThumbnailLoader::pixelSize(scale), pixels) << scale;
    const Photo photo = photoWithThumbnail(u"keys"_s);
    EXPECT_EQ(GalleryThumbnailLoader::key(photo),
              PolaroidRenderer::imageKey(photo, QSizeF(290, 292), 1, u"grid") + u"-580"_s);

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
    later.id = u"2-2"_s;
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
    GalleryThumbnailLoader loader([&](const Photo&, int size) {
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
    EXPECT_EQ(queued.calls, 1);
}

TEST(GalleryThumbnailLoader, AThumbnailRewrittenDuringTheDecodeIsReportedChanged) {
    const Photo photo = photoWithThumbnail(u"changed"_s);
    GalleryThumbnailLoader loader([](const Photo& p, int size) {
        QImage image = GalleryThumbnailLoader::decodeThumbnail(p, size);
        test::saveImage(test::makeImage(123, 45), p.thumbnail);
        return image;
    });
    std::promise<std::optional<QImage>> done;
    loader.image(photo, 2, nullptr, [&](const std::optional<QImage>& image) { done.set_value(image); });
    auto future = done.get_future();
    ASSERT_EQ(future.wait_for(std::chrono::seconds(2)), std::future_status::ready);
    EXPECT_FALSE(future.get().has_value()) << "no image for a photo changed while decoding";
    EXPECT_FALSE(loader.cachedImage(photo).has_value()) << "and nothing cached";

    GalleryThumbnailLoader rewriting([](const Photo& p, int) {
        test::saveImage(test::makeImage(77, 33), p.thumbnail);
        return QImage();
    });
    Outcome outcome;
    rewriting.load(photo, 2, nullptr, outcome.completion());
    EXPECT_EQ(outcome.wait(), Kind::Changed) << "changed wins over failed";
}

TEST(GalleryThumbnailLoader, CacheEvictsByCountAndByBytes) {
    MemoryCache<QImage> byCount(3, 0);
    for (const char* key : {"0", "1", "2"})
        byCount.insert(QString::fromLatin1(key), QImage(), 1);
    ASSERT_TRUE(byCount.value(u"0"_s).has_value());
    byCount.insert(u"3"_s, QImage(), 1);
    EXPECT_TRUE(byCount.contains(u"0"_s)) << "a read refreshes an entry";
    EXPECT_FALSE(byCount.contains(u"1"_s)) << "the least recently used goes first";

    MemoryCache<QImage> byBytes(100, 1000);
    byBytes.insert(u"a"_s, QImage(), 400);
    byBytes.insert(u"b"_s, QImage(), 400);
    byBytes.insert(u"a"_s, QImage(), 500);
    byBytes.insert(u"c"_s, QImage(), 300);
    EXPECT_FALSE(byBytes.contains(u"b"_s));
    EXPECT_EQ(byBytes.totalCost(), 800) << "replacing an entry replaced its cost";
    byBytes.insert(u"huge"_s, QImage(), 5000);
    EXPECT_FALSE(byBytes.contains(u"huge"_s)) << "an entry over the whole limit is not kept";
    EXPECT_EQ(byBytes.totalCost(), 0) << "and pushes out everything older on its way";

    GalleryThumbnailLoader loader([](const Photo&, int) { return test::solid(2048, 2048); });
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

} // namespace
} // namespace vennimo
