#include "grid/GridThumbnailCell.h"

#include <QCoreApplication>
#include <QHash>
#include <QTest>
#include <gtest/gtest.h>

namespace vennimo::test {
namespace {

using Phase = GridThumbnailCell::Phase;
using Kind = GridThumbnailOutcome::Kind;

// A loader that holds each load until the test settles it, and a cache the test fills.
struct FakeLoader {
    QHash<QString, QImage> cache;
    QList<GalleryThumbnailLoader::Completion> pending;
    QList<std::shared_ptr<CancellationToken>> tokens;

    GridThumbnailCell::Source source() {
        return {[this](const Photo& photo, double scale) -> std::optional<QImage> {
                    const auto it = cache.constFind(GalleryThumbnailLoader::key(photo, scale));
                    return it == cache.constEnd() ? std::nullopt : std::optional<QImage>(*it);
                },
                [this](const Photo&, double, const std::shared_ptr<CancellationToken>& token,
                       GalleryThumbnailLoader::Completion completion) {
                    pending.append(std::move(completion));
                    tokens.append(token);
                }};
    }
    // Settles the oldest load and lets its result reach the cell.
    void settle(GridThumbnailOutcome outcome) {
        ASSERT_FALSE(pending.isEmpty());
        pending.takeFirst()(outcome);
        QCoreApplication::processEvents();
    }
};

Photo photo(const QString& path, double modified = 100) {
    Photo p;
    p.id = "VOL-" + path;
    p.path = path;
    p.modified = modified;
    p.thumbnail = path + ".thumb.jpg";
    return p;
}

QImage picture(QColor colour = Qt::red) {
    QImage image(40, 30, QImage::Format_ARGB32_Premultiplied);
    image.fill(colour);
    return image;
}

TEST(GridThumbnailCell, ACachedPictureShowsAtOnceAndLoadsNothing) {
    FakeLoader loader;
    const Photo p = photo("/p/a.jpg");
    loader.cache.insert(GalleryThumbnailLoader::key(p, 2), picture());
    GridThumbnailCell cell(p, 2, loader.source());
    EXPECT_EQ(cell.face().phase, Phase::loaded) << "before any task ran";
    EXPECT_FALSE(cell.face().image.isNull());
    cell.start();
    EXPECT_EQ(cell.loads(), 0);
    ASSERT_TRUE(cell.state().has_value());
    EXPECT_EQ(cell.state()->phase, Phase::loaded);

    // Another display scale is another key: the old picture no longer shows.
    cell.setPhoto(p, 1);
    EXPECT_EQ(cell.face().phase, Phase::loading);
    EXPECT_TRUE(cell.face().image.isNull());
}

TEST(GridThumbnailCell, AFileThatChangesDuringTheDecodeIsTriedExactlyOnceMore) {
    FakeLoader loader;
    GridThumbnailCell cell(photo("/p/b.jpg"), 2, loader.source());
    cell.setRetryDelay(std::chrono::milliseconds(30));
    cell.setReduceMotion([] { return true; });
    cell.start();
    EXPECT_EQ(cell.loads(), 1);
    EXPECT_EQ(cell.face().phase, Phase::loading);
    loader.settle(GridThumbnailOutcome::changed());
    EXPECT_EQ(cell.loads(), 1) << "the second load waits for the delay";
    ASSERT_TRUE(QTest::qWaitFor([&] { return cell.loads() == 2; }, 10000));
    loader.settle(GridThumbnailOutcome::changed());
    QTest::qWait(100);
    EXPECT_EQ(cell.loads(), 2) << "never a third load";
    EXPECT_EQ(cell.face().phase, Phase::loading) << "the cell stays blank";
    EXPECT_TRUE(cell.face().image.isNull());

    // A changed file that decodes on the second try shows its picture, at once under reduced motion.
    GridThumbnailCell second(photo("/p/c.jpg"), 2, loader.source());
    second.setRetryDelay(std::chrono::milliseconds(10));
    second.setReduceMotion([] { return true; });
    second.start();
    loader.settle(GridThumbnailOutcome::changed());
    ASSERT_TRUE(QTest::qWaitFor([&] { return second.loads() == 2; }, 10000));
    loader.settle(GridThumbnailOutcome::fromImage(picture(Qt::blue)));
    EXPECT_EQ(second.face().phase, Phase::loaded);
    EXPECT_EQ(second.face().opacity, 1);
    EXPECT_FALSE(second.fading());
}

TEST(GridThumbnailCell, FailuresCancelsAndStaleResults) {
    FakeLoader loader;
    GridThumbnailCell failing(photo("/p/d.heic"), 2, loader.source());
    failing.start();
    loader.settle(GridThumbnailOutcome::failed());
    EXPECT_EQ(failing.face().phase, Phase::failed);
    failing.start();
    EXPECT_EQ(failing.loads(), 1) << "a failed key is not loaded again";
    EXPECT_EQ(GridThumbnailCell::failureText(failing.photo()), QString::fromUtf8("HEIC · 用默认应用查看"));
    EXPECT_EQ(GridThumbnailCell::failureText(photo("/p/README")), QString::fromUtf8(" · 用默认应用查看"));

    // Scrolled away while loading: the load is cancelled and whatever comes back is dropped.
    GridThumbnailCell away(photo("/p/e.jpg"), 2, loader.source());
    away.start();
    ASSERT_EQ(loader.tokens.size(), 2);
    away.cancel();
    EXPECT_TRUE(loader.tokens.last()->isCancelled());
    loader.settle(GridThumbnailOutcome::fromImage(picture()));
    EXPECT_EQ(away.state()->phase, Phase::loading);

    // A result for an older key never lands on the newer one.
    GridThumbnailCell moved(photo("/p/f.jpg", 1), 2, loader.source());
    moved.start();
    moved.setPhoto(photo("/p/f.jpg", 2), 2);
    EXPECT_EQ(moved.loads(), 2) << "the new key starts its own load";
    loader.settle(GridThumbnailOutcome::fromImage(picture(Qt::green)));
    EXPECT_EQ(moved.face().phase, Phase::loading);
    loader.settle(GridThumbnailOutcome::fromImage(picture(Qt::blue)));
    EXPECT_EQ(moved.face().phase, Phase::loaded);
    EXPECT_EQ(moved.face().image.pixelColor(0, 0), QColor(Qt::blue));
    EXPECT_TRUE(moved.fading()) << "with motion on, a loaded picture fades in";
}

} // namespace
} // namespace vennimo::test
