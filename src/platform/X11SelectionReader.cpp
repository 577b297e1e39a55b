#include "platform/X11SelectionReader.h"

#include "platform/X11Connection.h"

#include <QHash>
#include <QtGlobal>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <poll.h>
#include <xcb/xcb.h>

namespace vennimo {

namespace {

using EventTest = std::function<bool(const xcb_generic_event_t&)>;

// Where the owner writes its answers: a property of our own window.
constexpr auto kAnswerProperty = "VENNIMO_SELECTION_ANSWER";
constexpr auto kIncrementalType = "INCR";

} // namespace

struct X11SelectionReader::Connection {
    xcb_connection_t* c = nullptr;
    xcb_window_t window = XCB_WINDOW_NONE;
    xcb_atom_t property = XCB_ATOM_NONE;
    xcb_atom_t incremental = XCB_ATOM_NONE;
    QHash<QByteArray, xcb_atom_t> atoms;

    ~Connection() {
        if (c != nullptr)
            xcb_disconnect(c);
    }

    // A requestor window of its own: answers to earlier requests name the windows they were
    // asked for, so they never reach a later read.
    void newWindow() {
        if (window != XCB_WINDOW_NONE)
            xcb_destroy_window(c, window);
        const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        window = xcb_generate_id(c);
        const uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, -1, -1, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
        xcb_flush(c);
    }

    // Every request goes out before the first answer is waited for.
    void learn(const QList<QByteArray>& names) {
        QList<std::pair<QByteArray, xcb_intern_atom_cookie_t>> asked;
        for (const QByteArray& name : names)
            if (!atoms.contains(name) && !name.isEmpty())
                asked.append({name, xcb_intern_atom(c, 0, uint16_t(std::min<qsizetype>(name.size(), 0xffff)),
                                                    name.constData())});
        for (const auto& [name, cookie] : asked) {
            auto* reply = xcb_intern_atom_reply(c, cookie, nullptr);
            if (reply != nullptr && reply->atom != XCB_ATOM_NONE)
                atoms.insert(name, reply->atom);
            std::free(reply);
        }
    }

    xcb_atom_t atom(const QByteArray& name) {
        learn({name});
        return atoms.value(name, XCB_ATOM_NONE);
    }

    // The first event that passes `test`, before the deadline; the others are of no use here.
    xcb_generic_event_t* waitFor(const EventTest& test, const QDeadlineTimer& deadline) {
        for (;;) {
            while (xcb_generic_event_t* event = xcb_poll_for_event(c)) {
                if (test(*event))
                    return event;
                std::free(event);
            }
            if (xcb_connection_has_error(c) != 0)
                return nullptr;
            const qint64 left = deadline.remainingTime();
            if (left == 0)
                return nullptr;
            pollfd descriptor{xcb_get_file_descriptor(c), POLLIN, 0};
            ::poll(&descriptor, 1, int(std::min<qint64>(left < 0 ? 1000 : left, 1000)));
        }
    }

