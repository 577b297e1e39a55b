#include "canvas/OpaquePegPreview.h"
#include "canvas/OpaqueHandoffGate.h"
#include "canvas/PegDragBadge.h"
#include "platform/ReduceMotion.h"
#include "rendering/AlphaMaskedPicture.h"

#include <QImage>
#include <gtest/gtest.h>

using namespace vennimo;

namespace {

QImage sprite() {
    QImage image(40, 30, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::red);
    return image;
}

struct Clocked {
    double now = 10;
    QPointF pointer{100, 100};
    int reveals = 0;
    int completions = 0;
    std::unique_ptr<OpaquePegPreview> preview;

    explicit Clocked(int count = 2, bool masked = false, const QImage& image = sprite()) {
        QList<OpaquePegPreview::Item> items;
        for (int i = 0; i < count; ++i)
            items.append({QString("p%1").arg(i), image, QRectF(50.25 + 60 * i, 40.5, 40, 30),
                          QRectF(50.25 + 60 * i, 40.5, 40, 30)});
        preview = OpaquePegPreview::make(
            items, QPointF(100, 100), [this] { ++reveals; }, [this] { return pointer; },
            [this] { return now; }, false, {}, masked);
    }
};

} // namespace

TEST(OpaqueHandoffGate, WaitsForTheReturnAndReadySourceThenForTargetsToHoldStillAndGivesUpAtTheWatchdog) {
    OpaqueHandoffGate gate;
    const OpaqueHandoffGate::Targets here{QRectF(10, 10, 50, 50), std::nullopt};
    EXPECT_FALSE(gate.update(0.1, here, true)) << "too early";
    EXPECT_FALSE(gate.update(0.2, here, false)) << "the rope still moves";
    EXPECT_FALSE(gate.anchor);
    EXPECT_FALSE(gate.update(0.2, here, true)) << "the first ready frame only anchors";
    EXPECT_FALSE(gate.update(0.27, {QRectF(10.04, 10, 50, 50), std::nullopt}, true))
        << "within 0.05 is still";
    EXPECT_EQ(gate.update(0.28, here, true).value_or(""), "stable");

    OpaqueHandoffGate moving;
    for (double t = 0.16; t < 3.0; t += 0.02)
        EXPECT_FALSE(moving.update(t, {QRectF(t * 100, 0, 50, 50)}, true)) << t;
    EXPECT_EQ(moving.update(3.0, {QRectF(300, 0, 50, 50)}, true).value_or(""), "watchdog");
    EXPECT_FALSE(OpaqueHandoffGate::sameTargets({std::nullopt}, {QRectF(0, 0, 1, 1)}));
    EXPECT_FALSE(OpaqueHandoffGate::sameTargets({std::nullopt}, {std::nullopt, std::nullopt}));
}

