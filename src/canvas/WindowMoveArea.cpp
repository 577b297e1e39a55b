#include "canvas/WindowMoveArea.h"

#include <QMouseEvent>
#include <QWindow>

namespace vennimo {

WindowMoveArea::WindowMoveArea(QWidget* parent)
    : QWidget(parent) {
    setCursor(Qt::OpenHandCursor);
}

void WindowMoveArea::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    event->accept();
    if (m_mover && m_mover(event->globalPosition()))
        return;
    if (QWindow* handle = window()->windowHandle())
        handle->startSystemMove();
}

} // namespace vennimo
