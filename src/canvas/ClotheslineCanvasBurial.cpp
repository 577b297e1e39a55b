#include "canvas/ClotheslineCanvasView.h"

#include "canvas/ClotheslineCoverGrid.h"

namespace vennimo {

void ClotheslineCanvasView::buryCoveredPrints() {
    ClotheslineCoverGrid grid(visibleRect(), kCoverCellPoints);
    // The set is changed where a print's burial changed, not made anew at every pass over a pile of
    // a thousand.
    QSet<QString> changed;
    qsizetype buried = 0;
    for (qsizetype i = m_drawingOrder.size() - 1; i >= 0; --i) {
        const Photo& photo = m_drawingOrder[i];
        const auto slot = m_photoSlots.constFind(photo.id);
        if (slot == m_photoSlots.constEnd() || slot->hidden())
            continue;
        // Buried a margin deep and out again only once in the open, so that a print at the edge of
        // a swinging pile does not let go of its paper and take it again frame by frame.
        const bool wasBuried = m_buriedIDs.contains(photo.id);
        const double margin = wasBuried ? 0 : kBuryMarginPoints;
        const ClotheslinePhotoSlot::Content& shown = slot->content();
        const QRectF window = shown.paperTransform.mapRect(photoLayout(photo).geometry.imageRect)
                                  .translated(shown.frame.topLeft());
        if (grid.covers(window.adjusted(-margin, -margin, margin, margin))) {
            ++buried;
            if (!wasBuried) {
                m_buriedIDs.insert(photo.id);
                changed.insert(photo.id);
            }
        } else if (wasBuried) {
            m_buriedIDs.remove(photo.id);
            changed.insert(photo.id);
        }
        grid.cover(slot->coveredRect());
    }
    // Prints that left the rope or the view are buried no longer.
    if (m_buriedIDs.size() != buried)
        m_buriedIDs.removeIf([this](const QString& id) {
            const auto slot = m_photoSlots.constFind(id);
            return slot == m_photoSlots.constEnd() || slot->hidden();
        });
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