TEST(OpaquePegPreview, ShowsOnItsFirstFrameGlidesToThePointerAndFliesBackUntilTheGateLetsGo) {
    ReduceMotion::setReader([] { return std::optional<bool>(false); });
    Clocked c;
    ASSERT_TRUE(c.preview);
    EXPECT_EQ(c.preview->phase(), OpaquePegPreview::Phase::pending);
    EXPECT_EQ(c.preview->panelsShown(), (QList<bool>{false, false}));
    EXPECT_EQ(c.reveals, 0) << "the rope keeps drawing the prints until the panels show";

    c.pointer = {160, 100};
    c.preview->tick();
    EXPECT_EQ(c.preview->phase(), OpaquePegPreview::Phase::dragging);
    EXPECT_EQ(c.reveals, 1);
    EXPECT_EQ(c.preview->panelsShown(), (QList<bool>{true, true}));
    EXPECT_FALSE(c.preview->pickupComplete()) << "the glide has just begun";
    c.now += 0.05;
    c.preview->tick();
    const double halfway = c.preview->imageRects()[0].x();
    EXPECT_GT(halfway, 50.25);
    EXPECT_LT(halfway, 110.25);
    c.now += 0.06;
    c.preview->tick();
    EXPECT_TRUE(c.preview->pickupComplete());
    EXPECT_DOUBLE_EQ(c.preview->imageRects()[0].x(), 110.25) << "sub-pixel place kept inside the panel";
    EXPECT_DOUBLE_EQ(c.preview->imageRects()[1].y(), 40.5);

    // Released: the first print goes back to the rope, the second no longer hangs.
    bool ready = false;
    c.preview->finish(
        [] {
            return OpaqueHandoffGate::Targets{QRectF(300, 40, 40, 30), std::nullopt};
        },
        [&] { return ready; }, [&] { ++c.completions; });
    EXPECT_EQ(c.preview->phase(), OpaquePegPreview::Phase::returning);
    c.now += 0.08;
    c.preview->tick();
    EXPECT_EQ(c.preview->panelsShown(), (QList<bool>{true, false})) << "a print with no place hides";
    c.now += 0.1;
    c.preview->tick();
    EXPECT_DOUBLE_EQ(c.preview->imageRects()[0].x(), 300) << "the return takes 0.16 s";
    EXPECT_EQ(c.preview->phase(), OpaquePegPreview::Phase::returning) << "the rope is not ready";
    ready = true;
    c.preview->tick();
    c.now += 0.05;
    c.preview->tick();
    EXPECT_EQ(c.completions, 0);
    c.now += 0.04;
    c.preview->tick();
    EXPECT_EQ(c.preview->phase(), OpaquePegPreview::Phase::revealed);
    EXPECT_EQ(c.completions, 1);
    for (int i = 0; i < OpaquePegPreview::kTeardownFrames; ++i)
        c.preview->tick();
    EXPECT_EQ(c.preview->phase(), OpaquePegPreview::Phase::closed);
    EXPECT_TRUE(c.preview->imageRects().isEmpty());
    ReduceMotion::setReader({});
}

TEST(OpaquePegPreview, ADragPictureNothingTookShowsWhereItWasLeftFliesBackAndGoesButNotUnderReduceMotion) {
    ReduceMotion::setReader([] { return std::optional<bool>(false); });
    double now = 5;
    int completions = 0;
    std::optional<QRectF> target = QRectF(100, 50, 40, 30);
    auto slide = OpaquePegPreview::flyBack(
        sprite(), QPointF(400.5, 300.25), [&] { return OpaqueHandoffGate::Targets{target}; }, false,
        [&] { ++completions; }, [&] { return now; }, false);
    ASSERT_TRUE(slide);
    EXPECT_EQ(slide->phase(), OpaquePegPreview::Phase::returning) << "it flies back from the start";
    EXPECT_EQ(slide->panelsShown(), QList<bool>{true}) << "shown at once, where the drag left it";
    EXPECT_EQ(slide->imageRects()[0], QRectF(400.5, 300.25, 40, 30));
    // Its first frame, however late it comes, is where the drag left it: the flight starts there.
    now += 0.3;
    slide->tick();
    EXPECT_EQ(slide->imageRects()[0], QRectF(400.5, 300.25, 40, 30)) << "part-way at its first frame";
    // A frame that comes a second late moves it on by no more than a frame's step: it slides.
    now += 1;
    slide->tick();
    const QRectF between = slide->imageRects()[0];
    EXPECT_GT(between.x(), 100);
    EXPECT_LT(between.x(), 400.5);
    EXPECT_NEAR((between.y() - 50) / (300.25 - 50), (between.x() - 100) / (400.5 - 100), 0.01)
        << "straight back";
    for (int i = 0; i < 2; ++i) {
        now += 0.05;
        slide->tick();
    }
    EXPECT_NE(slide->imageRects()[0], QRectF(100, 50, 40, 30)) << "landed before 0.16 s";
    now += 0.05;
    slide->tick();
    EXPECT_EQ(slide->imageRects()[0], QRectF(100, 50, 40, 30)) << "landed after 0.16 s";
    for (int i = 0; i < 10 && completions == 0; ++i) {
        now += 0.05;
        slide->tick();
    }
    EXPECT_EQ(completions, 1);
    EXPECT_EQ(slide->panelsShown(), QList<bool>{false}) << "gone once landed";

    // Nowhere to go: it goes at once.
    target.reset();
    auto nowhere = OpaquePegPreview::flyBack(
        sprite(), QPointF(10, 10), [&] { return OpaqueHandoffGate::Targets{target}; }, true, {},
        [&] { return now; }, false);
    ASSERT_TRUE(nowhere);
    EXPECT_TRUE(nowhere->masked());
    now += 0.02;
    nowhere->tick();
    EXPECT_EQ(nowhere->panelsShown(), QList<bool>{false});

    EXPECT_FALSE(OpaquePegPreview::flyBack(QImage(), {}, {}, false, {}, {}, false)) << "no picture";
    ReduceMotion::setReader([] { return std::optional<bool>(true); });
    EXPECT_FALSE(OpaquePegPreview::flyBack(sprite(), {}, {}, false, {}, {}, false))
        << "under Reduce Motion the picture just goes";
    ReduceMotion::setReader({});
}

