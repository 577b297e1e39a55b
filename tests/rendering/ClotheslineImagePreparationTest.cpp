#include "rendering/ClotheslineImagePreparation.h"
#include "RenderingTestSupport.h"
#include "rendering/PolaroidRenderer.h"
#include "support/TestEnvironment.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QThread>
#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace vennimo {
namespace {

bool spinUntil(const std::function<bool()>& condition) {
    QElapsedTimer timer;
    timer.start();
    while (!condition() && timer.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return condition();
}

void settle() {
    for (int i = 0; i < 20; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

std::vector<Photo> photos(int count, const QString& folderName) {
    const QString folder = test::makeFolder(folderName);
    std::vector<Photo> result;
    for (int i = 0; i < count; ++i) {
        Photo photo =
            test::photoFor(folder + QStringLiteral("/p%1.png").arg(i), {}, QStringLiteral("3-%1").arg(i));
        test::saveImage(test::makeImage(48, 36), photo.path);
        photo.size = QFileInfo(photo.path).size();
        result.push_back(photo);
    }
    return result;
}

QImage marker() {
    QImage image(4, 4, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::red);
    return image;
}

TEST(ClotheslineImagePreparation, BoundsOutstandingWorkAndDelivers) {
    const auto all = photos(6, QStringLiteral("bounded"));
    std::promise<void> release;
    std::shared_future<void> gate = release.get_future().share();
    std::atomic<int> renders{0};
    ClotheslineImagePreparation preparation([&](const Photo&, double) {
        ++renders;
        gate.wait();
        return marker();
    });
    int delivered = 0;
    bool allImages = true;
    const auto done = [&](const QImage& image) {
        ++delivered;
        allImages = allImages && !image.isNull();
    };
    for (int i = 0; i < 4; ++i)
        EXPECT_TRUE(preparation.request(all[i], 2, done)) << i;
    EXPECT_FALSE(preparation.request(all[4], 2, done)) << "a fifth request while four are pending";
    EXPECT_EQ(preparation.pending().size(), 4);
    EXPECT_TRUE(preparation.pending().contains(
        PolaroidRenderer::imageKey(all[0], PolaroidRenderer::defaultSize, 2, PolaroidRenderer::kPaper)))
        << "pending keys are the renderer's paper keys";
    release.set_value();
    ASSERT_TRUE(spinUntil([&] { return delivered == 4; }));
    EXPECT_TRUE(allImages);
    EXPECT_TRUE(preparation.pending().isEmpty());
    EXPECT_LE(renders.load(), 4) << "nothing was queued for the refused request";

    EXPECT_TRUE(preparation.request(all[0], 2, done)) << "after delivery the same photo can be asked again";
    EXPECT_FALSE(preparation.request(all[0], 2, done)) << "but not twice at once";
    EXPECT_TRUE(preparation.request(all[0], 3, done)) << "another scale is another key";
    ASSERT_TRUE(spinUntil([&] { return delivered == 6; }));
}

TEST(ClotheslineImagePreparation, CancelDropsResultsEvenWhenTheRenderFinished) {
    const auto all = photos(2, QStringLiteral("cancel"));
    std::atomic<int> finished{0};
    ClotheslineImagePreparation preparation([&](const Photo&, double) {
        ++finished;
        return marker();
    });
    bool called = false;
    ASSERT_TRUE(preparation.request(all[0], 2, [&](const QImage&) { called = true; }));
    // Waits without running the event loop, so the finished render's delivery stays queued.
    QElapsedTimer timer;
    timer.start();
    while (finished.load() == 0 && timer.elapsed() < 2000)
        QThread::msleep(1);
    ASSERT_EQ(finished.load(), 1);
    QThread::msleep(20);
    const auto generation = preparation.generation();
    preparation.cancel();
    EXPECT_EQ(preparation.generation(), generation + 1);
    EXPECT_TRUE(preparation.pending().isEmpty());
    settle();
    EXPECT_FALSE(called) << "the finished render met a newer generation";

    bool later = false;
    ASSERT_TRUE(preparation.request(all[0], 2, [&](const QImage&) { later = true; }));
    ASSERT_TRUE(spinUntil([&] { return later; }));

    // A preparer that goes away delivers nothing.
    bool orphan = false;
    {
        ClotheslineImagePreparation shortLived([](const Photo&, double) { return marker(); });
        shortLived.request(all[1], 2, [&](const QImage&) { orphan = true; });
    }
    settle();
    EXPECT_FALSE(orphan);
}

TEST(ClotheslineImagePreparation, ChangedFilesGiveNothingAndTheDefaultRenderStoresNothing) {
    const auto all = photos(2, QStringLiteral("changed"));
    ClotheslineImagePreparation rewriting([](const Photo& photo, double) {
        test::saveImage(test::makeImage(90, 90), photo.path);
        return marker();
    });
    std::optional<QImage> result;
    ASSERT_TRUE(rewriting.request(all[0], 2, [&](const QImage& image) { result = image; }));
    ASSERT_TRUE(spinUntil([&] { return result.has_value(); }));
    EXPECT_TRUE(result->isNull()) << "the file was replaced between the two version readings";

    ClotheslineImagePreparation real;
    std::optional<QImage> paper;
    ASSERT_TRUE(real.request(all[1], 2, [&](const QImage& image) { paper = image; }));
    ASSERT_TRUE(spinUntil([&] { return paper.has_value(); }));
    ASSERT_FALSE(paper->isNull());
    EXPECT_EQ(paper->size(), QSize(580, 584));
    EXPECT_FALSE(
        PolaroidRenderer::cachedImage(all[1], PolaroidRenderer::defaultSize, 2, PolaroidRenderer::kPaper))
        << "the canvas stores it, not the preparer";
    PolaroidRenderer::storePrepared(*paper, all[1], 2);
    EXPECT_TRUE(
        PolaroidRenderer::cachedImage(all[1], PolaroidRenderer::defaultSize, 2, PolaroidRenderer::kPaper));
}

} // namespace
} // namespace vennimo
