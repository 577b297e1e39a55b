#include "WindowPing.h"

#include <QElapsedTimer>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <poll.h>
#include <xcb/xcb.h>

namespace vennimo::test {

namespace {

struct Disconnect {
    void operator()(xcb_connection_t* c) const { xcb_disconnect(c); }
};

xcb_atom_t internAtom(xcb_connection_t* c, const char* name) {
    xcb_intern_atom_reply_t* reply =
        xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

} // namespace

std::optional<qint64> pingWindow(const QString& windowId, int limitMs) {
    bool ok = false;
    const xcb_window_t window = xcb_window_t(windowId.toULong(&ok, 0));
    if (!ok || window == XCB_WINDOW_NONE)
        return std::nullopt;
    std::unique_ptr<xcb_connection_t, Disconnect> c(xcb_connect(nullptr, nullptr));
    if (xcb_connection_has_error(c.get()))
        return std::nullopt;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c.get())).data->root;
    const xcb_atom_t protocols = internAtom(c.get(), "WM_PROTOCOLS");
    const xcb_atom_t ping = internAtom(c.get(), "_NET_WM_PING");
    // The answer goes to the root window, to whoever listens there for either kind of event.
    const uint32_t mask = XCB_EVENT_MASK_STRUCTURE_NOTIFY | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c.get(), root, XCB_CW_EVENT_MASK, &mask);

    static uint32_t serial = 1;
    const uint32_t stamp = ++serial;
    xcb_client_message_event_t message{};
    message.response_type = XCB_CLIENT_MESSAGE;
    message.format = 32;
    message.window = window;
    message.type = protocols;
    message.data.data32[0] = ping;
    message.data.data32[1] = stamp;
    message.data.data32[2] = window;
    QElapsedTimer timer;
    timer.start();
    xcb_send_event(c.get(), 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&message));
    xcb_flush(c.get());

    while (timer.elapsed() < limitMs) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c.get())) {
            bool answered = false;
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                const auto* reply = reinterpret_cast<const xcb_client_message_event_t*>(event);
                answered = reply->type == protocols && reply->data.data32[0] == ping &&
                           reply->data.data32[1] == stamp && reply->data.data32[2] == window;
            }
            std::free(event);
            if (answered)
                return timer.elapsed();
        }
        if (xcb_connection_has_error(c.get()))
            return std::nullopt;
        pollfd descriptor{xcb_get_file_descriptor(c.get()), POLLIN, 0};
        ::poll(&descriptor, 1, int(std::max<qint64>(1, std::min<qint64>(100, limitMs - timer.elapsed()))));
    }
    return std::nullopt;
}

} // namespace vennimo::test
