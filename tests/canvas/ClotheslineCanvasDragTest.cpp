#include "canvas/OpaquePegPreview.h"
#include "canvas/PegTestBase.h"
#include "platform/DisplayLink.h"
#include "support/WaitUntil.h"

#include <QApplication>
#include <QBuffer>
#include <QCursor>
#include <QDir>
#include <QDrag>
#include <QDragEnterEvent>
#include <QFile>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>

using namespace vennimo;
using namespace vennimo::test;

namespace {

// A drag event as the window hands it to the canvas; answers the operation it was given.
Qt::DropAction dragOver(QWidget& canvas, QEvent::Type type, QPointF pos, const QMimeData& data,
                        Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction) {
    if (type == QEvent::DragEnter) {
        QDragEnterEvent event(pos.toPoint(), actions, &data, Qt::LeftButton, {});
        QApplication::sendEvent(&canvas, &event);
        return event.isAccepted() ? event.dropAction() : Qt::IgnoreAction;
    }
    QDragMoveEvent event(pos.toPoint(), actions, &data, Qt::LeftButton, {});
    QApplication::sendEvent(&canvas, &event);
    return event.isAccepted() ? event.dropAction() : Qt::IgnoreAction;
}

Qt::DropAction dropAt(QWidget& canvas, QPointF pos, const QMimeData& data,
                      Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction) {
    QDropEvent event(pos, actions, &data, Qt::LeftButton, {});
    event.setDropAction(Qt::MoveAction);
    QApplication::sendEvent(&canvas, &event);
    return event.isAccepted() ? event.dropAction() : Qt::IgnoreAction;
}

void leave(QWidget& canvas) {
    QDragLeaveEvent event;
    QApplication::sendEvent(&canvas, &event);
}

std::unique_ptr<QMimeData> offering(const QMap<QString, QByteArray>& formats) {
    auto data = std::make_unique<QMimeData>();
    for (auto it = formats.cbegin(); it != formats.cend(); ++it)
        data->setData(it.key(), it.value());
    return data;
}

QByteArray pngBytes(QColor color) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    makeImage(24, 18, color).save(&buffer, "PNG");
    return bytes;
}

class ClotheslineCanvasDragTest : public PegTestBase {
protected:
    static QPointF paperCentre(ClotheslineCanvasView& canvas, const Photo& photo) {
        return canvas.printFrame(photo)->topLeft() + canvas.geometry(photo).paperPath.boundingRect().center();
    }
    // Presses a print's paper and drags it just past the threshold, which runs the drag.
    static void dragPaper(ClotheslineCanvasView& canvas, const Photo& photo) {
        const QPointF centre = paperCentre(canvas, photo);
        mouse(canvas, QEvent::MouseButtonPress, centre);
        mouse(canvas, QEvent::MouseMove, centre + QPointF(3.06, 4.08));
    }
    static std::optional<Photo> newcomer(GalleryModel& model, const QList<Photo>& known) {
        for (const Photo& photo : model.photos())
            if (std::none_of(known.cbegin(), known.cend(), [&](const Photo& k) { return k.id == photo.id; }))
                return photo;
        return std::nullopt;
    }
    static bool importSettled(GalleryModel& model, qsizetype count) {
        return QTest::qWaitFor([&] { return !model.importing() && model.photos().size() == count; }, 10000);
    }
};

} // namespace

