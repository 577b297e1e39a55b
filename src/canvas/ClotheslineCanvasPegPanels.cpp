#include "canvas/ClotheslineCanvasView.h"

#include "canvas/OpaquePegPreview.h"
#include "canvas/PegDragBadge.h"
#include "model/GalleryModel.h"
#include "rope/RopeDiagnostic.h"

#include <QCursor>
#include <QPainter>
#include <QTimer>

namespace vennimo {

namespace {

QRectF grown(const QRectF& rect, double by) {
    return rect.adjusted(-by, -by, by, by);
}

} // namespace

QImage ClotheslineCanvasView::opaqueSprite(const Photo& photo) {
    const PolaroidGeometry g = geometry(photo);
    const QImage paper = preparedPaper(photo);
    const QImage peg = pegImage();
    const QImage overlay = overlayImage(photo);
    const std::array<double, 13> key{g.paperTransform.m11(),
                                     g.paperTransform.m12(),
                                     g.paperTransform.m21(),
                                     g.paperTransform.m22(),
                                     g.paperTransform.dx(),
                                     g.paperTransform.dy(),
                                     g.pegTransform.m11(),
                                     g.pegTransform.m12(),
                                     g.pegTransform.m21(),
                                     g.pegTransform.m22(),
                                     g.pegTransform.dx(),
                                     g.pegTransform.dy(),
                                     m_paperScale};
    const auto it = m_opaqueSprites.constFind(photo.id);
    if (it != m_opaqueSprites.cend() && it->photo == photo && it->paperKey == paper.cacheKey() &&
        it->pegKey == peg.cacheKey() && it->overlayKey == overlay.cacheKey() && it->transform == key)
        return it->sprite;

    const QImage sprite = paddedPrint(g, paper, peg, overlay);
    m_opaqueSprites.insert(photo.id,
                           {photo, paper.cacheKey(), peg.cacheKey(), overlay.cacheKey(), key, sprite});
    return sprite;
}

bool ClotheslineCanvasView::opaqueSourceSettled(const QList<Photo>& photos) const {
    if (!m_model)
        return true;
    QList<Photo> kept;
    for (const Photo& photo : photos)
        if (m_model->hangs(photo))
            kept.append(photo);
    if (kept.isEmpty())
        return true;
    if (physicsRunning())
        return false;
    for (const Photo& photo : std::as_const(kept))
        if (m_pendulums.count(photo.id) ||
            (!m_visiblePapers.contains(photo.id) && !m_buriedIDs.contains(photo.id)))
            return false;
    return true;
}

void ClotheslineCanvasView::prepareOpaqueDrag(QPointF point) {
    // The prints of the last drag may still fly back: the new panels take them over.
    std::unique_ptr<OpaquePegPreview> replacing = std::move(m_finishingPreview);
    if (replacing)
        RopeDiagnostic::event("OpaqueInterrupt", QStringLiteral("nextCount=%1").arg(m_sessionEntries.size()));
    const PegPanels panels = pegPanels();
    if (!window() || panels == PegPanels::none) {
        if (replacing)
            replacing->close();
        return;
    }
    const QPointF travel = point - m_pressPoint.value_or(point);
    QList<OpaquePegPreview::Item> items;
    for (const ClotheslineDragEntry& entry : std::as_const(m_sessionEntries)) {
        const QRectF rest = grown(entry.frame, kDragImagePadding);
        items.append({entry.photo.id, opaqueSprite(entry.photo),
                      QRectF(mapToGlobal(rest.translated(travel).topLeft()), rest.size()),
                      QRectF(mapToGlobal(rest.topLeft()), rest.size())});
    }
    QPointer<ClotheslineCanvasView> self(this);
    QStringList ids;
    for (const ClotheslineDragEntry& entry : std::as_const(m_sessionEntries))
        ids.append(entry.photo.id);
    m_opaquePreview = OpaquePegPreview::make(
        items, mapToGlobal(point),
        [self, ids] {
            if (!self)
                return;
            for (const QString& id : ids)
                self->m_opaqueAwaitingIDs.remove(id);
            self->syncPhotoLayers();
            self->repaint();
        },
        [self] {
            if (self && self->m_localPegPoint)
                return *self->m_localPegPoint;
            return QPointF(QCursor::pos());
        },
        {}, true, std::move(replacing), panels == PegPanels::masked);
}

ClotheslineCanvasView::PegPanels ClotheslineCanvasView::pegPanels() const {
    if (m_pegPanels)
        return m_pegPanels();
    return OpaquePegPreview::panelsNeedMask() ? PegPanels::masked : PegPanels::translucent;
}

void ClotheslineCanvasView::movePegPreview(QPointF screenPoint) {
    if (m_opaquePreview)
        m_opaquePreview->move(screenPoint);
}

void ClotheslineCanvasView::finishOpaqueDrag(const QList<Photo>& photos) {
    if (m_pegDragBadge) {
        m_pegDragBadge->close();
        m_pegDragBadge.reset();
    }
    std::unique_ptr<OpaquePegPreview> preview = std::move(m_opaquePreview);
    m_opaqueAwaitingIDs.clear();
    if (!preview)
        return;
    if (preview->phase() == OpaquePegPreview::Phase::dragging)
        for (const Photo& photo : photos)
            m_finishingPreviewIDs.insert(photo.id);
    m_finishingPreview = std::move(preview);
    QPointer<ClotheslineCanvasView> self(this);
    OpaquePegPreview* finishing = m_finishingPreview.get();
    finishing->finish(
        [self, photos] {
            OpaqueHandoffGate::Targets targets;
            if (!self || !self->window() || !self->m_model)
                return targets;
            for (const Photo& photo : photos) {
                const auto frame = self->m_model->hangs(photo) ? self->printFrame(photo) : std::nullopt;
                if (!frame) {
                    targets.append(std::nullopt);
                    continue;
                }
                const QRectF rect = grown(*frame, kDragImagePadding);
                targets.append(QRectF(self->mapToGlobal(rect.topLeft()), rect.size()));
            }
            return targets;
        },
        [self, photos] { return !self || self->opaqueSourceSettled(photos); },
        [self, finishing] {
            if (!self)
                return;
            self->m_finishingPreviewIDs.clear();
            self->syncPhotoLayers();
            self->repaint();
            if (self->m_finishingPreview.get() == finishing)
                QTimer::singleShot(200, self, [self, finishing] {
                    if (self && self->m_finishingPreview.get() == finishing)
                        self->m_finishingPreview.reset();
                });
        },
        [self, photos] {
            QList<QImage> sprites;
            if (!self || !self->m_model)
                return sprites;
            for (const Photo& photo : photos)
                sprites.append(self->m_model->hangs(photo) ? self->opaqueSprite(photo) : QImage());
            return sprites;
        });
}

} // namespace vennimo
