#include "platform/X11ReleaseProbe.h"

#include "platform/X11Connection.h"

#include <QCoreApplication>
#include <QTimer>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>

namespace vennimo {

namespace {

// XInput 2's button release (XI_ButtonRelease) and where a device event carries its button.
constexpr quint16 kInputButtonRelease = 5;
constexpr size_t kInputDetailOffset = 16;

} // namespace

X11ReleaseProbe::X11ReleaseProbe() {
    xcb_connection_t* c = X11Connection::get();
    if (c == nullptr)
        return;
    m_markerAtom = X11Connection::atom(c, "_VENNIMO_EVENT_MARKER");
    // Qt takes the pointer's buttons through XInput 2 where the server has it, not as core events.
    const char name[] = "XInputExtension";
    if (auto* input = xcb_query_extension_reply(c, xcb_query_extension(c, sizeof name - 1, name), nullptr)) {
        if (input->present)
            m_inputOpcode = input->major_opcode;
        std::free(input);
    }
    m_window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, m_window, X11Connection::root(c), -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_flush(c);
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11ReleaseProbe::~X11ReleaseProbe() {
    if (m_window == 0)
        return;
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    if (xcb_connection_t* c = X11Connection::get()) {
        xcb_destroy_window(c, m_window);
        xcb_flush(c);
    }
}

void X11ReleaseProbe::ask(std::function<void(bool released)> answer) {
    xcb_connection_t* c = X11Connection::get();
    if (m_window == 0 || c == nullptr || m_answer)
        return;
    m_answer = std::move(answer);
    xcb_client_message_event_t marker;
    std::memset(&marker, 0, sizeof marker);
    marker.response_type = XCB_CLIENT_MESSAGE;
    marker.format = 32;
    marker.window = m_window;
    marker.type = m_markerAtom;
    marker.data.data32[0] = ++m_serial;
    // With no event mask the server sends it to the window's creator: this process alone.
    xcb_send_event(c, 0, m_window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&marker));
    xcb_flush(c);
}

bool X11ReleaseProbe::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    switch (event->response_type & 0x7f) {
    case XCB_BUTTON_RELEASE:
        if (reinterpret_cast<const xcb_button_release_event_t*>(event)->detail == XCB_BUTTON_INDEX_1)
            m_released = true;
        return false;
    case XCB_GE_GENERIC: {
        const auto* generic = reinterpret_cast<const xcb_ge_generic_event_t*>(event);
        if (m_inputOpcode == 0 || generic->extension != m_inputOpcode ||
            generic->event_type != kInputButtonRelease)
            return false;
        // A device event's button number follows its type, device and time.
        quint32 button = 0;
        std::memcpy(&button, reinterpret_cast<const char*>(event) + kInputDetailOffset, sizeof button);
        if (button == XCB_BUTTON_INDEX_1)
            m_released = true;
        return false;
    }
    case XCB_CLIENT_MESSAGE: {
        const auto* marker = reinterpret_cast<const xcb_client_message_event_t*>(event);
        if (marker->window != m_window || marker->type != m_markerAtom)
            return false;
        if (marker->data.data32[0] == m_serial && m_answer)
            // Not from inside the filter: the answer may well end the drag and this probe with it.
            QTimer::singleShot(0, this, [this, answer = std::exchange(m_answer, {})] { answer(m_released); });
        return true;
    }
    default:
        return false;
    }
}

} // namespace vennimo
