#include "canvas/ClotheslineCanvasView.h"

#include "canvas/DragPictureCut.h"
#include "canvas/DragPictureReturn.h"
#include "canvas/OpaquePegPreview.h"
#include "canvas/PegDropSurfaces.h"
#include "canvas/RopeWindowPort.h"
#include "dragdrop/PegFolderDelivery.h"
#include "dragdrop/PhotoDragPayload.h"
#include "model/GalleryModel.h"
#include "rope/RopeDiagnostic.h"

#include <QApplication>
#include <QCursor>
#include <QDrag>
#include <QKeyEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace vennimo {

namespace {

// Escape during a drag marks it cancelled and goes on to whoever else handles it (the system
// drag loop ends the drag on it).
// It also sees the pointer's moves before the drag loop takes them.
class DragKeyMonitor : public QObject {
public:
    DragKeyMonitor(std::function<void()> onEscape, std::function<void(QPointF)> onMove)
        : m_onEscape(std::move(onEscape))
        , m_onMove(std::move(onMove)) {}

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            m_onEscape();
        else if (event->type() == QEvent::MouseMove)
            m_onMove(static_cast<QMouseEvent*>(event)->globalPosition());
        return QObject::eventFilter(watched, event);
    }

private:
    std::function<void()> m_onEscape;
    std::function<void(QPointF)> m_onMove;
};

} // namespace

bool ClotheslineCanvasView::startDragSession(const Photo& pressed, bool onPeg, QPointF pressPoint,
                                             QPointF point) {
    if (m_sessionInProgress || !m_model || m_model->deleting())
        return false;
    QList<Photo> photos;
    for (const Photo& photo : m_model->dragPhotos(pressed))
        if (m_model->hangs(photo))
            photos.append(photo);
    // A peg drag moves the originals themselves; only copies need files that can be read now.
    if (!onPeg)
        photos = PhotoDragPayload(photos).photos();

    QList<ClotheslineDragEntry> entries;
    for (const Photo& photo : std::as_const(photos)) {
        const auto place = placement(photo);
        const auto frame = printFrame(photo);
        if (place && frame)
            entries.append({photo, *place, *frame});
    }
    std::stable_sort(entries.begin(), entries.end(),
                     [](const ClotheslineDragEntry& a, const ClotheslineDragEntry& b) {
                         return a.placement.zIndex < b.placement.zIndex;
                     });
    const auto leaderEntry = std::find_if(entries.cbegin(), entries.cend(), [&pressed](const auto& entry) {
        return entry.photo.id == pressed.id;
    });
    if (leaderEntry == entries.cend())
        return false;

    QList<Photo> carried;
    for (const ClotheslineDragEntry& entry : std::as_const(entries)) {
        carried.append(entry.photo);
        m_pendulums.erase(entry.photo.id);
    }
    m_model->acknowledge(carried);

    const ClotheslineRopeGeometry rope = ropeGeometry();
    m_sessionEntries = entries;
    m_leader = pressed;
    m_pendingPhotoDrop.reset();
    m_grabOffset = pressPoint - rope.pointAlong(rope.supportFraction(leaderEntry->placement.x));
    m_sessionInProgress = true;
    m_dragCancelled = false;
    m_dragIntent = onPeg ? ClotheslineDragIntent::movePeg : ClotheslineDragIntent::copyPhoto;
    watchForCutOffDrag();
    if (onPeg) {
        beginPegSession(point);
        return true;
    }

    if (m_port) {
        QPointer<ClotheslineCanvasView> self(this);
        RopeWindowPort::DragCallbacks callbacks;
        callbacks.acceptance = [self](QPointF screenPoint) {
            if (!self || !self->window())
                return false;
            const PhotoDropTarget target = self->photoDropTarget(self->mapFromGlobal(screenPoint));
            self->setExternalDrop(target.kind == PhotoDropTarget::rope);
            return target.kind != PhotoDropTarget::outside;
        };
        m_port->setClotheslineDragCallbacks(std::move(callbacks));
        m_port->setClotheslineDragActive(true);
        m_port->setClotheslineDragStarted(false);
    }
    installDragMonitor();
    update();
    runCopyDrag(point);
    return true;
}

