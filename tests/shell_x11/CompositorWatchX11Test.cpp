#include "platform/X11CompositorWatch.h"
#include "platform/X11Connection.h"

#include <QAbstractNativeEventFilter>
#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <xcb/xcb.h>
#include <xcb/xfixes.h>

#include <cstdlib>

using namespace vennimo;

namespace {

// Qt follows the compositing manager's selection itself, for a window of its own: those events
// reach every filter on the connection and would tell the watch what it did not ask for. Hidden,
// the watch sees only what its own request on the root window brings, as on a connection where
// nothing else follows that selection.
class QtsOwnSelectionEventsHidden : public QAbstractNativeEventFilter {
public:
    QtsOwnSelectionEventsHidden(xcb_connection_t* c, xcb_atom_t selection)
        : m_root(X11Connection::root(c))
        , m_selection(selection) {
        const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(c, &xcb_xfixes_id);
        m_notifyType =
            xfixes && xfixes->present ? uint8_t(xfixes->first_event + XCB_XFIXES_SELECTION_NOTIFY) : 0;
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~QtsOwnSelectionEventsHidden() override { QCoreApplication::instance()->removeNativeEventFilter(this); }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (eventType != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if (m_notifyType == 0 || (event->response_type & 0x7f) != m_notifyType)
            return false;
        const auto* notify = reinterpret_cast<const xcb_xfixes_selection_notify_event_t*>(event);
        return notify->selection == m_selection && notify->window != m_root;
    }

private:
    xcb_window_t m_root;
    xcb_atom_t m_selection;
    uint8_t m_notifyType = 0;
};

// Another program on a connection of its own, taking selections as a compositing manager or a
// copy does.
class SelectionClient {
public:
    SelectionClient()
        : m_c(xcb_connect(nullptr, nullptr)) {}
    ~SelectionClient() { close(); }

    bool connected() const { return m_c != nullptr && xcb_connection_has_error(m_c) == 0; }
    xcb_atom_t atom(const char* name) const { return X11Connection::atom(m_c, name); }
    xcb_window_t root() const { return X11Connection::root(m_c); }

    xcb_window_t createWindow() {
        const xcb_window_t window = xcb_generate_id(m_c);
        xcb_create_window(m_c, 0, window, root(), 0, 0, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                          XCB_COPY_FROM_PARENT, 0, nullptr);
        sync();
        return window;
    }
    void own(const char* selection, xcb_window_t owner) {
        xcb_set_selection_owner(m_c, owner, atom(selection), XCB_CURRENT_TIME);
        sync();
    }
    void destroyWindow(xcb_window_t window) {
        xcb_destroy_window(m_c, window);
        sync();
    }
    void close() {
        if (m_c != nullptr)
            xcb_disconnect(m_c);
        m_c = nullptr;
    }

private:
    // Done by the server, not only sent, when this returns.
    void sync() { std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr)); }

    xcb_connection_t* m_c;
};

} // namespace

// x11-session leaves the compositing manager out for this suite's name, so that the test's own
// client plays it. A manager ends by destroying its window, or by a crash or SIGKILL that closes
// its connection while its selection names a window that stays: the watch asks for both ends itself.
// A copy in another program changes another selection's owner and is no manager coming.
TEST(CompositorWatchWithoutCompositorX11, AManagerIsFollowedThroughItsEndsAndNoOtherSelectionCounts) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    xcb_connection_t* c = X11Connection::get();
    ASSERT_NE(c, nullptr);
    X11CompositorWatch watch;
    ASSERT_FALSE(watch.running()) << "the session has a compositing manager";
    const QtsOwnSelectionEventsHidden hidden(c, X11Connection::atom(c, "_NET_WM_CM_S0"));
    const auto waitForRunning = [&watch](bool running) {
        return QTest::qWaitFor([&] { return watch.running() == running; }, 10000);
    };

    {
        SelectionClient manager;
        ASSERT_TRUE(manager.connected());
        const xcb_window_t window = manager.createWindow();
        manager.own("_NET_WM_CM_S0", window);
        ASSERT_TRUE(waitForRunning(true)) << "a manager that came was not noticed";
        manager.destroyWindow(window);
        EXPECT_TRUE(waitForRunning(false)) << "a manager whose window was destroyed still counts";
    }
    {
        SelectionClient manager;
        ASSERT_TRUE(manager.connected());
        manager.own("_NET_WM_CM_S0", manager.root());
        ASSERT_TRUE(waitForRunning(true)) << "a manager that came again was not noticed";
        manager.close();
        EXPECT_TRUE(waitForRunning(false)) << "a manager whose connection closed still counts";
    }

    // Qt's clipboard hears of the copy from the same kind of event the watch looks at.
    QSignalSpy copied(QGuiApplication::clipboard(), &QClipboard::changed);
    SelectionClient copier;
    ASSERT_TRUE(copier.connected());
    const xcb_window_t window = copier.createWindow();
    copier.own("CLIPBOARD", window);
    copier.own("PRIMARY", window);
    EXPECT_TRUE(QTest::qWaitFor([&] { return copied.count() >= 2; }, 10000)) << "Qt saw no copy";
    EXPECT_FALSE(watch.running()) << "a copy in another program counts as a compositing manager";
}

// The rope started while a compositing manager runs: no change of owner comes to tell of it, so
// the watch knows it from the owner it finds when it is made.
TEST(CompositorWatchWithoutCompositorX11, AWatchMadeWhileAManagerRunsKnowsItAtOnce) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    xcb_connection_t* c = X11Connection::get();
    ASSERT_NE(c, nullptr);
    SelectionClient manager;
    ASSERT_TRUE(manager.connected());
    const xcb_window_t window = manager.createWindow();
    manager.own("_NET_WM_CM_S0", window);
    const QtsOwnSelectionEventsHidden hidden(c, X11Connection::atom(c, "_NET_WM_CM_S0"));
    X11CompositorWatch watch;
    EXPECT_TRUE(watch.running()) << "a manager running before the watch was made does not count";
    manager.destroyWindow(window);
    EXPECT_TRUE(QTest::qWaitFor([&] { return !watch.running(); }, 10000)) << "nor does its end";
}
