#include "canvas/ClotheslineCanvasView.h"

#include "canvas/DragPictureCut.h"
#include "canvas/OpaquePegPreview.h"
#include "canvas/PegDragBadge.h"
#include "canvas/PegDropSurfaces.h"
#include "canvas/RopeWindowPort.h"
#include "dragdrop/PegFolderDelivery.h"
#include "dragdrop/PegNativePayload.h"
#include "dragdrop/PhotoDragPayload.h"
#include "model/GalleryModel.h"
#include "platform/X11WindowStack.h"
#include "rope/RopeDiagnostic.h"

#include <QApplication>
#include <QCursor>
#include <QDrag>
#include <QDropEvent>
#include <QGuiApplication>
#include <QTimer>

#include <algorithm>
#include <optional>

namespace vennimo {

void ClotheslineCanvasView::handOverPegDrag(QPointF screenPoint) {
    QList<Photo> photos;
    qsizetype leaderIndex = -1;
    for (const ClotheslineDragEntry& entry : std::as_const(m_sessionEntries)) {
        if (m_leader && entry.photo.id == m_leader->id)
            leaderIndex = photos.size();
        photos.append(entry.photo);
    }
    const std::optional<PegNativePayload> payload = PegNativePayload::make(photos, leaderIndex);
    if (!payload || !m_model) {
        m_dragCancelled = true;
        finishDrag(Qt::IgnoreAction, false);
        return;
    }
    if (m_localPeg)
        RopeDiagnostic::event("PegNativeHandoff", QStringLiteral("count=%1 x=%2 y=%3")
                                                      .arg(photos.size())
                                                      .arg(RopeDiagnostic::number(screenPoint.x()),
                                                           RopeDiagnostic::number(screenPoint.y())));
    m_localPeg = false;
    m_localPegPoint.reset();

    // The target asks for the promise after the drag loop has returned: the delivery and the
    // model's error reach the user from there on.
    QPointer<GalleryModel> model = m_model;
    m_sessionFolderDelivery = std::make_shared<PegFolderDelivery>(
        photos, m_model->indexer().storage(),
        [model](const QList<Photo>& moved, const QString& folder, int descriptor) {
            return model ? model->movePegPhotos(moved, folder, RopeHistoryRecording::record, descriptor)
                         : std::nullopt;
        });
    m_sessionFolderDelivery->setTrasher([model](const QList<Photo>& trashed) {
        // After the drop's exchange is over, so the confirmation does not run inside it.
        QMetaObject::invokeMethod(
            qApp,
            [model, trashed] {
                if (model)
                    model->confirmTrash(trashed);
            },
            Qt::QueuedConnection);
    });
    auto data = payload->makeMimeData(
        m_sessionFolderDelivery, [model](const QByteArray& answer, const QString& error) {
            RopeDiagnostic::event("PegFolderAnswer",
                                  QStringLiteral("answer=%1").arg(QString::fromLatin1(answer)));
            // A move the model refused has its own reason published already.
            if (answer != "S" && model && !model->actionError())
                model->reportPegDeliveryFailure(error);
        });
    const bool ready = payload->complete(*data);
    RopeDiagnostic::event("PegNativePayload", QStringLiteral("ready=%1 expected=%2 actual=%3 images=1")
                                                  .arg(ready ? u"true" : u"false")
                                                  .arg(payload->ids().size())
                                                  .arg(data->ids().size()));
    if (!ready) {
        m_dragCancelled = true;
        m_sessionFolderDelivery->setCancelled(true);
    }
    // The count beside the pointer goes with the panels; without them the picture shows all.
    if (m_opaquePreview)
        m_pegDragBadge =
            std::make_unique<PegDragBadge>(int(payload->ids().size()), m_opaquePreview->masked());
    m_pegDropSurfaces = std::make_unique<PegDropSurfaces>(this, m_port, X11WindowStack::compositorRunning());

    auto* drag = new QDrag(this);
    PegDirectSaveMimeData* offered = data.get();
    drag->setMimeData(data.release());
    m_dragMimeData = offered;
    m_systemDrag = drag;
    m_sessionPoint.reset();
    std::optional<DragPictureCut> dragPicture;
    if (m_opaquePreview) {
        // The drag panels show the prints; the system's own drag image stays empty.
        QImage nothing(1, 1, QImage::Format_ARGB32_Premultiplied);
        nothing.fill(Qt::transparent);
        dragPicture.emplace(*drag, nothing, QPoint(), m_opaquePreview->masked());
    } else {
        const QPointF point = mapFromGlobal(screenPoint);
        const QPointF travel = point - m_pressPoint.value_or(point);
        QList<PhotoDragPayload::Item> items;
        for (const ClotheslineDragEntry& entry : std::as_const(m_sessionEntries)) {
            const QRectF frame = entry.frame.adjusted(-kDragImagePadding, -kDragImagePadding,
                                                      kDragImagePadding, kDragImagePadding);
            items.append({entry.photo, {}, opaqueSprite(entry.photo), frame.translated(travel)});
        }
        const PhotoDragPayload::Picture picture = PhotoDragPayload::picture(items, devicePixelRatioF());
        dragPicture.emplace(*drag, picture.image, (point - picture.origin).toPoint(),
                            pegPanels() == PegPanels::masked);
    }
    RopeDiagnostic::event("DragBegin", QStringLiteral("peg=true x=%1 y=%2")
                                           .arg(RopeDiagnostic::number(screenPoint.x()),
                                                RopeDiagnostic::number(screenPoint.y())));
    if (m_port) {
        m_port->setClotheslineDragStarted(true);
        m_port->routeClotheslineDrag(screenPoint);
    }
    QPointer<ClotheslineCanvasView> self(this);
    QPointer<PegDirectSaveMimeData> name(offered);
    m_pegRoutingTimer = std::make_unique<QTimer>();
    m_pegRoutingTimer->setInterval(kPegRoutingMs);
    QObject::connect(m_pegRoutingTimer.get(), &QTimer::timeout, this, [self, name] {
        // The drag's selection has an owner only once the drag loop runs.
        if (name)
            name->offerName();
        if (self)
            self->routeSystemPegDrag();
    });
    m_pegRoutingTimer->start();
    startDragVisualSampler();
    QTimer::singleShot(0, this, [self, name] {
        if (name)
            name->offerName();
        if (self && self->m_dragEventMonitor) {
            qApp->removeEventFilter(self->m_dragEventMonitor.get());
            qApp->installEventFilter(self->m_dragEventMonitor.get());
        }
    });

    Qt::DropAction action = Qt::IgnoreAction;
    if (m_dragExec) {
        action = m_dragExec(*drag);
        drag->deleteLater();
    } else {
        action = drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
    }
    if (!self)
        return;
    const bool released = action != Qt::IgnoreAction || !(QGuiApplication::mouseButtons() & Qt::LeftButton);
    finishDrag(action, released);
}

void ClotheslineCanvasView::routeSystemPegDrag() {
    if (!m_sessionInProgress || m_localPeg || !m_systemDrag)
        return;
    const QPointF point = QCursor::pos();
    recordDragPointer(point);
    const bool receiving = m_port && m_port->receivesClotheslineDrag(point);
    const bool native = !receiving && yieldsToNativeDestination(point);
    // Only the panels bring the count beside the pointer.
    if (m_pegDragBadge)
        m_pegDragBadge->update(native && !m_dragCancelled, point);
    if (m_pegDropSurfaces)
        m_pegDropSurfaces->route(point, receiving, native);
    if (m_port)
        m_port->routeClotheslineDrag(point);
}

bool ClotheslineCanvasView::isOwnPegDrag(const QDropEvent& event) const {
    return isOwnDrag(event) && m_sessionInProgress && m_dragIntent == ClotheslineDragIntent::movePeg &&
           !m_localPeg;
}

} // namespace vennimo
