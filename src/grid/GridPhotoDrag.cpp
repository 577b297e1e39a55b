#include "grid/GridPhotoDrag.h"

#include "dragdrop/PhotoDragPayload.h"

#include <QCursor>
#include <QDrag>
#include <QMimeData>
#include <QPixmap>
#include <QWidget>

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
    if (!picture.image.isNull()) {
        drag->setPixmap(QPixmap::fromImage(picture.image));
        drag->setHotSpot((QPointF(source->mapFromGlobal(QCursor::pos())) - picture.origin).toPoint());
    }
    return drag->exec(Qt::CopyAction, Qt::CopyAction);
}

} // namespace vennimo
