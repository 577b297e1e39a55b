#include "canvas/ClotheslineCanvas.h"
#include "canvas/ClotheslineCanvasView.h"
#include "canvas/ClotheslineScrollView.h"
#include "canvas/RopeFixture.h"
#include "model/GalleryModel.h"
#include "platform/ReduceMotion.h"
#include "platform/UserDefaults.h"
#include "platform/WorkQueue.h"
#include "rendering/ImageReading.h"
#include "rendering/PhotoDimensions.h"
#include "support/TestEnvironment.h"
#include "support/TestImages.h"

#include <QPainter>
#include <QScopeGuard>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <map>
#include <thread>

using namespace vennimo;
using namespace vennimo::test;

namespace {

void setStyle(bool offCenter, bool strictlyVertical) {
    UserDefaults::standard().setClotheslineOffCenterPeg(offCenter);
    UserDefaults::standard().setClotheslineStrictVertical(strictlyVertical);
}

void setLayerRendering(bool on) {
    ASSERT_TRUE(UserDefaults::standard().setBool(UserDefaults::kClotheslineLayerRenderingKey, on));
}

QImage paint(ClotheslineCanvasView& canvas) {
    QImage image(canvas.size() * 2, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    image.setDevicePixelRatio(2);
    QPainter painter(&image);
    canvas.drawContent(painter, QRegion(canvas.rect()));
    return image;
}

int alphaAt(const QImage& image, QPointF point) {
    return qAlpha(image.pixel((point * 2).toPoint()));
}

Qt::CursorShape cursorAt(ClotheslineCanvasView& canvas, QPointF point) {
    canvas.updateCursor(point);
    return canvas.cursor().shape();
}

class ClotheslineCanvasSceneTest : public testing::Test {
protected:
    void SetUp() override {
        ReduceMotion::setReader([] { return std::optional<bool>(false); });
        setStyle(false, false);
    }
    void TearDown() override {
        ReduceMotion::setReader({});
        UserDefaults::standard().remove(UserDefaults::kClotheslineLayerRenderingKey);
        setStyle(false, false);
    }
};

} // namespace

TEST_F(ClotheslineCanvasSceneTest, TheCursorNamesWhatAPressWouldDoThere) {
    Rope rope(1);
    // At the left end, where the rope falls away under the print's paper.
    rope.place({{0, 0.0}});
    rope.show();
    ASSERT_TRUE(rope.waitForRest());
    ClotheslineCanvasView& canvas = rope.canvas();
    const Photo photo = canvas.photos().first();
    const QRectF frame = *canvas.printFrame(photo);
    const PolaroidGeometry g = canvas.geometry(photo);
    const ClotheslineRopeGeometry line = canvas.ropeGeometry();

    const QPointF knot = line.knotRects().back().center();
    const QPointF ropeOnly = line.pointAlong(0.9);
    const QPointF peg = frame.topLeft() + g.pegPath.boundingRect().center();
    const QPointF paper = frame.topLeft() + g.paperPath.boundingRect().center();
    const QPointF empty(canvas.width() / 2.0, canvas.height() - 4);
    ASSERT_TRUE(canvas.pegContains(photo, peg));
    ASSERT_FALSE(canvas.photo(ropeOnly));
    // Where the print lies over the rope's stroke, the print decides.
    std::optional<QPointF> paperOverRope;
    for (double t = 0; t <= 1 && !paperOverRope; t += 0.002)
        for (double dy = -7; dy <= 7 && !paperOverRope; dy += 1) {
            const QPointF p = line.pointAlong(t) + QPointF(0, dy);
            if (canvas.ropeStrokeContains(p) && canvas.photo(p) && !canvas.pegContains(photo, p))
                paperOverRope = p;
        }
    ASSERT_TRUE(paperOverRope);

    EXPECT_EQ(cursorAt(canvas, knot), Qt::SizeHorCursor);
    EXPECT_EQ(cursorAt(canvas, ropeOnly), Qt::OpenHandCursor);
    EXPECT_EQ(cursorAt(canvas, peg), Qt::OpenHandCursor);
    EXPECT_EQ(cursorAt(canvas, paper), Qt::DragCopyCursor);
    EXPECT_EQ(cursorAt(canvas, *paperOverRope), Qt::DragCopyCursor);
    EXPECT_EQ(cursorAt(canvas, empty), Qt::ArrowCursor);

    // While the model deletes, prints take nothing; the rope still moves and resizes the window.
    rope.model->setDeleting(true);
    EXPECT_EQ(cursorAt(canvas, paper), Qt::ArrowCursor);
    EXPECT_EQ(cursorAt(canvas, peg), Qt::ArrowCursor);
    EXPECT_EQ(cursorAt(canvas, ropeOnly), Qt::OpenHandCursor);
    EXPECT_EQ(cursorAt(canvas, knot), Qt::SizeHorCursor);
    rope.model->setDeleting(false);

    // While the preview is open, nothing on the rope takes the pointer.
    const QSizeF viewport = rope.host->scrollView()->contentSize();
    canvas.refresh(rope.model.get(), viewport, true, HangingStyle::current(), {}, {});
    for (const QPointF point : {knot, ropeOnly, peg, paper})
        EXPECT_EQ(cursorAt(canvas, point), Qt::ArrowCursor) << point.x() << "," << point.y();
    canvas.refresh(rope.model.get(), viewport, false, HangingStyle::current(), {}, {});
    EXPECT_EQ(cursorAt(canvas, paper), Qt::DragCopyCursor);
}

TEST_F(ClotheslineCanvasSceneTest, WithoutLayersTheCanvasPaintsThePrintsItselfAndSkipsThoseOutOfView) {
    setLayerRendering(false);
    Rope rope(2);
    rope.place({{0, 0.25}, {1, 0.7}});
    rope.model->setSelection({rope.model->photos().at(0)}); // one selection badge, one arrival tag
    rope.show();
    ASSERT_TRUE(rope.waitForRest());
    ClotheslineCanvasView& canvas = rope.canvas();
    EXPECT_FALSE(canvas.layersInstalled());
    EXPECT_TRUE(canvas.photoSlots().isEmpty());
    paint(canvas); // asks for the papers
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return std::all_of(canvas.photos().cbegin(), canvas.photos().cend(), [&](const Photo& photo) {
            return PolaroidRenderer::cachedImage(photo, ClotheslineCanvasView::kPhotoSize,
                                                 canvas.paperScale(), PolaroidRenderer::kPaper)
                .has_value();
        });
    }));
    const QImage software = paint(canvas);

    // The same rope with layers looks the same.
    setLayerRendering(true);
    rope.window->hide();
    rope.window->show();
    ASSERT_TRUE(canvas.layersInstalled());
    ASSERT_TRUE(rope.waitForRest());
    ASSERT_TRUE(QTest::qWaitFor([&] {
        const auto& slots = canvas.photoSlots();
        return slots.size() == 2 && std::all_of(slots.begin(), slots.end(),
                                                [](const auto& s) { return !s.coveredRect().isEmpty(); });
    }));
    const QImage layered = paint(canvas);
    // A missing print, peg or badge would differ over thousands of pixels; the rope may move a
    // hair between the two settled states.
    EXPECT_LT(imageDifference(software, layered).pixels, 100);

    // A short view scrolls the canvas; a print stays in view until it lies more than 16 points
    // beyond the visible part.
    const Photo first = canvas.photos().at(0);
    rope.host->scrollView()->setGeometry(0, kCanvasTop, kWindowSize.width(), 60);
    rope.settleUpdates();
    ASSERT_TRUE(rope.waitForRest());
    const QRectF frame = *canvas.printFrame(first);
    const QPointF paperCentre = frame.topLeft() + canvas.geometry(first).paperPath.boundingRect().center();
    QScrollBar* bar = rope.host->scrollView()->verticalScrollBar();
    const int near = int(std::floor(frame.bottom())) + 15;
    const int beyond = int(std::ceil(frame.bottom())) + 17;
    ASSERT_LE(beyond, bar->maximum());
    ASSERT_LT(paperCentre.y(), near) << "the checked point lies outside the visible part";

    bar->setValue(near);
    canvas.syncPhotoLayers();
    EXPECT_FALSE(canvas.photoSlots().value(first.id).hidden());
    bar->setValue(beyond);
    canvas.syncPhotoLayers();
    EXPECT_TRUE(canvas.photoSlots().value(first.id).hidden());

    setLayerRendering(false);
    rope.window->hide();
    rope.window->show();
    ASSERT_FALSE(canvas.layersInstalled());
    bar->setValue(near);
    paint(canvas);
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return PolaroidRenderer::cachedImage(first, ClotheslineCanvasView::kPhotoSize, canvas.paperScale(),
                                             PolaroidRenderer::kPaper)
            .has_value();
    }));
    EXPECT_EQ(alphaAt(paint(canvas), paperCentre), 255) << "in view: drawn";
    bar->setValue(beyond);
    EXPECT_EQ(alphaAt(paint(canvas), paperCentre), 0) << "out of view: skipped";
}

