#include "XdsSource.h"

#include <QList>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <xcb/xcb.h>

namespace vennimo::test {

namespace {

xcb_atom_t intern(xcb_connection_t* c, const char* name) {
    auto* reply = xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name), nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return atom;
}

QByteArray atomName(xcb_connection_t* c, xcb_atom_t atom) {
    auto* reply = xcb_get_atom_name_reply(c, xcb_get_atom_name(c, atom), nullptr);
    if (reply == nullptr)
        return {};
    const QByteArray name(xcb_get_atom_name_name(reply), xcb_get_atom_name_name_length(reply));
    std::free(reply);
    return name;
}

void sendClientMessage(xcb_connection_t* c, xcb_window_t to, xcb_atom_t type, std::array<uint32_t, 5> data) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = to;
    event.type = type;
    std::memcpy(event.data.data32, data.data(), sizeof event.data.data32);
    xcb_send_event(c, 0, to, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&event));
    xcb_flush(c);
}

} // namespace

XdsSource::XdsSource(Script script)
    : m_script(std::move(script)) {}

XdsSource::~XdsSource() {
    m_stop = true;
    if (m_thread.joinable())
        m_thread.join();
}

void XdsSource::start(quint32 targetWindow, int rootX, int rootY) {
    m_thread = std::thread([this, targetWindow, rootX, rootY] { run(targetWindow, rootX, rootY); });
}

QByteArray XdsSource::requestedUri() const {
    std::lock_guard lock(m_mutex);
    return m_requestedUri;
}

void XdsSource::run(quint32 target, int x, int y) {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c)) {
        m_finished = true;
        return;
    }
    xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_window_t window = xcb_generate_id(c);
    const uint32_t values[] = {1};
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, -10, -10, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_OVERRIDE_REDIRECT, values);

    const xcb_atom_t directSave = intern(c, "XdndDirectSave0");
    const xcb_atom_t textPlain = intern(c, "text/plain");
    const xcb_atom_t selection = intern(c, "XdndSelection");
    const xcb_atom_t enter = intern(c, "XdndEnter");
    const xcb_atom_t position = intern(c, "XdndPosition");
    const xcb_atom_t status = intern(c, "XdndStatus");
    const xcb_atom_t drop = intern(c, "XdndDrop");
    const xcb_atom_t finished = intern(c, "XdndFinished");
    const xcb_atom_t copy = intern(c, "XdndActionCopy");

    xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, directSave, textPlain, 8,
                        uint32_t(m_script.suggestedName.size()), m_script.suggestedName.constData());
    xcb_set_selection_owner(c, window, selection, XCB_CURRENT_TIME);

    QList<xcb_atom_t> types{directSave};
    for (auto it = m_script.offers.cbegin(); it != m_script.offers.cend() && types.size() < 3; ++it)
        types.append(intern(c, it.key().constData()));
    while (types.size() < 3)
        types.append(XCB_ATOM_NONE);
    sendClientMessage(c, target, enter, {window, 5u << 24, types[0], types[1], types[2]});
    sendClientMessage(c, target, position,
                      {window, 0, uint32_t(x) << 16 | uint32_t(y), XCB_CURRENT_TIME, copy});

    bool dropped = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!m_stop && std::chrono::steady_clock::now() < deadline) {
        xcb_generic_event_t* event = xcb_poll_for_event(c);
        if (event == nullptr) {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
            continue;
        }
        const uint8_t kind = event->response_type & 0x7F;
        if (kind == XCB_CLIENT_MESSAGE) {
            auto* message = reinterpret_cast<xcb_client_message_event_t*>(event);
            if (message->type == status && !dropped && (message->data.data32[1] & 1)) {
                dropped = true;
                sendClientMessage(c, target, drop, {window, 0, XCB_CURRENT_TIME, 0, 0});
            } else if (message->type == finished) {
                std::free(event);
                break;
            }
        } else if (kind == XCB_SELECTION_REQUEST) {
            auto* request = reinterpret_cast<xcb_selection_request_event_t*>(event);
            QByteArray answer;
            if (request->target == directSave) {
                auto* property = xcb_get_property_reply(
                    c, xcb_get_property(c, 0, window, directSave, XCB_GET_PROPERTY_TYPE_ANY, 0, 4096),
                    nullptr);
                QByteArray uri;
                if (property != nullptr)
                    uri = QByteArray(static_cast<const char*>(xcb_get_property_value(property)),
                                     xcb_get_property_value_length(property));
                std::free(property);
                {
                    std::lock_guard lock(m_mutex);
                    m_requestedUri = uri;
                }
                answer = "F";
                if (m_script.writeFile && uri.startsWith("file://")) {
                    const QByteArray path = QByteArray::fromPercentEncoding(uri.mid(uri.indexOf('/', 7)));
                    if (FILE* file = std::fopen(path.constData(), "wb")) {
                        std::fwrite(m_script.fileBytes.constData(), 1, size_t(m_script.fileBytes.size()),
                                    file);
                        std::fclose(file);
                        answer = "S";
                    } else {
                        answer = "E";
                    }
                }
            } else {
                answer = m_script.offers.value(atomName(c, request->target));
            }
            xcb_change_property(c, XCB_PROP_MODE_REPLACE, request->requestor, request->property,
                                request->target, 8, uint32_t(answer.size()), answer.constData());
            xcb_selection_notify_event_t notify{};
            notify.response_type = XCB_SELECTION_NOTIFY;
            notify.time = request->time;
            notify.requestor = request->requestor;
            notify.selection = request->selection;
            notify.target = request->target;
            notify.property = request->property;
            xcb_send_event(c, 0, request->requestor, XCB_EVENT_MASK_NO_EVENT,
                           reinterpret_cast<const char*>(&notify));
            xcb_flush(c);
        }
        std::free(event);
    }
    xcb_destroy_window(c, window);
    xcb_disconnect(c);
    m_finished = true;
}

} // namespace vennimo::test
