#include "grid/GridPhotoDrag.h"

#include "canvas/DragPictureCut.h"
#include "canvas/DragPictureReturn.h"
#include "canvas/OpaquePegPreview.h"
#include "dragdrop/PhotoDragPayload.h"

#include <QCursor>
#include <QDrag>
#include <QMimeData>
#include <QPointer>
#include <QWidget>

#include <memory>

namespace vennimo {

namespace {

// Back where the cards lay when the drag began, for as long as they show.
OpaquePegPreview::Destinations cardsOf(QWidget* source, QPointF restOrigin, QSizeF size) {
    QPointer<QWidget> view(source);
    return [view, restOrigin, size] {
        if (!view || !view->isVisible())
            return OpaqueHandoffGate::Targets{std::nullopt};
        return OpaqueHandoffGate::Targets{QRectF(view->mapToGlobal(restOrigin), size)};
    };
}

// The view keeps a flying picture while it flies, and it goes with the view; it goes once landed.
void keepFlying(std::unique_ptr<OpaquePegPreview> flight, QWidget* source,
                const std::shared_ptr<QPointer<OpaquePegPreview>>& landed) {
    if (!flight)
        return;
    *landed = flight.get();
    if (flight->phase() >= OpaquePegPreview::Phase::revealed)
        flight.release()->deleteLater();
    else
        flight.release()->setParent(source);
}

std::function<void()> goOnceLanded(const std::shared_ptr<QPointer<OpaquePegPreview>>& landed) {
    return [landed] {
        if (*landed)
            (*landed)->deleteLater();
    };
}

} // namespace

Qt::DropAction GridPhotoDrag::exec(const PhotoDragPayload& payload, QWidget* source, const QRectF& picture) {
    // The system keeps the drag, and the data a target still reads after the drop, until the
    // drop's exchange is over, and deletes it then.
    return execWith(payload, source, picture,
                    [](QDrag& drag) { return drag.exec(Qt::CopyAction, Qt::CopyAction); });
}

Qt::DropAction GridPhotoDrag::execWith(const PhotoDragPayload& payload, QWidget* source,
                                       const QRectF& cardPicture, const Run& run) {
    if (payload.isEmpty() || !source)
        return Qt::IgnoreAction;
    QList<PhotoDragPayload::Item> items = payload.makeItems(cardPicture, source->devicePixelRatioF());
    // One photo lifts the card's own picture: a picture fitted anew could differ from it by a
    // fraction of a pixel, and slide back beside it.
    if (items.size() == 1)
        items.first().frame = cardPicture;
    const PhotoDragPayload::Picture picture = PhotoDragPayload::picture(items, source->devicePixelRatioF());
    auto* drag = new QDrag(source);
    drag->setMimeData(payload.makeMimeData().release());
    const QPoint hotSpot = (QPointF(source->mapFromGlobal(QCursor::pos())) - picture.origin).toPoint();
    const bool cut = OpaquePegPreview::panelsNeedMask();
    const DragPictureCut dragPicture(*drag, picture.image, hotSpot, cut);
    QPointer<QWidget> view(source);
    auto landed = std::make_shared<QPointer<OpaquePegPreview>>();
    // Made now, so that it stands where the drag's picture stood the moment that one goes.
    DragPictureReturn pictureReturn(
        *drag, OpaquePegPreview::standBy(picture.image, source->mapToGlobal(picture.origin), cut), hotSpot,
        cardsOf(source, picture.origin, picture.image.deviceIndependentSize()), goOnceLanded(landed));
    const Qt::DropAction action = run(*drag);
    // The system takes its picture away where the pointer is; one that nothing took slides back
    // onto the cards instead, from where the drag showed it.
    const bool returns = action == Qt::IgnoreAction && view && view->isVisible();
    keepFlying(pictureReturn.finish(returns), view, landed);
    return action;
}

} // namespace vennimo
