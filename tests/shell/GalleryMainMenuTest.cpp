#include "shell/GalleryMainMenu.h"

#include "model/RopeModelFixture.h"
#include "shell/GalleryWindow.h"

#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;
using Command = EditMenuResponder::Command;

namespace {

// Each item as "title key", a separator as "-".
QStringList items(const QMenu& menu) {
    QStringList list;
    for (const QAction* action : menu.actions())
        list.append(
            action->isSeparator()
                ? QStringLiteral("-")
                : (action->text().replace('\t', ' ') + " " + action->shortcut().toString()).trimmed());
    return list;
}

// The enabled edit items, in menu order.
QStringList enabledEditItems(GalleryMainMenu& menu) {
    menu.updateEditMenu();
    QStringList enabled;
    for (const QAction* action : menu.editMenu()->actions())
        if (action->isEnabled())
            enabled.append(action->text().section('\t', 0, 0));
    return enabled;
}

struct MenuCalls {
    QStringList log;
    GalleryMainMenu::Actions actions() {
        return {.showSettings = [this] { log.append("settings"); },
                .checkForUpdates = [this] { log.append("updates"); },
                .quit = [this] { log.append("quit"); }};
    }
};

} // namespace

TEST(GalleryMainMenu, HoldsTheApplicationAndEditMenusWithTheirKeys) {
    QWidget window;
    new QVBoxLayout(&window);
    MenuCalls calls;
    GalleryMainMenu menu(window, nullptr, calls.actions());

    QStringList titles;
    for (const QAction* action : menu.menuBar()->actions())
        titles.append(action->text());
    EXPECT_EQ(titles, (QStringList{"Vennimo", "编辑"}));
    EXPECT_EQ(items(*menu.applicationMenu()),
              (QStringList{"设置… Ctrl+,", "检查更新…", "-", "退出Vennimo Ctrl+Q"}));
    EXPECT_EQ(items(*menu.editMenu()), (QStringList{"撤销 Ctrl+Z", "重做 Ctrl+Shift+Z", "剪切 Ctrl+X",
                                                    "复制 Ctrl+C", "粘贴 Ctrl+V", "全选 Ctrl+A"}));
    for (QAction* action : menu.applicationMenu()->actions())
        action->trigger();
    EXPECT_EQ(calls.log, (QStringList{"settings", "updates", "quit"}));

    // The settings and quit keys belong to every window that was given them; the edit keys stay
    // with the windows' own key handling.
    QWidget settings;
    menu.addWindowKeys(&settings);
    for (const QWidget* holder : {&window, &settings}) {
        QStringList keys;
        for (const QAction* action : holder->actions())
            keys.append(action->shortcut().toString());
        EXPECT_EQ(keys, (QStringList{"Ctrl+,", "Ctrl+Q"}));
    }
    for (const QAction* action : menu.editMenu()->actions())
        EXPECT_TRUE(action->shortcut().isEmpty()) << action->text().toStdString();

    menu.setGridStyle(true);
    EXPECT_TRUE(menu.menuBar()->isVisibleTo(&window));
    menu.setGridStyle(false);
    EXPECT_FALSE(menu.menuBar()->isVisibleTo(&window)) << "the rope strip has no menu bar";
}

TEST(GalleryMainMenu, EditItemsActWhereTheKeyboardIs) {
    RopeModel rope(2);
    ASSERT_TRUE(rope->setHanging({rope.photos[1]}, false, RopeHistoryRecording::record));
    GalleryWindow window;
    window.setGalleryModel(rope.model.get());
    window.setClotheslineStyle(false);
    auto* content = new QWidget;
    auto* column = new QVBoxLayout(content);
    auto* field = new QLineEdit;
    auto* grid = new QWidget;
    grid->setFocusPolicy(Qt::StrongFocus);
    column->addWidget(field);
    column->addWidget(grid);
    window.setContentWidget(content);
    GalleryMainMenu menu(window, rope.model.get(), {});
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    // The search field: its own history and selection.
    field->setFocus();
    EXPECT_EQ(enabledEditItems(menu), QStringList{}) << "an empty field offers nothing";
    QTest::keyClicks(field, "harbour");
    EXPECT_EQ(enabledEditItems(menu), (QStringList{"撤销", "全选"}));
    EditMenuResponder::perform(Command::selectAll);
    EXPECT_EQ(field->selectedText(), "harbour");
    EXPECT_EQ(enabledEditItems(menu), (QStringList{"撤销", "剪切", "复制", "全选"}));
    EditMenuResponder::perform(Command::cut);
    EXPECT_EQ(field->text(), "");
    EXPECT_EQ(enabledEditItems(menu), (QStringList{"撤销", "粘贴"}));
    menu.editAction(Command::undo)->trigger();
    EXPECT_EQ(field->text(), "harbour");
    EXPECT_TRUE(rope->canUndoRopeAction()) << "the rope history is left alone";
    field->setReadOnly(true);
    EditMenuResponder::perform(Command::selectAll);
    EXPECT_EQ(enabledEditItems(menu), (QStringList{"复制", "全选"})) << "a read-only field";
    field->setReadOnly(false);

    // The grid: the rope history under its own title, and the photos' copy and select-all.
    grid->setFocus();
    menu.updateEditMenu();
    EXPECT_EQ(menu.editAction(Command::undo)->text(), rope->ropeUndoTitle() + "\tCtrl+Z");
    EXPECT_EQ(enabledEditItems(menu), (QStringList{rope->ropeUndoTitle(), "全选"})) << "nothing selected";
    rope->toggleAllSelection(rope.photos);
    EXPECT_EQ(enabledEditItems(menu), (QStringList{rope->ropeUndoTitle(), "复制", "全选"}));
    menu.editAction(Command::undo)->trigger();
    EXPECT_FALSE(rope->canUndoRopeAction());
    menu.updateEditMenu();
    EXPECT_TRUE(menu.editAction(Command::redo)->isEnabled());
    EXPECT_EQ(menu.editAction(Command::redo)->text(), rope->ropeRedoTitle() + "\tCtrl+Shift+Z");
    menu.editAction(Command::redo)->trigger();
    EXPECT_TRUE(rope->canUndoRopeAction()) << "redone";

    // A menu bar the keyboard went to (Alt, or Escape out of a menu) holds the focus for the
    // window's own widgets: 复制 still copies the window's photos.
    QStringList heard;
    window.setGalleryKeyboardHandler([&](QKeyEvent* event) {
        heard.append(QKeySequence(event->keyCombination()).toString());
        return true;
    });
    menu.setGridStyle(true);
    menu.menuBar()->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), menu.menuBar());
    EditMenuResponder::perform(Command::copy);
    EXPECT_EQ(heard, QStringList{"Ctrl+C"}) << "the window's photos were copied";
    window.setGalleryKeyboardHandler({});
    grid->setFocus();

    // Another window of the application: nothing to act on.
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_EQ(enabledEditItems(menu), QStringList{});
    QGuiApplication::clipboard()->clear();
}
