#include "platform/X11WindowStack.h"

#include "platform/X11Connection.h"

#include <QByteArray>
#include <QList>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace vennimo {

namespace {

// The stacking list is read once per routing pass; a bound keeps a hostile root property from
// making that pass slow.
constexpr uint32_t kMaxClients = 4096;
constexpr uint32_t kMaxClassBytes = 512;

QByteArray property(xcb_connection_t* c, xcb_window_t window, xcb_atom_t name, xcb_atom_t type,
                    uint32_t maxBytes) {
    auto* reply =
        xcb_get_property_reply(c, xcb_get_property(c, 0, window, name, type, 0, maxBytes / 4), nullptr);
    QByteArray bytes;
    if (reply && reply->type != XCB_ATOM_NONE)
        // The value's length is already counted in bytes, whatever the format.
        bytes = QByteArray(static_cast<const char*>(xcb_get_property_value(reply)),
                           xcb_get_property_value_length(reply));
    std::free(reply);
    return bytes;
}

bool ownWindow(xcb_connection_t* c, xcb_window_t window) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    return (window & ~setup->resource_id_mask) == setup->resource_id_base;
}

} // namespace

std::optional<X11WindowStack::Hit> X11WindowStack::topClientAt(QPoint rootPoint) {
    xcb_connection_t* c = X11Connection::get();
    if (c == nullptr)
        return std::nullopt;
    const xcb_window_t root = X11Connection::root(c);
    // One X connection for the life of the program: the atom stays the same.
    static const xcb_atom_t stacking = X11Connection::atom(c, "_NET_CLIENT_LIST_STACKING");
    const QByteArray list = property(c, root, stacking, XCB_ATOM_WINDOW, kMaxClients * 4);
    std::vector<xcb_window_t> clients(size_t(list.size()) / sizeof(xcb_window_t));
    if (!clients.empty())
        std::memcpy(clients.data(), list.constData(), clients.size() * sizeof(xcb_window_t));
    // Every request goes out before the first answer is read, so one pass costs one round trip
    // however many windows there are. The list runs bottom to top.
    struct Asked {
        xcb_window_t window;
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_geometry_cookie_t geometry;
        xcb_translate_coordinates_cookie_t origin;
    };
    std::vector<Asked> asked;
    for (auto it = clients.crbegin(); it != clients.crend(); ++it)
        if (*it != XCB_WINDOW_NONE && !ownWindow(c, *it))
            asked.push_back({*it, xcb_get_window_attributes(c, *it), xcb_get_geometry(c, *it),
                             xcb_translate_coordinates(c, *it, root, 0, 0)});
    std::optional<xcb_window_t> found;
    for (const Asked& each : asked) {
        if (found) {
            xcb_discard_reply(c, each.attributes.sequence);
            xcb_discard_reply(c, each.geometry.sequence);
            xcb_discard_reply(c, each.origin.sequence);
            continue;
        }
        auto* attributes = xcb_get_window_attributes_reply(c, each.attributes, nullptr);
        auto* geometry = xcb_get_geometry_reply(c, each.geometry, nullptr);
        auto* origin = xcb_translate_coordinates_reply(c, each.origin, nullptr);
        if (attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE && geometry && origin &&
            rootPoint.x() >= origin->dst_x && rootPoint.y() >= origin->dst_y &&
            rootPoint.x() < origin->dst_x + geometry->width &&
            rootPoint.y() < origin->dst_y + geometry->height)
            found = each.window;
        std::free(attributes);
        std::free(geometry);
        std::free(origin);
    }
    if (!found)
        return std::nullopt;
    Hit hit;
    hit.window = *found;
    const QByteArray wmClass = property(c, *found, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, kMaxClassBytes);
    const QList<QByteArray> parts = wmClass.split('\0');
    hit.instance = parts.size() > 0 ? QString::fromLocal8Bit(parts[0]) : QString();
    hit.className = parts.size() > 1 ? QString::fromLocal8Bit(parts[1]) : QString();
    return hit;
}

bool X11WindowStack::compositorRunning(int screen) {
    xcb_connection_t* c = X11Connection::get();
    if (c == nullptr)
        return false;
    const QByteArray name = "_NET_WM_CM_S" + QByteArray::number(screen);
    auto* owner = xcb_get_selection_owner_reply(
        c, xcb_get_selection_owner(c, X11Connection::atom(c, name.constData())), nullptr);
    const bool running = owner && owner->owner != XCB_WINDOW_NONE;
    std::free(owner);
    return running;
}

} // namespace vennimo
