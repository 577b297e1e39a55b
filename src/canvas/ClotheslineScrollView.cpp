#include "canvas/ClotheslineScrollView.h"

#include "canvas/ClotheslineCanvasView.h"

#include <QScrollBar>

namespace vennimo {

ClotheslineScrollView::ClotheslineScrollView(QWidget* parent)
    : QScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setWidgetResizable(false);
    setAutoFillBackground(false);
    setAttribute(Qt::WA_TranslucentBackground);
    viewport()->setAutoFillBackground(false);
    viewport()->setAttribute(Qt::WA_TranslucentBackground);
    connect(verticalScrollBar(), &QScrollBar::valueChanged, this, &ClotheslineScrollView::scrolled);
    connect(horizontalScrollBar(), &QScrollBar::valueChanged, this, &ClotheslineScrollView::scrolled);
}

ClotheslineCanvasView* ClotheslineScrollView::canvas() const {
    return qobject_cast<ClotheslineCanvasView*>(widget());
}

QSizeF ClotheslineScrollView::contentSize() const {
    return QSizeF(viewport()->size());
}

void ClotheslineScrollView::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    Q_EMIT contentSizeChanged();
    if (ClotheslineCanvasView* view = canvas()) {
        view->resizeForViewport(contentSize());
        view->updateHitAreas();
    }
}

void ClotheslineScrollView::moveEvent(QMoveEvent* event) {
    QScrollArea::moveEvent(event);
    if (ClotheslineCanvasView* view = canvas())
        view->updateHitAreas();
}

void ClotheslineScrollView::scrolled() {
    if (ClotheslineCanvasView* view = canvas()) {
        view->invalidateFrame();
        view->updateHitAreas();
    }
}

} // namespace vennimo
