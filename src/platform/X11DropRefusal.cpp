#include "platform/X11DropRefusal.h"

#include "platform/X11Selection.h"

#include <QPlatformSurfaceEvent>
#include <QWindow>

namespace vennimo {

namespace {

void refuse(QWindow* window) {
    if (window->handle())
        X11Selection::deleteProperty(unsigned(window->winId()), "XdndAware");
}

class Refusal : public QObject {
public:
    using QObject::QObject;

    bool eventFilter(QObject* watched, QEvent* event) override {
        // Qt may make the X window again inside a show, without a surface event; the exposure
        // that follows the mapping comes after that.
        const bool created = event->type() == QEvent::PlatformSurface &&
                             static_cast<QPlatformSurfaceEvent*>(event)->surfaceEventType() ==
                                 QPlatformSurfaceEvent::SurfaceCreated;
        if (created || event->type() == QEvent::Expose)
            refuse(static_cast<QWindow*>(watched));
        return false;
    }
};

} // namespace

void X11DropRefusal::install(QWindow* window) {
    if (!window || window->findChild<Refusal*>(QString(), Qt::FindDirectChildrenOnly))
        return;
    window->installEventFilter(new Refusal(window));
    refuse(window);
}

} // namespace vennimo
