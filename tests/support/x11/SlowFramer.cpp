// A window manager that frames windows the way a reparenting one does on a busy machine: it puts a
// titled window into its frame at the screen's corner first and tells the frame's extents, moves
// the window to its place inside the frame a moment later, and only a good while after that moves
// the frame where the window asked to be and shows it. Windows that ask for no
// decoration are shown where they ask, unframed. Requests that come meanwhile are served after.
//   x11-slow-framer [SECONDS]   (how long a frame stands at the corner; 1.5 by default)

#include <xcb/xcb.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <thread>

namespace {

constexpr uint16_t kTitle = 20;

template <typename T>
using Reply = std::unique_ptr<T, decltype(&std::free)>;

xcb_atom_t atom(xcb_connection_t* c, const char* name) {
    const Reply<xcb_intern_atom_reply_t> reply{
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr),
        &std::free};
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

struct Framer {
    xcb_connection_t* c = nullptr;
    xcb_screen_t* screen = nullptr;
    std::chrono::milliseconds pause{1500};
    xcb_atom_t extents = XCB_ATOM_NONE;
    xcb_atom_t motif = XCB_ATOM_NONE;
    // Client window to its frame.
    std::map<xcb_window_t, xcb_window_t> frames;

    bool undecorated(xcb_window_t window) const {
        const Reply<xcb_get_property_reply_t> reply{
            xcb_get_property_reply(c, xcb_get_property(c, 0, window, motif, motif, 0, 5), nullptr),
            &std::free};
        if (!reply || xcb_get_property_value_length(reply.get()) < 12)
            return false;
        const auto* hints = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
        // Flags, functions, decorations: the decorations count where their flag is set.
        return (hints[0] & 2u) != 0 && hints[2] == 0;
    }

    void tellPlace(xcb_window_t client, int16_t x, int16_t y, uint16_t width, uint16_t height) {
        // Where the client stands on the screen, as a window manager tells it after a move.
        xcb_configure_notify_event_t event{};
        event.response_type = XCB_CONFIGURE_NOTIFY;
        event.event = client;
        event.window = client;
        event.x = x;
        event.y = y;
        event.width = width;
        event.height = height;
        xcb_send_event(c, 0, client, XCB_EVENT_MASK_STRUCTURE_NOTIFY, reinterpret_cast<const char*>(&event));
    }

    void frame(xcb_window_t client) {
        const Reply<xcb_get_geometry_reply_t> geometry{
            xcb_get_geometry_reply(c, xcb_get_geometry(c, client), nullptr), &std::free};
        if (!geometry)
            return;
        const xcb_window_t frame = xcb_generate_id(c);
        const uint32_t values[] = {0x505050,
                                   XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, frame, screen->root, 0, 0, geometry->width,
                          uint16_t(geometry->height + kTitle), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          XCB_COPY_FROM_PARENT, XCB_CW_BACK_PIXEL | XCB_CW_EVENT_MASK, values);
        // Into the frame first, its extents told, and only then to its place inside it.
        xcb_reparent_window(c, client, frame, 0, 0);
        frames[client] = frame;
        const uint32_t sides[] = {0, 0, kTitle, 0};
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, client, extents, XCB_ATOM_CARDINAL, 32, 4, sides);
        xcb_flush(c);
        std::this_thread::sleep_for(pause / 5);
        const uint32_t inside[] = {0, kTitle};
        xcb_configure_window(c, client, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, inside);
        xcb_flush(c);
        // The frame stands at the corner while the manager does other things.
        std::this_thread::sleep_for(pause);
        const uint32_t place[] = {uint32_t(int32_t(geometry->x)), uint32_t(int32_t(geometry->y) - kTitle)};
        xcb_configure_window(c, frame, XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y, place);
        xcb_map_window(c, client);
        xcb_map_window(c, frame);
        tellPlace(client, geometry->x, geometry->y, geometry->width, geometry->height);
    }

