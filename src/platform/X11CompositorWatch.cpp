#include "platform/X11CompositorWatch.h"

#include "platform/Logging.h"
#include "platform/X11Connection.h"

#include <QByteArray>
#include <QCoreApplication>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <cstdlib>

namespace vennimo {

namespace {

bool ownerPresent(xcb_connection_t* c, xcb_atom_t selection) {
    auto* owner = xcb_get_selection_owner_reply(c, xcb_get_selection_owner(c, selection), nullptr);
    const bool present = owner && owner->owner != XCB_WINDOW_NONE;
    std::free(owner);
    return present;
}

} // namespace

X11CompositorWatch::X11CompositorWatch(int screen, QObject* parent)
    : QObject(parent) {
    xcb_connection_t* c = X11Connection::get();
    if (c == nullptr)
        return;
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screen);
    m_selection = X11Connection::atom(c, name.constData());
    if (m_selection == XCB_ATOM_NONE)
        return;
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
    if (xfixes && xfixes->present) {
        // The server answers XFixes requests only after the client said which version it speaks.
        std::free(xcb_xfixes_query_version_reply(
            c, xcb_xfixes_query_version(c, XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION), nullptr));
        m_notifyType = uint8_t(xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY);
        // Asked for before the owner is read, so no change falls between the two.
        xcb_xfixes_select_selection_input(c, X11Connection::root(c), m_selection,
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                              XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
        QCoreApplication::instance()->installNativeEventFilter(this);
        m_following = true;
    } else {
        qCWarning(lcApp) << "The X server has no XFixes extension: a compositing manager that comes or goes "
                            "later is not noticed";
    }
    m_running = ownerPresent(c, m_selection);
}

X11CompositorWatch::~X11CompositorWatch() {
    // The selection's events stay asked for: the connection is shared, another watch may follow
    // the same selection, and events nobody filters cost nothing.
    if (m_following && QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool X11CompositorWatch::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != m_notifyType)
        return false;
    const auto* notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
    if (notify->selection != m_selection)
        return false;
    // A manager that ends loses the selection with its window or its connection.
    const bool running =
        notify->subtype == XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER && notify->owner != XCB_WINDOW_NONE;
    if (running != m_running) {
        m_running = running;
        Q_EMIT runningChanged(running);
    }
    // Qt's clipboard looks at selection events too.
    return false;
}

} // namespace vennimo
