#include "platform/X11DropTime.h"

#include "platform/X11Connection.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QObject>
#include <QPointer>

#include <atomic>
#include <xcb/xcb.h>

namespace vennimo {

namespace {

std::atomic<std::uint32_t> g_lastDrop{0};
std::atomic<bool> g_seen{false};
std::atomic<std::uint32_t> g_lastPosition{0};
std::atomic<bool> g_positionSeen{false};
std::atomic<std::uint32_t> g_positionSource{0};
std::atomic<std::uint32_t> g_positionTarget{0};
std::atomic<std::uint64_t> g_enters{0};

// Sees every event of the application's connection before Qt handles it, so the drop's time is
// known by the time the drop handler runs.
class DropFilter : public QObject, public QAbstractNativeEventFilter {
public:
    DropFilter(xcb_atom_t enter, xcb_atom_t drop, xcb_atom_t position, QObject* parent)
        : QObject(parent)
        , m_enter(enter)
        , m_drop(drop)
        , m_position(position) {}

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
            return false;
        const auto* client = static_cast<const xcb_client_message_event_t*>(message);
        if (client->format != 32)
            return false;
        if (client->type == m_enter) {
            ++g_enters;
        } else if (client->type == m_drop) {
            g_lastDrop = client->data.data32[2];
            g_seen = true;
        } else if (client->type == m_position) {
            g_lastPosition = client->data.data32[3];
            g_positionSource = client->data.data32[0];
            g_positionTarget = client->window;
            g_positionSeen = true;
        }
        return false;
    }

private:
    xcb_atom_t m_enter;
    xcb_atom_t m_drop;
    xcb_atom_t m_position;
};

} // namespace

void X11DropTime::watch() {
    static QPointer<DropFilter> filter;
    xcb_connection_t* c = X11Connection::get();
    QCoreApplication* application = QCoreApplication::instance();
    if (filter || c == nullptr || application == nullptr)
        return;
    // The application owns it and ends it with itself.
    filter = new DropFilter(X11Connection::atom(c, "XdndEnter"), X11Connection::atom(c, "XdndDrop"),
                            X11Connection::atom(c, "XdndPosition"), application);
    application->installNativeEventFilter(filter);
}

std::optional<std::uint32_t> X11DropTime::last() {
    if (!g_seen)
        return std::nullopt;
    return g_lastDrop.load();
}

std::optional<std::uint32_t> X11DropTime::lastPosition() {
    if (!g_positionSeen)
        return std::nullopt;
    return g_lastPosition.load();
}

std::uint64_t X11DropTime::enters() {
    return g_enters.load();
}

std::optional<X11DropTime::Windows> X11DropTime::lastPositionWindows() {
    if (!g_positionSeen)
        return std::nullopt;
    return Windows{g_positionSource.load(), g_positionTarget.load()};
}

} // namespace vennimo