    void configure(const xcb_configure_request_event_t& request) {
        const auto framed = frames.find(request.window);
        if (framed == frames.end()) {
            uint32_t values[7];
            int n = 0;
            const uint16_t mask = request.value_mask;
            if (mask & XCB_CONFIG_WINDOW_X)
                values[n++] = uint32_t(int32_t(request.x));
            if (mask & XCB_CONFIG_WINDOW_Y)
                values[n++] = uint32_t(int32_t(request.y));
            if (mask & XCB_CONFIG_WINDOW_WIDTH)
                values[n++] = request.width;
            if (mask & XCB_CONFIG_WINDOW_HEIGHT)
                values[n++] = request.height;
            if (mask & XCB_CONFIG_WINDOW_BORDER_WIDTH)
                values[n++] = request.border_width;
            if (mask & XCB_CONFIG_WINDOW_SIBLING)
                values[n++] = request.sibling;
            if (mask & XCB_CONFIG_WINDOW_STACK_MODE)
                values[n++] = request.stack_mode;
            xcb_configure_window(c, request.window, mask, values);
            return;
        }
        // Static gravity: the client goes where it asks, its frame around it.
        const Reply<xcb_get_geometry_reply_t> frame{
            xcb_get_geometry_reply(c, xcb_get_geometry(c, framed->second), nullptr), &std::free};
        const Reply<xcb_get_geometry_reply_t> client{
            xcb_get_geometry_reply(c, xcb_get_geometry(c, request.window), nullptr), &std::free};
        if (!frame || !client)
            return;
        const int32_t x = (request.value_mask & XCB_CONFIG_WINDOW_X) ? request.x : frame->x;
        const int32_t y = (request.value_mask & XCB_CONFIG_WINDOW_Y) ? request.y : frame->y + kTitle;
        const uint32_t width = (request.value_mask & XCB_CONFIG_WINDOW_WIDTH) ? request.width : client->width;
        const uint32_t height =
            (request.value_mask & XCB_CONFIG_WINDOW_HEIGHT) ? request.height : client->height;
        const uint32_t outer[] = {uint32_t(x), uint32_t(y - kTitle), width, height + kTitle};
        xcb_configure_window(c, framed->second,
                             XCB_CONFIG_WINDOW_X | XCB_CONFIG_WINDOW_Y | XCB_CONFIG_WINDOW_WIDTH |
                                 XCB_CONFIG_WINDOW_HEIGHT,
                             outer);
        const uint32_t inner[] = {width, height};
        xcb_configure_window(c, request.window, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, inner);
        tellPlace(request.window, int16_t(x), int16_t(y), uint16_t(width), uint16_t(height));
    }

    // The client withdrew or went: its frame goes, the client back to the root where it stood.
    void unframe(xcb_window_t client, bool destroyed) {
        const auto framed = frames.find(client);
        if (framed == frames.end())
            return;
        if (!destroyed) {
            const Reply<xcb_get_geometry_reply_t> frame{
                xcb_get_geometry_reply(c, xcb_get_geometry(c, framed->second), nullptr), &std::free};
            xcb_reparent_window(c, client, screen->root, frame ? frame->x : 0,
                                int16_t(frame ? frame->y + kTitle : 0));
        }
        xcb_destroy_window(c, framed->second);
        frames.erase(framed);
    }

    int run() {
        const uint32_t redirect = XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        if (const Reply<xcb_generic_error_t> error{
                xcb_request_check(
                    c, xcb_change_window_attributes_checked(c, screen->root, XCB_CW_EVENT_MASK, &redirect)),
                &std::free}) {
            std::fprintf(stderr, "x11-slow-framer: another window manager runs\n");
            return 1;
        }
        extents = atom(c, "_NET_FRAME_EXTENTS");
        motif = atom(c, "_MOTIF_WM_HINTS");
        // The check other programs use to tell that a window manager runs.
        const xcb_window_t check = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, check, screen->root, -1, -1, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        const xcb_atom_t supporting = atom(c, "_NET_SUPPORTING_WM_CHECK");
        for (const xcb_window_t window : {screen->root, check})
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, supporting, XCB_ATOM_WINDOW, 32, 1, &check);
        const char name[] = "x11-slow-framer";
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, check, atom(c, "_NET_WM_NAME"), atom(c, "UTF8_STRING"),
                            8, uint32_t(sizeof name - 1), name);
        xcb_flush(c);
        while (xcb_generic_event_t* raw = xcb_wait_for_event(c)) {
            const std::unique_ptr<xcb_generic_event_t, decltype(&std::free)> event{raw, &std::free};
            switch (event->response_type & 0x7f) {
            case XCB_MAP_REQUEST: {
                const xcb_window_t window = reinterpret_cast<xcb_map_request_event_t*>(raw)->window;
                if (const auto framed = frames.find(window); framed != frames.end()) {
                    xcb_map_window(c, window);
                    xcb_map_window(c, framed->second);
                } else if (undecorated(window)) {
                    xcb_map_window(c, window);
                } else {
                    frame(window);
                }
                break;
            }
            case XCB_CONFIGURE_REQUEST:
                configure(*reinterpret_cast<xcb_configure_request_event_t*>(raw));
                break;
            case XCB_UNMAP_NOTIFY: {
                const auto* unmap = reinterpret_cast<xcb_unmap_notify_event_t*>(raw);
                if (frames.count(unmap->window) && frames[unmap->window] == unmap->event)
                    unframe(unmap->window, false);
                break;
            }
            case XCB_DESTROY_NOTIFY:
                unframe(reinterpret_cast<xcb_destroy_notify_event_t*>(raw)->window, true);
                break;
            default:
                break;
            }
            xcb_flush(c);
        }
        return 0;
    }
};

} // namespace

int main(int argc, char** argv) {
    Framer framer;
    if (argc > 1)
        framer.pause = std::chrono::milliseconds(long(std::atof(argv[1]) * 1000));
    framer.c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(framer.c) != 0) {
        std::fprintf(stderr, "x11-slow-framer: cannot reach the X server\n");
        return 2;
    }
    framer.screen = xcb_setup_roots_iterator(xcb_get_setup(framer.c)).data;
    const int status = framer.run();
    xcb_disconnect(framer.c);
    return status;
}