TEST_F(ClotheslineCanvasSceneTest, ARefreshSwingsNewAndMovedPrintsAndAStyleSwitchKeepsTheirMotion) {
    Rope rope(3);
    // Not shown yet: no frame steps the swings, so they are as the refresh made them.
    rope.place({{0, 0.2}, {1, 0.5}, {2, 0.8}});
    ClotheslineCanvasView& canvas = rope.canvas();
    const auto poseOf = [&](const HangingStyle& style, const Photo& photo) {
        return style.pose(photo.recordKey(), canvas.photoLayout(photo).imageSize);
    };
    const auto refresh = [&] {
        canvas.refresh(rope.model.get(), rope.host->scrollView()->contentSize(), false,
                       HangingStyle::current(), {}, {});
    };
    const HangingStyle centred{false, false};
    ASSERT_EQ(canvas.pendulums().size(), 3u);
    for (const Photo& photo : canvas.photos()) {
        const PhotoPendulum& p = canvas.pendulums().at(photo.id);
        const HangingStyle::Pose pose = poseOf(centred, photo);
        EXPECT_DOUBLE_EQ(p.angle, pose.angle + (pose.angle >= 0 ? 3.2 : -3.2)) << "swings in from beyond";
        EXPECT_EQ(p.velocity, 0);
        EXPECT_EQ(p.offset, pose.offset);
        EXPECT_EQ(p.targetAngle, pose.angle);
        EXPECT_EQ(p.targetOffset, pose.offset);
        EXPECT_EQ(p.damping, 8);
        EXPECT_EQ(p.stiffness, 95);
    }

    rope.show();
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return canvas.physicsFrameCount() >= 2 && canvas.pendulums().size() == 3 &&
               std::all_of(canvas.pendulums().cbegin(), canvas.pendulums().cend(),
                           [](const auto& entry) { return entry.second.velocity != 0; });
    }));
    // Moving one print while all swing: only it starts again; the others keep their motion.
    const Photo moved = canvas.photos().at(1);
    std::map<QString, PhotoPendulum> before = canvas.pendulums();
    ASSERT_TRUE(rope.model->clotheslinePlacements().setPositions({{moved, 0, 0.6}}).ok());
    refresh();
    for (const Photo& photo : canvas.photos()) {
        const PhotoPendulum& now = canvas.pendulums().at(photo.id);
        if (photo.id != moved.id) {
            EXPECT_EQ(now, before.at(photo.id));
            continue;
        }
        const HangingStyle::Pose pose = poseOf(centred, photo);
        EXPECT_DOUBLE_EQ(now.angle, pose.angle + (pose.angle >= 0 ? 3.2 : -3.2));
        EXPECT_EQ(now.velocity, 0);
    }

    // A new style keeps each swing's state and pulls it to the new pose with the new springs.
    before = canvas.pendulums();
    setStyle(true, false);
    const HangingStyle offCenter{true, false};
    refresh();
    for (const Photo& photo : canvas.photos()) {
        const PhotoPendulum& was = before.at(photo.id);
        const PhotoPendulum& now = canvas.pendulums().at(photo.id);
        EXPECT_EQ(now.angle, was.angle);
        EXPECT_EQ(now.velocity, was.velocity);
        EXPECT_EQ(now.offset, was.offset);
        EXPECT_EQ(now.offsetVelocity, was.offsetVelocity);
        EXPECT_EQ(now.targetAngle, poseOf(offCenter, photo).angle);
        EXPECT_EQ(now.targetOffset, poseOf(offCenter, photo).offset);
        EXPECT_EQ(now.damping, 6.5);
        EXPECT_EQ(now.stiffness, 75);
    }

    // Prints at rest swing from their old pose to the new one; the strictly vertical style has
    // its own springs.
    ASSERT_TRUE(rope.waitForRest());
    ASSERT_TRUE(canvas.pendulums().empty());
    setStyle(false, true);
    const HangingStyle vertical{false, true};
    refresh();
    ASSERT_EQ(canvas.pendulums().size(), 3u);
    for (const Photo& photo : canvas.photos()) {
        const PhotoPendulum& now = canvas.pendulums().at(photo.id);
        EXPECT_EQ(now.angle, poseOf(offCenter, photo).angle);
        EXPECT_EQ(now.offset, poseOf(offCenter, photo).offset);
        EXPECT_EQ(now.velocity, 0);
        EXPECT_EQ(now.targetAngle, poseOf(vertical, photo).angle);
        EXPECT_EQ(now.damping, 22);
        EXPECT_EQ(now.stiffness, 120);
    }

    // In the strictly vertical style a moved print gets no kick; prints at rest stay at rest.
    ASSERT_TRUE(rope.waitForRest());
    const Photo again = canvas.photos().at(0);
    ASSERT_TRUE(rope.model->clotheslinePlacements().setPositions({{again, 0, 0.35}}).ok());
    refresh();
    ASSERT_EQ(canvas.pendulums().size(), 1u);
    const PhotoPendulum& kicked = canvas.pendulums().at(again.id);
    EXPECT_EQ(kicked.angle, poseOf(vertical, again).angle);
    EXPECT_EQ(kicked.velocity, 0);
}

