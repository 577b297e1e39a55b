#include "WindowTrail.h"

#include <QElapsedTimer>
#include <QTest>

#include <cstdlib>
#include <cstring>
#include <xcb/shape.h>
#include <xcb/xcb.h>

namespace vennimo::test {

struct WindowTrail::Connection {
    xcb_connection_t* c = nullptr;
    xcb_window_t root = XCB_WINDOW_NONE;
    xcb_atom_t pid = XCB_ATOM_NONE;
    ~Connection() {
        if (c)
            xcb_disconnect(c);
    }
};

namespace {

xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

} // namespace

WindowTrail::WindowTrail(qint64 pid)
    : m_connection(std::make_unique<Connection>())
    , m_pid(pid) {
    m_connection->c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(m_connection->c))
        return;
    m_connection->root = xcb_setup_roots_iterator(xcb_get_setup(m_connection->c)).data->root;
    m_connection->pid = internAtom(m_connection->c, "_NET_WM_PID");
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(m_connection->c, m_connection->root, XCB_CW_EVENT_MASK, &mask);
    mark();
}

WindowTrail::~WindowTrail() = default;

bool WindowTrail::connected() const {
    return !xcb_connection_has_error(m_connection->c);
}

void WindowTrail::mark() {
    if (!connected())
        return;
    // A round trip: whatever the server reported before it is in the queue now. It still counts
    // for where windows stand.
    std::free(xcb_get_input_focus_reply(m_connection->c, xcb_get_input_focus(m_connection->c), nullptr));
    poll();
    m_windows.clear();
}

bool WindowTrail::poll() {
    if (!connected())
        return false;
    xcb_connection_t* c = m_connection->c;
    bool changed = false;
    const auto followed = [this](xcb_window_t id) -> Window* {
        for (Window& window : m_windows)
            if (window.id == id)
                return &window;
        return nullptr;
    };
    while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
        ++m_order;
        switch (event->response_type & 0x7f) {
        case XCB_CREATE_NOTIFY: {
            const auto* create = reinterpret_cast<const xcb_create_notify_event_t*>(event);
            m_frames.insert(create->window, QRect(create->x, create->y, create->width, create->height));
            break;
        }
        case XCB_MAP_NOTIFY: {
            const auto* map = reinterpret_cast<const xcb_map_notify_event_t*>(event);
            if (!map->override_redirect || map->event != m_connection->root || followed(map->window))
                break;
            xcb_get_property_reply_t* owner = xcb_get_property_reply(
                c, xcb_get_property(c, 0, map->window, m_connection->pid, XCB_ATOM_CARDINAL, 0, 1), nullptr);
            const bool ours = owner && xcb_get_property_value_length(owner) == 4 &&
                              *static_cast<const uint32_t*>(xcb_get_property_value(owner)) == uint32_t(m_pid);
            std::free(owner);
            std::optional<QRect> frame;
            if (const auto known = m_frames.constFind(map->window); known != m_frames.cend()) {
                frame = *known;
            } else if (xcb_get_geometry_reply_t* geometry =
                           xcb_get_geometry_reply(c, xcb_get_geometry(c, map->window), nullptr)) {
                // Made before this connection listened: it has not moved since, or a configure
                // event would have told.
                frame = QRect(geometry->x, geometry->y, geometry->width, geometry->height);
                std::free(geometry);
            }
            if (ours && frame) {
                m_windows.append({map->window, {*frame}, false, {m_order}, -1});
                changed = true;
            }
            break;
        }
        case XCB_CONFIGURE_NOTIFY: {
            const auto* configure = reinterpret_cast<const xcb_configure_notify_event_t*>(event);
            Window* window = followed(configure->window);
            const QRect place(configure->x, configure->y, configure->width, configure->height);
            m_frames.insert(configure->window, place);
            if (window && !window->gone && window->places.last() != place) {
                window->places.append(place);
                window->placeOrder.append(m_order);
                changed = true;
            }
            break;
        }
        case XCB_UNMAP_NOTIFY:
        case XCB_DESTROY_NOTIFY: {
            // Both carry the window in the same place.
            const auto* unmap = reinterpret_cast<const xcb_unmap_notify_event_t*>(event);
            if (Window* window = followed(unmap->window); window && !window->gone) {
                window->gone = true;
                window->goneOrder = m_order;
                changed = true;
            }
            if ((event->response_type & 0x7f) == XCB_DESTROY_NOTIFY)
                m_frames.remove(unmap->window);
            break;
        }
        default:
            break;
        }
        std::free(event);
    }
    return changed;
}

