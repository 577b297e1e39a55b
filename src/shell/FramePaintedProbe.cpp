#include "shell/FramePaintedProbe.h"

#include <QEvent>

#include <utility>

namespace vennimo {

FramePaintedProbe::FramePaintedProbe(QWidget* window, std::function<void()> painted)
    : QWidget(window)
    , m_painted(std::move(painted)) {
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(window->rect());
    window->installEventFilter(this);
    raise();
}

bool FramePaintedProbe::eventFilter(QObject* watched, QEvent* event) {
    if (watched != parent())
        return false;
    switch (event->type()) {
    case QEvent::Resize:
        setGeometry(parentWidget()->rect());
        break;
    case QEvent::ChildAdded:
    case QEvent::ChildPolished:
        // A child added later stacks above and would be painted after us.
        if (QObject* child = static_cast<QChildEvent*>(event)->child();
            child != this && child->isWidgetType() && parentWidget()->children().constLast() != this)
            raise();
        break;
    default:
        break;
    }
    return false;
}

void FramePaintedProbe::paintEvent(QPaintEvent*) {
    if (m_painted)
        m_painted();
}

} // namespace vennimo
