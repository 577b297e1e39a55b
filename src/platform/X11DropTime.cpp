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

// Sees every event of the application's connection before Qt handles it, so the drop's time is
// known by the time the drop handler runs.
class DropFilter : public QObject, public QAbstractNativeEventFilter {
public:
    DropFilter(xcb_atom_t drop, QObject* parent)
        : QObject(parent)
        , m_drop(drop) {}

    bool nativeEventFilter(const QByteArray& type, void* message, qintptr*) override {
        if (type != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
            return false;
        const auto* client = static_cast<const xcb_client_message_event_t*>(message);
        if (client->type == m_drop && client->format == 32) {
            g_lastDrop = client->data.data32[2];
            g_seen = true;
        }
        return false;
    }

private:
    xcb_atom_t m_drop;
};

} // namespace

void X11DropTime::watch() {
    static QPointer<DropFilter> filter;
    xcb_connection_t* c = X11Connection::get();
    QCoreApplication* application = QCoreApplication::instance();
    if (filter || c == nullptr || application == nullptr)
        return;
    // The application owns it and ends it with itself.
    filter = new DropFilter(X11Connection::atom(c, "XdndDrop"), application);
    application->installNativeEventFilter(filter);
}

std::optional<std::uint32_t> X11DropTime::last() {
    if (!g_seen)
        return std::nullopt;
    return g_lastDrop.load();
}

} // namespace vennimo