void ClotheslineCanvasView::runCopyDrag(QPointF point) {
    // A picture still sliding back from the last drag gives way to this one's.
    m_copyPictureReturn.reset();
    const QPointF travel = point - m_pressPoint.value_or(point);
    QList<Photo> photos;
    QList<PhotoDragPayload::Item> items;
    QList<QImage> images;
    for (const ClotheslineDragEntry& entry : std::as_const(m_sessionEntries)) {
        const PolaroidGeometry g = geometry(entry.photo);
        const QRectF frame = entry.frame.translated(travel);
        photos.append(entry.photo);
        images.append(PhotoDragPayload::itemImage(entry.photo, m_paperScale));
        items.append({entry.photo, QUrl::fromLocalFile(entry.photo.path), images.last(),
                      g.imageRect.translated(frame.topLeft())});
    }
    const PhotoDragPayload::Picture picture = PhotoDragPayload::picture(items, devicePixelRatioF());
    const QList<ClotheslineDragEntry> entries = m_sessionEntries;

    auto* drag = new QDrag(this);
    drag->setMimeData(PhotoDragPayload(photos).makeMimeData().release());
    m_dragMimeData = drag->mimeData();
    m_systemDrag = drag;
    const QPoint hotSpot = (point - picture.origin).toPoint();
    const DragPictureCut dragPicture(*drag, picture.image, hotSpot, pegPanels() == PegPanels::masked);
    const QPointF screen = mapToGlobal(point);
    RopeDiagnostic::event("DragBegin",
                          QStringLiteral("peg=false x=%1 y=%2")
                              .arg(RopeDiagnostic::number(screen.x()), RopeDiagnostic::number(screen.y())));
    if (m_port) {
        m_port->setClotheslineDragStarted(true);
        m_port->routeClotheslineDrag(screen);
    }
    // The system drag loop watches the keys through a filter of its own, installed as it starts;
    // put ours in front of it again once it runs, so Escape is seen before the loop ends on it.
    QTimer::singleShot(0, this, [this] {
        if (m_dragEventMonitor) {
            qApp->removeEventFilter(m_dragEventMonitor.get());
            qApp->installEventFilter(m_dragEventMonitor.get());
        }
    });

    // Made now, so that it stands where the drag's picture stood the moment that one goes.
    const std::unique_ptr<DragPictureReturn> pictureReturn =
        returnCopyPicture(*drag, picture.image, hotSpot, picture.origin - travel, entries, images);

    QPointer<ClotheslineCanvasView> self(this);
    Qt::DropAction action = Qt::IgnoreAction;
    if (m_dragExec) {
        action = m_dragExec(*drag);
        drag->deleteLater();
    } else {
        // The system keeps the drag (and the data the target still reads after the drop) until
        // the drop's exchange is over, and deletes it then.
        action = drag->exec(Qt::CopyAction, Qt::CopyAction);
    }
    if (!self)
        return;
    // A drop happens only on a release; without one the button tells.
    const bool released = action != Qt::IgnoreAction || !(QGuiApplication::mouseButtons() & Qt::LeftButton);
    const bool cancelled = m_dragCancelled;
    finishDrag(action, released);
    // The system takes its picture away where the pointer is; one that nothing took slides back
    // onto the prints instead, from where the drag showed it.
    const bool returns = (cancelled || action == Qt::IgnoreAction) && window() && window()->isVisible();
    m_copyPictureReturn = pictureReturn->finish(returns);
}

