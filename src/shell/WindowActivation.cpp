#include "shell/WindowActivation.h"

#include "platform/X11WindowHints.h"
#include "shell/GalleryWindowLayer.h"

#include <QEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>

namespace vennimo {

namespace {

void activateNow(QWidget* window) {
    GalleryWindowLayer::raise(window);
    window->activateWindow();
    // The native window's own id: Qt may replace a shown window's X window when its flags change
    // (a new level), and QWidget::winId() keeps the id of the one it first made.
    const QWindow* handle = window->windowHandle();
    X11WindowHints::activateWindow(unsigned(handle ? handle->winId() : window->winId()));
}

// Waits for the native window's first exposure, then activates the widget's window once.
class ExposeWatcher : public QObject {
public:
    explicit ExposeWatcher(QWidget* window)
        : QObject(window->windowHandle())
        , m_window(window) {
        window->windowHandle()->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Expose && static_cast<QWindow*>(watched)->isExposed()) {
            watched->removeEventFilter(this);
            if (m_window && m_window->isVisible())
                activateNow(m_window);
            deleteLater();
        }
        return false;
    }

private:
    QPointer<QWidget> m_window;
};

} // namespace

void WindowActivation::activate(QWidget* window) {
    if (!window || !window->isWindow())
        return;
    QWindow* handle = window->windowHandle();
    if (handle && handle->isExposed()) {
        activateNow(window);
        return;
    }
    if (!handle)
        window->winId(); // makes the native window
    new ExposeWatcher(window);
}

} // namespace vennimo
