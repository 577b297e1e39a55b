#include "canvas/ClotheslineCanvasView.h"

#include "canvas/PegDragBadge.h"
#include "canvas/RopeWindowPort.h"
#include "dragdrop/ExternalImageDrop.h"
#include "model/GalleryModel.h"
#include "platform/X11DropStatus.h"
#include "rope/RopeDiagnostic.h"

#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace vennimo {

namespace {

// How close to the rope an own copy must come to be hung there.
constexpr double kPhotoDropStrokeWidth = 14;

} // namespace

double ClotheslineCanvasView::ropeFraction(QPointF point) const {
    const ClotheslineRopeGeometry rope = ropeGeometry();
    return (point.x() - (ClotheslineRopeGeometry::pegX() + kInset)) / rope.usableSpan();
}

PhotoDropTarget ClotheslineCanvasView::photoDropTarget(QPointF point) {
    if (!m_sessionInProgress || m_dragIntent != ClotheslineDragIntent::copyPhoto || m_dragCancelled ||
        !m_model || m_model->deleting() || m_model->importing() || !m_leader || !m_model->hangs(*m_leader))
        return {};
    const auto frame = printFrame(*m_leader);
    if (!frame)
        return {};
    if (geometry(*m_leader).paperPath.translated(frame->topLeft()).contains(point))
        return {PhotoDropTarget::source};
    if (ropeGeometry().knotEdge(point))
        return {};
    if (pegSpanStrokeContains(point, kPhotoDropStrokeWidth))
        return PhotoDropTarget::onRope(std::clamp(ropeFraction(point), 0.0, 1.0));
    return {};
}

bool ClotheslineCanvasView::isOwnDrag(const QDropEvent& event) const {
    return event.source() == this || (m_dragMimeData && event.mimeData() == m_dragMimeData);
}

bool ClotheslineCanvasView::isOwnPhotoDrag(const QDropEvent& event) const {
    return isOwnDrag(event) && m_sessionInProgress && m_dragIntent == ClotheslineDragIntent::copyPhoto;
}

bool ClotheslineCanvasView::externalReadable(const QDropEvent& event, bool dropping) {
    const QMimeData* data = event.mimeData();
    if (!data)
        return false;
    if (dropping)
        return ExternalImageDrop::canRead(*data);
    if (const std::optional<bool> known = ExternalImageDrop::readableWithoutAsking(*data))
        return *known;
    if (!DropDataReader::readsFromAnotherProgram())
        return ExternalImageDrop::canRead(*data);
    // Another program is asked only once this move was answered: one slow to give its list (a
    // busy file manager) then knows that the rope takes the drag while it answers, and a drop in
    // that time is not lost. A list of no image file refuses the drag at once, since a drag that
    // rests brings no further move to answer; later moves are answered from what it showed.
    QTimer::singleShot(0, this, [this, pending = QPointer<const QMimeData>(data)] {
        if (!pending || ExternalImageDrop::canRead(*pending))
            return;
        // Only a drag still over the rope and told it was taken needs telling otherwise.
        if (m_externalDrop)
            X11DropStatus::refuse();
        setExternalDrop(false);
    });
    return true;
}

Qt::DropAction ClotheslineCanvasView::externalOperation(const QDropEvent& event, bool dropping) {
    if (isOwnDrag(event) || m_previewing || !m_model || m_model->isBusy())
        return Qt::IgnoreAction;
    if (!(event.possibleActions() & Qt::CopyAction) || !externalReadable(event, dropping))
        return Qt::IgnoreAction;
    QWidget* content = m_port ? m_port->contentView() : nullptr;
    if (!content)
        return Qt::IgnoreAction;
    const QPointF point = event.position();
    if (ropeGeometry().knotEdge(point))
        return Qt::IgnoreAction;
    const QPointF contentPoint = content->mapFromGlobal(mapToGlobal(point));
    return m_port->takesDropAt(contentPoint) ? Qt::CopyAction : Qt::IgnoreAction;
}

Qt::DropAction ClotheslineCanvasView::dropOperation(const QDropEvent& event) {
    Qt::DropAction operation = Qt::IgnoreAction;
    if (isOwnPhotoDrag(event)) {
        const PhotoDropTarget target = photoDropTarget(event.position());
        operation = target.kind == PhotoDropTarget::outside ? Qt::IgnoreAction : Qt::CopyAction;
        setExternalDrop(target.kind == PhotoDropTarget::rope);
    } else {
        operation = externalOperation(event);
        setExternalDrop(operation == Qt::CopyAction);
    }
    m_internalDrop = false;
    return operation;
}

bool ClotheslineCanvasView::acceptsPegDrag(const QDropEvent& event) {
    return isOwnPegDrag(event) && !m_sessionEntries.isEmpty() && m_model && !m_model->deleting() && m_port &&
           m_port->receivesClotheslineDrag(mapToGlobal(event.position()));
}