TEST_F(ClotheslineCanvasDragTest, APaperDragStartsPastTheThresholdAndCarriesTheFilesOfItsPrints) {
    Rope rope(3);
    hang(rope, {{0, 0.1}, {1, 0.5}, {2, 0.9}});
    ClotheslineCanvasView& canvas = rope.canvas();
    const QList<Photo> photos = rope.model->photos();

    struct Seen {
        QList<QUrl> urls;
        QStringList entries;
        bool inSession = false;
        bool windowRoutes = false;
        QSize picture;
    };
    QList<Seen> seen;
    canvas.setDragExec([&](QDrag& drag) {
        Seen s{drag.mimeData()->urls(),
               {},
               canvas.sessionInProgress(),
               rope.port->dragActive && rope.port->dragStarted,
               drag.pixmap().size()};
        for (const ClotheslineDragEntry& entry : canvas.sessionEntries())
            s.entries.append(entry.photo.id);
        seen.append(s);
        return Qt::IgnoreAction;
    });

    const QPointF centre = paperCentre(canvas, photos[1]);
    mouse(canvas, QEvent::MouseButtonPress, centre);
    mouse(canvas, QEvent::MouseMove, centre + QPointF(3, 4));
    EXPECT_TRUE(seen.isEmpty()) << "5 points is not yet a drag";
    mouse(canvas, QEvent::MouseMove, centre + QPointF(3.06, 4.08));
    ASSERT_EQ(seen.size(), 1) << "5.1 points is";
    EXPECT_EQ(seen[0].urls, QList<QUrl>{QUrl::fromLocalFile(photos[1].path)});
    EXPECT_EQ(seen[0].entries, QStringList{photos[1].id});
    EXPECT_TRUE(seen[0].inSession);
    EXPECT_TRUE(seen[0].windowRoutes) << "the window routes the drag while it runs";
    EXPECT_FALSE(seen[0].picture.isEmpty());
    EXPECT_FALSE(canvas.sessionInProgress());
    EXPECT_FALSE(rope.port->dragActive);
    EXPECT_EQ(rope.port->finishedDrags, 1);
    canvas.finishDrag(Qt::CopyAction, true);
    EXPECT_EQ(rope.port->finishedDrags, 1) << "a second end of the same session does nothing";

    // A selected print carries the selection, stacked by depth; the print pressed last is on top.
    rope.model->setSelection({photos[2], photos[0]});
    dragPaper(canvas, photos[0]);
    ASSERT_EQ(seen.size(), 2);
    EXPECT_EQ(seen[1].entries, (QStringList{photos[2].id, photos[0].id}));
    EXPECT_EQ(seen[1].urls,
              (QList<QUrl>{QUrl::fromLocalFile(photos[2].path), QUrl::fromLocalFile(photos[0].path)}));
    rope.model->endSelection();

    // A print whose file is gone carries nothing, so no drag starts.
    ASSERT_TRUE(QFile::remove(photos[0].path));
    dragPaper(canvas, photos[0]);
    EXPECT_EQ(seen.size(), 2);
    EXPECT_FALSE(canvas.sessionInProgress());
}