TEST(OpaquePegPreview, AReleaseBeforeTheFirstFrameNeverShowsThePanelsAndWithoutImagesThereIsNone) {
    Clocked c(1);
    c.preview->finish({}, {}, [&] { ++c.completions; });
    EXPECT_EQ(c.preview->phase(), OpaquePegPreview::Phase::revealed);
    EXPECT_EQ(c.completions, 1);
    EXPECT_EQ(c.reveals, 0);
    c.preview->tick();
    EXPECT_EQ(c.preview->panelsShown(), QList<bool>{false});

    EXPECT_FALSE(OpaquePegPreview::make({}, {}, {}, {}));
    EXPECT_FALSE(
        OpaquePegPreview::make({{"a", QImage(), QRectF(0, 0, 1, 1), QRectF(0, 0, 1, 1)}}, {}, {}, {}));
}

TEST(PegDragBadge, ShowsOnlyOverANativeDestinationForTwoOrMoreAndGrowsWithItsCount) {
    PegDragBadge one(1);
    one.update(true, {200, 200});
    EXPECT_FALSE(one.visible()) << "one print needs no count";
    PegDragBadge three(3);
    three.update(false, {200, 200});
    EXPECT_FALSE(three.visible());
    three.update(true, {200, 200});
    EXPECT_TRUE(three.visible());
    EXPECT_EQ(three.panel()->pos(), QPoint(210, 208));
    three.close();
    EXPECT_FALSE(three.visible());
    three.update(true, {0, 0});
    EXPECT_FALSE(three.visible()) << "a closed badge stays hidden";

    EXPECT_DOUBLE_EQ(PegDragBadge::width(2), PegDragBadge::kMinimumWidth);
    EXPECT_GT(PegDragBadge::width(100), PegDragBadge::width(2));
    const QImage image = PegDragBadge::image(3);
    EXPECT_EQ(image.height(), 20);
    EXPECT_EQ(image.pixelColor(image.width() / 2, 2).red(), 207) << "the red of the badge";
}

