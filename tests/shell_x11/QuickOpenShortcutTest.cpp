#include "shell/GalleryShortcutController.h"

#include "platform/UserDefaults.h"
#include "support/WaitUntil.h"

#include <QGuiApplication>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>

using namespace vennimo;

namespace {

bool onX11() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

void xdotool(const QStringList& args) {
    QProcess process;
    process.start(QStringLiteral("xdotool"), args);
    ASSERT_TRUE(process.waitForFinished(10000)) << args.join(u' ').toStdString();
    ASSERT_EQ(process.exitCode(), 0) << args.join(u' ').toStdString();
}

// Lets the events the keys produced reach the controller, and nothing more.
void settle() {
    test::waitUntil([] { return false; }, std::chrono::milliseconds(300));
}

// Another X client that takes a key combination on the root window.
struct OtherClient {
    xcb_connection_t* c = xcb_connect(nullptr, nullptr);
    xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    ~OtherClient() { xcb_disconnect(c); }

    xcb_keycode_t keyCode(xcb_keysym_t keysym) const {
        xcb_key_symbols_t* symbols = xcb_key_symbols_alloc(c);
        xcb_keycode_t* codes = xcb_key_symbols_get_keycode(symbols, keysym);
        const xcb_keycode_t code = codes ? codes[0] : 0;
        std::free(codes);
        xcb_key_symbols_free(symbols);
        return code;
    }
    // True when the grab was granted.
    bool grab(xcb_keysym_t keysym, std::uint16_t modifiers) {
        xcb_generic_error_t* error =
            xcb_request_check(c, xcb_grab_key_checked(c, 1, root, modifiers, keyCode(keysym),
                                                      XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
        std::free(error);
        return error == nullptr;
    }
};

constexpr std::uint16_t kControlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
constexpr std::uint16_t kNumLock = XCB_MOD_MASK_2; // where Xvfb's keymap puts it

} // namespace

TEST(QuickOpenShortcutTest, ControlAltPFiresOncePerPressWithAnyLockState) {
    if (!onX11())
        GTEST_SKIP() << "needs an X server";
    GalleryShortcutController controller(UserDefaults::standard());
    int toggles = 0;
    QObject::connect(&controller, &GalleryShortcutController::toggleRequested, [&] { ++toggles; });
    controller.start();
    ASSERT_TRUE(controller.registered()) << controller.error().value_or(QString()).toStdString();
    EXPECT_EQ(controller.shortcut(), GalleryShortcut{});

    struct Case {
        const char* name;
        QStringList locks; // toggled on before the presses and off again after them
    };
    const QList<Case> cases{
        {"no lock", {}},
        {"Num Lock", {QStringLiteral("Num_Lock")}},
        {"Caps Lock", {QStringLiteral("Caps_Lock")}},
        {"both", {QStringLiteral("Num_Lock"), QStringLiteral("Caps_Lock")}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        for (const QString& lock : c.locks)
            xdotool({QStringLiteral("key"), lock});
        toggles = 0;
        for (int i = 0; i < 3; ++i)
            xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+p")});
        EXPECT_TRUE(test::waitUntil([&] { return toggles >= 3; }));
        // Other keys and other modifiers do not count.
        xdotool({QStringLiteral("key"), QStringLiteral("ctrl+p"), QStringLiteral("ctrl+alt+o"),
                 QStringLiteral("ctrl+alt+shift+p")});
        settle();
        EXPECT_EQ(toggles, 3);
        for (const QString& lock : c.locks)
            xdotool({QStringLiteral("key"), lock});
    }

    // Held down past the key-repeat delay it still toggles once.
    toggles = 0;
    xdotool({QStringLiteral("keydown"), QStringLiteral("ctrl+alt+p")});
    QThread::msleep(1200);
    xdotool({QStringLiteral("keyup"), QStringLiteral("p"), QStringLiteral("alt"), QStringLiteral("ctrl")});
    EXPECT_TRUE(test::waitUntil([&] { return toggles >= 1; }));
    settle();
    EXPECT_EQ(toggles, 1);

    controller.stop();
    EXPECT_FALSE(controller.registered());
    OtherClient other;
    EXPECT_TRUE(other.grab('p', kControlAlt)) << "stop() left the key grabbed";
}

TEST(QuickOpenShortcutTest, KeyHeldByAnotherClientIsReportedAndTheOlderKeyKeepsWorking) {
    if (!onX11())
        GTEST_SKIP() << "needs an X server";
    OtherClient other;
    // The other client holds only the Num Lock variant: every partial grab must be undone.
    ASSERT_TRUE(other.grab('p', kControlAlt | kNumLock));

    GalleryShortcutController controller(UserDefaults::standard());
    int changes = 0;
    QObject::connect(&controller, &GalleryShortcutController::changed, [&] { ++changes; });
    controller.start();
    EXPECT_FALSE(controller.registered());
    EXPECT_EQ(controller.error(),
              QStringLiteral("无法注册 Ctrl+Alt+P，可能已被其他应用占用；请换一个组合。"));
    EXPECT_EQ(changes, 1);
    OtherClient third;
    EXPECT_TRUE(third.grab('p', kControlAlt)) << "a partial grab was left behind";
    third.grab('p', kControlAlt); // released with `third` at the end

    const GalleryShortcut controlAltO{31, GalleryShortcut::kControlMask | GalleryShortcut::kOptionMask};
    ASSERT_TRUE(controller.apply(controlAltO, true));
    EXPECT_EQ(UserDefaults::standard().galleryQuickOpenShortcut(), controlAltO);
    EXPECT_FALSE(controller.apply(GalleryShortcut{}, true));
    EXPECT_EQ(controller.shortcut(), controlAltO);
    EXPECT_TRUE(controller.registered());
    EXPECT_EQ(UserDefaults::standard().galleryQuickOpenShortcut(), controlAltO);

    int toggles = 0;
    QObject::connect(&controller, &GalleryShortcutController::toggleRequested, [&] { ++toggles; });
    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+alt+o")});
    EXPECT_TRUE(test::waitUntil([&] { return toggles == 1; }));
}