TEST_F(ClotheslineCanvasDragTest, OwnCopiesHangWhereFirstDroppedAndEscapeOrTheirOwnPaperMakesNone) {
    Rope rope(3);
    hang(rope, {{0, 0.1}, {1, 0.5}, {2, 0.9}});
    ClotheslineCanvasView& canvas = rope.canvas();
    GalleryModel& model = *rope.model;
    const Photo b = model.photos().at(1);
    const QPointF blank(ropeAt(canvas, 0.3).x(), canvas.height() - 6);
    QSet<QString> before;
    for (const Photo& photo : model.photos())
        before.insert(photo.id);

    canvas.setDragExec([&](QDrag& drag) {
        const QMimeData& data = *drag.mimeData();
        EXPECT_EQ(dragOver(canvas, QEvent::DragEnter, ropeAt(canvas, 0.3), data), Qt::CopyAction);
        EXPECT_TRUE(canvas.externalDrop()) << "the rope shows where the copies would hang";
        EXPECT_EQ(dragOver(canvas, QEvent::DragMove, paperCentre(canvas, b), data), Qt::CopyAction);
        EXPECT_FALSE(canvas.externalDrop());
        EXPECT_EQ(dragOver(canvas, QEvent::DragMove, blank, data), Qt::IgnoreAction);
        // Both rope ends clamp to the outermost places.
        const ClotheslineRopeGeometry r = canvas.ropeGeometry();
        EXPECT_EQ(canvas.photoDropTarget(r.pointAlong(r.supportFraction(0)) - QPointF(4, 0)),
                  PhotoDropTarget::onRope(0));
        EXPECT_EQ(canvas.photoDropTarget(r.pointAlong(r.supportFraction(1)) + QPointF(4, 0)),
                  PhotoDropTarget::onRope(1));
        EXPECT_EQ(canvas.photoDropTarget(r.knotRects()[0].center()).kind, PhotoDropTarget::outside);

        EXPECT_EQ(dropAt(canvas, ropeAt(canvas, 0.3), data), Qt::CopyAction);
        dragOver(canvas, QEvent::DragEnter, ropeAt(canvas, 0.7), data);
        EXPECT_EQ(dropAt(canvas, ropeAt(canvas, 0.7), data), Qt::CopyAction);
        EXPECT_NEAR(canvas.pendingPhotoDrop()->x, 0.3, 1e-9) << "the first drop holds";
        return Qt::CopyAction;
    });
    dragPaper(canvas, b);
    EXPECT_FALSE(canvas.sessionInProgress());
    canvas.finishDrag(Qt::CopyAction, true);
    ASSERT_TRUE(importSettled(model, 4));
    QTest::qWait(200);
    EXPECT_EQ(model.photos().size(), 4) << "one copy, however often the session is ended";
    const Photo copy = *std::find_if(model.photos().cbegin(), model.photos().cend(),
                                     [&](const Photo& p) { return !before.contains(p.id); });
    EXPECT_NEAR(model.clotheslinePlacements().position(copy)->x, 0.3, 1e-9);
    EXPECT_FALSE(model.usedCopyIDs().contains(b.recordKey())) << "a copy onto the rope did not leave";

    // Dropped on its own paper: nothing is copied.
    canvas.setDragExec([&](QDrag& drag) {
        dragOver(canvas, QEvent::DragEnter, paperCentre(canvas, b), *drag.mimeData());
        EXPECT_EQ(dropAt(canvas, paperCentre(canvas, b), *drag.mimeData()), Qt::CopyAction);
        EXPECT_EQ(canvas.pendingPhotoDrop()->kind, PhotoDropTarget::source);
        return Qt::CopyAction;
    });
    dragPaper(canvas, b);
    // Escape after a drop on the rope cancels the session: nothing is copied either.
    canvas.setDragExec([&](QDrag& drag) {
        dragOver(canvas, QEvent::DragEnter, ropeAt(canvas, 0.7), *drag.mimeData());
        EXPECT_EQ(dropAt(canvas, ropeAt(canvas, 0.7), *drag.mimeData()), Qt::CopyAction);
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, {});
        QApplication::sendEvent(&canvas, &escape);
        EXPECT_TRUE(canvas.dragCancelled());
        EXPECT_EQ(canvas.photoDropTarget(ropeAt(canvas, 0.7)).kind, PhotoDropTarget::outside);
        return Qt::CopyAction;
    });
    dragPaper(canvas, b);
    QTest::qWait(300);
    EXPECT_EQ(model.photos().size(), 4);
    EXPECT_FALSE(model.usedCopyIDs().contains(b.recordKey()));

    // Taken by another program: the photo counts as copied out.
    canvas.setDragExec([](QDrag&) { return Qt::CopyAction; });
    dragPaper(canvas, b);
    EXPECT_TRUE(model.usedCopyIDs().contains(b.recordKey()));
}

