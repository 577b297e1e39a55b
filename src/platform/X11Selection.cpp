#include "platform/X11Selection.h"

#include "platform/X11Connection.h"

#include <xcb/xcb.h>

#include <cstdlib>

namespace vennimo {

std::optional<unsigned> X11Selection::owner(const char* selection) {
    xcb_connection_t* c = X11Connection::get();
    if (c == nullptr)
        return std::nullopt;
    auto* reply = xcb_get_selection_owner_reply(
        c, xcb_get_selection_owner(c, X11Connection::atom(c, selection)), nullptr);
    const xcb_window_t window = reply ? reply->owner : xcb_window_t(XCB_WINDOW_NONE);
    std::free(reply);
    if (window == XCB_WINDOW_NONE)
        return std::nullopt;
    return unsigned(window);
}

bool X11Selection::ownWindow(unsigned window) {
    xcb_connection_t* c = X11Connection::get();
    if (c == nullptr || window == XCB_WINDOW_NONE)
        return false;
    const xcb_setup_t* setup = xcb_get_setup(c);
    return (window & ~setup->resource_id_mask) == setup->resource_id_base;
}

void X11Selection::setProperty(unsigned window, const char* name, const char* type, const QByteArray& value) {
    xcb_connection_t* c = X11Connection::get();
    if (c == nullptr)
        return;
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, X11Connection::atom(c, name),
                        X11Connection::atom(c, type), 8, uint32_t(value.size()), value.constData());
    xcb_flush(c);
}

std::optional<QByteArray> X11Selection::property(unsigned window, const char* name, qsizetype maxBytes) {
    xcb_connection_t* c = X11Connection::get();
    if (c == nullptr)
        return std::nullopt;
    // Lengths go in 32-bit units; one more unit tells an over-long value from one that just fits.
    const auto units = uint32_t(maxBytes / 4 + 1);
    auto* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, X11Connection::atom(c, name), XCB_GET_PROPERTY_TYPE_ANY, 0, units),
        nullptr);
    std::optional<QByteArray> value;
    if (reply && reply->type != XCB_ATOM_NONE && reply->format == 8) {
        const int length = xcb_get_property_value_length(reply);
        if (length <= maxBytes && reply->bytes_after == 0)
            value = QByteArray(static_cast<const char*>(xcb_get_property_value(reply)), length);
    }
    std::free(reply);
    return value;
}

void X11Selection::deleteProperty(unsigned window, const char* name) {
    xcb_connection_t* c = X11Connection::get();
    if (c == nullptr)
        return;
    xcb_delete_property(c, window, X11Connection::atom(c, name));
    xcb_flush(c);
}

} // namespace vennimo
