#include "platform/X11RequestedWindow.h"

#include "platform/X11Connection.h"
#include "platform/X11WindowHints.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QWindow>

#include <xcb/xcb.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace vennimo {

namespace {

// A window's startup id is a short text; anything longer is not ours.
constexpr uint32_t kMaxStartupIdWords = 64;
// The window manager's list of managed windows, read whole up to this many.
constexpr uint32_t kMaxClients = 4096;

std::optional<uint32_t> word(xcb_connection_t* c, xcb_window_t window, const char* name, xcb_atom_t type) {
    auto* reply = xcb_get_property_reply(
        c, xcb_get_property(c, 0, window, X11Connection::atom(c, name), type, 0, 1), nullptr);
    std::optional<uint32_t> value;
    if (reply && reply->format == 32 && xcb_get_property_value_length(reply) == 4) {
        uint32_t v = 0;
        std::memcpy(&v, xcb_get_property_value(reply), 4);
        value = v;
    }
    std::free(reply);
    return value;
}

// When the user last pressed a key or a button in one of our windows: Qt writes it on the window,
// or on a small window of its own named there.
uint32_t lastUserTime() {
    xcb_connection_t* c = X11Connection::get();
    uint32_t latest = 0;
    for (const QWindow* window : QGuiApplication::topLevelWindows()) {
        if (!window->isVisible() || !window->handle())
            continue;
        auto holder = xcb_window_t(window->winId());
        if (const auto own = word(c, holder, "_NET_WM_USER_TIME_WINDOW", XCB_ATOM_WINDOW); own && *own != 0)
            holder = *own;
        latest = std::max(latest, word(c, holder, "_NET_WM_USER_TIME", XCB_ATOM_CARDINAL).value_or(0));
    }
    return latest;
}

QByteArray startupIdOf(xcb_connection_t* c, xcb_window_t window) {
    auto* reply =
        xcb_get_property_reply(c,
                               xcb_get_property(c, 0, window, X11Connection::atom(c, "_NET_STARTUP_ID"),
                                                XCB_GET_PROPERTY_TYPE_ANY, 0, kMaxStartupIdWords),
                               nullptr);
    QByteArray id;
    if (reply && reply->format == 8)
        id = QByteArray(static_cast<const char*>(xcb_get_property_value(reply)),
                        xcb_get_property_value_length(reply));
    std::free(reply);
    return id;
}

QList<uint32_t> clientList(xcb_connection_t* c) {
    auto* reply = xcb_get_property_reply(c,
                                         xcb_get_property(c, 0, X11Connection::root(c),
                                                          X11Connection::atom(c, "_NET_CLIENT_LIST"),
                                                          XCB_ATOM_WINDOW, 0, kMaxClients),
                                         nullptr);
    QList<uint32_t> clients;
    if (reply && reply->format == 32) {
        const auto* ids = static_cast<const uint32_t*>(xcb_get_property_value(reply));
        clients = QList<uint32_t>(ids, ids + xcb_get_property_value_length(reply) / 4);
    }
    std::free(reply);
    return clients;
}

bool oursFloat() {
    const QWindowList windows = QGuiApplication::topLevelWindows();
    return std::any_of(windows.begin(), windows.end(), [](const QWindow* w) {
        return w->isVisible() && w->flags().testFlag(Qt::WindowStaysOnTopHint);
    });
}

} // namespace

QString X11RequestedWindow::expect() {
    xcb_connection_t* c = X11Connection::get();
    if (c == nullptr)
        return {};
    static int requests = 0;
    QString id =
        QStringLiteral("vennimo-gallery-%1-%2").arg(QCoreApplication::applicationPid()).arg(++requests);
    // The program that opens the window takes it for the time of the user's request, which lets
    // its window take the focus from ours.
    if (const uint32_t time = lastUserTime(); time != 0)
        id += QStringLiteral("_TIME%1").arg(time);
    new X11RequestedWindow(id);
    return id;
}

void X11RequestedWindow::forget(const QString& startupId) {
    if (!QCoreApplication::instance())
        return;
    for (auto* watch :
         QCoreApplication::instance()->findChildren<X11RequestedWindow*>(Qt::FindDirectChildrenOnly))
        if (watch->m_startupId == startupId)
            watch->deleteLater();
}

X11RequestedWindow::X11RequestedWindow(QString startupId)
    : QObject(QCoreApplication::instance())
    , m_startupId(std::move(startupId)) {
    xcb_connection_t* c = X11Connection::get();
    m_clientListAtom = X11Connection::atom(c, "_NET_CLIENT_LIST");
    // The windows there now came before the request.
    for (const uint32_t window : clientList(c))
        m_seen.insert(window);
    m_deadline.setSingleShot(true);
    m_deadline.setInterval(kWaitTime);
    connect(&m_deadline, &QTimer::timeout, this, &QObject::deleteLater);
    m_deadline.start();
    // Qt takes the root window's property changes, _NET_CLIENT_LIST among them.
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11RequestedWindow::~X11RequestedWindow() {
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
}

bool X11RequestedWindow::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (eventType != "xcb_generic_event_t")
        return false;
    const auto* event = static_cast<const xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
        return false;
    const auto* property = reinterpret_cast<const xcb_property_notify_event_t*>(event);
    if (property->atom == m_clientListAtom)
        // On the next turn: the event reaches Qt too, and the look asks the server.
        QMetaObject::invokeMethod(this, &X11RequestedWindow::lookForWindow, Qt::QueuedConnection);
    return false;
}

void X11RequestedWindow::lookForWindow() {
    xcb_connection_t* c = X11Connection::get();
    if (c == nullptr)
        return;
    for (const uint32_t window : clientList(c)) {
        if (m_seen.contains(window))
            continue;
        m_seen.insert(window);
        // A request for several files may open a window for each, all with the same id.
        if (startupIdOf(c, window) == m_startupId.toUtf8())
            bringForward(window);
    }
}

void X11RequestedWindow::bringForward(std::uint32_t window) {
    // Above our floating windows it must float too, or it opens behind them; once it is closed
    // nothing of it is left to put back.
    if (oursFloat())
        X11WindowHints::keepAbove(window);
    X11WindowHints::activateWindow(window);
}

} // namespace vennimo
