#pragma once

#include "canvas/RopeFixture.h"
#include "platform/ReduceMotion.h"
#include "platform/UserDefaults.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>

namespace vennimo::test {

inline void mouse(QWidget& canvas, QEvent::Type type, QPointF pos) {
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, pos, canvas.mapToGlobal(pos), button, held, {});
    QApplication::sendEvent(&canvas, &event);
}

// Escape as the key reaches the window while a drag runs: the canvas hears it only through the
// application's event filter, not as a key of its own.
inline void pressEscapeIn(QWidget& window) {
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, {});
    QApplication::sendEvent(&window, &escape);
}

class PegTestBase : public testing::Test {
protected:
    void SetUp() override {
        ReduceMotion::setReader([] { return std::optional<bool>(true); });
        UserDefaults::standard().setClotheslineOffCenterPeg(false);
        UserDefaults::standard().setClotheslineStrictVertical(true);
    }
    void TearDown() override { ReduceMotion::setReader({}); }

    static void hang(Rope& rope, const QList<std::pair<int, double>>& places) {
        rope.place(places);
        rope.show();
        ASSERT_TRUE(rope.waitForRest());
    }
    static QPointF ropeAt(ClotheslineCanvasView& canvas, double x) {
        const ClotheslineRopeGeometry rope = canvas.ropeGeometry();
        return rope.pointAlong(rope.supportFraction(x));
    }
    // A point inside the print's peg outline, near its anchor.
    static QPointF pegPoint(ClotheslineCanvasView& canvas, const Photo& photo) {
        const QPointF anchor = canvas.printFrame(photo)->topLeft() + PolaroidRenderer::defaultPegAnchor;
        for (double dy = 0; dy <= 12; dy += 1)
            for (double dx : {0.0, -2.0, 2.0})
                if (canvas.pegContains(photo, anchor + QPointF(dx, dy)))
                    return anchor + QPointF(dx, dy);
        ADD_FAILURE() << "no peg near the anchor";
        return anchor;
    }
    // Lifts the print by its peg, carries it in steps to `to` (canvas point of its peg) and lets go.
    static QPointF carry(ClotheslineCanvasView& canvas, const Photo& photo, QPointF to, bool release = true) {
        const QPointF from = pegPoint(canvas, photo);
        const QPointF grab = from - ropeAt(canvas, *placementX(canvas, photo));
        mouse(canvas, QEvent::MouseButtonPress, from);
        for (int i = 1; i <= 8; ++i)
            mouse(canvas, QEvent::MouseMove, from + (to + grab - from) * i / 8.0);
        if (release)
            mouse(canvas, QEvent::MouseButtonRelease, to + grab);
        return to + grab;
    }
    // A canvas point well below the rope, with a file manager's window everywhere from a little
    // above it down.
    static QPointF fileManagerBelowTheRope(ClotheslineCanvasView& canvas) {
        const QPointF off = ropeAt(canvas, 0.5) + QPointF(0, 260);
        const double fileManagerTop = canvas.mapToGlobal(off).y() - 60;
        canvas.setNativeDestination([fileManagerTop](QPointF screen) { return screen.y() > fileManagerTop; });
        return off;
    }
    static std::optional<double> placementX(ClotheslineCanvasView& canvas, const Photo& photo) {
        const auto place = canvas.placement(photo);
        return place ? std::optional<double>(place->x) : std::nullopt;
    }
    static ClotheslinePlacement stored(Rope& rope, int index) {
        return *rope.model->clotheslinePlacements().position(rope.model->photos().at(index));
    }
};

} // namespace vennimo::test
