#include "platform/X11FrameWatch.h"

#include "platform/X11Connection.h"

#include <QCoreApplication>
#include <QTimer>
#include <QWindow>

#include <xcb/xcb.h>

namespace vennimo {

X11FrameWatch::X11FrameWatch(std::function<QWindow*()> window, QObject* parent)
    : QObject(parent)
    , m_window(std::move(window)) {
    xcb_connection_t* c = X11Connection::get();
    if (c == nullptr)
        return;
    m_frameExtentsAtom = X11Connection::atom(c, "_NET_FRAME_EXTENTS");
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11FrameWatch::~X11FrameWatch() {
    if (m_frameExtentsAtom != 0 && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool X11FrameWatch::shown() const {
    if (m_frameExtentsAtom == 0)
        return true;
    const QWindow* window = m_window ? m_window() : nullptr;
    return window && window->handle() && m_mapped != XCB_WINDOW_NONE &&
           m_mapped == xcb_window_t(window->winId());
}

bool X11FrameWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t")
        return false;
    const QWindow* window = m_window ? m_window() : nullptr;
    if (!window || !window->handle())
        return false;
    const auto own = xcb_window_t(window->winId());
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    switch (event->response_type & 0x7f) {
    case XCB_MAP_NOTIFY:
        // The window manager maps the window once it has framed and placed it.
        if (reinterpret_cast<const xcb_map_notify_event_t*>(event)->window != own)
            return false;
        m_mapped = own;
        break;
    case XCB_UNMAP_NOTIFY:
        if (reinterpret_cast<const xcb_unmap_notify_event_t*>(event)->window == own)
            m_mapped = XCB_WINDOW_NONE;
        return false;
    case XCB_PROPERTY_NOTIFY: {
        // A frame that changes while the window shows; while it is away the window manager is
        // still taking it apart or putting it together.
        const auto* property = reinterpret_cast<const xcb_property_notify_event_t*>(event);
        if (property->atom != m_frameExtentsAtom || property->window != own || m_mapped != own)
            return false;
        break;
    }
    default:
        return false;
    }
    // Qt reads the new frame from the same events; what follows the frame goes after it did.
    if (!m_queued) {
        m_queued = true;
        QTimer::singleShot(0, this, [this] {
            m_queued = false;
            Q_EMIT framed();
        });
    }
    return false;
}

} // namespace vennimo