    // The answer property whole, deleting it, which tells an incremental sender to go on.
    std::optional<QByteArray> take(qint64 maxBytes, xcb_atom_t* type) {
        // Lengths go in 32-bit units; one more unit tells an over-long value from one that fits.
        const auto units = uint32_t(std::min<qint64>(maxBytes / 4 + 1, 0x3fffffff));
        auto* reply = xcb_get_property_reply(
            c, xcb_get_property(c, 1, window, property, XCB_GET_PROPERTY_TYPE_ANY, 0, units), nullptr);
        if (reply == nullptr)
            return std::nullopt;
        std::optional<QByteArray> value;
        const qint64 length = xcb_get_property_value_length(reply);
        if (reply->type != XCB_ATOM_NONE && reply->bytes_after == 0 && length <= maxBytes) {
            value = QByteArray(static_cast<const char*>(xcb_get_property_value(reply)), qsizetype(length));
            *type = reply->type;
        }
        std::free(reply);
        if (!value) {
            // Too long: removed all the same, so that nothing is left for a later read.
            xcb_delete_property(c, window, property);
            xcb_flush(c);
        }
        return value;
    }
};

X11SelectionReader::X11SelectionReader(std::unique_ptr<Connection> connection)
    : m_connection(std::move(connection)) {}

X11SelectionReader::~X11SelectionReader() = default;

std::unique_ptr<X11SelectionReader> X11SelectionReader::open() {
    if (X11Connection::get() == nullptr)
        return nullptr;
    auto connection = std::make_unique<Connection>();
    const QByteArray display = qgetenv("DISPLAY");
    connection->c = xcb_connect(display.isEmpty() ? nullptr : display.constData(), nullptr);
    xcb_connection_t* c = connection->c;
    if (xcb_connection_has_error(c) != 0)
        return nullptr;
    connection->newWindow();
    connection->learn({kAnswerProperty, kIncrementalType});
    connection->property = connection->atom(kAnswerProperty);
    connection->incremental = connection->atom(kIncrementalType);
    if (connection->property == XCB_ATOM_NONE || xcb_connection_has_error(c) != 0)
        return nullptr;
    return std::unique_ptr<X11SelectionReader>(new X11SelectionReader(std::move(connection)));
}

std::optional<QByteArray> X11SelectionReader::read(const char* selection, const QByteArray& target,
                                                   std::uint32_t time, const QDeadlineTimer& deadline,
                                                   qint64 maxBytes) {
    if (deadline.hasExpired())
        return std::nullopt;
    Connection& k = *m_connection;
    // The owner may still be writing an answer that came too late, or be waiting to send the
    // next piece of one: that goes to the window it was asked for, which is gone then.
    if (m_spent) {
        k.newWindow();
        m_spent = false;
    }
    xcb_connection_t* c = k.c;
    k.learn({selection, target});
    const xcb_atom_t selectionAtom = k.atom(selection);
    const xcb_atom_t targetAtom = k.atom(target);
    if (selectionAtom == XCB_ATOM_NONE || targetAtom == XCB_ATOM_NONE)
        return std::nullopt;
    xcb_delete_property(c, k.window, k.property);
    xcb_convert_selection(c, k.window, selectionAtom, targetAtom, k.property, time);
    xcb_flush(c);

    xcb_generic_event_t* notify = k.waitFor(
        [&](const xcb_generic_event_t& event) {
            if ((event.response_type & 0x7f) != XCB_SELECTION_NOTIFY)
                return false;
            const auto& n = reinterpret_cast<const xcb_selection_notify_event_t&>(event);
            return n.requestor == k.window && n.selection == selectionAtom && n.target == targetAtom;
        },
        deadline);
    if (notify == nullptr) {
        m_spent = true;
        return std::nullopt;
    }
    const bool refused = reinterpret_cast<xcb_selection_notify_event_t*>(notify)->property == XCB_ATOM_NONE;
    std::free(notify);
    if (refused)
        return std::nullopt;

    xcb_atom_t type = XCB_ATOM_NONE;
    std::optional<QByteArray> answer = k.take(maxBytes, &type);
    if (!answer || type != k.incremental)
        return answer;

    // An incremental answer: each deletion of the property asks for the next piece, and an
    // empty piece ends it.
    QByteArray whole;
    for (;;) {
        xcb_generic_event_t* piece = k.waitFor(
            [&](const xcb_generic_event_t& event) {
                if ((event.response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
                    return false;
                const auto& p = reinterpret_cast<const xcb_property_notify_event_t&>(event);
                return p.window == k.window && p.atom == k.property && p.state == XCB_PROPERTY_NEW_VALUE;
            },
            deadline);
        if (piece == nullptr) {
            m_spent = true;
            return std::nullopt;
        }
        std::free(piece);
        xcb_flush(c);
        std::optional<QByteArray> part = k.take(maxBytes - whole.size(), &type);
        xcb_flush(c);
        if (!part) {
            m_spent = true;
            return std::nullopt;
        }
        if (part->isEmpty())
            return whole;
        whole += *part;
    }
}

void X11SelectionReader::learnNames(const QList<QByteArray>& names) {
    m_connection->learn(names);
}

} // namespace vennimo