TEST_F(ClotheslineCanvasDragTest, ACopyDragCancelledWhileTheLoopRunsMakesNoCopyWhateverItsTargetAnswers) {
    Rope rope(3);
    hang(rope, {{0, 0.1}, {1, 0.5}, {2, 0.9}});
    ClotheslineCanvasView& canvas = rope.canvas();
    GalleryModel& model = *rope.model;
    const Photo b = model.photos().at(1);
    // Escape after a drop on the rope, and Escape with a drop right behind it in the same batch;
    // the loop ends as if a target had taken the copy.
    for (const bool escapeFirst : {false, true}) {
        SCOPED_TRACE(escapeFirst ? "Escape, then the drop" : "the drop, then Escape");
        canvas.setDragExec([&](QDrag& drag) {
            dragOver(canvas, QEvent::DragEnter, ropeAt(canvas, 0.7), *drag.mimeData());
            if (escapeFirst)
                pressEscapeIn(*rope.window);
            const Qt::DropAction dropped = dropAt(canvas, ropeAt(canvas, 0.7), *drag.mimeData());
            if (!escapeFirst)
                pressEscapeIn(*rope.window);
            EXPECT_TRUE(canvas.dragCancelled());
            EXPECT_EQ(dropped, escapeFirst ? Qt::IgnoreAction : Qt::CopyAction);
            return Qt::CopyAction;
        });
        dragPaper(canvas, b);
        EXPECT_FALSE(canvas.sessionInProgress());
        // The copies would start in the next turn, and importing shows them until they are done.
        rope.settleUpdates();
        ASSERT_TRUE(waitUntil([&] { return !model.importing(); }));
        EXPECT_EQ(model.photos().size(), 3);
        EXPECT_FALSE(model.usedCopyIDs().contains(b.recordKey())) << "nothing left the application";
    }
}

