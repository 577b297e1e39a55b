#include "model/ClotheslineChrome.h"
#include "FakeGalleryWindow.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>

using namespace vennimo;
using namespace vennimo::test;
using Layout = FakeGalleryWindow::Layout;

namespace {

constexpr std::chrono::milliseconds kShortFade{30};

struct Rig {
    FakeGalleryWindow window;
    ClotheslineChrome chrome;
    Rig() {
        chrome.setFadeDelay(kShortFade);
        chrome.setWindow(&window, &window);
    }
    bool settle() {
        return QTest::qWaitFor([&] { return !chrome.transitionPending(); }, 2000);
    }
};

} // namespace

TEST(ClotheslineChrome, HeightsFollowThePrintSize) {
    EXPECT_EQ(ClotheslineChrome::heightFor(true, true), 518);
    EXPECT_EQ(ClotheslineChrome::heightFor(true, false), 466);
    EXPECT_EQ(ClotheslineChrome::heightFor(false, true), 128);
    EXPECT_EQ(ClotheslineChrome::heightFor(false, false), 76);

    ClotheslineChrome chrome;
    EXPECT_TRUE(chrome.expanded());
    EXPECT_TRUE(chrome.hasPhotos());
    EXPECT_EQ(chrome.opacity(), 1);
    EXPECT_EQ(chrome.height(), 518);
    EXPECT_EQ(chrome.revision(), 0u);
}

TEST(ClotheslineChrome, RepeatedRequestsOnlyReapplyALostGeometry) {
    Rig rig;
    rig.chrome.request(false, true, false);
    EXPECT_EQ(rig.window.layouts, (QList<Layout>{{128, 60}}));
    EXPECT_FALSE(rig.chrome.hasPhotos());
    EXPECT_EQ(rig.chrome.height(), 128);
    EXPECT_EQ(rig.chrome.revision(), 1u);

    rig.chrome.request(false, true, false);
    EXPECT_EQ(rig.window.layouts.size(), 1) << "the window already has the canvas top";
    EXPECT_EQ(rig.chrome.revision(), 1u);

    rig.window.canvasTop_ = 0; // the window was rebuilt
    rig.chrome.request(false, true, false);
    EXPECT_EQ(rig.window.layouts, (QList<Layout>{{128, 60}, {128, 60}}));
    EXPECT_EQ(rig.chrome.revision(), 2u);

    rig.window.canvasTop_ = 0;
    rig.window.style = false;
    rig.chrome.request(false, true, false);
    EXPECT_EQ(rig.window.layouts.size(), 2) << "a grid-style window is left alone";

    // Without a window the applied shape is still published.
    ClotheslineChrome alone;
    QSignalSpy photosSpy(&alone, &ClotheslineChrome::hasPhotosChanged);
    alone.request(false, true, true);
    EXPECT_FALSE(alone.hasPhotos());
    EXPECT_EQ(photosSpy.count(), 1);
    alone.request(false, true, true);
    EXPECT_EQ(photosSpy.count(), 1) << "assigned only when it changes";

    // A window that is gone is not called.
    auto gone = std::make_unique<FakeGalleryWindow>();
    ClotheslineChrome orphan;
    orphan.setWindow(gone.get(), gone.get());
    gone.reset();
    EXPECT_EQ(orphan.window(), nullptr);
    orphan.request(true, false, true);
    EXPECT_FALSE(orphan.expanded());
}

TEST(ClotheslineChrome, CollapseFadesOutThenShrinks) {
    Rig rig;
    QSignalSpy expandedSpy(&rig.chrome, &ClotheslineChrome::expandedChanged);
    rig.chrome.request(true, false, false);
    EXPECT_EQ(rig.chrome.opacity(), 0) << "the fade starts at once";
    EXPECT_EQ(rig.chrome.opacityAnimation(), ClotheslineChrome::kFadeDuration);
    EXPECT_TRUE(rig.chrome.expanded()) << "the shape waits for the fade";
    EXPECT_TRUE(rig.window.layouts.isEmpty());
    ASSERT_TRUE(rig.settle());
    EXPECT_FALSE(rig.chrome.expanded());
    EXPECT_EQ(expandedSpy.count(), 1);
    EXPECT_EQ(rig.window.layouts, (QList<Layout>{{466, 8}}));

    // Expanding grows at once, then fades in on the next turn.
    rig.chrome.request(true, true, false);
    EXPECT_TRUE(rig.chrome.expanded());
    EXPECT_EQ(rig.window.layouts.last(), (Layout{518, 60}));
    EXPECT_EQ(rig.chrome.opacity(), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.chrome.opacity() == 1; }, 2000));
    EXPECT_EQ(rig.chrome.opacityAnimation(), ClotheslineChrome::kFadeDuration);

    // Reduced motion: no delay, no fade.
    rig.chrome.request(true, false, true);
    EXPECT_FALSE(rig.chrome.transitionPending());
    EXPECT_FALSE(rig.chrome.expanded());
    EXPECT_EQ(rig.chrome.opacity(), 0);
    EXPECT_EQ(rig.chrome.opacityAnimation().count(), 0);
    rig.chrome.request(true, true, true);
    EXPECT_EQ(rig.chrome.opacity(), 1);
    EXPECT_TRUE(rig.chrome.expanded());
}

