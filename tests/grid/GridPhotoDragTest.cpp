#include "grid/GridPhotoDrag.h"
#include "canvas/OpaquePegPreview.h"
#include "core/PhotoIdentity.h"
#include "dragdrop/PhotoDragPayload.h"
#include "platform/FileIdentity.h"
#include "platform/ReduceMotion.h"
#include "support/TestEnvironment.h"

#include <QApplication>
#include <QBuffer>
#include <QCursor>
#include <QDrag>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QPointer>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

namespace vennimo::test {
namespace {

// A photo of a PNG written into the test's folder, as the index would record it.
Photo writtenPhoto(const QString& name) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    makeImage(90, 60).save(&buffer, "PNG");
    const QString path = makeFolder("grid-drag") + "/" + name;
    writeFile(path, bytes);
    const auto id = currentIdentity(path);
    const auto file = FileIdentity::read(path);
    return {
        .id = id->id, .path = path, .modified = file->modified, .size = file->size, .created = id->created};
}

// Stands in for the system's drag loop: the pointer goes to `at` and Escape ends the drag there.
GridPhotoDrag::Run cancelledAt(QWidget& grid, QPoint at) {
    return [&grid, at](QDrag& drag) {
        QCursor::setPos(at);
        QMouseEvent move(QEvent::MouseMove, grid.mapFromGlobal(QPointF(at)), QPointF(at), Qt::NoButton,
                         Qt::LeftButton, {});
        QApplication::sendEvent(&grid, &move);
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, {});
        QApplication::sendEvent(&grid, &key);
        drag.deleteLater();
        return Qt::IgnoreAction;
    };
}

TEST(GridPhotoDrag, APictureNothingTookSlidesBackOntoItsCardsAndIsGoneOnceLandedButNotUnderReduceMotion) {
    ReduceMotion::setReader([] { return std::optional<bool>(false); });
    QWidget grid;
    grid.setGeometry(100, 100, 400, 300);
    grid.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
    const PhotoDragPayload payload({writtenPhoto("card.png")});
    ASSERT_FALSE(payload.isEmpty());
    // Where the card draws its picture, of the photo's shape (90 x 60).
    const QRectF picture(40, 30, 120, 80);
    const QPoint pressed = grid.mapToGlobal(QPoint(90, 70));
    const QPoint released = grid.mapToGlobal(QPoint(300, 250));

    QCursor::setPos(pressed);
    GridPhotoDrag::execWith(payload, &grid, picture, cancelledAt(grid, released));
    QPointer<OpaquePegPreview> slide = grid.findChild<OpaquePegPreview*>();
    ASSERT_TRUE(slide) << "the view keeps the picture while it slides";
    EXPECT_EQ(slide->imageRects(),
              QList<QRectF>{QRectF(released - (pressed - grid.mapToGlobal(QPoint(40, 30))), picture.size())})
        << "from where it was let go, as large as the card's picture";
    QRectF last;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            if (slide && slide->phase() == OpaquePegPreview::Phase::returning)
                last = slide->imageRects().value(0);
            return !slide;
        },
        5000))
        << "the picture is still there";
    EXPECT_EQ(last, QRectF(QPointF(grid.mapToGlobal(QPoint(40, 30))), picture.size()))
        << "onto the card's own picture";

    // The cards went meanwhile: it goes from where it is, flying no further.
    QCursor::setPos(pressed);
    GridPhotoDrag::execWith(payload, &grid, picture, cancelledAt(grid, released));
    slide = grid.findChild<OpaquePegPreview*>();
    ASSERT_TRUE(slide);
    const QRectF shown = slide->imageRects().value(0);
    grid.hide();
    QList<QRectF> places;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            if (slide && slide->phase() == OpaquePegPreview::Phase::returning)
                places.append(slide->imageRects().value(0));
            return !slide;
        },
        5000))
        << "the picture is still there";
    for (const QRectF& place : std::as_const(places))
        EXPECT_EQ(place, shown) << "it flew on towards the hidden grid's card: " << place.x() << ","
                                << place.y();

    ReduceMotion::setReader([] { return std::optional<bool>(true); });
    grid.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
    QCursor::setPos(pressed);
    GridPhotoDrag::execWith(payload, &grid, picture, cancelledAt(grid, released));
    EXPECT_FALSE(grid.findChild<OpaquePegPreview*>()) << "under Reduce Motion the picture just goes";
    ReduceMotion::setReader({});
}

