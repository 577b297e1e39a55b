#include "grid/GridPhotoDrag.h"

#include "canvas/OpaquePegPreview.h"
#include "dragdrop/PhotoDragPayload.h"

#include <QCursor>
#include <QDrag>
#include <QMimeData>
#include <QPixmap>
#include <QPointer>
#include <QWidget>

#include <memory>

namespace vennimo {

Qt::DropAction GridPhotoDrag::exec(const PhotoDragPayload& payload, QWidget* source, const QRectF& card) {
    if (payload.isEmpty() || !source)
        return Qt::IgnoreAction;
    const PhotoDragPayload::Picture picture =
        PhotoDragPayload::picture(payload.makeItems(card), source->devicePixelRatioF());
    // The system keeps the drag, and the data a target still reads after the drop, until the
    // drop's exchange is over, and deletes it then.
    auto* drag = new QDrag(source);
    drag->setMimeData(payload.makeMimeData().release());
    const QPoint hotSpot = (QPointF(source->mapFromGlobal(QCursor::pos())) - picture.origin).toPoint();
    if (!picture.image.isNull()) {
        drag->setPixmap(QPixmap::fromImage(picture.image));
        drag->setHotSpot(hotSpot);
    }
    QPointer<QWidget> view(source);
    const Qt::DropAction action = drag->exec(Qt::CopyAction, Qt::CopyAction);
    // The system takes its picture away where the pointer is; one that nothing took slides back
    // onto the cards instead, from where the drag showed it.
    if (action == Qt::IgnoreAction && view && view->isVisible())
        returnPicture(picture.image, QPointF(QCursor::pos() - hotSpot), view, picture.origin);
    return action;
}

void GridPhotoDrag::returnPicture(const QImage& picture, QPointF origin, QWidget* source,
                                  QPointF restOrigin) {
    QPointer<QWidget> view(source);
    const QSizeF size = picture.deviceIndependentSize();
    // Back where the cards lay when the drag began, for as long as they show.
    const auto destination = [view, restOrigin, size] {
        if (!view || !view->isVisible())
            return OpaqueHandoffGate::Targets{std::nullopt};
        return OpaqueHandoffGate::Targets{QRectF(view->mapToGlobal(restOrigin), size)};
    };
    auto landed = std::make_shared<QPointer<OpaquePegPreview>>();
    std::unique_ptr<OpaquePegPreview> flight =
        OpaquePegPreview::flyBack(picture, origin, destination, OpaquePegPreview::panelsNeedMask(), [landed] {
            if (*landed)
                (*landed)->deleteLater();
        });
    if (!flight)
        return;
    *landed = flight.get();
    // The view keeps it while it flies, and it goes with the view.
    flight.release()->setParent(source);
}

} // namespace vennimo