TEST_F(ClotheslineCanvasSceneTest, ArrivalsAndTheKeyboardSelectionAreScrolledIntoView) {
    Rope rope(2);
    rope.place({{0, 0.2}, {1, 0.7}});
    rope.host->scrollView()->setGeometry(0, kCanvasTop, kWindowSize.width(), 120);
    rope.show();
    ASSERT_TRUE(rope.waitForRest());
    ClotheslineCanvasView& canvas = rope.canvas();
    QScrollBar* bar = rope.host->scrollView()->verticalScrollBar();
    ASSERT_GT(bar->maximum(), 200);
    const auto revealed = [&](const Photo& photo) {
        const QRectF frame = *canvas.printFrame(photo);
        return bar->value() <= std::max(0.0, std::ceil(frame.top()));
    };

    // The keyboard's request waits while the preview is open, and is followed once.
    const Photo second = canvas.photos().at(1);
    const QSizeF viewport = rope.host->scrollView()->contentSize();
    bar->setValue(bar->maximum());
    rope.model->setKeyboardRevealID(second.id);
    canvas.refresh(rope.model.get(), viewport, true, HangingStyle::current(), {}, {});
    EXPECT_EQ(bar->value(), bar->maximum()) << "not while the preview is open";
    canvas.refresh(rope.model.get(), viewport, false, HangingStyle::current(), {}, {});
    EXPECT_TRUE(revealed(second));
    bar->setValue(bar->maximum());
    canvas.refresh(rope.model.get(), viewport, false, HangingStyle::current(), {}, {});
    EXPECT_EQ(bar->value(), bar->maximum()) << "the same request is not followed again";

    // Photos that arrive are scrolled into view once they have their places: all of them when
    // they fit the view, else the first. The first hangs low in the middle, the other high at
    // the end, so the two scrolls end far apart.
    rope.host->setPlacementRequest([&](GalleryModel& model, int) {
        QList<ClotheslinePlacementUpdate> updates;
        for (const Photo& photo : canvas.photos())
            if (!canvas.placement(photo))
                updates.append({photo, 0, updates.isEmpty() ? 0.5 : 0.03});
        ASSERT_TRUE(model.clotheslinePlacements().setPositions(updates).ok());
        Q_EMIT model.modelChanged();
    });
    const QString source = rope.model->indexer().roots().first().path;
    const auto arrive = [&](int viewportHeight, const QString& name) {
        rope.host->scrollView()->setGeometry(0, kCanvasTop, kWindowSize.width(), viewportHeight);
        rope.settleUpdates();
        const int top = bar->maximum();
        bar->setValue(top);
        const qsizetype before = canvas.photos().size();
        saveImage(makeImage(50, 40), source + "/" + name + "-a.png");
        saveImage(makeImage(40, 50), source + "/" + name + "-b.png");
        rope.model->refresh(std::nullopt, false);
        EXPECT_TRUE(
            QTest::qWaitFor([&] { return canvas.photos().size() == before + 2 && bar->value() != top; }));
        EXPECT_TRUE(rope.waitForRest());
        // Where the first arrival alone and where both together would have taken the view.
        std::optional<double> first;
        double all = canvas.height();
        for (const Photo& photo : canvas.photos()) {
            if (!photo.path.contains(name))
                continue;
            const double frameTop = canvas.printFrame(photo)->top() - ClotheslineCanvasView::kRevealMargin;
            all = std::min(all, frameTop);
            if (!first)
                first = frameTop;
        }
        EXPECT_GT(*first, all + 30);
        return std::pair{bar->value() - all, *first - bar->value()};
    };
    // The rope sags further under the arrivals after the scroll: nearer, not equal.
    const auto [tallFromAll, tallFromFirst] = arrive(120, "tall");
    EXPECT_LT(std::abs(tallFromFirst), std::abs(tallFromAll)) << "too tall together: the first arrival";
    const auto [fitFromAll, fitFromFirst] = arrive(400, "fit");
    EXPECT_LT(std::abs(fitFromAll), std::abs(fitFromFirst)) << "fitting together: all arrivals";
}

