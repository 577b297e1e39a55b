#include "platform/X11DropStatus.h"

#include "platform/X11Connection.h"
#include "platform/X11DropTime.h"

#include <cstring>
#include <xcb/xcb.h>

namespace vennimo {

void X11DropStatus::refuse() {
    xcb_connection_t* c = X11Connection::get();
    const std::optional<X11DropTime::Windows> windows = X11DropTime::lastPositionWindows();
    if (c == nullptr || !windows || windows->source == 0)
        return;
    xcb_client_message_event_t status;
    std::memset(&status, 0, sizeof status);
    status.response_type = XCB_CLIENT_MESSAGE;
    status.format = 32;
    status.window = windows->source;
    status.type = X11Connection::atom(c, "XdndStatus");
    status.data.data32[0] = windows->target;
    // Not accepted, no rectangle to stay quiet in, no action.
    status.data.data32[1] = 0;
    status.data.data32[2] = 0;
    status.data.data32[3] = 0;
    status.data.data32[4] = XCB_ATOM_NONE;
    xcb_send_event(c, 0, windows->source, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&status));
    xcb_flush(c);
}

} // namespace vennimo