std::unique_ptr<DragPictureReturn>
ClotheslineCanvasView::returnCopyPicture(QDrag& drag, const QImage& picture, QPoint hotSpot,
                                         QPointF restOrigin, const QList<ClotheslineDragEntry>& entries,
                                         const QList<QImage>& images) {
    const PegPanels panels = pegPanels();
    std::unique_ptr<OpaquePegPreview> flight;
    if (panels != PegPanels::none && !entries.isEmpty() && window() && window()->isVisible())
        flight =
            OpaquePegPreview::standBy(picture, mapToGlobal(restOrigin), panels == PegPanels::masked, m_clock);
    QPointer<ClotheslineCanvasView> self(this);
    const QSizeF size = picture.deviceIndependentSize();
    // Where the picture lies over the prints as they hang now, should the rope have moved: in the
    // canvas, and on screen on whole pixels; nowhere once none hangs.
    struct Landing {
        QPointF origin;
        QPoint screen;
    };
    const auto landing = [self, entries, restOrigin]() -> std::optional<Landing> {
        if (!self || !self->m_model || !self->window() || !self->window()->isVisible())
            return std::nullopt;
        for (const ClotheslineDragEntry& entry : entries) {
            const auto frame =
                self->m_model->hangs(entry.photo) ? self->printFrame(entry.photo) : std::nullopt;
            if (!frame)
                continue;
            const QPointF origin = restOrigin + frame->topLeft() - entry.frame.topLeft();
            const QPointF screen = self->mapToGlobal(origin);
            return Landing{origin, QPoint(int(std::floor(screen.x())), int(std::floor(screen.y())))};
        }
        return std::nullopt;
    };
    auto destination = [landing, size] {
        const std::optional<Landing> place = landing();
        return OpaqueHandoffGate::Targets{place ? std::optional<QRectF>(QRectF(place->screen, size))
                                                : std::nullopt};
    };
    // Landed, it shows the prints' pictures as the rope draws them, turned with their paper, so
    // that no picture stands beside the print's own until it goes.
    auto landed = [self, landing, entries, images, size, ratio = picture.devicePixelRatio()] {
        const std::optional<Landing> place = landing();
        if (!place || !self)
            return QList<QImage>{QImage()};
        QImage sprite((size * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
        sprite.setDevicePixelRatio(ratio);
        sprite.fill(Qt::transparent);
        QPainter painter(&sprite);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QPointF canvasToSprite =
            self->mapToGlobal(place->origin) - QPointF(place->screen) - place->origin;
        for (qsizetype i = 0; i < entries.size() && i < images.size(); ++i) {
            const Photo& photo = entries[i].photo;
            const auto frame = self->m_model->hangs(photo) ? self->printFrame(photo) : std::nullopt;
            if (!frame)
                continue;
            const PolaroidGeometry g = self->geometry(photo);
            painter.setTransform(
                g.paperTransform *
                QTransform::fromTranslate(frame->x() + canvasToSprite.x(), frame->y() + canvasToSprite.y()));
            painter.drawImage(g.imageRect, images[i]);
        }
        painter.end();
        return QList<QImage>{sprite};
    };
    return std::make_unique<DragPictureReturn>(drag, std::move(flight), hotSpot, std::move(destination),
                                               std::function<void()>(), std::move(landed));
}

void ClotheslineCanvasView::finishDrag(Qt::DropAction operation, bool released) {
    if (!m_sessionInProgress)
        return;
    RopeDiagnostic::event("DragEnd", QStringLiteral("operation=%1 cancelled=%2")
                                         .arg(int(operation))
                                         .arg(m_dragCancelled ? u"true" : u"false"));
    QList<Photo> photos;
    for (const ClotheslineDragEntry& entry : std::as_const(m_sessionEntries))
        photos.append(entry.photo);
    const ClotheslineDragIntent intent = m_dragIntent;
    const bool cancelled = m_dragCancelled;
    const std::optional<PhotoDropTarget> pending = std::exchange(m_pendingPhotoDrop, std::nullopt);

    if (m_pegRoutingTimer)
        m_pegRoutingTimer->stop();
    m_pegRoutingTimer.reset();
    m_visualDiagnosticTimer.reset();
    m_lostReleaseTimer.reset();
    m_releaseProbe.reset();
    m_systemDrag.clear();
    m_sessionPoint.reset();
    // A file manager still asks for the promise after this; only a drop it was offered may move.
    if (m_sessionFolderDelivery &&
        (cancelled || (operation != Qt::CopyAction && operation != Qt::MoveAction)))
        m_sessionFolderDelivery->setCancelled(true);
    m_sessionFolderDelivery.reset();
    if (m_pegDropSurfaces)
        m_pegDropSurfaces->close();
    m_pegDropSurfaces.reset();
    removeDragMonitor();
    m_dragMimeData.clear();
    m_localPeg = false;
    m_localPegPoint.reset();
    m_dragPoint.reset();
    m_dragContactRope.reset();
    m_pegContact = {};
    m_pegReception = {};
    finishOpaqueDrag(photos);
    m_externalDrop = false;
    m_internalDrop = false;
    m_sessionEntries.clear();
    m_leader.reset();
    clearPress();
    m_sessionInProgress = false;
    if (m_port)
        m_port->finishClotheslineDrag();
    m_pullProgress = 1;
    updatePhysics();
    update();
    updateHitAreas();
    updateCursor(mapFromGlobal(QCursor::pos()));

    if (!released || cancelled || intent != ClotheslineDragIntent::copyPhoto || !m_model)
        return;
    if (!pending) {
        m_model->completeDrag(photos, operation);
        return;
    }
    if (pending->kind != PhotoDropTarget::rope || operation != Qt::CopyAction)
        return;
    // After the drag has ended, so the copies' work does not run inside the drop.
    QMetaObject::invokeMethod(
        m_model.data(),
        [model = m_model, photos, x = pending->x] {
            if (model)
                model->confirmPhotoCopies(photos, x, RopeHistoryRecording::record);
        },
        Qt::QueuedConnection);
}

void ClotheslineCanvasView::installDragMonitor() {
    removeDragMonitor();
    QPointer<ClotheslineCanvasView> self(this);
    m_dragEventMonitor = std::make_unique<DragKeyMonitor>(
        [self] {
            if (!self || !self->m_sessionInProgress)
                return;
            self->m_dragCancelled = true;
            // No drag loop of the system runs while the pegs stay with the canvas: end it here.
            if (self->localPegDragActive())
                QMetaObject::invokeMethod(
                    self.data(),
                    [self] {
                        if (self && self->m_sessionInProgress)
                            self->finishDrag(Qt::IgnoreAction, false);
                    },
                    Qt::QueuedConnection);
        },
        [self](QPointF screenPoint) {
            if (self)
                self->recordDragPointer(screenPoint);
        });
    qApp->installEventFilter(m_dragEventMonitor.get());
}

void ClotheslineCanvasView::removeDragMonitor() {
    if (m_dragEventMonitor)
        qApp->removeEventFilter(m_dragEventMonitor.get());
    m_dragEventMonitor.reset();
}

QImage ClotheslineCanvasView::paddedPrint(const PolaroidGeometry& g, const QImage& paper, const QImage& peg,
                                          const QImage& overlay) const {
    const QSizeF size = kPhotoSize + QSizeF(2 * kDragImagePadding, 2 * kDragImagePadding);
    QImage image((size * m_paperScale).toSize(), QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(m_paperScale);
    image.fill(Qt::transparent);
    const QRectF rect(QPointF(0, 0), kPhotoSize);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.translate(kDragImagePadding, kDragImagePadding);
    const QTransform base = painter.transform();
    painter.setTransform(g.paperTransform * base);
    painter.drawImage(rect, paper);
    painter.setTransform(g.pegTransform * base);
    painter.drawImage(rect, peg);
    if (!overlay.isNull()) {
        painter.setTransform(g.paperTransform * base);
        painter.drawImage(rect, overlay);
    }
    return image;
}

} // namespace vennimo