TEST(GridPhotoDrag, OnlyADragNothingTookSlidesBackAndItStandsWhereTheDragsPictureWasAsTheDragEnds) {
    ReduceMotion::setReader([] { return std::optional<bool>(false); });
    QWidget grid;
    grid.setGeometry(100, 100, 400, 300);
    grid.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&grid));
    const PhotoDragPayload payload({writtenPhoto("card.png")});
    ASSERT_FALSE(payload.isEmpty());
    const QRectF card(40, 30, 120, 90);
    const QPoint released = grid.mapToGlobal(QPoint(300, 250));
    const auto slides = [&grid] { return grid.findChildren<OpaquePegPreview*>(); };
    const auto settle = [&] { return QTest::qWaitFor([&] { return slides().isEmpty(); }, 5000); };

    // Taken by a target: the picture stays there.
    QCursor::setPos(grid.mapToGlobal(QPoint(90, 70)));
    EXPECT_EQ(GridPhotoDrag::execWith(payload, &grid, card, [](QDrag&) { return Qt::CopyAction; }),
              Qt::CopyAction);
    EXPECT_TRUE(slides().isEmpty()) << "a picture slid back from a drop that was taken";

    // Let go where nothing takes it, or cancelled: it slides back from where the drag's loop last
    // showed its picture, shown before the loop ended, whatever the pointer did afterwards.
    for (const bool escape : {false, true}) {
        SCOPED_TRACE(escape ? "Escape" : "let go");
        QPoint hotSpot;
        std::optional<QPoint> shownAtEnd;
        QCursor::setPos(grid.mapToGlobal(QPoint(90, 70)));
        const Qt::DropAction action = GridPhotoDrag::execWith(payload, &grid, card, [&](QDrag& drag) {
            hotSpot = drag.hotSpot();
            QCursor::setPos(released);
            QMouseEvent move(QEvent::MouseMove, grid.mapFromGlobal(QPointF(released)), QPointF(released),
                             Qt::NoButton, Qt::LeftButton, {});
            QApplication::sendEvent(&grid, &move);
            if (escape) {
                QKeyEvent key(QEvent::KeyPress, Qt::Key_Escape, {});
                QApplication::sendEvent(&grid, &key);
            } else {
                QMouseEvent release(QEvent::MouseButtonRelease, grid.mapFromGlobal(QPointF(released)),
                                    QPointF(released), Qt::LeftButton, Qt::NoButton, {});
                QApplication::sendEvent(&grid, &release);
            }
            QCursor::setPos(released + QPoint(70, 30));
            for (QWidget* shown : QApplication::topLevelWidgets())
                if (shown->isVisible() && shown->windowType() == Qt::ToolTip)
                    shownAtEnd = shown->pos();
            drag.deleteLater();
            return Qt::IgnoreAction;
        });
        EXPECT_EQ(action, Qt::IgnoreAction);
        ASSERT_EQ(slides().size(), 1) << "nothing slid back";
        EXPECT_EQ(slides().first()->imageRects().value(0).topLeft(), QPointF(released - hotSpot));
        EXPECT_EQ(shownAtEnd, released - hotSpot) << "not shown as the drag ended";
        EXPECT_TRUE(settle()) << "the picture is still there";
    }
    ReduceMotion::setReader({});
}

} // namespace
} // namespace vennimo::test
