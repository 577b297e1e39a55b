#include "platform/X11WindowHints.h"

#include "platform/X11Connection.h"

#include <QWindow>

#include <xcb/xcb.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

namespace vennimo {

namespace {

// The workspace of the current desktop, for taking a window back from all workspaces.
uint32_t currentDesktop(xcb_connection_t* c) {
    auto* reply = xcb_get_property_reply(c,
                                         xcb_get_property(c, 0, X11Connection::root(c),
                                                          X11Connection::atom(c, "_NET_CURRENT_DESKTOP"),
                                                          XCB_ATOM_CARDINAL, 0, 1),
                                         nullptr);
    uint32_t desktop = 0;
    if (reply && xcb_get_property_value_length(reply) == 4)
        std::memcpy(&desktop, xcb_get_property_value(reply), 4);
    std::free(reply);
    return desktop;
}

} // namespace

bool X11WindowHints::isX11() {
    return X11Connection::get() != nullptr;
}

void X11WindowHints::setOnAllDesktops(QWindow* window, bool allDesktops) {
    xcb_connection_t* c = X11Connection::get();
    if (!window || !c || !window->handle())
        return;
    const auto id = xcb_window_t(window->winId());
    const xcb_atom_t desktopAtom = X11Connection::atom(c, "_NET_WM_DESKTOP");
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
        xcb_send_event(c, 0, X11Connection::root(c),
                       XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                       reinterpret_cast<const char*>(&event));
    }
    xcb_flush(c);
}

void X11WindowHints::clearBackground(QWindow* window, bool clear) {
    xcb_connection_t* c = X11Connection::get();
    if (!window || !c || !window->handle())
        return;
    const uint32_t value = clear ? 0 : uint32_t(XCB_BACK_PIXMAP_NONE);
    xcb_change_window_attributes(c, xcb_window_t(window->winId()),
                                 clear ? XCB_CW_BACK_PIXEL : XCB_CW_BACK_PIXMAP, &value);
    xcb_flush(c);
}

std::optional<QPoint> X11WindowHints::rootPosition(QWindow* window) {
    xcb_connection_t* c = X11Connection::get();
    if (!window || !c || !window->handle())
        return std::nullopt;
    auto* reply = xcb_translate_coordinates_reply(
        c, xcb_translate_coordinates(c, xcb_window_t(window->winId()), X11Connection::root(c), 0, 0),
        nullptr);
    if (!reply)
        return std::nullopt;
    const QPoint device(reply->dst_x, reply->dst_y);
    std::free(reply);
    return device / window->devicePixelRatio();
}

std::optional<QMargins> X11WindowHints::frameExtents(QWindow* window) {
    xcb_connection_t* c = X11Connection::get();
    if (!window || !c || !window->handle())
        return std::nullopt;
    // Asked at every move of a titled window: the atom, the same for the server's whole life, is
    // asked for once.
    static const xcb_atom_t extentsAtom = X11Connection::atom(c, "_NET_FRAME_EXTENTS");
    auto* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, xcb_window_t(window->winId()), extentsAtom, XCB_ATOM_CARDINAL, 0, 4),
        nullptr);
    if (!reply)
        return std::nullopt;
    std::optional<QMargins> extents;
    if (reply->format == 32 && xcb_get_property_value_length(reply) == 16) {
        // Left, right, top, bottom, in device pixels.
        std::array<uint32_t, 4> sides{};
        std::memcpy(sides.data(), xcb_get_property_value(reply), sizeof sides);
        const double ratio = window->devicePixelRatio();
        extents = QMargins(int(sides[0] / ratio), int(sides[2] / ratio), int(sides[1] / ratio),
                           int(sides[3] / ratio));
    }
    std::free(reply);
    return extents;
}

std::optional<QPoint> X11WindowHints::parentPosition(QWindow* window) {
    xcb_connection_t* c = X11Connection::get();
    if (!window || !c || !window->handle())
        return std::nullopt;
    auto* reply = xcb_get_geometry_reply(c, xcb_get_geometry(c, xcb_window_t(window->winId())), nullptr);
    if (!reply)
        return std::nullopt;
    const QPoint device(reply->x, reply->y);
    std::free(reply);
    return device / window->devicePixelRatio();
}

std::optional<unsigned> X11WindowHints::activeWindow() {
    xcb_connection_t* c = X11Connection::get();
    if (!c)
        return std::nullopt;
    auto* reply = xcb_get_property_reply(c,
                                         xcb_get_property(c, 0, X11Connection::root(c),
                                                          X11Connection::atom(c, "_NET_ACTIVE_WINDOW"),
                                                          XCB_ATOM_WINDOW, 0, 1),
                                         nullptr);
    std::optional<unsigned> result;
    if (reply && xcb_get_property_value_length(reply) == 4) {
        uint32_t id = 0;
        std::memcpy(&id, xcb_get_property_value(reply), 4);
        result = id;
    }
    std::free(reply);
    return result;
}

namespace {

// A client message to the window manager about one of the screen's windows, as EWMH asks for.
void sendToWindowManager(xcb_connection_t* c, unsigned window, const char* type,
                         std::array<uint32_t, 5> data) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = X11Connection::atom(c, type);
    std::copy(data.begin(), data.end(), event.data.data32);
    xcb_send_event(c, 0, X11Connection::root(c),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(c);
}

} // namespace

void X11WindowHints::activateWindow(unsigned window) {
    xcb_connection_t* c = X11Connection::get();
    if (!c || window == 0)
        return;
    // Source 2: the request comes on the user's behalf, so focus-stealing prevention lets it pass.
    sendToWindowManager(c, window, "_NET_ACTIVE_WINDOW", {2, XCB_CURRENT_TIME, 0, 0, 0});
}

void X11WindowHints::keepAbove(unsigned window) {
    xcb_connection_t* c = X11Connection::get();
    if (!c || window == 0)
        return;
    constexpr uint32_t kAdd = 1;
    sendToWindowManager(c, window, "_NET_WM_STATE",
                        {kAdd, X11Connection::atom(c, "_NET_WM_STATE_ABOVE"), 0, 2, 0});
}

void X11WindowHints::flush() {
    if (xcb_connection_t* c = X11Connection::get())
        xcb_flush(c);
}

} // namespace vennimo
