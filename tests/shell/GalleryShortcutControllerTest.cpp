#include "shell/GalleryShortcutController.h"

#include "platform/UserDefaults.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

using namespace vennimo;

namespace {

// Records what the controller asks of the platform; refuses the keys listed in `held`.
class FakeHotKey : public GlobalHotKey {
public:
    struct Log {
        bool canInstall = true;
        bool installed = false;
        QList<GalleryShortcut> held{};
        QHash<int, GalleryShortcut> registered{};
        int registrations = 0;
    };
    explicit FakeHotKey(Log& log)
        : m_log(log) {}
    bool installHandler() override { return m_log.installed = m_log.canInstall; }
    void removeHandler() override { m_log.installed = false; }
    bool handlerInstalled() const override { return m_log.installed; }
    Result<int> registerKey(const GalleryShortcut& shortcut) override {
        ++m_log.registrations;
        if (m_log.held.contains(shortcut))
            return Error::make(QLatin1String(kHotKeyErrorDomain), 3, QStringLiteral("held"));
        const int id = m_log.registrations;
        m_log.registered.insert(id, shortcut);
        return id;
    }
    void unregisterKey(int id) override { m_log.registered.remove(id); }

private:
    Log& m_log;
};

const GalleryShortcut kControlOptionP{};
const GalleryShortcut kControlCommandK{40, GalleryShortcut::kControlMask | GalleryShortcut::kCommandMask};

} // namespace

TEST(GalleryShortcutControllerTest, StoredCombinationIsUsedOnlyWhenValidAndKeptWhenNot) {
    UserDefaults& defaults = UserDefaults::standard();
    struct Case {
        const char* name;
        QByteArray stored;
        GalleryShortcut expected;
    };
    const QList<Case> cases{
        {"Option alone", R"({"keyCode":35,"modifiers":2048})", kControlOptionP},
        {"a function key", R"({"keyCode":122,"modifiers":4096})", kControlOptionP},
        {"an unknown modifier bit", R"({"keyCode":35,"modifiers":4097})", kControlOptionP},
        {"not JSON", "junk", kControlOptionP},
        {"a valid one", R"({"keyCode":40,"modifiers":4352})", kControlCommandK},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        defaults.setData(QLatin1String(UserDefaults::kGalleryQuickOpenShortcutKey), c.stored);
        FakeHotKey::Log log;
        GalleryShortcutController controller(defaults, std::make_unique<FakeHotKey>(log));
        controller.start();
        EXPECT_EQ(controller.shortcut(), c.expected);
        EXPECT_TRUE(controller.registered());
        EXPECT_EQ(log.registered.values(), QList<GalleryShortcut>{c.expected});
        EXPECT_EQ(defaults.dataValue(QLatin1String(UserDefaults::kGalleryQuickOpenShortcutKey)), c.stored);
    }
}

TEST(GalleryShortcutControllerTest, ApplyRefusesWithTheRightTextAndKeepsTheOlderKey) {
    UserDefaults& defaults = UserDefaults::standard();
    defaults.remove(QLatin1String(UserDefaults::kGalleryQuickOpenShortcutKey));
    FakeHotKey::Log log;
    log.held = {GalleryShortcut{0, GalleryShortcut::kControlMask}};
    GalleryShortcutController controller(defaults, std::make_unique<FakeHotKey>(log));
    controller.setSystemShortcuts([](const GalleryShortcut& s) { return s.keyCode == 1; });
    int changes = 0;
    QObject::connect(&controller, &GalleryShortcutController::changed, [&] { ++changes; });
    controller.start();
    ASSERT_TRUE(controller.registered());
    ASSERT_EQ(changes, 1);

    struct Case {
        const char* name;
        GalleryShortcut shortcut;
        bool accepted;
        std::optional<QString> error;
        int changes; // notifications it sends
        int registrations;
    };
    const QList<Case> cases{
        {"the current one again", kControlOptionP, true, std::nullopt, 0, 0},
        {"invalid",
         {35, GalleryShortcut::kShiftMask},
         false,
         QString::fromUtf8(GalleryShortcutController::kInvalidMessage),
         0,
         0},
        {"used by the desktop",
         {1, GalleryShortcut::kControlMask},
         false,
         QString::fromUtf8(GalleryShortcutController::kSystemConflictMessage),
         1,
         0},
        {"held by another program",
         {0, GalleryShortcut::kControlMask},
         false,
         QStringLiteral("无法注册 Ctrl+A，可能已被其他应用占用；请换一个组合。"),
         1,
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        changes = 0;
        const int before = log.registrations;
        EXPECT_EQ(controller.apply(c.shortcut, true), c.accepted);
        EXPECT_EQ(controller.error(), c.error);
        EXPECT_EQ(changes, c.changes);
        EXPECT_EQ(log.registrations - before, c.registrations);
        EXPECT_EQ(controller.shortcut(), kControlOptionP);
        EXPECT_EQ(log.registered.values(), QList<GalleryShortcut>{kControlOptionP});
        EXPECT_FALSE(defaults.contains(QLatin1String(UserDefaults::kGalleryQuickOpenShortcutKey)));
    }
    ASSERT_TRUE(controller.apply(kControlCommandK, true));
    EXPECT_EQ(log.registered.values(), QList<GalleryShortcut>{kControlCommandK});
    EXPECT_EQ(defaults.galleryQuickOpenShortcut(), kControlCommandK);
    controller.stop();
    EXPECT_TRUE(log.registered.isEmpty());
    EXPECT_FALSE(log.installed);
}

TEST(GalleryShortcutControllerTest, HeldKeyTogglesOnceAndNoHandlerMeansUnavailable) {
    FakeHotKey::Log log;
    auto owned = std::make_unique<FakeHotKey>(log);
    FakeHotKey* hotKey = owned.get();
    GalleryShortcutController controller(UserDefaults::standard(), std::move(owned));
    int toggles = 0;
    QObject::connect(&controller, &GalleryShortcutController::toggleRequested, [&] { ++toggles; });
    controller.start();
    const int id = log.registered.keys().value(0);
    for (int i = 0; i < 5; ++i)
        Q_EMIT hotKey->pressed(id); // the key repeats while held
    Q_EMIT hotKey->released(id);
    Q_EMIT hotKey->pressed(id + 100); // not ours
    Q_EMIT hotKey->pressed(id);
    EXPECT_EQ(toggles, 2);

    FakeHotKey::Log none;
    none.canInstall = false;
    GalleryShortcutController unavailable(UserDefaults::standard(), std::make_unique<FakeHotKey>(none));
    unavailable.start();
    EXPECT_FALSE(unavailable.registered());
    EXPECT_EQ(unavailable.error(), QString::fromUtf8(GalleryShortcutController::kUnavailableMessage));
    EXPECT_FALSE(unavailable.apply(kControlCommandK, true));
    EXPECT_EQ(unavailable.error(), QString::fromUtf8(GalleryShortcutController::kUnavailableMessage));
}
