#include "canvas/ClotheslineCanvasView.h"

#include "canvas/RopeWindowPort.h"
#include "model/GalleryModel.h"
#include "platform/Logging.h"
#include "rendering/PhotoPreviewImageLoader.h"

#include <QKeyEvent>
#include <QMouseEvent>

#include <cmath>

namespace vennimo {

void ClotheslineCanvasView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    press(event, 1);
    event->accept();
}

// The second press of a double click arrives as its own event; the release after it previews.
void ClotheslineCanvasView::mouseDoubleClickEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseDoubleClickEvent(event);
        return;
    }
    press(event, 2);
    event->accept();
}

void ClotheslineCanvasView::clearPress() {
    m_pressPhoto.reset();
    m_pressPoint.reset();
    m_pressIndicatorPath.reset();
    m_pressClickCount = 0;
    m_pressedPeg = false;
}

void ClotheslineCanvasView::press(QMouseEvent* event, int clickCount) {
    const Signpost signpost("ClotheslineMouseDown");
    if (m_sessionInProgress || m_externalDrop || (m_port && m_port->clotheslineDragActive()))
        return;
    m_pressIndicatorPath.reset();
    setFocus(Qt::MouseFocusReason);

    const QPointF p = event->position();
    const std::optional<Photo> hit = photo(p);
    // The knots and the rope belong to the window: a print in front of them still takes the press.
    if (!hit && m_port && !m_previewing && !m_sessionInProgress) {
        if (const auto edge = ropeGeometry().knotEdge(p)) {
            clearPress();
            m_port->beginKnotResize(*edge, event->globalPosition());
            return;
        }
    }
    if (!hit && m_port && canUseRopeGesture() && ropeStrokeContains(p)) {
        clearPress();
        m_port->moveClothesline(event->globalPosition());
        return;
    }

    m_pressPhoto = hit;
    m_pressPoint = p;
    m_pressClickCount = clickCount;
    m_pressedPeg = false;
    if (hit && m_model) {
        if (const auto frame = printFrame(*hit)) {
            const PolaroidGeometry g = geometry(*hit);
            // Taken before the notice ends, so a release on the arrival tag that is about to go
            // still counts as a click on its print.
            if (const auto indicator = indicatorPath(*hit, g))
                m_pressIndicatorPath = indicator->translated(frame->topLeft());
            m_model->acknowledge({*hit});
            m_pressedPeg = g.pegPath.contains(p - frame->topLeft());
            if (m_pressedPeg)
                setCursor(Qt::ClosedHandCursor);
            if (m_model->bringClotheslinePhotoToFront(*hit)) {
                m_drawingOrder.removeIf([&hit](const Photo& photo) { return photo.id == hit->id; });
                m_drawingOrder.append(*hit);
            }
            syncPhotoLayers();
            update();
        }
    }
    if (m_pressPhoto)
        PhotoPreviewImageLoader::prepare({*m_pressPhoto}, screen(), 0);
}

void ClotheslineCanvasView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton)) {
        updateCursor(event->position());
        QWidget::mouseMoveEvent(event);
        return;
    }
    event->accept();
    if (localPegDragActive()) {
        updateLocalPegDrag(event->position());
        return;
    }
    if (m_port && m_port->knotResizeActive()) {
        m_port->updateKnotResize(event->globalPosition());
        return;
    }
    if (m_sessionInProgress || !m_pressPhoto || !m_pressPoint || !m_model || m_model->deleting())
        return;
    const QPointF d = event->position() - *m_pressPoint;
    if (std::hypot(d.x(), d.y()) <= kDragThreshold)
        return;
    // Until a session starts the press stays, so the next move tries again.
    if (m_dragStart)
        m_dragStart(*m_pressPhoto, m_pressedPeg, *m_pressPoint, event->position());
    else
        startDragSession(*m_pressPhoto, m_pressedPeg, *m_pressPoint, event->position());
}

void ClotheslineCanvasView::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(event);
        return;
    }
    event->accept();
    const QPointF p = event->position();
    if (localPegDragActive()) {
        releaseLocalPegDrag(p);
        return;
    }
    if (m_port && m_port->knotResizeActive()) {
        m_port->updateKnotResize(event->globalPosition());
        m_port->finishKnotResize(false);
        clearPress();
        return;
    }
    std::optional<Photo> clicked;
    if (!m_sessionInProgress && m_pressPhoto) {
        const std::optional<Photo> hit = photo(p);
        if ((hit && hit->id == m_pressPhoto->id) ||
            (m_pressIndicatorPath && m_pressIndicatorPath->contains(p)))
            clicked = m_pressPhoto;
    }
    const bool twice = m_pressClickCount > 1;
    clearPress();
    updateCursor(p);
    if (!clicked || !m_model || m_model->deleting())
        return;
    const PhotoCallback callback = twice ? m_onPreview : m_onSelect;
    if (callback)
        callback(*clicked);
}

bool ClotheslineCanvasView::cancelOperation() {
    if (m_port && m_port->knotResizeActive()) {
        m_port->finishKnotResize(true);
        return true;
    }
    if (m_sessionInProgress) {
        m_dragCancelled = true;
        finishDrag(Qt::IgnoreAction, false);
        return true;
    }
    return false;
}

void ClotheslineCanvasView::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && cancelOperation()) {
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace vennimo