// A picture whose header is slow to read (a flood of marker segments, a slow mount) must not hold
// the main thread: the print waits unseen for its size, then takes the shape the size gives.
TEST_F(ClotheslineCanvasSceneTest, APrintWaitsUnseenForItsSizeReadOffTheMainThreadAndThenTakesItsShape) {
    std::atomic<bool> open{false};
    std::atomic<int> mainThreadReads{0};
    PhotoDimensions::clearCache();
    PhotoDimensions::setReaderForTesting([&](const QString& path) -> std::optional<QSize> {
        mainThreadReads += isMainThread() ? 1 : 0;
        while (!open.load())
            std::this_thread::yield();
        // Every picture reads as a tall one, which the 4:3 stand-in is not.
        return ImageReading::orientedPixelSize(path) ? std::optional<QSize>(QSize(300, 400)) : std::nullopt;
    });
    const auto restore = qScopeGuard([&] {
        open = true;
        PhotoDimensions::setReaderForTesting({});
        PhotoDimensions::clearCache();
    });
    Rope rope(2);
    rope.awaitSizes = false;
    rope.place({{0, 0.3}, {1, 0.7}});
    rope.show();
    ClotheslineCanvasView& canvas = rope.canvas();
    ASSERT_EQ(canvas.photos().size(), 2);
    const Photo first = canvas.photos().at(0);
    ASSERT_TRUE(canvas.layersInstalled());
    EXPECT_EQ(canvas.sizeAwaitedIDs().size(), 2);
    EXPECT_EQ(canvas.photoLayout(first).imageSize, QSizeF(4, 3));
    ASSERT_TRUE(canvas.photoSlots().contains(first.id));
    const ClotheslinePhotoSlot::Content waiting = canvas.photoSlots().value(first.id).content();
    EXPECT_FALSE(waiting.peg.isNull()) << "the peg hangs at once";
    EXPECT_EQ(waiting.paper.cacheKey(), PolaroidRenderer::emptyPaper().cacheKey())
        << "no paper in a shape it will lose";
    EXPECT_TRUE(waiting.overlay.isNull()) << "no badge where the paper is not";
    const QPointF centre = canvas.printFrame(first)->topLeft() + canvas.geometry(first).paperRect.center();
    EXPECT_FALSE(canvas.photo(centre)) << "an unseen paper takes no press";

    open = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return canvas.sizeAwaitedIDs().isEmpty(); }));
    EXPECT_EQ(mainThreadReads.load(), 0);
    EXPECT_EQ(canvas.photoLayout(first).imageSize, QSizeF(300, 400));
    const PolaroidGeometry g = canvas.geometry(first);
    EXPECT_NEAR(g.imageRect.width() / g.imageRect.height(), 0.75, 1e-9);
    const auto shown = [&] { return canvas.photoSlots().value(first.id).content(); };
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return shown().paper.cacheKey() != PolaroidRenderer::emptyPaper().cacheKey();
    })) << "the paper comes";
    EXPECT_EQ(shown().paperRect, g.paperRect);
    EXPECT_FALSE(shown().overlay.isNull()) << "a new print's badge comes with it";
    EXPECT_EQ(canvas.photo(canvas.printFrame(first)->topLeft() + g.paperRect.center()), first);
}

