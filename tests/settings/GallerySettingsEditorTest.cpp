#include "settings/GallerySettingsEditor.h"
#include "settings/FakeSettingsServices.h"

#include "platform/UserDefaults.h"
#include "support/ReadOnlyFolder.h"
#include "support/TestEnvironment.h"

#include <QFileInfo>
#include <QSignalSpy>
#include <gtest/gtest.h>

namespace vennimo {
namespace {

using test::FakeSettingsServices;

const SourceFolder kPictures{"P", std::nullopt, "/home/u/Pictures", QByteArray("b"), true};
const SourceFolder kScreens{"S", std::nullopt, "/home/u/Screens", QByteArray("c"), true};
const GalleryShortcut kControlShiftK{40, GalleryShortcut::kControlMask | GalleryShortcut::kShiftMask};

struct Editing {
    FakeSettingsServices services;
    std::unique_ptr<UserDefaults> defaults =
        std::make_unique<UserDefaults>(test::makeFolder("config") + "/VennimoGallery/defaults.json");
    std::unique_ptr<GallerySettingsEditor> editor;

    Editing() { services.storedFolders = {kPictures}; }
    GallerySettingsEditor& open() {
        editor = std::make_unique<GallerySettingsEditor>(services, *defaults);
        return *editor;
    }
    template <class Change>
    void edit(Change change) {
        GallerySettingsValues draft = editor->draft();
        change(draft);
        editor->setDraft(draft);
    }
};

TEST(GallerySettingsEditor, AppliesChangedPartsInOrderAndKeepsTheStoredFolderList) {
    Editing e;
    GallerySettingsEditor& editor = e.open();
    EXPECT_FALSE(editor.hasChanges());
    EXPECT_EQ(editor.draft().shortcut, GalleryShortcut{});
    EXPECT_TRUE(editor.draft().alwaysOnTop) << "the layer's own default";
    EXPECT_FALSE(editor.message());

    QSignalSpy layersSpy(e.defaults.get(), &UserDefaults::changed);
    e.edit([](GallerySettingsValues& v) {
        v.alwaysOnTop = false;
        v.style = {true, false};
        v.login = true;
        v.folders.append(kScreens);
        v.folders[1].bookmark.reset();
        v.shortcut = kControlShiftK;
        v.spaceOpener = SpaceKeyOpener::app("/usr/share/applications/viewer.desktop");
    });
    EXPECT_TRUE(editor.hasChanges());
    EXPECT_TRUE(editor.save());
    EXPECT_EQ(e.defaults->spaceKeyOpener(), "/usr/share/applications/viewer.desktop");
    EXPECT_EQ(e.services.log,
              QStringList({"shortcut Ctrl+Shift+K", "folders", "refreshLogin", "login on", "layers"}));
    EXPECT_EQ(layersSpy.count(), 4) << "offCenter, strictVertical, the level and the opener, once each";
    EXPECT_EQ(layersSpy.at(3).at(0), "spaceKeyOpener") << "the space key comes last";
    EXPECT_TRUE(e.defaults->clotheslineOffCenterPeg());
    EXPECT_FALSE(e.defaults->clotheslineStrictVertical());
    EXPECT_FALSE(e.defaults->galleryAlwaysOnTop());
    EXPECT_EQ(editor.draft().folders[1].bookmark, QByteArray("resolved"))
        << "the draft takes the stored list";
    EXPECT_EQ(editor.draft(), editor.saved());
    EXPECT_FALSE(editor.hasChanges());
    EXPECT_FALSE(editor.message());

    // Only what differs is applied; an unchanged style writes nothing.
    e.services.log.clear();
    e.edit([](GallerySettingsValues& v) { v.style = {true, true}; });
    EXPECT_TRUE(editor.save());
    EXPECT_EQ(e.services.log, QStringList()) << "no layer refresh without a level change";
    EXPECT_EQ(layersSpy.count(), 5);

    // The preview is stored as no value at all.
    e.edit([](GallerySettingsValues& v) { v.spaceOpener = SpaceKeyOpener::preview(); });
    EXPECT_TRUE(editor.save());
    EXPECT_FALSE(e.defaults->contains("spaceKeyOpener"));

    // A login flag that already holds outside is not set again.
    e.services.login = false;
    e.edit([](GallerySettingsValues& v) { v.login = false; });
    EXPECT_TRUE(editor.save());
    EXPECT_EQ(e.services.log, QStringList({"refreshLogin"}));

    // A save started while one runs is refused at once: here the autosave of the folder step's
    // own change of the draft.
    e.services.log.clear();
    QList<bool> results;
    QObject::connect(&editor, &GallerySettingsEditor::draftChanged, [&] { results.append(editor.save()); });
    e.edit([](GallerySettingsValues& v) { v.folders[0].bookmark.reset(); });
    EXPECT_EQ(results, QList<bool>({false, true})) << "the nested one ends first";
    EXPECT_FALSE(editor.saving());
    EXPECT_EQ(e.services.log, QStringList({"folders"}));
}

TEST(GallerySettingsEditor, NamesWhatFailedAfterItsPrefixAndKeepsItPending) {
    Editing e;
    GallerySettingsEditor& editor = e.open();

    // Only an invalid shortcut: nothing applied, the controller is not asked.
    e.edit([](GallerySettingsValues& v) { v.shortcut = GalleryShortcut{35, GalleryShortcut::kOptionMask}; });
    EXPECT_FALSE(editor.save());
    EXPECT_EQ(editor.message(), QStringLiteral("未能应用：快捷键需包含 Ctrl 或 Super。"));
    EXPECT_TRUE(e.services.log.isEmpty());
    EXPECT_EQ(editor.saved().shortcut, GalleryShortcut{});
    EXPECT_TRUE(editor.hasChanges());

    // The invalid draft is named again by the next save, beside a part that applies.
    e.edit([](GallerySettingsValues& v) { v.alwaysOnTop = false; });
    EXPECT_FALSE(editor.save());
    EXPECT_EQ(editor.message(), QStringLiteral("部分设置已保存，其余未能应用：快捷键需包含 Ctrl 或 Super。"));
    EXPECT_FALSE(editor.saved().alwaysOnTop);

    // Rejected by the controller, with its reason, and without one.
    e.services.shortcutWorks = false;
    e.services.shortcutProblem =
        QStringLiteral("无法注册 Ctrl+Shift+K，可能已被其他应用占用；请换一个组合。");
    e.edit([](GallerySettingsValues& v) {
        v.shortcut = kControlShiftK;
        v.style.offCenter = true;
    });
    EXPECT_FALSE(editor.save());
    EXPECT_EQ(
        editor.message(),
        QStringLiteral(
            "部分设置已保存，其余未能应用：无法注册 Ctrl+Shift+K，可能已被其他应用占用；请换一个组合。"));
    e.services.shortcutProblem.reset();

    // Three failures, one line each: shortcut, folders, login.
    e.services.foldersFailure = Error::fromErrno(EACCES, "/x/sources.json");
    e.services.loginWorks = false;
    e.edit([](GallerySettingsValues& v) {
        v.folders.clear();
        v.login = true;
    });
    EXPECT_FALSE(editor.save());
    EXPECT_EQ(editor.message(), QStringLiteral("未能应用：快捷键暂时不可用。\n") +
                                    e.services.foldersFailure->localizedDescription() +
                                    QStringLiteral("\n登录启动设置未完成。"));
    e.services.loginProblem = QStringLiteral("登录启动设置未完成：无法写入");
    EXPECT_FALSE(editor.save());
    EXPECT_TRUE(editor.message()->endsWith(QStringLiteral("\n登录启动设置未完成：无法写入")));
    EXPECT_EQ(editor.saved().folders, QList<SourceFolder>{kPictures}) << "failed parts stay unsaved";

    // Discarding returns to what was applied and clears the message.
    editor.discard();
    EXPECT_EQ(editor.draft(), editor.saved());
    EXPECT_FALSE(editor.message());
    EXPECT_FALSE(editor.hasChanges());
}

TEST(GallerySettingsEditor, RepairsAnUnreadableFolderListAndRegistersAMissingKeyAtTheFirstSave) {
    Editing e;
    e.services.storedSourceMessage = QStringLiteral("源文件夹设置无法读取，请重新选择：坏了");
    e.services.storedFolders.clear();
    e.services.registered = false;
    e.services.shortcutProblem = QStringLiteral("快捷键暂时不可用，请使用菜单栏图标。");
    GallerySettingsEditor& editor = e.open();
    EXPECT_TRUE(editor.needsSourceRepair());
    EXPECT_TRUE(editor.shortcutNeedsRegistration());
    EXPECT_TRUE(editor.hasChanges()) << "the list must be written although the draft equals it";
    EXPECT_EQ(editor.message(), e.services.storedSourceMessage) << "the store's problem comes first";

    // Only the login switch changes; the key and the list are applied as well.
    e.services.shortcutProblem.reset();
    e.edit([](GallerySettingsValues& v) { v.login = true; });
    EXPECT_TRUE(editor.save());
    EXPECT_EQ(e.services.log, QStringList({"shortcut Ctrl+Alt+P", "folders", "refreshLogin", "login on"}));
    EXPECT_FALSE(editor.needsSourceRepair());
    EXPECT_FALSE(editor.shortcutNeedsRegistration());
    EXPECT_FALSE(editor.hasChanges());
    e.services.log.clear();
    e.edit([](GallerySettingsValues& v) { v.login = false; });
    EXPECT_TRUE(editor.save());
    EXPECT_EQ(e.services.log, QStringList({"refreshLogin", "login off"})) << "nothing is forced twice";

    // Without a controller there is no key to edit and none to apply.
    Editing bare;
    bare.services.controller = false;
    bare.services.shortcutProblem = QStringLiteral("not asked");
    GallerySettingsEditor& plain = bare.open();
    EXPECT_FALSE(plain.draft().shortcut);
    EXPECT_FALSE(plain.shortcutNeedsRegistration());
    EXPECT_FALSE(plain.message());
    bare.edit([](GallerySettingsValues& v) { v.alwaysOnTop = false; });
    EXPECT_TRUE(plain.save());
    EXPECT_EQ(bare.services.log, QStringList({"layers"}));
}

TEST(GallerySettingsEditor, AReadOnlyConfigurationFolderIsAFailureThatAppliesNothing) {
    Editing e;
    GallerySettingsEditor& editor = e.open();
    ASSERT_TRUE(e.defaults->setClotheslineStrictVertical(true));
    test::ReadOnlyFolder folder(QFileInfo(e.defaults->filePath()).path());
    if (!folder.locked())
        GTEST_SKIP() << "this file system lets every write through";
    QSignalSpy spy(e.defaults.get(), &UserDefaults::changed);

    e.edit([](GallerySettingsValues& v) {
        v.alwaysOnTop = false;
        v.style = {true, false};
        v.spaceOpener = SpaceKeyOpener::defaultApp();
    });
    EXPECT_FALSE(editor.save());
    ASSERT_TRUE(editor.message());
    EXPECT_EQ(editor.message()->count('\n'), 1) << "the look and the space key, one line each";
    EXPECT_FALSE(e.defaults->spaceKeyOpener());
    EXPECT_EQ(editor.saved().spaceOpener, SpaceKeyOpener::preview());
    EXPECT_TRUE(editor.message()->startsWith(QStringLiteral("未能应用：设置文件 ")))
        << qPrintable(*editor.message());
    EXPECT_TRUE(editor.message()->endsWith(QStringLiteral("无法写入，这次更改没有保存。")))
        << qPrintable(*editor.message());
    EXPECT_EQ(spy.count(), 0);
    EXPECT_TRUE(e.defaults->galleryAlwaysOnTop());
    EXPECT_EQ(HangingStyle::fromDefaults(*e.defaults), HangingStyle{});
    EXPECT_TRUE(editor.saved().alwaysOnTop);
    EXPECT_FALSE(e.services.log.contains("layers"));
    EXPECT_TRUE(editor.hasChanges()) << "still pending";

    folder.release();
    EXPECT_TRUE(editor.save()) << "the next save applies it";
    EXPECT_FALSE(e.defaults->galleryAlwaysOnTop());
    EXPECT_EQ(e.defaults->spaceKeyOpener(), "default");
    EXPECT_EQ(e.services.log, QStringList({"layers"}));
}

} // namespace
} // namespace vennimo
