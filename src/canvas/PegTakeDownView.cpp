#include "canvas/PegTakeDownView.h"

#include "canvas/ClotheslineCanvasView.h"
#include "canvas/PegDragBadge.h"
#include "platform/X11WindowHints.h"
#include "rope/RopeDiagnostic.h"

#include <QCursor>
#include <QDragEnterEvent>
#include <QDragLeaveEvent>
#include <QDragMoveEvent>
#include <QDropEvent>
#include <QPainter>

namespace vennimo {

PegTakeDownView::PegTakeDownView(ClotheslineCanvasView* source)
    : QWidget(nullptr, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                           Qt::WindowDoesNotAcceptFocus | Qt::NoDropShadowWindowHint)
    , m_source(source) {
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_ShowWithoutActivating);
    setAcceptDrops(true);
    create();
    X11WindowHints::setOnAllDesktops(windowHandle(), true);
}

std::optional<QPointF> PegTakeDownView::dragPoint(const QDropEvent& event) const {
    if (!m_source || event.source() != m_source.data() || !m_source->window())
        return std::nullopt;
    return m_source->mapFromGlobal(mapToGlobal(event.position()));
}

void PegTakeDownView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(rect(), QColor(0, 0, 0, kAlpha));
}

bool PegTakeDownView::follow(QDropEvent& event) {
    const std::optional<QPointF> point = dragPoint(event);
    if (!point) {
        event.ignore();
        return false;
    }
    if (PegDragBadge* badge = m_source->pegDragBadge())
        badge->update(false, QCursor::pos());
    if (m_source->dragIntent() == ClotheslineDragIntent::movePeg)
        m_source->updateContact(*point, QStringLiteral("catcher"));
    event.setDropAction(Qt::MoveAction);
    event.accept();
    return true;
}

void PegTakeDownView::dragEnterEvent(QDragEnterEvent* event) {
    RopeDiagnostic::event("DestinationEntered", QStringLiteral("catcher"));
    follow(*event);
}

void PegTakeDownView::dragMoveEvent(QDragMoveEvent* event) {
    follow(*event);
}

void PegTakeDownView::dragLeaveEvent(QDragLeaveEvent* event) {
    RopeDiagnostic::event("DestinationExited", QStringLiteral("catcher"));
    event->accept();
}

void PegTakeDownView::dropEvent(QDropEvent* event) {
    const std::optional<QPointF> point = dragPoint(*event);
    if (!point) {
        event->ignore();
        return;
    }
    const bool taken = m_source->pegTouchesRope(*point) ? m_source->commitReposition(*point)
                                                        : m_source->commitTakeDownDrop();
    if (!taken) {
        event->ignore();
        return;
    }
    event->setDropAction(Qt::MoveAction);
    event->accept();
}

} // namespace vennimo