// A picture whose header cannot be read keeps the 4:3 stand-in: the end of its read changes no
// print's shape, yet each print must show its paper and take presses from then on.
TEST_F(ClotheslineCanvasSceneTest, PrintsWhoseReadsEndInTheStandInShapeShowAndTakePresses) {
    std::atomic<bool> open{false};
    PhotoDimensions::clearCache();
    PhotoDimensions::setReaderForTesting([&](const QString&) -> std::optional<QSize> {
        while (!open.load())
            std::this_thread::yield();
        return std::nullopt;
    });
    const auto restore = qScopeGuard([&] {
        open = true;
        PhotoDimensions::setReaderForTesting({});
        PhotoDimensions::clearCache();
    });
    Rope rope(2);
    rope.awaitSizes = false;
    rope.place({{0, 0.3}, {1, 0.7}});
    rope.show();
    ClotheslineCanvasView& canvas = rope.canvas();
    ASSERT_EQ(canvas.sizeAwaitedIDs().size(), 2);
    ASSERT_TRUE(rope.waitForRest());
    rope.settleUpdates();

    open = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return canvas.sizeAwaitedIDs().isEmpty(); }));
    for (const Photo& photo : canvas.photos()) {
        SCOPED_TRACE(photo.path.toStdString());
        EXPECT_EQ(canvas.photoLayout(photo).imageSize, QSizeF(4, 3));
        EXPECT_TRUE(QTest::qWaitFor([&] {
            return canvas.photoSlots().value(photo.id).content().paper.cacheKey() !=
                   PolaroidRenderer::emptyPaper().cacheKey();
        })) << "the print keeps a bare peg";
        const QPointF centre =
            canvas.printFrame(photo)->topLeft() + canvas.geometry(photo).paperRect.center();
        EXPECT_EQ(canvas.photo(centre), photo);
        const QPointF inWindow = centre + QPointF(0, kCanvasTop);
        EXPECT_TRUE(std::any_of(rope.port->canvasPaths.cbegin(), rope.port->canvasPaths.cend(),
                                [&](const QPainterPath& path) { return path.contains(inWindow); }))
            << "the paper takes no click";
    }
}

