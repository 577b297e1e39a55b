#include "rendering/ClotheslineImagePreparation.h"
#include "RenderingTestSupport.h"
#include "rendering/PolaroidRenderer.h"
#include "support/TestEnvironment.h"

#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace vennimo {
namespace {

using namespace Qt::StringLiterals;

std::vector<Photo> photos(int count, const QString& folderName) {
    const QString folder = test::makeFolder(folderName);
    std::vector<Photo> result;
    for (int i = 0; i < count; ++i) {
        const QString path = folder + u"/p%1.png"_s.arg(i);
        test::saveImage(test::makeImage(48, 36), path);
        result.push_back(test::photoFor(path, {}, u"3-%1"_s.arg(i)));
    }
    return result;
}

TEST(ClotheslineImagePreparation, BoundsOutstandingWorkAndDelivers) {
    const auto all = photos(5, u"bounded"_s);
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    std::atomic<int> renders{0};
    ClotheslineImagePreparation preparation([&](const Photo&, double) {
        ++renders;
        gate.wait();
        return test::solid(4, 4);
    });
    int delivered = 0, empty = 0;
    const auto done = [&](const QImage& image) {
        ++delivered;
        empty += image.isNull();
    };
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(preparation.request(all[i], 2, done)) << i;
    EXPECT_FALSE(preparation.request(all[4], 2, done)) << "a fifth request while four are pending";
    EXPECT_EQ(preparation.pending().size(), 4);
    EXPECT_TRUE(preparation.pending().contains(
        PolaroidRenderer::imageKey(all[0], PolaroidRenderer::defaultSize, 2, PolaroidRenderer::kPaper)))
        << "pending keys are the renderer's paper keys";
    release.set_value();
    ASSERT_TRUE(test::spinUntil([&] { return delivered == 4; }));
    EXPECT_EQ(empty, 0);
    EXPECT_TRUE(preparation.pending().isEmpty());
    EXPECT_LE(renders.load(), 4) << "nothing was queued for the refused request";

    EXPECT_TRUE(preparation.request(all[0], 2, done)) << "after delivery the same photo can be asked again";
    EXPECT_FALSE(preparation.request(all[0], 2, done)) << "but not twice at once";
    EXPECT_TRUE(preparation.request(all[0], 3, done)) << "another scale is another key";
    ASSERT_TRUE(test::spinUntil([&] { return delivered == 6; }));
}

TEST(ClotheslineImagePreparation, CancelDropsResultsEvenWhenTheRenderFinished) {
    const auto all = photos(2, u"cancel"_s);
    std::atomic<int> finished{0};
    ClotheslineImagePreparation preparation([&](const Photo&, double) {
        ++finished;
        return test::solid(4, 4);
    });
    bool called = false;
    ASSERT_TRUE(preparation.request(all[0], 2, [&](const QImage&) { called = true; }));
    // Waits without the event loop, so the finished render's delivery stays queued.
    QElapsedTimer timer;
    timer.start();
    while (finished.load() == 0 && timer.elapsed() < 2000)
        QThread::msleep(1);
    ASSERT_EQ(finished.load(), 1);
    QThread::msleep(20);
    preparation.cancel();
    EXPECT_TRUE(preparation.pending().isEmpty());
    test::settle();
    EXPECT_FALSE(called) << "the finished render met a newer generation";
    ASSERT_TRUE(preparation.request(all[0], 2, [&](const QImage&) { called = true; }));
    ASSERT_TRUE(test::spinUntil([&] { return called; })) << "requests after a cancel still deliver";

    bool orphan = false;
    {
        ClotheslineImagePreparation shortLived([](const Photo&, double) { return test::solid(4, 4); });
        shortLived.request(all[1], 2, [&](const QImage&) { orphan = true; });
    }
    test::settle();
    EXPECT_FALSE(orphan) << "a preparer that goes away delivers nothing";
}

TEST(ClotheslineImagePreparation, ChangedFilesGiveNothingAndTheDefaultRenderStoresNothing) {
    const auto all = photos(2, u"changed"_s);
    ClotheslineImagePreparation rewriting([](const Photo& photo, double) {
        test::saveImage(test::makeImage(90, 90), photo.path);
        return test::solid(4, 4);
    });
    std::optional<QImage> result;
    ASSERT_TRUE(rewriting.request(all[0], 2, [&](const QImage& image) { result = image; }));
    ASSERT_TRUE(test::spinUntil([&] { return result.has_value(); }));
    EXPECT_TRUE(result->isNull()) << "the file was replaced between the two version readings";

    ClotheslineImagePreparation real;
    std::optional<QImage> paper;
    ASSERT_TRUE(real.request(all[1], 2, [&](const QImage& image) { paper = image; }));
    ASSERT_TRUE(test::spinUntil([&] { return paper.has_value(); }));
    EXPECT_EQ(paper->size(), QSize(580, 584));
    EXPECT_FALSE(
        PolaroidRenderer::cachedImage(all[1], PolaroidRenderer::defaultSize, 2, PolaroidRenderer::kPaper))
        << "the canvas stores it, not the preparer";
}

} // namespace
} // namespace vennimo