Qt::DropAction ClotheslineCanvasView::pegDragOperation(const QDropEvent& event) {
    const Qt::DropAction operation = acceptsPegDrag(event) ? Qt::MoveAction : Qt::IgnoreAction;
    // Over the rope window the count belongs to no file manager.
    if (operation == Qt::MoveAction && m_pegDragBadge)
        m_pegDragBadge->update(false, mapToGlobal(event.position()));
    recordDragVisual(QStringLiteral("canvas"), &event);
    update();
    return operation;
}

void ClotheslineCanvasView::setExternalDrop(bool on) {
    if (m_externalDrop == on)
        return;
    m_externalDrop = on;
    markRopeDirty();
}

void ClotheslineCanvasView::markRopeDirty() {
    const ClotheslineRopeGeometry rope = ropeGeometry();
    const QRectF area = rope.strand(0, 1).boundingRect();
    markDirty(area.adjusted(-kRopeDirtyMargin, -kRopeDirtyMargin, kRopeDirtyMargin, kRopeDirtyMargin));
}

void ClotheslineCanvasView::dragEnterEvent(QDragEnterEvent* event) {
    // X hands over one data object for a whole drag and may reuse it for the next one.
    ExternalImageDrop::beginDrag();
    RopeDiagnostic::event("DestinationEntered", QStringLiteral("canvas"));
    if (isOwnPegDrag(*event)) {
        // Pegs that come back from a file manager: the window decides where the rope takes them
        // back. Accepted even where it does not, so the moves that follow still come here.
        event->setDropAction(pegDragOperation(*event));
        event->accept();
        return;
    }
    const Qt::DropAction operation = dropOperation(*event);
    if (operation != Qt::IgnoreAction) {
        event->setDropAction(operation);
        event->accept();
        return;
    }
    // Only an accepted enter brings the moves that follow, so a drag the rope can take somewhere
    // stays with it even when it enters where it cannot drop (beside the rope, on a knot); the
    // move after the enter answers no there. A drag it can never read is refused here.
    const bool candidate =
        isOwnPhotoDrag(*event) || (!isOwnDrag(*event) && (event->possibleActions() & Qt::CopyAction) &&
                                   externalReadable(*event, false));
    if (!candidate) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::IgnoreAction);
    event->accept();
}

void ClotheslineCanvasView::dragMoveEvent(QDragMoveEvent* event) {
    if (isOwnPegDrag(*event)) {
        const Qt::DropAction operation = pegDragOperation(*event);
        event->setDropAction(operation);
        if (operation == Qt::IgnoreAction)
            event->ignore();
        else
            event->accept();
        return;
    }
    const Qt::DropAction operation = dropOperation(*event);
    if (operation == Qt::IgnoreAction) {
        event->ignore();
        return;
    }
    event->setDropAction(operation);
    event->accept();
}

void ClotheslineCanvasView::dragLeaveEvent(QDragLeaveEvent* event) {
    RopeDiagnostic::event("DestinationExited", QStringLiteral("canvas"));
    setExternalDrop(false);
    if (m_dragIntent != ClotheslineDragIntent::movePeg || !m_sessionInProgress)
        m_internalDrop = false;
    event->accept();
}

void ClotheslineCanvasView::dropEvent(QDropEvent* event) {
    bool taken = false;
    if (isOwnPegDrag(*event)) {
        const QPointF p = event->position();
        // Where the window takes the drag but the peg is not received (far from the rope),
        // the drop is refused rather than taking the prints down.
        const bool accepted = acceptsPegDrag(*event) && receivesPegDrag(p) &&
                              (pegTouchesRope(p) ? commitReposition(p) : commitTakeDownDrop());
        setExternalDrop(false);
        m_internalDrop = false;
        update();
        if (!accepted) {
            event->ignore();
            return;
        }
        event->setDropAction(Qt::MoveAction);
        event->accept();
        return;
    }
    if (isOwnPhotoDrag(*event)) {
        const PhotoDropTarget target = photoDropTarget(event->position());
        if (target.kind != PhotoDropTarget::outside) {
            // The copies are made when the session ends; a second drop does not move them.
            if (!m_pendingPhotoDrop)
                m_pendingPhotoDrop = target;
            taken = true;
        }
    } else if (externalOperation(*event, true) == Qt::CopyAction) {
        const ExternalImageDrop::Snapshot snapshot = ExternalImageDrop::snapshot(*event->mimeData());
        // Beyond the outermost peg places the model hangs the images at the rope's end. The model
        // tells the user of a drop that brought nothing, and the source is told it was refused:
        // nothing was copied.
        m_model->importExhibitionDrop(snapshot, ropeFraction(event->position()));
        taken = snapshot.hasSource();
    }
    setExternalDrop(false);
    m_internalDrop = false;
    if (!taken) {
        event->ignore();
        return;
    }
    // Never a move: the source keeps its file, whatever it proposed.
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

} // namespace vennimo