// Sizes come by the hundred when a folder fills or the rope starts; a pass over the whole rope for
// each (its layers, its hit areas with their round trips to the X server) cost the main thread the
// square of the prints: 2 s for 180 of them. Sizes read together are taken in with one pass.
TEST_F(ClotheslineCanvasSceneTest, SizesReadTogetherAreTakenInWithOnePassOverTheRope) {
    setStyle(false, true);
    constexpr int kPrints = 24;
    std::atomic<bool> open{false};
    PhotoDimensions::clearCache();
    PhotoDimensions::setReaderForTesting([&](const QString& path) -> std::optional<QSize> {
        while (!open.load())
            std::this_thread::yield();
        return ImageReading::orientedPixelSize(path) ? std::optional<QSize>(QSize(300, 400)) : std::nullopt;
    });
    const auto restore = qScopeGuard([&] {
        open = true;
        PhotoDimensions::setReaderForTesting({});
        PhotoDimensions::clearCache();
    });
    Rope rope(kPrints);
    rope.awaitSizes = false;
    QList<std::pair<int, double>> moves;
    for (int i = 0; i < kPrints; ++i)
        moves.append({i, (i + 0.5) / kPrints});
    rope.place(moves);
    rope.show();
    ClotheslineCanvasView& canvas = rope.canvas();
    ASSERT_EQ(canvas.sizeAwaitedIDs().size(), kPrints);
    ASSERT_TRUE(rope.waitForRest());
    rope.settleUpdates();
    const int before = rope.port->revision;

    open = true;
    ASSERT_TRUE(QTest::qWaitFor([&] { return canvas.sizeAwaitedIDs().isEmpty(); }));
    ASSERT_TRUE(rope.waitForRest());
    rope.settleUpdates();
    // Each pass publishes the rope's four kinds of areas.
    const int passes = (rope.port->revision - before) / 4;
    EXPECT_GE(passes, 1);
    EXPECT_LE(passes, 4) << "one pass over the rope for each size";
    for (const Photo& photo : canvas.photos())
        EXPECT_EQ(canvas.photoLayout(photo).imageSize, QSizeF(300, 400));
    ASSERT_TRUE(QTest::qWaitFor([&] {
        for (const auto& slot : canvas.photoSlots())
            if (!slot.hidden() &&
                slot.content().paper.cacheKey() == PolaroidRenderer::emptyPaper().cacheKey())
                return false;
        return true;
    })) << "every print in view shows its paper";
}
