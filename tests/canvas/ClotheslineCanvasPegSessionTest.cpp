#include "canvas/DiagnosticLines.h"
#include "canvas/OpaquePegPreview.h"
#include "canvas/PegDragBadge.h"
#include "canvas/PegTestBase.h"
#include "rope/RopeDiagnostic.h"
#include "support/WaitUntil.h"

#include <QCursor>
#include <QDrag>
#include <QDropEvent>
#include <QRegularExpression>
#include <QTest>

using namespace vennimo;
using namespace vennimo::test;

namespace {

class ClotheslineCanvasPegSessionTest : public PegTestBase {
protected:
    // A drag event of the canvas's own running drag at a canvas point, with the pointer there.
    static bool dragAt(ClotheslineCanvasView& canvas, QDrag& drag, QEvent::Type type, QPointF point) {
        QCursor::setPos(canvas.mapToGlobal(point).toPoint());
        // Qt hands moves and drops only to a widget that took the drag's enter.
        QDragEnterEvent enter(point.toPoint(), Qt::MoveAction, drag.mimeData(), Qt::LeftButton, {});
        QApplication::sendEvent(&canvas, &enter);
        if (type == QEvent::Drop) {
            QDropEvent event(point, Qt::MoveAction, drag.mimeData(), Qt::LeftButton, {});
            QApplication::sendEvent(&canvas, &event);
            return event.isAccepted() && event.dropAction() == Qt::MoveAction;
        }
        QDragMoveEvent event(point.toPoint(), Qt::MoveAction, drag.mimeData(), Qt::LeftButton, {});
        QApplication::sendEvent(&canvas, &event);
        return event.isAccepted() && event.dropAction() == Qt::MoveAction;
    }
    static QMap<QString, double> placesOf(Rope& rope) {
        QMap<QString, double> places;
        for (const Photo& photo : rope.model->photos())
            if (const auto place = rope.model->clotheslinePlacements().position(photo))
                places.insert(photo.id, place->x);
        return places;
    }
};

// Every coordinate and size of a detail is written with a fractional part ("412.0", not "412").
bool numbersHaveFractions(const QString& detail) {
    static const QRegularExpression field(
        QStringLiteral("(?:^| )(?:x|y|cursor|session|reported|image|frame|offset)=([^ ]+)"));
    for (auto it = field.globalMatch(detail); it.hasNext();)
        for (const QString& part : it.next().captured(1).split(QLatin1Char(',')))
            if (!part.contains(QLatin1Char('.')))
                return false;
    return true;
}

// Counts the canvas's paints, and those that draw one print on the rope.
class PaintProbe : public QObject {
public:
    PaintProbe(ClotheslineCanvasView& canvas, QString id)
        : m_canvas(canvas)
        , m_id(std::move(id)) {
        canvas.installEventFilter(this);
    }
    int paints = 0;
    int drawnOnRope = 0;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == &m_canvas && event->type() == QEvent::Paint) {
            ++paints;
            if (!m_canvas.hiddenPhotoIDs().contains(m_id))
                ++drawnOnRope;
        }
        return false;
    }

private:
    ClotheslineCanvasView& m_canvas;
    QString m_id;
};

} // namespace