TEST(OpaquePegPreview, PrintsPickedUpWhileFlyingBackKeepTheirPanelsAndTheReturnLandsInTheFinalPicture) {
    ReduceMotion::setReader([] { return std::optional<bool>(true); });
    Clocked c;
    ASSERT_TRUE(c.preview);
    c.preview->tick();
    QImage landed(40, 30, QImage::Format_ARGB32_Premultiplied);
    landed.fill(Qt::green);
    QStringList order;
    c.preview->finish(
        [] {
            return OpaqueHandoffGate::Targets{QRectF(400, 300, 40, 30), QRectF(500, 300, 40, 30)};
        },
        [] { return false; },
        [&c, &order] {
            ++c.completions;
            order.append("old prints back");
        },
        [&landed] {
            return QList<QImage>{landed, QImage()};
        });
    c.now += 0.05;
    c.preview->tick();
    const QList<qint64> keys = c.preview->panelImageKeys();
    EXPECT_EQ(keys[0], landed.cacheKey()) << "flies back showing the print as the rope will draw it";
    EXPECT_NE(keys[1], landed.cacheKey()) << "a panel without a final picture keeps its own";
    const QList<QRectF> flying = c.preview->imageRects();

    // The first print is picked up again: its panel carries on, the old preview holds still.
    OpaquePegPreview* old = c.preview.get();
    const QImage again = sprite();
    int reveals = 0;
    // The rope must have stopped drawing the print picked up again before the old preview's end
    // lets it draw its own prints: in between, one frame would show it twice.
    auto next = OpaquePegPreview::make(
        {{QStringLiteral("p0"), again, QRectF(20, 20, 40, 30), QRectF(20, 20, 40, 30)},
         {QStringLiteral("p7"), sprite(), QRectF(90, 20, 40, 30), QRectF(90, 20, 40, 30)}},
        QPointF(100, 100),
        [&reveals, &order] {
            ++reveals;
            order.append("new prints off the rope");
        },
        [&c] { return c.pointer; }, [&c] { return c.now; }, false, std::move(c.preview));
    ASSERT_TRUE(next);
    EXPECT_EQ(next->predecessor(), old);
    EXPECT_TRUE(old->heldForPickup());
    EXPECT_EQ(next->reusedCount(), 1);
    EXPECT_EQ(next->imageRects()[0], flying[0]) << "the taken-over panel starts where it flew";
    c.now += 0.1;
    old->tick();
    EXPECT_EQ(old->imageRects()[1], flying[1]) << "held: the return waits";
    EXPECT_EQ(old->phase(), OpaquePegPreview::Phase::returning);
    EXPECT_EQ(c.completions, 0);

    next->tick();
    EXPECT_EQ(reveals, 1);
    EXPECT_EQ(next->predecessor(), nullptr) << "closed at the new swap-in";
    EXPECT_EQ(c.completions, 1) << "the rope got the old prints back";
    EXPECT_EQ(order, (QStringList{"new prints off the rope", "old prints back"}));
    EXPECT_EQ(next->panelsShown(), (QList<bool>{true, true}));
    EXPECT_EQ(next->panelImageKeys()[0], again.cacheKey()) << "the adopted panel shows the new picture";
    ReduceMotion::setReader({});
}

