#include "model/RopeModelFixture.h"
#include "shell/GalleryWindow.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

using namespace vennimo;

namespace {

// A shown rope window at (100, 200) with a fake pointer; the print lies at (50, 100) to (150, 150)
// in the window, so (200, 325) on the screen is over it and (600, 350) is over nothing.
struct RoutedWindow {
    QPointF pointer{600, 350};
    Qt::MouseButtons buttons = Qt::NoButton;
    std::unique_ptr<GalleryWindow> window = std::make_unique<GalleryWindow>();
    const QPointF overPrint{200, 325};
    const QPointF overNothing{600, 350};

    RoutedWindow() {
        window->setScreensSource([] {
            return QList<ScreenArea>{{QRectF(0, 0, 1920, 1080), QRectF(0, 0, 1920, 1080)}};
        });
        window->setPointerSource([this] { return pointer; }, [this] { return buttons; });
        window->setFrame({100, 200, 800, 518});
        window->setClotheslineStyle(true);
        window->show();
        window->startPointerRouting();
    }
    void publishPrint() {
        QPainterPath print;
        print.addRect(50, 100, 100, 50);
        window->setCanvasPaths({print});
    }
    void routeAt(QPointF at) {
        pointer = at;
        window->routePointer();
    }
};

TEST(GalleryWindowRouting, TakesThePointerOnlyOverPublishedShapes) {
    RoutedWindow w;
    w.routeAt(w.overNothing);
    EXPECT_FALSE(w.window->ignoresMouseEvents()) << "nothing published yet: the whole window takes events";

    w.publishPrint();
    w.routeAt(w.overNothing);
    EXPECT_TRUE(w.window->ignoresMouseEvents()) << "a click over nothing falls through";
    w.routeAt(w.overPrint);
    EXPECT_FALSE(w.window->ignoresMouseEvents()) << "over a print the window takes the click";
    EXPECT_EQ(w.window->hitRegion(), QRegion(50, 100, 100, 50));

    // The other shapes in their order: toolbar areas, knots, the drop region and the rope grip.
    QPainterPath knot, grip;
    knot.addEllipse(QPointF(10, 60), 8, 8);
    grip.addRect(300, 40, 200, 30);
    w.window->setInteractiveAreas({QRectF(700, 0, 60, 40)});
    w.window->setKnotResizePaths({knot});
    w.window->setRopeMovePath(grip);
    for (const QPointF local : {QPointF(720, 20), QPointF(10, 60), QPointF(400, 50)}) {
        w.routeAt(w.overNothing);
        ASSERT_TRUE(w.window->ignoresMouseEvents());
        w.routeAt(local + QPointF(100, 200));
        EXPECT_FALSE(w.window->ignoresMouseEvents()) << local.x() << "," << local.y();
    }

    w.window->setClotheslineStyle(false);
    EXPECT_FALSE(w.window->pointerRoutingActive()) << "the grid style does not route";
    EXPECT_FALSE(w.window->ignoresMouseEvents()) << "and takes every event";
}

TEST(GalleryWindowRouting, APressInTheWindowKeepsItUntilRelease) {
    RoutedWindow w;
    w.publishPrint();
    w.routeAt(w.overPrint);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(100, 120), w.overPrint, Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    w.buttons = Qt::LeftButton;
    QApplication::sendEvent(w.window.get(), &press);
    EXPECT_TRUE(w.window->ownsMouseSequence());
    w.routeAt(w.overNothing);
    EXPECT_FALSE(w.window->ignoresMouseEvents()) << "dragging off the print keeps the events";

    w.buttons = Qt::NoButton;
    w.routeAt(w.overNothing);
    EXPECT_FALSE(w.window->ownsMouseSequence());
    EXPECT_TRUE(w.window->ignoresMouseEvents()) << "released: the geometric rule is back";
}

TEST(GalleryWindowRouting, CachesTheDecisionUntilSomethingChanges) {
    RoutedWindow w;
    w.publishPrint();
    w.routeAt(w.overNothing);
    const auto revision = w.window->pointerGeometryRevision();
    w.window->setInteractiveAreas({});
    EXPECT_EQ(w.window->pointerGeometryRevision(), revision) << "an equal list changes nothing";
    w.window->setInteractiveAreas({QRectF(0, 0, 10, 10)});
    EXPECT_EQ(w.window->pointerGeometryRevision(), revision + 1);
    w.window->setInteractiveAreas({QRectF(0, 0, 10, 10)});
    EXPECT_EQ(w.window->pointerGeometryRevision(), revision + 1);

    w.routeAt(w.overNothing);
    QPainterPath everywhere;
    everywhere.addRect(0, 0, 800, 518);
    w.window->setCanvasPaths({everywhere});
    w.routeAt(w.overNothing);
    EXPECT_FALSE(w.window->ignoresMouseEvents()) << "new canvas paths always test again";
}

TEST(GalleryWindowRouting, TheSameOutlinesPublishedAgainChangeNothingAndAMovedOneIsTakenAnew) {
    RoutedWindow w;
    QList<QPainterPath> prints;
    for (int i = 0; i < 3; ++i) {
        QPainterPath print;
        print.addRect(50 + 120 * i, 100, 100, 50);
        prints.append(print);
    }
    w.window->setCanvasPaths(prints);
    QPainterPath grip, knot;
    grip.addRect(300, 40, 200, 30);
    knot.addEllipse(QPointF(10, 60), 8, 8);
    w.window->setRopeMovePath(grip);
    w.window->setRopeDropPath(grip);
    w.window->setKnotResizePaths({knot});
    const auto revision = w.window->pointerGeometryRevision();
    // A frame of the rope publishes everything again, mostly unchanged.
    w.window->setCanvasPaths(prints);
    w.window->setRopeMovePath(grip);
    w.window->setRopeDropPath(grip);
    w.window->setKnotResizePaths({knot});
    EXPECT_EQ(w.window->pointerGeometryRevision(), revision) << "nothing changed, nothing to make anew";

    // One print of three moves: the clicks follow it, the others keep theirs.
    prints[1] = QPainterPath();
    prints[1].addRect(170, 160, 100, 50);
    w.window->setCanvasPaths(prints);
    EXPECT_GT(w.window->pointerGeometryRevision(), revision);
    const QRegion hits = w.window->hitRegion();
    EXPECT_TRUE(hits.contains(QPoint(220, 180))) << "where the print went";
    EXPECT_FALSE(hits.contains(QPoint(220, 120))) << "where it was";
    EXPECT_TRUE(hits.contains(QPoint(100, 120)));
    EXPECT_TRUE(hits.contains(QPoint(340, 120)));
    // A print gone, and the list shorter: what it covered lets clicks through.
    prints.removeFirst();
    w.window->setCanvasPaths(prints);
    EXPECT_FALSE(w.window->hitRegion().contains(QPoint(100, 120)));
    EXPECT_TRUE(w.window->hitRegion().contains(QPoint(340, 120)));
}

TEST(GalleryWindowRouting, TakesEverythingWhileAModalDialogIsOpen) {
    RoutedWindow w;
    w.publishPrint();
    QMessageBox box;
    bool checked = false;
    QTimer::singleShot(0, &box, [&] {
        w.routeAt(w.overNothing);
        checked = true;
        EXPECT_FALSE(w.window->ignoresMouseEvents());
        box.reject();
    });
    box.exec();
    EXPECT_TRUE(checked);
}

TEST(GalleryWindowRouting, LetsTheCanvasDecideDuringARopeDrag) {
    RoutedWindow w;
    w.publishPrint();
    int asked = 0;
    bool receive = false;
    w.window->setClotheslineDragActive(true);
    w.window->setClotheslineDragCallbacks({[&](QPointF) { return true; },
                                           [&](QPointF) {
                                               ++asked;
                                               return receive;
                                           },
                                           {}});
    w.window->routeClotheslineDrag({10, 10});
    EXPECT_EQ(asked, 0) << "before the start threshold nothing is routed";
    EXPECT_FALSE(w.window->ignoresMouseEvents());

    w.window->setClotheslineDragStarted(true);
    w.routeAt(w.overPrint);
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(w.window->ignoresMouseEvents()) << "reception, not the print under it, decides";
    w.window->routeClotheslineDrag(w.overPrint);
    EXPECT_EQ(asked, 1) << "the same point twice is routed once";
    receive = true;
    w.window->routeClotheslineDrag({300, 300});
    EXPECT_FALSE(w.window->ignoresMouseEvents());
    EXPECT_TRUE(w.window->receivesClotheslineDrag({1, 1}));

    w.window->finishClotheslineDrag();
    EXPECT_FALSE(w.window->clotheslineDragActive());
    EXPECT_FALSE(w.window->receivesClotheslineDrag({1, 1})) << "callbacks are gone with the drag";
    w.routeAt(w.overNothing);
    EXPECT_TRUE(w.window->ignoresMouseEvents());
}

// A print let go where the pointer is, and pressed again at once as it settles: the canvas
// publishes its new place only after the drag has ended, and the window must not have let the
// pointer through there by the places the drag left.
TEST(GalleryWindowRouting, APrintLetGoUnderThePointerTakesAPressThatComesBeforeTheNextTurn) {
    RoutedWindow w;
    w.publishPrint();
    const QPointF landing{500, 300};
    w.pointer = landing;
    w.window->setClotheslineDragActive(true);
    w.window->setClotheslineDragCallbacks({[](QPointF) { return true; }, [](QPointF) { return false; }, {}});
    w.window->setClotheslineDragStarted(true);
    w.window->routePointer();
    ASSERT_TRUE(w.window->ignoresMouseEvents()) << "the drag did not want the pointer back";

    w.window->finishClotheslineDrag();
    QPainterPath landed;
    landed.addRect(QRectF(landing - QPointF(100, 200) - QPointF(20, 20), QSizeF(40, 40)));
    w.window->setCanvasPaths({landed});
    EXPECT_FALSE(w.window->ignoresMouseEvents()) << "a press before the next turn reaches the print";

    EXPECT_TRUE(QTest::qWaitFor([&] { return w.window->hitRegion().contains(QPoint(400, 100)); }, 1000));
    QTest::qWait(100);
    EXPECT_FALSE(w.window->ignoresMouseEvents()) << "routed by the new place, the print keeps the pointer";
    w.routeAt(w.overNothing);
    EXPECT_TRUE(w.window->ignoresMouseEvents()) << "and the bare strip lets it through again";
}

TEST(GalleryWindowRouting, MovesByTheRopeInMouseEvents) {
    RoutedWindow w;
    w.buttons = Qt::LeftButton;
    w.window->moveClothesline({400, 250});
    EXPECT_TRUE(w.window->clotheslineRepositionActive());
    QMouseEvent drag(QEvent::MouseMove, QPointF(0, 0), QPointF(-600, 150), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QApplication::sendEvent(w.window.get(), &drag);
    EXPECT_EQ(w.window->frame().topLeft(), QPointF(-22, 100)) << "moved with the pointer, kept on screen";
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(0, 0), QPointF(-600, 150), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    w.buttons = Qt::NoButton;
    QApplication::sendEvent(w.window.get(), &release);
    EXPECT_FALSE(w.window->clotheslineRepositionActive());
    EXPECT_FALSE(w.window->busy());
}

// The pointer is read on a timer only while it is over the window or a gesture runs; an idle
// rope under a pointer elsewhere sleeps.
TEST(GalleryWindowRouting, PollsThePointerOnlyWhileItIsOverTheWindowOrAGestureRuns) {
    RoutedWindow w;
    const auto send = [&](QEvent::Type type) {
        QEvent event(type);
        QApplication::sendEvent(w.window.get(), &event);
    };
    EXPECT_TRUE(w.window->pointerRoutingActive());
    EXPECT_FALSE(w.window->pointerPollActive()) << "the pointer is elsewhere";
    EXPECT_FALSE(w.window->ignoresMouseEvents()) << "nothing published yet";
    w.publishPrint();
    QCoreApplication::processEvents();
    EXPECT_TRUE(w.window->ignoresMouseEvents()) << "shapes published later are routed without the poll";
    w.window->setFrame({100, 150, 800, 518});
    QCoreApplication::processEvents();
    EXPECT_EQ(w.window->lastPointerHit()->frame, QRectF(100, 150, 800, 518)) << "so is a new frame";
    w.window->setFrame({100, 200, 800, 518});
    QCoreApplication::processEvents();
    ASSERT_TRUE(w.window->ignoresMouseEvents());
    w.window->setInteractiveAreas({QRectF(490, 140, 20, 20)});
    QCoreApplication::processEvents();
    EXPECT_FALSE(w.window->ignoresMouseEvents()) << "and so are new toolbar areas under the pointer";
    w.window->setInteractiveAreas({});
    QCoreApplication::processEvents();
    EXPECT_TRUE(w.window->ignoresMouseEvents()) << "and their going";

    w.pointer = w.overPrint;
    send(QEvent::Enter);
    EXPECT_TRUE(w.window->pointerPollActive());
    EXPECT_FALSE(w.window->ignoresMouseEvents()) << "entering routes at once";
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(100, 120), w.overPrint, Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    w.buttons = Qt::LeftButton;
    QApplication::sendEvent(w.window.get(), &press);
    send(QEvent::Leave);
    EXPECT_TRUE(w.window->pointerPollActive()) << "a press carried off the window keeps the poll";
    w.buttons = Qt::NoButton;
    w.routeAt(w.overNothing);
    EXPECT_FALSE(w.window->pointerPollActive()) << "released elsewhere: asleep again";

    w.window->setClotheslineDragActive(true);
    EXPECT_TRUE(w.window->pointerPollActive()) << "a rope drag reads the pointer wherever it goes";
    w.window->finishClotheslineDrag();
    EXPECT_FALSE(w.window->pointerPollActive());

    // Moving the rope by its strand and dragging a knot carry the pointer off the window too;
    // the poll is what sees a release over another application.
    w.buttons = Qt::LeftButton;
    w.pointer = w.overPrint;
    send(QEvent::Enter);
    w.window->moveClothesline(w.overPrint);
    send(QEvent::Leave);
    EXPECT_TRUE(w.window->pointerPollActive()) << "a strand move keeps the poll off the window";
    w.buttons = Qt::NoButton;
    w.routeAt(w.overNothing);
    EXPECT_FALSE(w.window->movingClothesline()) << "the release elsewhere ended the move";
    EXPECT_FALSE(w.window->pointerPollActive());
    w.buttons = Qt::LeftButton;
    w.pointer = w.overPrint;
    send(QEvent::Enter);
    w.window->beginKnotResize(ClotheslineKnotEdge::right, w.overPrint);
    send(QEvent::Leave);
    EXPECT_TRUE(w.window->pointerPollActive()) << "a knot drag keeps the poll off the window";
    w.window->finishKnotResize(false);
    w.buttons = Qt::NoButton;
    w.routeAt(w.overNothing);
    EXPECT_FALSE(w.window->pointerPollActive());

    send(QEvent::Enter);
    w.window->hide();
    EXPECT_FALSE(w.window->pointerPollActive()) << "hidden, nothing is routed";
}

TEST(GalleryWindowKeys, UndoAndRedoReachTheRopeHistoryUnlessTextIsEdited) {
    test::RopeModel rope(2);
    ASSERT_TRUE(rope->setHanging({rope.photos[1]}, false, RopeHistoryRecording::record));
    GalleryWindow window;
    auto press = [&](QKeyCombination key) {
        QKeyEvent event(QEvent::KeyPress, key.key(), key.keyboardModifiers());
        QApplication::sendEvent(&window, &event);
    };
    EXPECT_EQ(window.undoMenuItem(), (GalleryWindow::MenuItemState{"撤销", false}))
        << "no model, nothing to undo";
    press(Qt::ControlModifier | Qt::Key_Z);
    EXPECT_TRUE(rope->canUndoRopeAction());

    window.setGalleryModel(rope.model.get());
    EXPECT_EQ(window.undoMenuItem(), (GalleryWindow::MenuItemState{rope->ropeUndoTitle(), true}));
    press(Qt::ControlModifier | Qt::Key_Z);
    EXPECT_FALSE(rope->canUndoRopeAction());
    EXPECT_TRUE(rope->canRedoRopeAction());
    press(Qt::ControlModifier | Qt::ShiftModifier | Qt::Key_Z);
    EXPECT_TRUE(rope->canUndoRopeAction()) << "redone";

    // While a text field is edited, its own history answers.
    auto* field = new QLineEdit(&window);
    window.setContentWidget(field);
    window.show();
    window.activateWindow();
    field->setFocus();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    field->insert("abc");
    EXPECT_EQ(window.undoMenuItem(), (GalleryWindow::MenuItemState{"撤销", true}));
    window.undo();
    EXPECT_EQ(field->text(), "");
    EXPECT_TRUE(rope->canUndoRopeAction()) << "the rope history is left alone";

    bool handled = false;
    window.setGalleryKeyboardHandler([&](QKeyEvent*) { return handled = true; });
    press(Qt::ControlModifier | Qt::Key_Z);
    EXPECT_FALSE(handled) << "not while text is edited";
    window.setFocus();
    press(Qt::ControlModifier | Qt::Key_Z);
    EXPECT_TRUE(handled) << "the gallery's own keys come first";
}

} // namespace