TEST_F(ClotheslineCanvasPegSessionTest,
       ASystemPegDragLogsItsPointerAndPicturesAndIsTakenBackOnlyNearTheRope) {
    Rope rope(3);
    hang(rope, {{0, 0.2}, {1, 0.5}, {2, 0.8}});
    ClotheslineCanvasView& canvas = rope.canvas();
    const QMap<QString, double> before = placesOf(rope);
    const QList<Photo> photos = rope.model->photos();
    const QPointF off = fileManagerBelowTheRope(canvas);
    DiagnosticLines log;
    bool farTaken = true;
    bool nearTaken = false;
    bool farDropped = true;
    canvas.setDragExec([&](QDrag& drag) {
        // The pointer moves on: each new point is logged once.
        for (const QPointF point : {off + QPointF(10, 0), off + QPointF(10, 0), off + QPointF(20, 3)}) {
            QCursor::setPos(canvas.mapToGlobal(point).toPoint());
            QTest::qWait(ClotheslineCanvasView::kPegRoutingMs + 20);
        }
        QTest::qWait(4 * ClotheslineCanvasView::kDragVisualSampleMs);
        // Far below the rope the window does not take the peg back; near it, it does.
        farTaken = dragAt(canvas, drag, QEvent::DragMove, off - QPointF(0, 40));
        nearTaken = dragAt(canvas, drag, QEvent::DragMove, ropeAt(canvas, 0.3) + canvas.grabOffset());
        farDropped = dragAt(canvas, drag, QEvent::Drop, off - QPointF(0, 40));
        return farDropped ? Qt::MoveAction : Qt::IgnoreAction;
    });
    carry(canvas, photos[1], off, false);
    ASSERT_FALSE(canvas.sessionInProgress());
    EXPECT_FALSE(farTaken) << "away from the rope the window does not receive the peg";
    EXPECT_TRUE(nearTaken) << "near the rope it does";
    EXPECT_FALSE(farDropped) << "a drop the rope does not receive is refused";
    EXPECT_EQ(placesOf(rope), before) << "nothing moved";
    EXPECT_TRUE(rope.model->hangs(photos[1])) << "and nothing came down";

    const QStringList pointers = log.details("DragPointer");
    const QPointF second = canvas.mapToGlobal(off + QPointF(20, 3)).toPoint();
    EXPECT_EQ(
        pointers.count(QStringLiteral("x=%1 y=%2")
                           .arg(RopeDiagnostic::number(second.x()), RopeDiagnostic::number(second.y()))),
        1)
        << "each new point once: " << pointers.join('\n').toStdString();
    const QStringList samples = log.details("DragVisual").filter(QStringLiteral("source=sample "));
    EXPECT_GE(samples.size(), 2) << "sampled every 1/30 s";
    const QStringList receivers = log.details("ReceiverVisual");
    ASSERT_GE(receivers.size(), 2);
    EXPECT_TRUE(receivers[0].startsWith(QStringLiteral("source=canvas cursor=")));
    EXPECT_TRUE(receivers[0].contains(QStringLiteral(" reported=")) && receivers[0].endsWith(" formation=0"));
    EXPECT_TRUE(log.details("DragVisual").filter(QStringLiteral("source=canvas ")).size() >= 2);
    for (const char* name : {"DragPointer", "DragVisual", "ReceiverVisual", "ContactChanged",
                             "ReceptionChanged", "DragBegin", "PegNativeHandoff"})
        for (const QString& detail : log.details(QString::fromLatin1(name)))
            EXPECT_TRUE(numbersHaveFractions(detail)) << name << ": " << detail.toStdString();
    EXPECT_FALSE(log.details("ContactChanged").isEmpty());
}

TEST_F(ClotheslineCanvasPegSessionTest, WithoutPanelsThePegsTravelAsTheSystemDragsPictureFromTheStart) {
    Rope rope(3);
    hang(rope, {{0, 0.2}, {1, 0.5}, {2, 0.8}});
    ClotheslineCanvasView& canvas = rope.canvas();
    canvas.setPegPanels([] { return ClotheslineCanvasView::PegPanels::none; });
    const QList<Photo> photos = rope.model->photos();
    int execs = 0;
    canvas.setDragExec([&](QDrag& drag) {
        ++execs;
        EXPECT_FALSE(canvas.localPegDragActive()) << "no panels to move: the system runs the drag";
        EXPECT_FALSE(canvas.opaquePreview());
        EXPECT_FALSE(canvas.pegDragBadge()) << "the picture shows every print; no count";
        EXPECT_TRUE(canvas.hiddenPhotoIDs().contains(photos[1].id)) << "the rope no longer draws it";
        EXPECT_GT(drag.pixmap().deviceIndependentSize().width(), 290) << "the print with its margin";
        // Dropped on the rope at 0.3: the print slides there.
        return dragAt(canvas, drag, QEvent::Drop, ropeAt(canvas, 0.3) + canvas.grabOffset())
                   ? Qt::MoveAction
                   : Qt::IgnoreAction;
    });
    const QPointF from = pegPoint(canvas, photos[1]);
    mouse(canvas, QEvent::MouseButtonPress, from);
    mouse(canvas, QEvent::MouseMove, from + QPointF(0, 12));
    ASSERT_EQ(execs, 1) << "the drag did not stay with the canvas";
    EXPECT_FALSE(canvas.sessionInProgress());
    EXPECT_NEAR(*placementX(canvas, photos[1]), 0.3, 0.02);
    EXPECT_TRUE(canvas.hiddenPhotoIDs().isEmpty()) << "drawn on the rope again";
}

