#pragma once

#include <xcb/xcb.h>

#include <optional>

namespace vennimo {

// The application's own connection to the X server, and the small requests every X11 helper
// makes of it.
class X11Connection {
public:
    // Null unless the application runs on the xcb platform: the offscreen platform may hold a
    // connection of its own, which must never be touched.
    static xcb_connection_t* get();
    // XCB_ATOM_NONE when the server does not answer.
    static xcb_atom_t atom(xcb_connection_t* c, const char* name);
    static xcb_window_t root(xcb_connection_t* c);
    // Whether the server holds the first pointer button down now, wherever its release goes;
    // nothing off X11 or when the server does not answer.
    static std::optional<bool> leftButtonDown();
};

} // namespace vennimo
