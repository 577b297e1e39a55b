#include "model/ClotheslineChrome.h"
#include "model/GalleryWindowPort.h"

#include <QTest>
#include <gtest/gtest.h>

#include <memory>

using namespace vennimo;

namespace {

// A rope-style window that records every layout the chrome sets; the test switches gestures.
class FakeGalleryWindow : public QObject, public GalleryWindowPort {
public:
    void setClotheslineLayout(double height, double canvasTop) override {
        layouts.append({height, canvasTop});
        if (!dragActive && !knotResize) // like the real window
            canvasTop_ = canvasTop;
    }
    std::optional<bool> clotheslineStyle() const override { return true; }
    double clotheslineCanvasTop() const override { return canvasTop_; }
    bool clotheslineDragActive() const override { return dragActive; }
    bool clotheslineRepositionActive() const override { return false; }
    bool knotResizeActive() const override { return knotResize; }

    QList<std::pair<double, double>> layouts; // height and canvas top
    double canvasTop_ = 0;
    bool dragActive = false, knotResize = false;
};
using Layouts = QList<std::pair<double, double>>;

constexpr int kShortFadeMs = 30;

struct Rig : FakeGalleryWindow {
    ClotheslineChrome chrome;
    Rig() {
        chrome.setFadeDelay(std::chrono::milliseconds(kShortFadeMs));
        chrome.setWindow(this, this);
    }
    bool settle() {
        return QTest::qWaitFor([&] { return !chrome.transitionPending(); }, 10000);
    }
};

} // namespace

TEST(ClotheslineChrome, RepeatedRequestsOnlyReapplyALostGeometry) {
    Rig rig;
    rig.chrome.request(false, true, false);
    EXPECT_EQ(rig.layouts, (Layouts{{128, 60}}));
    rig.chrome.request(false, true, false);
    EXPECT_EQ(rig.layouts.size(), 1) << "the window already has the canvas top";
    rig.canvasTop_ = 0; // the window was rebuilt
    rig.chrome.request(false, true, false);
    EXPECT_EQ(rig.layouts.size(), 2);

    auto gone = std::make_unique<FakeGalleryWindow>();
    ClotheslineChrome orphan;
    orphan.setWindow(gone.get(), gone.get());
    gone.reset();
    orphan.request(true, false, true); // must not call the window that is gone
    EXPECT_FALSE(orphan.expanded());
}

TEST(ClotheslineChrome, CollapseFadesOutThenShrinksAndExpandGrowsThenFadesIn) {
    Rig rig;
    rig.chrome.request(true, false, false);
    EXPECT_EQ(rig.chrome.opacity(), 0) << "the fade starts at once";
    EXPECT_TRUE(rig.chrome.expanded()) << "the shape waits for the fade";
    const auto revision = rig.chrome.revision();
    rig.chrome.request(false, false, false);
    EXPECT_EQ(rig.chrome.revision(), revision) << "a prints flag changed meanwhile goes to the pending step";
    ASSERT_TRUE(rig.settle());
    EXPECT_FALSE(rig.chrome.expanded());
    EXPECT_EQ(rig.layouts, (Layouts{{76, 8}}));

    rig.chrome.request(true, true, false);
    EXPECT_TRUE(rig.chrome.expanded());
    EXPECT_EQ(rig.layouts.last(), (std::pair{518.0, 60.0}));
    EXPECT_EQ(rig.chrome.opacity(), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.chrome.opacity() == 1; }, 10000));

    rig.chrome.request(true, false, true);
    EXPECT_FALSE(rig.chrome.transitionPending() || rig.chrome.expanded()) << "reduced motion: no delay";
    EXPECT_EQ(rig.chrome.opacityAnimation().count(), 0);
}

TEST(ClotheslineChrome, ExpandWithinTheFadeCancelsTheCollapse) {
    Rig rig;
    rig.chrome.request(true, false, false);
    ASSERT_TRUE(rig.chrome.transitionPending());
    rig.chrome.request(true, true, false);
    EXPECT_FALSE(rig.chrome.transitionPending());
    auto doomed = std::make_unique<ClotheslineChrome>(); // its pending collapse dies with it
    doomed->setFadeDelay(std::chrono::milliseconds(kShortFadeMs));
    doomed->setWindow(&rig, &rig);
    doomed->request(true, false, false);
    doomed.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return rig.chrome.opacity() == 1; }, 10000)) << "fades back in";
    QTest::qWait(kShortFadeMs * 3);
    EXPECT_TRUE(rig.chrome.expanded()) << "the cancelled collapse never runs";
    EXPECT_EQ(rig.chrome.opacity(), 1);
    for (const auto& [height, canvasTop] : rig.layouts)
        EXPECT_EQ(canvasTop, 60);
}

TEST(ClotheslineChrome, GesturesHoldTheShapeUntilResume) {
    Rig rig;
    rig.dragActive = true;
    rig.chrome.request(true, false, false);
    EXPECT_EQ(rig.chrome.opacity(), 1) << "a collapse during a drag does nothing until resume()";
    QTest::qWait(kShortFadeMs * 2);
    EXPECT_TRUE(rig.chrome.expanded());
    rig.chrome.resume();
    EXPECT_TRUE(rig.layouts.isEmpty()) << "still dragging";
    rig.dragActive = false;
    rig.chrome.resume();
    ASSERT_TRUE(rig.settle());
    EXPECT_EQ(rig.layouts, (Layouts{{466, 8}}));

    // A gesture that starts during the fade holds the delayed step; resume() finishes it.
    rig.chrome.request(true, true, true);
    rig.chrome.request(true, false, false);
    rig.knotResize = true;
    ASSERT_TRUE(rig.settle());
    EXPECT_TRUE(rig.chrome.expanded()) << "held by the knot resize";
    rig.knotResize = false;
    rig.chrome.resume();
    EXPECT_FALSE(rig.chrome.expanded()) << "the faded rope shrinks at once";
}
