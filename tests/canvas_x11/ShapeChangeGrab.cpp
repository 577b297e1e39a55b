#include "ShapeChangeGrab.h"

#include <QElapsedTimer>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <xcb/shape.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>

namespace vennimo::test {

namespace {

// How long a grab may wait for the X server while the program is stopped: one stopped between
// its server grab and the end of it keeps every other client waiting until it goes on.
constexpr int kStoppedReplyMs = 500;

} // namespace

struct ShapeChangeGrab::Connection {
    xcb_connection_t* c = nullptr;
    xcb_window_t root = XCB_WINDOW_NONE;
    uint8_t shapeEvent = 0;

    ~Connection() {
        if (c != nullptr)
            xcb_disconnect(c);
    }
};

ShapeChangeGrab::ShapeChangeGrab(quint32 window, qint64 pid)
    : m_connection(std::make_unique<Connection>())
    , m_window(window)
    , m_pid(pid) {
    xcb_connection_t* c = m_connection->c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c) != 0)
        return;
    m_connection->root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    const xcb_query_extension_reply_t* shape = xcb_get_extension_data(c, &xcb_shape_id);
    if (shape == nullptr || shape->present == 0)
        return;
    m_connection->shapeEvent = shape->first_event;
    xcb_shape_select_input(c, window, 1);
    // Known to be selected once the server has answered a request sent after it.
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
}

ShapeChangeGrab::~ShapeChangeGrab() = default;

bool ShapeChangeGrab::connected() const {
    return m_connection->shapeEvent != 0 && xcb_connection_has_error(m_connection->c) == 0;
}

std::optional<QImage> ShapeChangeGrab::next(const QRect& area, int waitMs) {
    if (!connected())
        return std::nullopt;
    xcb_connection_t* c = m_connection->c;
    QElapsedTimer waited;
    waited.start();
    bool changed = false;
    while (!changed && waited.elapsed() < waitMs) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
            if ((event->response_type & 0x7f) == m_connection->shapeEvent + XCB_SHAPE_NOTIFY) {
                const auto* notify = reinterpret_cast<const xcb_shape_notify_event_t*>(event);
                changed = changed || (notify->affected_window == m_window &&
                                      notify->shape_kind == XCB_SHAPE_SK_BOUNDING);
            }
            std::free(event);
        }
        if (!changed) {
            pollfd ready{xcb_get_file_descriptor(c), POLLIN, 0};
            ::poll(&ready, 1, int(std::max<qint64>(1, waitMs - waited.elapsed())));
        }
    }
    if (!changed)
        return std::nullopt;
    ::kill(pid_t(m_pid), SIGSTOP);
    const xcb_get_image_cookie_t cookie =
        xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, m_connection->root, int16_t(area.x()), int16_t(area.y()),
                      uint16_t(area.width()), uint16_t(area.height()), ~0u);
    xcb_flush(c);
    xcb_get_image_reply_t* reply = nullptr;
    QElapsedTimer asked;
    asked.start();
    bool resumed = false;
    for (;;) {
        void* answer = nullptr;
        if (xcb_poll_for_reply(c, cookie.sequence, &answer, nullptr) != 0) {
            reply = static_cast<xcb_get_image_reply_t*>(answer);
            break;
        }
        if (xcb_connection_has_error(c) != 0)
            break;
        if (!resumed && asked.elapsed() > kStoppedReplyMs) {
            ::kill(pid_t(m_pid), SIGCONT);
            resumed = true;
        }
        pollfd ready{xcb_get_file_descriptor(c), POLLIN, 0};
        ::poll(&ready, 1, 5);
    }
    if (!resumed)
        ::kill(pid_t(m_pid), SIGCONT);
    if (reply == nullptr)
        return std::nullopt;
    QImage image;
    const int bytes = xcb_get_image_data_length(reply);
    if (reply->depth >= 24 && bytes >= area.width() * area.height() * 4) {
        image = QImage(area.size(), QImage::Format_RGB32);
        const auto* data = xcb_get_image_data(reply);
        const int stride = bytes / area.height();
        for (int y = 0; y < area.height(); ++y)
            std::memcpy(image.scanLine(y), data + y * stride, size_t(area.width()) * 4);
    }
    std::free(reply);
    if (image.isNull())
        return std::nullopt;
    return image;
}

} // namespace vennimo::test