TEST_F(ClotheslineCanvasDragTest,
       APictureNothingTookSlidesBackOntoItsPrintButOneTakenOrWithReduceMotionDoesNot) {
    ReduceMotion::setReader([] { return std::optional<bool>(false); });
    Rope rope(3);
    hang(rope, {{0, 0.1}, {1, 0.5}, {2, 0.9}});
    ClotheslineCanvasView& canvas = rope.canvas();
    GalleryModel& model = *rope.model;
    const Photo b = model.photos().at(1);
    const QPoint letGo = canvas.mapToGlobal(paperCentre(canvas, b) + QPointF(260, 190)).toPoint();
    // Time moves a little each time it is read, not with the wall clock, so a slow machine cannot
    // skip the middle of the flight.
    double now = DisplayLink::now();
    canvas.setClock([&now] { return now += 0.002; });
    QPoint hotSpot;
    QSizeF size;
    Qt::DropAction answer = Qt::IgnoreAction;
    bool escape = false;
    std::optional<QPoint> shownAtEscape;
    canvas.setDragExec([&](QDrag& drag) {
        hotSpot = drag.hotSpot();
        size = drag.pixmap().deviceIndependentSize();
        QCursor::setPos(letGo);
        if (escape) {
            // The drag's picture was last moved to where the loop last saw the pointer; the
            // pointer goes on before the loop has ended.
            QMouseEvent move(QEvent::MouseMove, rope.window->mapFromGlobal(QPointF(letGo)), QPointF(letGo),
                             Qt::NoButton, Qt::LeftButton, {});
            QApplication::sendEvent(rope.window.get(), &move);
            pressEscapeIn(*rope.window);
            QCursor::setPos(letGo + QPoint(90, 40));
            // The sliding picture's window, there already.
            for (QWidget* shown : QApplication::topLevelWidgets())
                if (shown->isVisible() && shown->windowType() == Qt::ToolTip &&
                    shown->size() == (size + QSizeF(1, 1)).toSize())
                    shownAtEscape = shown->pos();
        }
        return answer;
    });

    // Let go where nothing takes it: the picture shows where the drag left it and slides onto the
    // print's picture, where the print hangs when it lands.
    dragPaper(canvas, b);
    OpaquePegPreview* slide = canvas.copyPictureReturn();
    ASSERT_TRUE(slide);
    ASSERT_EQ(slide->imageRects().size(), 1);
    EXPECT_EQ(slide->imageRects()[0], QRectF(letGo - hotSpot, size));
    EXPECT_EQ(slide->panelsShown(), QList<bool>{true});
    const QRectF hungAtStart = *canvas.printFrame(b);
    rope.place({{1, 0.3}});
    ASSERT_GT(std::abs(canvas.printFrame(b)->x() - hungAtStart.x()), 50) << "the print did not move";
    QList<QRectF> places;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            if (slide->panelsShown() == QList<bool>{true} &&
                places.value(places.size() - 1) != slide->imageRects()[0])
                places.append(slide->imageRects()[0]);
            return slide->phase() >= OpaquePegPreview::Phase::revealed;
        },
        5000));
    ASSERT_GE(places.size(), 2);
    const QPointF print =
        canvas.mapToGlobal(canvas.printFrame(b)->topLeft() + canvas.geometry(b).imageRect.topLeft());
    EXPECT_NEAR(places.last().x(), print.x(), 1.5) << "onto the print's picture";
    EXPECT_NEAR(places.last().y(), print.y(), 1.5);
    EXPECT_EQ(places.last().size(), size);
    EXPECT_TRUE(std::any_of(places.cbegin(), places.cend(), [&](const QRectF& r) {
        return r.x() > print.x() + 2 && r.x() < letGo.x() - hotSpot.x() - 2;
    })) << "it slides, not jumps";
    EXPECT_TRUE(QTest::qWaitFor([&] { return slide->phase() == OpaquePegPreview::Phase::closed; }, 5000));

    // Cancelled, whatever the target answered: it slides back too, taking over on the Escape where
    // the drag's picture stood, before the drag's loop has ended.
    escape = true;
    answer = Qt::CopyAction;
    dragPaper(canvas, b);
    ASSERT_TRUE(canvas.copyPictureReturn()) << "Escape";
    EXPECT_EQ(canvas.copyPictureReturn()->imageRects().value(0), QRectF(letGo - hotSpot, size))
        << "from where the drag's loop last showed its picture";
    EXPECT_EQ(shownAtEscape, letGo - hotSpot) << "shown as the Escape ends the drag";
    escape = false;

    // Taken: the picture stays with the target, and the last one's slide gives way.
    dragPaper(canvas, b);
    EXPECT_FALSE(canvas.copyPictureReturn()) << "a drop that was taken";

    // The rope window went away meanwhile, or the desktop wants less motion: nothing slides.
    answer = Qt::IgnoreAction;
    canvas.setDragExec([&](QDrag&) {
        rope.window->hide();
        return answer;
    });
    dragPaper(canvas, b);
    EXPECT_FALSE(canvas.copyPictureReturn()) << "no rope to slide back to";
    rope.show();
    ReduceMotion::setReader([] { return std::optional<bool>(true); });
    canvas.setDragExec([&](QDrag&) { return answer; });
    dragPaper(canvas, b);
    EXPECT_FALSE(canvas.copyPictureReturn()) << "Reduce Motion";
}