std::optional<WindowTrail::Window> WindowTrail::follower(QPoint pointer, int timeout) {
    const auto travelled = [](const Window& w) {
        return (w.places.last().topLeft() - w.places.first().topLeft()).manhattanLength();
    };
    QElapsedTimer waited;
    QElapsedTimer still;
    waited.start();
    std::optional<Window> found;
    do {
        poll();
        const Window* best = nullptr;
        for (const Window& w : std::as_const(m_windows)) {
            const bool nearer = (w.places.last().center() - pointer).manhattanLength() <
                                (w.places.first().center() - pointer).manhattanLength();
            if (!w.gone && nearer && (!best || travelled(w) > travelled(*best)))
                best = &w;
        }
        if (!best) {
            found.reset();
        } else if (!found || found->id != best->id || found->places.last() != best->places.last()) {
            found = *best;
            still.start();
        } else if (still.elapsed() >= 300) {
            return found;
        }
        QTest::qWait(10);
    } while (waited.elapsed() < timeout);
    return found;
}

QImage WindowTrail::ownPixels(quint32 id) const {
    if (!connected())
        return {};
    xcb_connection_t* c = m_connection->c;
    xcb_get_geometry_reply_t* geometry = xcb_get_geometry_reply(c, xcb_get_geometry(c, id), nullptr);
    if (!geometry)
        return {};
    const int depth = geometry->depth;
    const uint16_t width = geometry->width;
    const uint16_t height = geometry->height;
    std::free(geometry);
    if (depth != 32)
        return {};
    xcb_get_image_reply_t* image = xcb_get_image_reply(
        c, xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, id, 0, 0, width, height, ~0u), nullptr);
    if (!image)
        return {};
    QImage pixels;
    if (xcb_get_image_data_length(image) >= int(width) * height * 4) {
        // Premultiplied ARGB, one 32-bit word a pixel in the server's (and this machine's) order.
        pixels =
            QImage(xcb_get_image_data(image), width, height, width * 4, QImage::Format_ARGB32_Premultiplied)
                .copy();
    }
    std::free(image);
    return pixels;
}

std::optional<QRegion> WindowTrail::boundingShape(quint32 id) const {
    if (!connected())
        return std::nullopt;
    xcb_connection_t* c = m_connection->c;
    xcb_shape_query_extents_reply_t* extents =
        xcb_shape_query_extents_reply(c, xcb_shape_query_extents(c, id), nullptr);
    const bool shaped = extents && extents->bounding_shaped;
    std::free(extents);
    if (!shaped)
        return std::nullopt;
    xcb_shape_get_rectangles_reply_t* reply =
        xcb_shape_get_rectangles_reply(c, xcb_shape_get_rectangles(c, id, XCB_SHAPE_SK_BOUNDING), nullptr);
    if (!reply)
        return std::nullopt;
    QRegion region;
    const xcb_rectangle_t* rects = xcb_shape_get_rectangles_rectangles(reply);
    for (int i = 0; i < xcb_shape_get_rectangles_rectangles_length(reply); ++i)
        region += QRect(rects[i].x, rects[i].y, rects[i].width, rects[i].height);
    std::free(reply);
    return region;
}

std::optional<QRect> WindowTrail::Window::placeBefore(int order) const {
    if (placeOrder.isEmpty() || placeOrder.first() >= order || (gone && goneOrder < order))
        return std::nullopt;
    qsizetype i = 0;
    while (i + 1 < placeOrder.size() && placeOrder[i + 1] < order)
        ++i;
    return places[i];
}

} // namespace vennimo::test
