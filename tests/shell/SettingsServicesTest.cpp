#include "shell/ShellSettingsServices.h"

#include "platform/GlobalHotKey.h"
#include "platform/UserDefaults.h"
#include "settings/GallerySettingsEditor.h"
#include "shell/GalleryShortcutController.h"
#include "shell/LoginSetting.h"
#include "shell/SourceStore.h"
#include "support/ReadOnlyFolder.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <gtest/gtest.h>

namespace vennimo {
namespace {

// A hot-key layer that takes every key and remembers which ones it holds.
class HeldKeys : public GlobalHotKey {
public:
    QHash<int, GalleryShortcut> held;
    bool installHandler() override { return m_installed = true; }
    void removeHandler() override { m_installed = false; }
    bool handlerInstalled() const override { return m_installed; }
    Result<int> registerKey(const GalleryShortcut& shortcut) override {
        held.insert(++m_next, shortcut);
        return m_next;
    }
    void unregisterKey(int id) override { held.remove(id); }

private:
    bool m_installed = false;
    int m_next = 0;
};

// The application's real services over the temporary home.
struct RealServices {
    UserDefaults defaults{UserDefaults::standardFilePath()};
    SourceStore store{test::storageFolder(), QDir::homePath()};
    LoginSetting login{QStringLiteral("/opt/vennimo/bin/vennimo-gallery")};
    HeldKeys* keys = new HeldKeys;
    GalleryShortcutController controller{defaults, std::unique_ptr<GlobalHotKey>(keys)};
    ShellSettingsServices services{store, login, &controller, nullptr};

    RealServices() {
        controller.start();
        login.refresh();
    }
    QString autostartFile() const {
        return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
               QStringLiteral("/autostart/vennimo-gallery.desktop");
    }
};

void edit(GallerySettingsEditor& editor, const std::function<void(GallerySettingsValues&)>& change) {
    GallerySettingsValues draft = editor.draft();
    change(draft);
    editor.setDraft(draft);
    editor.save();
}

TEST(SettingsServices, LaunchAtLoginWritesAndRemovesTheAutostartEntryAndFollowsOutsideChanges) {
    RealServices real;
    GallerySettingsEditor editor(real.services, real.defaults);
    EXPECT_FALSE(editor.draft().login);

    edit(editor, [](GallerySettingsValues& v) { v.login = true; });
    EXPECT_FALSE(editor.message());
    EXPECT_TRUE(QFile::exists(real.autostartFile()));
    EXPECT_TRUE(real.login.enabled());

    // Removed behind the application's back: switching off finds it off and succeeds; switching
    // on again writes it again.
    ASSERT_TRUE(QFile::remove(real.autostartFile()));
    edit(editor, [](GallerySettingsValues& v) { v.login = false; });
    EXPECT_FALSE(editor.message());
    edit(editor, [](GallerySettingsValues& v) { v.login = true; });
    EXPECT_TRUE(QFile::exists(real.autostartFile())) << "registered again";
    edit(editor, [](GallerySettingsValues& v) { v.login = false; });
    EXPECT_FALSE(QFile::exists(real.autostartFile()));

    // An autostart folder that refuses the entry is reported with the login setting's words.
    const QString folder = QFileInfo(real.autostartFile()).path();
    ASSERT_TRUE(QDir().mkpath(folder));
    test::ReadOnlyFolder locked(folder);
    if (!locked.locked())
        GTEST_SKIP() << "this file system lets every write through";
    edit(editor, [](GallerySettingsValues& v) { v.login = true; });
    ASSERT_TRUE(editor.message());
    EXPECT_TRUE(editor.message()->startsWith(QStringLiteral("未能应用：登录启动设置未完成：")))
        << qPrintable(*editor.message());
    EXPECT_FALSE(editor.saved().login);
    EXPECT_FALSE(QFile::exists(real.autostartFile()));
}

TEST(SettingsServices, AReadOnlyConfigurationFolderKeepsTheRegisteredKeyAndTheStoredSettings) {
    RealServices real;
    ASSERT_TRUE(real.defaults.setClotheslineStrictVertical(true));
    GallerySettingsEditor editor(real.services, real.defaults);
    ASSERT_TRUE(real.controller.registered());
    const QByteArray stored = test::readFile(real.defaults.filePath());

    test::ReadOnlyFolder locked(QFileInfo(real.defaults.filePath()).path());
    if (!locked.locked())
        GTEST_SKIP() << "this file system lets every write through";
    const GalleryShortcut next{40, GalleryShortcut::kControlMask | GalleryShortcut::kShiftMask};
    edit(editor, [&](GallerySettingsValues& v) {
        v.shortcut = next;
        v.alwaysOnTop = false;
    });
    ASSERT_TRUE(editor.message());
    const QStringList lines = editor.message()->split('\n');
    ASSERT_EQ(lines.size(), 2) << qPrintable(*editor.message());
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("未能应用：设置文件 ")));
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("设置文件 ")));
    EXPECT_EQ(real.controller.shortcut(), GalleryShortcut{}) << "the older key stays in force";
    EXPECT_EQ(real.keys->held.values(), QList<GalleryShortcut>{GalleryShortcut{}}) << "and alone";
    EXPECT_EQ(editor.saved().shortcut, GalleryShortcut{});
    EXPECT_TRUE(editor.saved().alwaysOnTop);
    EXPECT_EQ(test::readFile(real.defaults.filePath()), stored);

    locked.release();
    EXPECT_TRUE(editor.save());
    EXPECT_EQ(real.controller.shortcut(), next);
    EXPECT_EQ(UserDefaults(real.defaults.filePath()).galleryQuickOpenShortcut(), next);
    EXPECT_FALSE(real.defaults.galleryAlwaysOnTop());
}

} // namespace
} // namespace vennimo
