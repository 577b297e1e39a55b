#include "shell/GalleryView.h"
#include "canvas/ClotheslineCanvas.h"
#include "canvas/ClotheslineCanvasView.h"
#include "canvas/ClotheslineScrollView.h"
#include "canvas/ClotheslineToolbar.h"
#include "canvas/ClotheslineView.h"
#include "canvas/RopeHitAreas.h"
#include "model/RopeModelFixture.h"
#include "platform/ReduceMotion.h"
#include "shell/GalleryWindow.h"
#include "shell/RopeWindowBridge.h"
#include "widgets/ToolbarButton.h"

#include <QKeyEvent>
#include <QTest>
#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;

namespace {

struct Gallery {
    RopeModel rope{3};
    GalleryWindow window;
    GalleryView* view = nullptr;
    int grids = 0;
    int settingsOpened = 0;
    QList<Photo> previews;
    std::function<void()> closePreview;
    std::function<void()> backToRope;

    Gallery() {
        ReduceMotion::setReader([] { return std::optional<bool>(true); });
        GalleryScreenFactory factory;
        factory.grid = [this](const GalleryScreenFactory::GridInputs& inputs, QWidget* parent) {
            ++grids;
            backToRope = inputs.switchToClothesline;
            return new QWidget(parent);
        };
        factory.preview = [this](GalleryModel&, const Photo& photo, QWidget*, std::function<void()> closed) {
            previews.append(photo);
            closePreview = closed;
        };
        view = new GalleryView(
            *rope, window, [this] { ++settingsOpened; }, factory);
        window.resize(980, 466);
        window.show();
        settle();
    }
    ~Gallery() {
        view->dismantle();
        ReduceMotion::setReader({});
    }
    GalleryModel& model() { return *rope; }
    void settle() {
        for (int i = 0; i < 8; ++i)
            QCoreApplication::processEvents();
    }
    void key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        QKeyEvent event(QEvent::KeyPress, key, modifiers);
        QApplication::sendEvent(view, &event);
        settle();
    }
};

} // namespace

TEST(GalleryView, StylesTheWindowAsksTheChromeAndHandsOverHitAreasOnlyWhenTheyChange) {
    Gallery g;
    ASSERT_NE(g.view->ropeScreen(), nullptr);
    EXPECT_EQ(g.window.contentView(), g.view);
    EXPECT_EQ(g.window.clotheslineStyle(), true);
    EXPECT_FALSE(g.model().clotheslineChrome().expanded()) << "nothing selected: collapsed";

    // A selection expands the chrome a turn later, and the toolbar's capsule becomes the area
    // the window takes the pointer over.
    g.model().setSelection({g.rope.photos[0]});
    EXPECT_FALSE(g.model().clotheslineChrome().expanded()) << "not inside the change";
    g.settle();
    EXPECT_TRUE(g.model().clotheslineChrome().expanded());
    EXPECT_EQ(g.window.clotheslineHeight(), ClotheslineChrome::heightFor(true, true));
    g.view->ropeScreen()->hitAreas()->publish();
    const QList<QRectF> areas = g.view->ropeBridge().areas();
    ASSERT_EQ(areas.size(), 1);
    EXPECT_EQ(areas[0], QRectF(g.view->ropeScreen()->toolbar()->capsule()->geometry()));
    EXPECT_TRUE(g.window.hitRegion().contains(areas[0].center().toPoint()));

    // Publishing the same layout again leaves the window's hit tests alone. The canvas may still
    // publish its prints' outlines from a timer on a loaded machine: wait for that first.
    auto revision = g.window.pointerGeometryRevision();
    for (int round = 0; round < 15; ++round) {
        QTest::qWait(200);
        const auto now = g.window.pointerGeometryRevision();
        if (now == revision)
            break;
        revision = now;
    }
    g.view->ropeScreen()->hitAreas()->schedulePublish();
    g.view->applyWindowStyle();
    g.settle();
    EXPECT_EQ(g.window.pointerGeometryRevision(), revision);

    g.model().endSelection();
    g.settle();
    EXPECT_FALSE(g.model().clotheslineChrome().expanded());
    EXPECT_EQ(g.window.clotheslineHeight(), ClotheslineChrome::heightFor(true, false));
}

TEST(GalleryView, AnswersTheEditCommandsKeysAndPreviewAndSwitchesToTheGridAndBack) {
    Gallery g;
    // Select all goes through the request counter to the rope screen; Escape ends the selection.
    g.view->selectAll();
    EXPECT_EQ(g.model().selectedIDs().size(), 3);
    g.key(Qt::Key_Escape);
    EXPECT_TRUE(g.model().selectedIDs().isEmpty());
    g.view->copy();
    EXPECT_EQ(g.model().actionError(), std::nullopt) << "copy without a selection does nothing";

    // The rope screen's keys reach the window's handler.
    g.key(Qt::Key_Right);
    EXPECT_EQ(g.model().selectedIDs().size(), 1) << "Right selects the leftmost print";
    g.key(Qt::Key_Space);
    ASSERT_EQ(g.previews.size(), 1) << "Space with the preview opener";
    EXPECT_EQ(g.view->ropeScreen()->selected()->id, g.previews[0].id);
    g.closePreview();
    EXPECT_FALSE(g.view->ropeScreen()->selected());

    // "普通窗口" switches to the grid: a titled window, the rope screen gone.
    g.settle();
    ASSERT_TRUE(g.model().clotheslineChrome().expanded());
    g.view->ropeScreen()->toolbar()->normalWindowButton()->click();
    g.settle();
    EXPECT_FALSE(g.model().clotheslineMode());
    EXPECT_EQ(g.grids, 1);
    EXPECT_EQ(g.view->ropeScreen(), nullptr);
    EXPECT_EQ(g.window.clotheslineStyle(), false);
    g.key(Qt::Key_Right);
    EXPECT_TRUE(g.model().selectedIDs().isEmpty()) << "arrows are the rope's";

    ASSERT_TRUE(g.backToRope);
    g.backToRope();
    g.settle();
    EXPECT_TRUE(g.model().clotheslineMode());
    ASSERT_NE(g.view->ropeScreen(), nullptr);
    EXPECT_FALSE(g.view->ropeScreen()->selected()) << "a fresh rope screen";
    EXPECT_EQ(g.window.clotheslineStyle(), true);

    // The rope's own menu items reach the same switches.
    ClotheslineCanvasView* canvas = g.view->ropeScreen()->canvasHost()->canvas();
    EXPECT_TRUE(canvas->openSettingsContext());
    EXPECT_EQ(g.settingsOpened, 1);
    EXPECT_TRUE(canvas->switchToNormalContext());
    g.settle();
    EXPECT_FALSE(g.model().clotheslineMode());
    EXPECT_EQ(g.grids, 2);
}