TEST(ClotheslineChrome, ExpandWithinTheFadeCancelsTheCollapse) {
    Rig rig;
    rig.chrome.request(true, false, false);
    ASSERT_TRUE(rig.chrome.transitionPending());
    const auto revision = rig.chrome.revision();
    rig.chrome.request(true, true, false);
    EXPECT_FALSE(rig.chrome.transitionPending());
    EXPECT_GT(rig.chrome.revision(), revision);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.chrome.opacity() == 1; }, 2000)) << "fades back in";
    QTest::qWait(static_cast<int>(kShortFade.count() * 3));
    EXPECT_TRUE(rig.chrome.expanded()) << "the cancelled collapse never runs";
    EXPECT_EQ(rig.chrome.opacity(), 1);
    for (const Layout& layout : rig.window.layouts)
        EXPECT_EQ(layout.canvasTop, 60);
}

TEST(ClotheslineChrome, PrintsFlagChangedDuringACollapseIsTakenByThePendingStep) {
    Rig rig;
    rig.chrome.request(true, false, false);
    const auto revision = rig.chrome.revision();
    rig.chrome.request(false, false, false);
    EXPECT_EQ(rig.chrome.revision(), revision) << "only the prints flag changed";
    EXPECT_TRUE(rig.chrome.transitionPending());
    ASSERT_TRUE(rig.settle());
    EXPECT_EQ(rig.window.layouts, (QList<Layout>{{76, 8}}));
    EXPECT_FALSE(rig.chrome.hasPhotos());
    EXPECT_EQ(rig.chrome.height(), 76);
}

TEST(ClotheslineChrome, GesturesHoldTheShapeUntilResume) {
    Rig rig;
    // A collapse requested during a drag does nothing at all until resume().
    rig.window.dragActive = true;
    rig.chrome.request(true, false, false);
    EXPECT_FALSE(rig.chrome.transitionPending());
    EXPECT_EQ(rig.chrome.opacity(), 1);
    QTest::qWait(static_cast<int>(kShortFade.count() * 2));
    EXPECT_TRUE(rig.chrome.expanded());
    EXPECT_TRUE(rig.window.layouts.isEmpty());
    rig.chrome.resume();
    EXPECT_TRUE(rig.window.layouts.isEmpty()) << "still dragging";
    rig.window.dragActive = false;
    rig.chrome.resume();
    ASSERT_TRUE(rig.settle());
    EXPECT_FALSE(rig.chrome.expanded());
    EXPECT_EQ(rig.window.layouts, (QList<Layout>{{466, 8}}));

    // A gesture that starts during the fade stops the delayed step; resume() finishes it.
    rig.chrome.request(true, true, true);
    rig.chrome.request(true, false, false);
    ASSERT_TRUE(rig.chrome.transitionPending());
    rig.window.knotResize = true;
    ASSERT_TRUE(rig.settle());
    EXPECT_TRUE(rig.chrome.expanded()) << "held by the knot resize";
    rig.chrome.resume();
    EXPECT_TRUE(rig.chrome.expanded());
    rig.window.knotResize = false;
    rig.chrome.resume();
    EXPECT_FALSE(rig.chrome.expanded()) << "the faded rope shrinks at once";

    rig.window.repositionActive = true;
    rig.chrome.request(true, true, false);
    EXPECT_FALSE(rig.chrome.expanded());
    rig.window.repositionActive = false;
    rig.chrome.resume();
    EXPECT_TRUE(rig.chrome.expanded());
}

TEST(ClotheslineChrome, DestroyingTheChromeCancelsItsPendingStep) {
    FakeGalleryWindow window;
    auto chrome = std::make_unique<ClotheslineChrome>();
    chrome->setFadeDelay(kShortFade);
    chrome->setWindow(&window, &window);
    chrome->request(true, false, false);
    ASSERT_TRUE(chrome->transitionPending());
    chrome.reset();
    QTest::qWait(static_cast<int>(kShortFade.count() * 3));
    EXPECT_TRUE(window.layouts.isEmpty());
}