TEST_F(ClotheslineCanvasPegSessionTest, WithoutPanelsTheSystemPegDragIsStillRoutedToTheWindow) {
    Rope rope(3);
    hang(rope, {{0, 0.2}, {1, 0.5}, {2, 0.8}});
    ClotheslineCanvasView& canvas = rope.canvas();
    canvas.setPegPanels([] { return ClotheslineCanvasView::PegPanels::none; });
    const QList<Photo> photos = rope.model->photos();
    const QPointF off = fileManagerBelowTheRope(canvas);
    bool routed = false;
    canvas.setDragExec([&](QDrag&) {
        const QPointF global = canvas.mapToGlobal(off + QPointF(15, 4)).toPoint();
        QCursor::setPos(global.toPoint());
        routed = vennimo::test::waitUntil([&] { return rope.port->routed.contains(global); });
        return Qt::IgnoreAction;
    });
    carry(canvas, photos[1], off, false);
    EXPECT_FALSE(canvas.pegDragBadge()) << "no count without panels";
    EXPECT_TRUE(routed) << "the window never heard where a peg drag without panels was";
}

TEST_F(ClotheslineCanvasPegSessionTest, APegDragCutOffByHidingFocusOrALostReleaseEndsAsEscapeDoes) {
    Rope rope(3);
    hang(rope, {{0, 0.2}, {1, 0.5}, {2, 0.8}});
    ClotheslineCanvasView& canvas = rope.canvas();
    const QList<Photo> photos = rope.model->photos();
    const QMap<QString, double> before = placesOf(rope);
    const auto history = rope.model->undoHistory().size();
    const QPointF away = ropeAt(canvas, 0.5) + QPointF(0, 200);
    const auto nothingHappened = [&](const char* how) {
        EXPECT_FALSE(canvas.sessionInProgress()) << how;
        EXPECT_EQ(placesOf(rope), before) << how;
        EXPECT_EQ(rope.model->undoHistory().size(), history) << how << ": nothing recorded";
        for (const Photo& photo : photos)
            EXPECT_TRUE(rope.model->hangs(photo)) << how;
    };

    // Hidden (the hot key, the tray) while carried off the rope; shown again, a click on another
    // print only selects it.
    carry(canvas, photos[1], away, false);
    ASSERT_TRUE(canvas.localPegDragActive());
    rope.window->hide();
    nothingHappened("hidden");
    rope.window->show();
    rope.settleUpdates();
    const QPointF paper = canvas.printFrame(photos[2])->center();
    mouse(canvas, QEvent::MouseButtonPress, paper);
    mouse(canvas, QEvent::MouseButtonRelease, paper);
    rope.settleUpdates();
    nothingHappened("clicked after showing again");

    // The window loses the focus to another.
    rope.window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(rope.window.get()));
    carry(canvas, photos[1], away, false);
    ASSERT_TRUE(canvas.localPegDragActive());
    QWidget other;
    other.show();
    other.activateWindow();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !canvas.sessionInProgress(); })) << "focus lost";
    nothingHappened("focus lost");

    // A drag that began while another window had the keyboard never had it to lose: a focus
    // change goes on around it.
    carry(canvas, photos[1], away, false);
    ASSERT_TRUE(canvas.localPegDragActive());
    QWidget third;
    third.show();
    third.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&third));
    EXPECT_TRUE(canvas.localPegDragActive()) << "the focus was never the drag's";
    pressEscapeIn(*rope.window);
    mouse(canvas, QEvent::MouseButtonRelease, away);
    rope.settleUpdates();
    nothingHappened("Escape after a focus change the drag never had");

    // Another program took the pointer and the release went there. One poll that sees the button
    // up may come just before the release reaches the canvas: it ends nothing.
    std::optional<bool> down = true;
    int polls = 0;
    canvas.setLeftButtonTest([&down, &polls] {
        ++polls;
        return polls == 3 ? std::optional<bool>(false) : down;
    });
    carry(canvas, photos[1], away, false);
    ASSERT_TRUE(canvas.localPegDragActive());
    ASSERT_TRUE(QTest::qWaitFor([&] { return polls > 5 || !canvas.localPegDragActive(); }));
    EXPECT_TRUE(canvas.localPegDragActive()) << "ended by one poll with the button up";
    down = false;
    EXPECT_TRUE(QTest::qWaitFor([&] { return !canvas.sessionInProgress(); })) << "release lost";
    nothingHappened("release lost");
}

