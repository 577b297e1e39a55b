#include "shell/GalleryWindow.h"

#include "canvas/AlphaShapeRegion.h"
#include "canvas/PanelCover.h"
#include "platform/X11InputShape.h"
#include "platform/X11WindowHints.h"

#include <QApplication>
#include <QBackingStore>
#include <QTransform>
#include <QWindow>

namespace vennimo {

namespace {

// A region of device pixels in the window's own, device independent ones: every pixel it touches.
QRegion logicalCover(const QRegion& devicePixels, double ratio) {
    if (ratio == 1)
        return devicePixels;
    QRegion logical;
    for (const QRect& r : devicePixels) {
        const QRectF scaled(r.x() / ratio, r.y() / ratio, r.width() / ratio, r.height() / ratio);
        logical += scaled.toAlignedRect();
    }
    return logical;
}

} // namespace

// Without a compositing manager the X server shows the rope window's pixels as they are, a clear
// one black; the window is then cut to what it draws, with every paint, from the frame Qt keeps
// for it. The cut is the bounding shape only: the input shape stays the pointer routing's, and X
// takes clicks where both hold, so what is cut away passes clicks through like the rest.

bool GalleryWindow::wantsBoundingShape() const {
    return m_clotheslineStyle == true && isVisible() && windowHandle() && m_compositorRunning == false &&
           X11InputShape::available();
}

void GalleryWindow::checkCompositor() {
    if (m_clotheslineStyle != true || !isVisible() || !X11InputShape::available()) {
        queueBoundingShape();
        return;
    }
    // A compositing manager may come or go while the rope shows: the watch hears of it from the
    // X server as it happens.
    const bool running = m_compositorWatch.running();
    if (m_compositorRunning == running)
        return;
    m_compositorRunning = running;
    // The rope window grows as prints come: what it grew by shows nothing until it is drawn.
    X11WindowHints::clearBackground(windowHandle(), running);
    queueBoundingShape();
}

void GalleryWindow::cutAwayUntilDrawn() {
    // A window maps whole, and until its first frame is drawn and cut the X server shows all of it
    // black: a window about to map shows nothing until then.
    forgetShapeOfGoneWindow();
    if (!wantsBoundingShape() || m_boundingShape)
        return;
    m_boundingShape = QRegion();
    m_boundingShapeWindow = internalWinId();
    X11InputShape::applyBounding(windowHandle(), QRegion());
}

void GalleryWindow::queueBoundingShape() {
    // Paints come in bursts (every widget of the window, a swing's frame after frame): one cut
    // for the lot, on the next turn, once the frame is complete.
    if (m_boundingShapeQueued)
        return;
    m_boundingShapeQueued = true;
    QTimer::singleShot(0, this, &GalleryWindow::applyBoundingShape);
}

void GalleryWindow::forgetShapeOfGoneWindow() {
    // A native window made anew shows whole; one that Qt keeps across a change of its flags keeps
    // the cut it had, which a switch to the grid must take away.
    if (m_boundingShape && m_boundingShapeWindow != internalWinId())
        m_boundingShape.reset();
}

void GalleryWindow::applyBoundingShape() {
    m_boundingShapeQueued = false;
    forgetShapeOfGoneWindow();
    if (!wantsBoundingShape()) {
        if (m_boundingShape && windowHandle())
            X11InputShape::applyBounding(windowHandle(), std::nullopt);
        m_boundingShape.reset();
        m_drawnShape = QRegion();
        m_drawnShapeCurrent = false;
        return;
    }
    // The frame just flushed was read before it went out, unless nothing was painted since.
    if (!m_drawnShapeCurrent && !readDrawnShape())
        return;
    m_drawnShapeCurrent = false;
    applyCombinedShape();
}

bool GalleryWindow::readDrawnShape() {
    if (m_framePaintedWindow == 0 || m_framePaintedWindow != internalWinId())
        return false;
    QBackingStore* store = backingStore();
    QPaintDevice* device = store ? store->paintDevice() : nullptr;
    if (!device || device->devType() != QInternal::Image)
        return false;
    const auto& frame = *static_cast<const QImage*>(device);
    // Right after a resize the frame can still be the old size until the window repaints.
    const QSize pixels = (QSizeF(size()) * devicePixelRatioF()).toSize();
    m_drawnShape = AlphaShapeRegion::of(frame, kShapeSpreadPixels) & QRegion(QRect(QPoint(), pixels));
    return true;
}

void GalleryWindow::cutBeforeFlush() {
    // Qt sends a painted frame to the X server as soon as it is complete. Where the rope moved, the
    // frame clears pixels it drew before; under the last cut they would show black until the next
    // cut came a turn later. So what the frame gives up is cut away before it goes out, on the
    // same connection, ahead of its pixels; what it takes in is cut after, when applyCombinedShape
    // sends the frame there again.
    m_framePaintedWindow = internalWinId();
    forgetShapeOfGoneWindow();
    if (!wantsBoundingShape() || !readDrawnShape())
        return;
    m_drawnShapeCurrent = true;
    const QRegion whole(QRect(QPoint(), (QSizeF(size()) * devicePixelRatioF()).toSize()));
    const QRegion kept = (m_drawnShape + coveredByPanels()) & m_boundingShape.value_or(whole);
    if (m_boundingShape == kept)
        return;
    m_boundingShape = kept;
    m_boundingShapeWindow = internalWinId();
    X11InputShape::applyBounding(windowHandle(), kept);
}

QRegion GalleryWindow::coveredByPanels() const {
    // The cut panels that carry prints and their count float above the rope and take no input:
    // the rope's pixels under them never show, so the rope keeps them and takes the clicks there,
    // like a press on a print still flying back to its place.
    QRegion covered;
    const QPoint origin = geometry().topLeft();
    const double ratio = devicePixelRatioF();
    for (const QWidget* panel : QApplication::topLevelWidgets()) {
        if (panel == this || !panel->isVisible() ||
            !panel->windowFlags().testFlag(Qt::WindowTransparentForInput))
            continue;
        const QRegion mask = panel->mask();
        if (mask.isEmpty())
            continue;
        // A panel about to move or go keeps only what it covers throughout (PanelCover).
        const std::optional<QRegion> changing = PanelCover::duringChange(panel);
        const QRegion here = (changing ? changing->translated(-origin)
                                       : mask.translated(panel->geometry().topLeft() - origin)) &
                             rect();
        covered += ratio == 1 ? here : QTransform::fromScale(ratio, ratio).map(here);
    }
    return covered;
}

void GalleryWindow::applyCombinedShape() {
    if (!wantsBoundingShape())
        return;
    forgetShapeOfGoneWindow();
    const QRegion shape = m_drawnShape + coveredByPanels();
    if (m_boundingShape == shape)
        return;
    const QRegion added = m_boundingShape ? shape - *m_boundingShape : QRegion();
    m_boundingShape = shape;
    m_boundingShapeWindow = internalWinId();
    // The X server keeps no pixels of the window outside its cut: the frame flushed there before
    // was dropped, and what the cut now takes in shows the black background of the window
    // manager's frame until it is drawn again, which the Expose for it brings only a round trip
    // later, a busy moment later still. The frame goes out again with the cut.
    QBackingStore* store = backingStore();
    if (added.isEmpty() || !store) {
        X11InputShape::applyBounding(windowHandle(), shape);
        return;
    }
    X11InputShape::applyBounding(windowHandle(), shape, [this, store, added] {
        store->flush(logicalCover(added, devicePixelRatioF()), windowHandle());
    });
}

} // namespace vennimo
