#include "platform/X11WindowHints.h"

#include <QGuiApplication>
#include <QWindow>
#include <QtGui/qguiapplication_platform.h>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace vennimo {

namespace {

xcb_connection_t* connection() {
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 ? x11->connection() : nullptr;
}

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    auto* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t result = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return result;
}

xcb_window_t rootOf(xcb_connection_t* c) {
    return xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
}

// The workspace of the current desktop, for taking a window back from all workspaces.
uint32_t currentDesktop(xcb_connection_t* c) {
    auto* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, rootOf(c), atom(c, "_NET_CURRENT_DESKTOP"), XCB_ATOM_CARDINAL, 0, 1),
        nullptr);
    uint32_t desktop = 0;
    if (reply && xcb_get_property_value_length(reply) == 4)
        std::memcpy(&desktop, xcb_get_property_value(reply), 4);
    std::free(reply);
    return desktop;
}

} // namespace

bool X11WindowHints::isX11() {
    return connection() != nullptr;
}

void X11WindowHints::setOnAllDesktops(QWindow* window, bool allDesktops) {
    xcb_connection_t* c = connection();
    if (!window || !c || !window->handle())
        return;
    const auto id = xcb_window_t(window->winId());
    const xcb_atom_t desktopAtom = atom(c, "_NET_WM_DESKTOP");
    const uint32_t desktop = allDesktops ? kAllDesktops : currentDesktop(c);
    // The property is what the window manager reads when it maps the window; once mapped it only
    // listens to requests sent to the root.
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, id, desktopAtom, XCB_ATOM_CARDINAL, 32, 1, &desktop);
    if (window->isVisible()) {
        xcb_client_message_event_t event{};
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = id;
        event.type = desktopAtom;
        event.data.data32[0] = desktop;
        event.data.data32[1] = 1; // a normal application
        xcb_send_event(c, 0, rootOf(c),
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&event));
    }
    xcb_flush(c);
}

std::optional<QPoint> X11WindowHints::rootPosition(QWindow* window) {
    xcb_connection_t* c = connection();
    if (!window || !c || !window->handle())
        return std::nullopt;
    auto* reply = xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, xcb_window_t(window->winId()), rootOf(c), 0, 0), nullptr);
    if (!reply)
        return std::nullopt;
    const QPoint device(reply->dst_x, reply->dst_y);
    std::free(reply);
    return device / window->devicePixelRatio();
}

std::optional<unsigned> X11WindowHints::activeWindow() {
    xcb_connection_t* c = connection();
    if (!c)
        return std::nullopt;
    auto* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, rootOf(c), atom(c, "_NET_ACTIVE_WINDOW"), XCB_ATOM_WINDOW, 0, 1), nullptr);
    std::optional<unsigned> result;
    if (reply && xcb_get_property_value_length(reply) == 4) {
        uint32_t id = 0;
        std::memcpy(&id, xcb_get_property_value(reply), 4);
        result = id;
    }
    std::free(reply);
    return result;
}

void X11WindowHints::activateWindow(unsigned window) {
    xcb_connection_t* c = connection();
    if (!c || window == 0)
        return;
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom(c, "_NET_ACTIVE_WINDOW");
    // Source 2: the request comes on the user's behalf, so focus-stealing prevention lets it pass.
    event.data.data32[0] = 2;
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(c, 0, rootOf(c), XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(c);
}

} // namespace vennimo