// The picture lands on the print's picture as the rope draws it: its window on the whole pixel at
// or before the picture's exact place, its picture drawn the rest of the way inside it. A window a
// fraction past that place would cut the picture's first column away. The print is moved between
// the drag and the landing by a third of a pixel at a time, so some landing falls past a half.
TEST_F(ClotheslineCanvasDragTest, TheSlidingPictureLandsOnThePixelAtOrBeforeItsPrintsPicture) {
    ReduceMotion::setReader([] { return std::optional<bool>(false); });
    Rope rope(3);
    hang(rope, {{0, 0.1}, {1, 0.5}, {2, 0.9}});
    ClotheslineCanvasView& canvas = rope.canvas();
    const Photo b = rope.model->photos().at(1);
    double now = DisplayLink::now();
    canvas.setClock([&now] { return now += 0.002; });
    const auto picture = [&] {
        return canvas.printFrame(b)->topLeft() + canvas.geometry(b).imageRect.topLeft();
    };
    // How far the picture moves for a step of the print's place.
    rope.place({{1, 0.3}});
    ASSERT_TRUE(rope.waitForRest());
    const double at = picture().x();
    rope.place({{1, 0.31}});
    ASSERT_TRUE(rope.waitForRest());
    const double perPlace = (picture().x() - at) / 0.01;
    ASSERT_GT(perPlace, 100) << "the print does not move along the rope";
    rope.place({{1, 0.5}});
    ASSERT_TRUE(rope.waitForRest());

    for (int step = 0; step < 3; ++step) {
        SCOPED_TRACE(step);
        const QPointF start = picture();
        double target = 0.3 + step * (1.0 / 3) / perPlace;
        canvas.setDragExec([&](QDrag&) {
            rope.place({{1, target}});
            return Qt::IgnoreAction;
        });
        dragPaper(canvas, b);
        OpaquePegPreview* slide = canvas.copyPictureReturn();
        ASSERT_TRUE(slide);
        QRectF last;
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                if (slide->phase() == OpaquePegPreview::Phase::returning)
                    last = slide->imageRects().value(0);
                return slide->phase() >= OpaquePegPreview::Phase::revealed;
            },
            5000));
        // The drag's picture began on the whole pixel at or before the picture as the drag moved it
        // (dragPaper's step) and lands as far from the picture as it began.
        const QPointF travel(3.06, 4.08);
        const QPointF began(std::floor(start.x() + travel.x()), std::floor(start.y() + travel.y()));
        const QPointF exact = canvas.mapToGlobal(began - travel + picture() - start);
        EXPECT_TRUE(last.x() <= exact.x() && last.x() > exact.x() - 1 && last.y() <= exact.y() &&
                    last.y() > exact.y() - 1)
            << "landed at " << last.x() << "," << last.y() << " for a picture at " << exact.x() << ","
            << exact.y();
        canvas.setDragExec({});
        rope.place({{1, 0.5}});
        ASSERT_TRUE(rope.waitForRest());
    }
    ReduceMotion::setReader({});
}