TEST(OpaquePegPreview,
     WhereNothingCompositesThePanelsAndTheBadgeAreCutToTheirOutlineAndShowOnlyWhileDrawing) {
    ReduceMotion::setReader([] { return std::optional<bool>(true); });
    // A print that leaves a clear margin and casts a faint shadow below.
    QImage print(40, 30, QImage::Format_ARGB32_Premultiplied);
    print.fill(Qt::transparent);
    for (int y = 4; y < 22; ++y)
        for (int x = 4; x < 36; ++x)
            print.setPixel(x, y, qRgba(240, 240, 230, 255));
    for (int y = 22; y < 27; ++y)
        for (int x = 6; x < 34; ++x)
            print.setPixel(x, y, qRgba(0, 0, 0, 56));
    Clocked c(2, true, print);
    ASSERT_TRUE(c.preview);
    EXPECT_TRUE(c.preview->masked());
    const QList<QWidget*> panels = c.preview->panelWindows();
    ASSERT_EQ(panels.size(), 2);
    EXPECT_FALSE(panels[0]->isVisible()) << "nothing to draw yet, and a masked panel cannot draw nothing";

    c.pointer = {160, 100.3};
    c.preview->tick();
    EXPECT_EQ(c.preview->panelsShown(), (QList<bool>{true, true}));
    const QRectF rect = c.preview->imageRects()[0];
    EXPECT_EQ(rect.topLeft(), QPointF(110, 41)) << "the print sits on whole pixels with its panel";
    const QRegion mask = panels[0]->mask();
    EXPECT_TRUE(mask.contains(QPoint(20, 10))) << "the paper shows";
    EXPECT_FALSE(mask.contains(QPoint(1, 1))) << "the clear margin is cut away";
    EXPECT_FALSE(mask.contains(QPoint(20, 24))) << "no shadow where nothing blends it";
    EXPECT_EQ(mask.boundingRect(), QRect(4, 4, 32, 18));
    c.pointer = {260, 140};
    c.preview->tick();
    EXPECT_EQ(panels[0]->mask(), mask) << "moving keeps the outline";

    c.preview->finish(
        [] {
            return OpaqueHandoffGate::Targets{std::nullopt, QRectF(300, 40, 40, 30)};
        },
        [] { return true; }, [&c] { ++c.completions; });
    c.preview->tick();
    EXPECT_FALSE(panels[0]->isVisible()) << "a print with no place hides";
    EXPECT_TRUE(panels[1]->isVisible());
    for (int i = 0; i < 5 && c.completions == 0; ++i) {
        c.now += 0.1;
        c.preview->tick();
    }
    EXPECT_EQ(c.completions, 1);
    EXPECT_FALSE(panels[1]->isVisible()) << "given back to the rope";

    // A panel of the other kind is never taken over: it would show the wrong way.
    Clocked clear(1);
    clear.preview->tick();
    clear.preview->finish([] { return OpaqueHandoffGate::Targets{QRectF(300, 40, 40, 30)}; },
                          [] { return false; }, {});
    auto next = OpaquePegPreview::make(
        {{QStringLiteral("p0"), sprite(), QRectF(300, 40, 40, 30), QRectF(300, 40, 40, 30)}},
        QPointF(100, 100), {}, {}, [] { return 0.0; }, false, std::move(clear.preview), true);
    ASSERT_TRUE(next);
    EXPECT_EQ(next->reusedCount(), 0);

    PegDragBadge badge(12, true);
    EXPECT_TRUE(badge.masked());
    const QRegion outline = badge.panel()->mask();
    EXPECT_TRUE(outline.contains(QPoint(badge.panel()->width() / 2, 10)));
    EXPECT_FALSE(outline.contains(QPoint(0, 0))) << "the rounded corner is cut";
    EXPECT_FALSE(outline.contains(QPoint(badge.panel()->width() - 1, 19)));
    EXPECT_TRUE(PegDragBadge(12).panel()->mask().isEmpty()) << "see-through where windows blend";
    ReduceMotion::setReader({});
}

TEST(AlphaMaskedPicture, ShowsThePixelsAtLeastHalfOpaqueFullyOpaqueAndGivesTheirRegionInLogicalPixels) {
    QImage picture(4, 2, QImage::Format_ARGB32);
    picture.fill(Qt::transparent);
    picture.setPixel(0, 0, qRgba(200, 100, 50, 127));
    picture.setPixel(1, 0, qRgba(200, 100, 50, 128));
    picture.setPixel(2, 0, qRgba(10, 20, 30, 255));
    const AlphaMaskedPicture one(picture.convertToFormat(QImage::Format_ARGB32_Premultiplied));
    EXPECT_EQ(one.image().pixel(0, 0), 0u) << "below half: left out";
    const QRgb shown = one.image().pixel(1, 0);
    EXPECT_EQ(qAlpha(shown), 255);
    EXPECT_NEAR(qRed(shown), 200, 1) << "shown opaque in its own colour, not darkened";
    EXPECT_NEAR(qGreen(shown), 100, 1);
    EXPECT_EQ(one.region(), QRegion(1, 0, 2, 1));

    // At two device pixels per logical pixel, a logical pixel shows when its centre does.
    QImage doubled(8, 4, QImage::Format_ARGB32_Premultiplied);
    doubled.fill(Qt::transparent);
    for (int y = 0; y < 4; ++y)
        for (int x = 4; x < 8; ++x)
            doubled.setPixel(x, y, qRgba(0, 0, 255, 255));
    doubled.setDevicePixelRatio(2);
    const AlphaMaskedPicture two(doubled);
    EXPECT_EQ(two.region(), QRegion(2, 0, 2, 2));
    EXPECT_EQ(two.image().devicePixelRatio(), 2);
    EXPECT_TRUE(AlphaMaskedPicture(QImage()).isNull());
}