TEST_F(ClotheslineCanvasPegSessionTest, APrintPickedUpAgainWhileItFliesBackKeepsItsPanel) {
    Rope rope(2);
    hang(rope, {{0, 0.2}, {1, 0.7}});
    ClotheslineCanvasView& canvas = rope.canvas();
    const QList<Photo> photos = rope.model->photos();
    DiagnosticLines log;
    // Carried long enough for its panel to show, and let go on the rope.
    const QPointF first = carry(canvas, photos[0], ropeAt(canvas, 0.3), false);
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return canvas.opaquePreview() && canvas.opaquePreview()->phase() == OpaquePegPreview::Phase::dragging;
    }));
    mouse(canvas, QEvent::MouseButtonRelease, first);
    ASSERT_TRUE(canvas.finishingPreview());
    ASSERT_EQ(canvas.finishingPreview()->phase(), OpaquePegPreview::Phase::returning);
    OpaquePegPreview* flying = canvas.finishingPreview();
    // Every frame the rope paints from the new pick-up to the swap-in leaves the print to its
    // panel: it flies in one and must never show on the rope as well.
    PaintProbe probe(canvas, photos[0].id);
    const QPointF second = carry(canvas, photos[0], ropeAt(canvas, 0.5), false);
    ASSERT_TRUE(canvas.opaquePreview());
    EXPECT_EQ(canvas.opaquePreview()->predecessor(), flying);
    EXPECT_TRUE(flying->heldForPickup());
    EXPECT_EQ(canvas.opaquePreview()->reusedCount(), 1);
    EXPECT_EQ(log.details("OpaqueInterrupt"), QStringList{"nextCount=1"});
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return canvas.opaquePreview()->phase() == OpaquePegPreview::Phase::dragging; }));
    QTest::qWait(50);
    EXPECT_GE(probe.paints, 1);
    EXPECT_EQ(probe.drawnOnRope, 0) << "of " << probe.paints << " paints";
    // The log names the panels' windows: the second drag's one is the first drag's, taken over.
    const QStringList begins = log.details("OpaqueBegin");
    ASSERT_EQ(begins.size(), 2);
    const QString window = QString::number(canvas.opaquePreview()->panelWindows().value(0)->winId());
    for (const QString& begin : begins)
        EXPECT_TRUE(begin.contains(QStringLiteral(" windows=%1 frames={{").arg(window)))
            << begin.toStdString();
    EXPECT_TRUE(begins[1].startsWith(QStringLiteral("count=1 reused=1 "))) << begins[1].toStdString();
    mouse(canvas, QEvent::MouseButtonRelease, second);
    EXPECT_NEAR(*placementX(canvas, photos[0]), 0.5, 0.02);
}