TEST_F(ClotheslineCanvasDragTest, ExternalDragsAreTakenOnlyWhereTheRopeCanReadAndHoldThem) {
    Rope rope(3);
    hang(rope, {{0, 0.1}, {1, 0.5}, {2, 0.9}});
    ClotheslineCanvasView& canvas = rope.canvas();
    const QPointF onRope = ropeAt(canvas, 0.3);
    const QPointF blank(onRope.x(), canvas.height() - 6);
    const QString folder = makeFolder("offered");
    const QString image = folder + "/offered.png";
    writeFile(image, pngBytes(Qt::darkRed));
    const QString text = folder + "/notes.txt";
    writeFile(text, "not a picture");

    struct Case {
        const char* what;
        QMap<QString, QByteArray> formats;
        Qt::DropAction expected;
    };
    const QByteArray fileList =
        QUrl::fromLocalFile(image).toEncoded() + "\r\n" + QUrl::fromLocalFile(image).toEncoded() + "\r\n";
    const QList<Case> cases{
        {"only a URL", {{"text/uri-list", "https://example.com/cat.png\r\n"}}, Qt::CopyAction},
        {"a browser's bytes with a URL",
         {{"application/octet-stream", pngBytes(Qt::blue)}, {"text/uri-list", "https://example.com/c.png"}},
         Qt::CopyAction},
        {"a file manager's list", {{"text/uri-list", fileList}}, Qt::CopyAction},
        {"plain text", {{"text/plain", "hello"}}, Qt::IgnoreAction},
        {"a file that is no image",
         {{"text/uri-list", QUrl::fromLocalFile(text).toEncoded() + "\r\n"}},
         Qt::IgnoreAction},
    };
    for (const Case& c : cases) {
        const auto data = offering(c.formats);
        EXPECT_EQ(dragOver(canvas, QEvent::DragEnter, onRope, *data), c.expected) << c.what;
        EXPECT_EQ(canvas.externalDrop(), c.expected == Qt::CopyAction) << c.what;
        EXPECT_EQ(dragOver(canvas, QEvent::DragMove, blank, *data), Qt::IgnoreAction) << c.what;
        EXPECT_FALSE(canvas.externalDrop()) << c.what;
        leave(canvas);
    }

    // A print takes drops too; a source that only allows moving does not get one.
    const auto files = offering({{"text/uri-list", fileList}});
    const QPointF onPrint = paperCentre(canvas, rope.model->photos().at(1));
    EXPECT_EQ(dragOver(canvas, QEvent::DragEnter, onPrint, *files), Qt::CopyAction);
    leave(canvas);
    EXPECT_FALSE(canvas.externalDrop()) << "leaving clears the highlight";
    EXPECT_EQ(dragOver(canvas, QEvent::DragEnter, onRope, *files, Qt::MoveAction), Qt::IgnoreAction);

    // Nothing is taken while photos are being deleted or imported, nor while the large preview
    // covers the rope.
    GalleryModel& model = *rope.model;
    const struct {
        const char* what;
        bool deleting, importing, previewing;
    } busy[] = {{"deleting", true, false, false},
                {"importing", false, true, false},
                {"previewing", false, false, true}};
    for (const auto& b : busy) {
        SCOPED_TRACE(b.what);
        model.setDeleting(b.deleting);
        model.setImporting(b.importing);
        rope.host->setPreviewing(b.previewing);
        rope.settleUpdates();
        EXPECT_EQ(dragOver(canvas, QEvent::DragEnter, onRope, *files), Qt::IgnoreAction);
        EXPECT_EQ(dragOver(canvas, QEvent::DragMove, onRope, *files), Qt::IgnoreAction);
        EXPECT_FALSE(canvas.externalDrop());
        EXPECT_EQ(dropAt(canvas, onRope, *files), Qt::IgnoreAction);
        leave(canvas);
    }
    model.setDeleting(false);
    model.setImporting(false);
    rope.host->setPreviewing(false);
    rope.settleUpdates();
    EXPECT_EQ(dragOver(canvas, QEvent::DragEnter, onRope, *files), Qt::CopyAction) << "and again once idle";
    leave(canvas);

    // X keeps one data object across drags: each new drag is looked at afresh.
    auto reused = offering({{"text/uri-list", QUrl::fromLocalFile(text).toEncoded() + "\r\n"}});
    EXPECT_EQ(dragOver(canvas, QEvent::DragEnter, onRope, *reused), Qt::IgnoreAction);
    reused->setData("text/uri-list", QUrl::fromLocalFile(image).toEncoded() + "\r\n");
    EXPECT_EQ(dragOver(canvas, QEvent::DragEnter, onRope, *reused), Qt::CopyAction);
    leave(canvas);

    // A drop whose data no move looked at (on X it may come before the rope read the list) reads
    // the list itself: files that are no pictures are not taken.
    const auto pictures = offering({{"text/uri-list", fileList}});
    ASSERT_EQ(dragOver(canvas, QEvent::DragEnter, onRope, *pictures), Qt::CopyAction);
    const auto notes = offering({{"text/uri-list", QUrl::fromLocalFile(text).toEncoded() + "\r\n"}});
    EXPECT_EQ(dropAt(canvas, onRope, *notes), Qt::IgnoreAction);
    EXPECT_FALSE(model.importing());
    leave(canvas);
}

