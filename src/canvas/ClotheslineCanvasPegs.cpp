#include "canvas/ClotheslineCanvasView.h"

#include "canvas/RopeWindowPort.h"
#include "model/GalleryModel.h"
#include "rope/RopeDiagnostic.h"

#include <QCursor>
#include <QHash>
#include <QPainterPathStroker>

#include <algorithm>

namespace vennimo {

namespace {

const char* flag(bool value) {
    return value ? "true" : "false";
}

const ClotheslineDragEntry* leaderEntry(const QList<ClotheslineDragEntry>& entries,
                                        const std::optional<Photo>& leader) {
    if (!leader)
        return nullptr;
    const auto it =
        std::find_if(entries.cbegin(), entries.cend(),
                     [&leader](const ClotheslineDragEntry& entry) { return entry.photo.id == leader->id; });
    return it == entries.cend() ? nullptr : &*it;
}

} // namespace

QPointF ClotheslineCanvasView::livePegPoint(QPointF point) const {
    if (!m_sessionInProgress || m_dragIntent != ClotheslineDragIntent::movePeg)
        return point;
    if (m_localPegPoint)
        return mapFromGlobal(*m_localPegPoint);
    if (!m_localPeg && m_port)
        return mapFromGlobal(QCursor::pos());
    return point;
}

bool ClotheslineCanvasView::yieldsToNativeDestination(QPointF screenPoint) const {
    return m_nativeDestination && m_nativeDestination(screenPoint);
}

void ClotheslineCanvasView::beginPegSession(QPointF point) {
    ClotheslineRopeGeometry rope = ropeGeometry();
    rope.displacement.assign(m_physics.target.begin(), m_physics.target.end());
    m_dragContactRope = rope;
    m_pegContact = {};
    m_pegReception = {};
    m_dragPoint = point;
    m_smoothPegMotion = true;
    m_pullProgress = 0;
    m_localPeg = true;
    m_localPegStartPoint = mapToGlobal(point);
    m_localPegPoint = m_localPegStartPoint;
    // Drawn on the rope until panels show them.
    m_opaqueAwaitingIDs.clear();
    for (const ClotheslineDragEntry& entry : std::as_const(m_sessionEntries))
        m_opaqueAwaitingIDs.insert(entry.photo.id);
    prepareOpaqueDrag(point);
    // Without panels the system drag's own picture carries the prints from the start, and the
    // rope stops drawing them at once.
    if (!m_opaquePreview)
        m_opaqueAwaitingIDs.clear();

    if (m_port) {
        QPointer<ClotheslineCanvasView> self(this);
        RopeWindowPort::DragCallbacks callbacks;
        callbacks.reception = [self](QPointF screenPoint) {
            return self && self->window() && self->receivesPegDrag(self->mapFromGlobal(screenPoint));
        };
        callbacks.acceptance = [self](QPointF screenPoint) {
            return self && self->window() &&
                   self->updateContact(self->mapFromGlobal(screenPoint), QStringLiteral("window-acceptance"));
        };
        callbacks.pointer = [self] {
            if (self && self->m_localPegPoint)
                return *self->m_localPegPoint;
            return QPointF(QCursor::pos());
        };
        m_port->setClotheslineDragCallbacks(std::move(callbacks));
    }
    updateContact(point, QStringLiteral("drag-start"));
    if (m_port) {
        m_port->setClotheslineDragActive(true);
        m_port->setClotheslineDragStarted(false);
    }
    installDragMonitor();
    if (!m_opaquePreview) {
        m_localPeg = false;
        m_localPegPoint.reset();
        update();
        handOverPegDrag(mapToGlobal(point));
        return;
    }
    RopeDiagnostic::event("LocalPegBegin", QStringLiteral("count=%1").arg(m_sessionEntries.size()));
    update();
    updateLocalPegDrag(point);
}

void ClotheslineCanvasView::updateLocalPegDrag(QPointF point) {
    if (!localPegDragActive())
        return;
    const QPointF screenPoint = mapToGlobal(point);
    m_localPegPoint = screenPoint;
    movePegPreview(screenPoint);
    if (receivesPegDrag(point) || !yieldsToNativeDestination(screenPoint))
        return;
    handOverPegDrag(screenPoint);
}

void ClotheslineCanvasView::releaseLocalPegDrag(QPointF point) {
    const QPointF screenPoint = mapToGlobal(point);
    m_localPegPoint = screenPoint;
    const bool receiving = receivesPegDrag(point);
    const bool native = !receiving && yieldsToNativeDestination(screenPoint);
    bool accepted = false;
    if (!m_dragCancelled && !native)
        accepted = pegTouchesRope(point) ? commitReposition(point) : commitTakeDownDrop();
    RopeDiagnostic::event("LocalPegEnd", QStringLiteral("accepted=%1 count=%2")
                                             .arg(QLatin1String(flag(accepted)))
                                             .arg(m_sessionEntries.size()));
    finishDrag(accepted ? Qt::MoveAction : Qt::IgnoreAction, true);
}

bool ClotheslineCanvasView::pegTouchesRope(QPointF point) {
    const QPointF p = livePegPoint(point);
    const ClotheslineDragEntry* entry = leaderEntry(m_sessionEntries, m_leader);
    if (!entry || !m_pressPoint)
        return false;
    const QPointF q = *m_pressPoint;
    const QPainterPath outline =
        geometry(entry->photo)
            .pegPath.translated(p.x() + entry->frame.left() - q.x(), p.y() + entry->frame.top() - q.y());
    if (outline.isEmpty())
        return false;
    return m_pegContact.evaluate(p, outline, m_dragContactRope.value_or(ropeGeometry()));
}

bool ClotheslineCanvasView::updateContact(QPointF point, const QString& source) {
    const QPointF q = livePegPoint(point);
    const bool touching = pegTouchesRope(point);
    const bool changed = touching != m_internalDrop;
    if (changed)
        RopeDiagnostic::event("ContactChanged",
                              QStringLiteral("touching=%1 x=%2 y=%3 source=%4")
                                  .arg(QLatin1String(flag(touching)), RopeDiagnostic::number(q.x()),
                                       RopeDiagnostic::number(q.y()), source));
    const bool moved = !m_dragPoint || *m_dragPoint != q;
    if (touching && !m_internalDrop)
        m_pullProgress = 0;
    m_internalDrop = touching;
    m_dragPoint = q;
    if (moved || changed)
        updatePhysics();
    return touching;
}

bool ClotheslineCanvasView::receivesPegDrag(QPointF point) {
    if (!m_sessionInProgress || m_dragIntent != ClotheslineDragIntent::movePeg || m_dragCancelled)
        return false;
    const QPointF p = livePegPoint(point);
    const bool touching = updateContact(p, QStringLiteral("reception"));
    const bool previous = m_pegReception.receiving;
    bool receiving = m_pegReception.receiving;
    if (m_pegReception.point != p) {
        m_pegReception.point = p;
        if (!visibleRect().contains(p)) {
            receiving = false;
        } else if (touching) {
            receiving = true;
        } else {
            const ClotheslineRopeGeometry rope = m_dragContactRope.value_or(ropeGeometry());
            QPainterPathStroker stroker;
            stroker.setWidth(kReceptionStrokeWidth);
            stroker.setCapStyle(Qt::RoundCap);
            stroker.setJoinStyle(Qt::RoundJoin);
            stroker.setMiterLimit(1);
            QPainterPath band =
                stroker.createStroke(rope.strand(rope.supportFraction(0), rope.supportFraction(1)));
            band.setFillRule(Qt::WindingFill);
            receiving = band.contains(p - m_grabOffset);
        }
        m_pegReception.receiving = receiving;
    }
    if (receiving != previous)
        RopeDiagnostic::event("ReceptionChanged",
                              QStringLiteral("receiving=%1 touching=%2 x=%3 y=%4")
                                  .arg(QLatin1String(flag(receiving)), QLatin1String(flag(touching)),
                                       RopeDiagnostic::number(p.x()), RopeDiagnostic::number(p.y())));
    return receiving;
}

double ClotheslineCanvasView::offsetForReposition(QPointF point) const {
    const ClotheslineDragEntry* entry = leaderEntry(m_sessionEntries, m_leader);
    if (!entry)
        return 0;
    double lowest = 1;
    double highest = 0;
    for (const ClotheslineDragEntry& each : m_sessionEntries) {
        lowest = std::min(lowest, each.placement.x);
        highest = std::max(highest, each.placement.x);
    }
    const double lo = -lowest;
    const double hi = 1 - highest;
    const double span = ropeGeometry().usableSpan();
    const double raw = (point.x() - m_grabOffset.x() - (ClotheslineRopeGeometry::pegX() + kInset)) / span -
                       entry->placement.x;
    return std::max(lo, std::min(raw, hi));
}

double ClotheslineCanvasView::carriedOffset() const {
    if (!m_dragPoint)
        return 0;
    const ClotheslineDragEntry* entry = leaderEntry(m_sessionEntries, m_leader);
    if (m_sessionEntries.size() < 2 || !entry)
        return offsetForReposition(*m_dragPoint);
    // A group follows the leader unclamped; prints carried past an end simply leave the rope.
    const double span = ropeGeometry().usableSpan();
    const double t =
        (m_dragPoint->x() - m_grabOffset.x() - (ClotheslineRopeGeometry::pegX() + kInset)) / span;
    return t - entry->placement.x;
}

bool ClotheslineCanvasView::commitReposition(QPointF point) {
    const QPointF p = livePegPoint(point);
    if (!m_sessionInProgress || m_dragIntent != ClotheslineDragIntent::movePeg || !m_model ||
        m_model->deleting() || !pegTouchesRope(p))
        return false;
    const double offset = offsetForReposition(p);
    QHash<QString, Photo> hanging;
    for (const Photo& photo : m_model->photos())
        if (m_model->hangs(photo))
            hanging.insert(photo.id, photo);
    QList<ClotheslinePlacementUpdate> updates;
    for (const ClotheslineDragEntry& entry : std::as_const(m_sessionEntries)) {
        const auto it = hanging.constFind(entry.photo.id);
        // One print that left the rope or was replaced meanwhile spoils the whole move.
        if (it == hanging.cend() || !sameFileBirth(entry.photo.created, it->created))
            return false;
        updates.append({entry.photo, 0, entry.placement.x + offset});
    }
    return m_model->moveClotheslinePhotos(updates);
}

bool ClotheslineCanvasView::commitTakeDownDrop() {
    if (!m_sessionInProgress || m_dragIntent != ClotheslineDragIntent::movePeg || m_dragCancelled ||
        !m_model || m_model->deleting() || m_model->importing())
        return false;
    QHash<QString, Photo> byID;
    for (const Photo& photo : m_model->photos())
        byID.insert(photo.id, photo);
    QList<Photo> photos;
    for (const ClotheslineDragEntry& entry : std::as_const(m_sessionEntries)) {
        const auto it = byID.constFind(entry.photo.id);
        if (it == byID.cend() || !sameFileBirth(entry.photo.created, it->created) || !m_model->hangs(*it))
            return false;
        photos.append(entry.photo);
    }
    return m_model->setHanging(photos, false, RopeHistoryRecording::record);
}

} // namespace vennimo
