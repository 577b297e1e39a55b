#include "canvas/ClotheslineCanvasView.h"

#include "canvas/ClotheslineCoverGrid.h"

namespace vennimo {

void ClotheslineCanvasView::buryCoveredPrints() {
    ClotheslineCoverGrid grid(visibleRect(), kCoverCellPoints);
    QSet<QString> buried;
    QSet<QString> changed;
    for (qsizetype i = m_drawingOrder.size() - 1; i >= 0; --i) {
        const Photo& photo = m_drawingOrder[i];
        const auto slot = m_photoSlots.constFind(photo.id);
        if (slot == m_photoSlots.constEnd() || slot->hidden())
            continue;
        // Buried a margin deep and out again only once in the open, so that a print at the edge of
        // a swinging pile does not let go of its paper and take it again frame by frame.
        const bool wasBuried = m_buriedIDs.contains(photo.id);
        const double margin = wasBuried ? 0 : kBuryMarginPoints;
        const PolaroidGeometry g = geometry(photo);
        const QRectF window =
            g.paperTransform.mapRect(g.imageRect).translated(slot->content().frame.topLeft());
        if (grid.covers(window.adjusted(-margin, -margin, margin, margin))) {
            buried.insert(photo.id);
            if (!wasBuried)
                changed.insert(photo.id);
        } else if (wasBuried) {
            changed.insert(photo.id);
        }
        grid.cover(slot->coveredRect());
    }
    m_buriedIDs = std::move(buried);
    if (changed.isEmpty())
        return;
    for (const QString& id : std::as_const(changed))
        m_visiblePapers.remove(id);
    // A blank paper hides what the print's own does, so what lies below them stays as it is.
    m_burying = true;
    syncLayersOf(&changed);
    m_burying = false;
}

} // namespace vennimo