TEST_F(ClotheslineCanvasDragTest, DroppedImagesHangAtTheDropPlaceClampedToTheRopeAndTheirSourcesStay) {
    Rope rope(2);
    hang(rope, {{0, 0.0}, {1, 1.0}});
    ClotheslineCanvasView& canvas = rope.canvas();
    GalleryModel& model = *rope.model;
    const QString storage = model.indexer().storage();
    const QList<Photo> hung = model.photos();
    const QString folder = makeFolder("elsewhere");

    // A file from a file manager, proposed as a move, dropped left of the leftmost peg.
    const QString file = folder + "/from-files.png";
    writeFile(file, pngBytes(Qt::darkGreen));
    const auto files = offering({{"text/uri-list", QUrl::fromLocalFile(file).toEncoded() + "\r\n"}});
    const QPointF leftPaper = canvas.printFrame(hung[0])->topLeft() + QPointF(60, 150);
    ASSERT_LT(canvas.ropeFraction(leftPaper), 0);
    ASSERT_EQ(dragOver(canvas, QEvent::DragEnter, leftPaper, *files), Qt::CopyAction);
    EXPECT_EQ(dropAt(canvas, leftPaper, *files), Qt::CopyAction) << "never a move";
    ASSERT_TRUE(importSettled(model, 3));
    const auto fromFiles = newcomer(model, hung);
    ASSERT_TRUE(fromFiles);
    EXPECT_EQ(model.clotheslinePlacements().position(*fromFiles)->x, 0);
    EXPECT_TRUE(QFile::exists(file));

    // A browser's bytes, dropped right of the rightmost peg.
    const auto browser = offering({{"application/octet-stream", pngBytes(Qt::darkYellow)},
                                   {"text/uri-list", "http://127.0.0.1:9/photo.png\r\n"}});
    const QPointF rightPaper = canvas.printFrame(hung[1])->topRight() + QPointF(-60, 150);
    ASSERT_GT(canvas.ropeFraction(rightPaper), 1);
    ASSERT_EQ(dragOver(canvas, QEvent::DragEnter, rightPaper, *browser), Qt::CopyAction);
    EXPECT_EQ(dropAt(canvas, rightPaper, *browser), Qt::CopyAction);
    ASSERT_TRUE(importSettled(model, 4));
    const QStringList saved = QDir(storage + "/imported-images").entryList(QDir::Files);
    EXPECT_EQ(saved.size(), 2) << "both are in the storage folder";
    const auto fromBrowser = newcomer(model, hung + QList<Photo>{*fromFiles});
    ASSERT_TRUE(fromBrowser);
    EXPECT_TRUE(fromBrowser->path.startsWith(storage + "/imported-images/"));
    EXPECT_EQ(model.clotheslinePlacements().position(*fromBrowser)->x, 1);

    // A file that only looks like an image: the error shows and nothing changes.
    const QString broken = folder + "/broken.png";
    writeFile(broken, "no picture inside");
    const QByteArray exhibition = readFile(storage + "/exhibition.json");
    const auto brokenList = offering({{"text/uri-list", QUrl::fromLocalFile(broken).toEncoded() + "\r\n"}});
    ASSERT_EQ(dragOver(canvas, QEvent::DragEnter, ropeAt(canvas, 0.5), *brokenList), Qt::CopyAction);
    EXPECT_EQ(dropAt(canvas, ropeAt(canvas, 0.5), *brokenList), Qt::CopyAction);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.importing() && model.actionError(); }, 10000));
    EXPECT_FALSE(model.actionError()->isEmpty());
    EXPECT_EQ(model.photos().size(), 4);
    EXPECT_EQ(readFile(storage + "/exhibition.json"), exhibition);
    EXPECT_EQ(QDir(storage + "/imported-images").entryList(QDir::Files), saved);
    EXPECT_TRUE(QFile::exists(broken));

    // A source that gives none of the picture it offers: the user is told, and the source hears
    // that the drop was refused, since nothing was copied.
    const auto givesNothing = offering({{"image/png", QByteArray()}});
    ASSERT_EQ(dragOver(canvas, QEvent::DragEnter, ropeAt(canvas, 0.5), *givesNothing), Qt::CopyAction);
    EXPECT_EQ(dropAt(canvas, ropeAt(canvas, 0.5), *givesNothing), Qt::IgnoreAction);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !model.importing() && model.actionError() && model.actionError()->contains("来源"); },
        10000));
    EXPECT_EQ(model.photos().size(), 4);
    EXPECT_EQ(QDir(storage + "/imported-images").entryList(QDir::Files), saved);
}
