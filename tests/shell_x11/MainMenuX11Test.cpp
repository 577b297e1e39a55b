#include "canvas_x11/ApplicationRope.h"
#include "model/GalleryModel.h"
#include "platform/SessionWatcher.h"
#include "shell/GalleryApplication.h"
#include "shell/GalleryMainMenu.h"
#include "shell/GalleryWindow.h"
#include "shell/SettingsWindow.h"
#include "support/WaitUntil.h"

#include <QApplication>
#include <QDBusConnection>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QTest>
#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;
using namespace std::chrono_literals;

namespace {

QStringList enabledItems(const QMenu& menu) {
    QStringList enabled;
    for (const QAction* action : menu.actions())
        if (!action->isSeparator() && action->isEnabled())
            enabled.append(action->text().section('\t', 0, 0));
    return enabled;
}

QPoint centreOf(const QWidget& widget, const QRect& local) {
    return widget.mapToGlobal(local.center());
}

bool clickAt(QPoint point) {
    return xdotool({"mousemove", QString::number(point.x()), QString::number(point.y())}, 100) &&
           xdotool({"click", "1"}, 300);
}

} // namespace

TEST(MainMenuX11, TheGridWindowCarriesTheMenuAndEveryWindowTakesTheSettingsAndQuitKeys) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    QStringList exits;
    GalleryApplicationParts parts = GalleryApplicationParts::standard();
    parts.unixSignals = nullptr;
    parts.sessionWatcher = [] {
        return std::make_unique<SessionWatcher>(QDBusConnection(QStringLiteral("vennimo-test-no-bus")));
    };
    parts.exit = [&exits](int status) { exits.append(QString::number(status)); };
    // The icon the build puts beside the program.
    parts.applicationIcon =
        QFileInfo(QStringLiteral(VENNIMO_APP_PATH)).absolutePath() + "/vennimo-gallery.png";
    GalleryApplication app(std::move(parts));
    ASSERT_FALSE(app.launch().has_value());
    GalleryWindow& window = *app.window();
    GalleryMainMenu& menu = *app.mainMenu();
    const auto settingsShown = [&app] {
        return app.settingsWindow() != nullptr && app.settingsWindow()->isVisible() &&
               app.settingsWindow()->isActiveWindow();
    };
    const auto closeSettings = [&app] {
        app.settingsWindow()->close();
        return waitUntil([&app] { return !app.settingsWindow()->isVisible(); }, 30s);
    };

    // The rope strip shows no menu, yet Ctrl+, opens the settings from it.
    app.show();
    ASSERT_TRUE(waitUntil([&] { return window.isActiveWindow(); }, 30s)) << "the rope takes the keyboard";
    EXPECT_FALSE(menu.menuBar()->isVisible());
    ASSERT_TRUE(xdotool({"key", "ctrl+comma"}, 200));
    ASSERT_TRUE(waitUntil(settingsShown, 30s))
        << "Ctrl+, in the rope: settings " << (app.settingsWindow() ? "made" : "not made") << ", "
        << (app.settingsWindow() && app.settingsWindow()->isVisible() ? "shown" : "not shown") << ", rope "
        << (window.isActiveWindow() ? "active" : "not active");
    ASSERT_TRUE(closeSettings());

    // The grid window carries the menu bar.
    ASSERT_TRUE(waitUntil([&] {
        app.model()->requestGalleryMode(false);
        return !app.model()->clotheslineMode();
    }));
    // (An explicit open of an empty gallery would bring the rope back.)
    window.activateWindow();
    ASSERT_TRUE(waitUntil(
        [&] {
            return window.clotheslineStyle() == false && window.isActiveWindow() &&
                   menu.menuBar()->isVisible();
        },
        30s));
    QTest::qWait(500);
    QStringList titles;
    for (const QAction* action : menu.menuBar()->actions())
        titles.append(action->text());
    EXPECT_EQ(titles, (QStringList{"Vennimo", "编辑"}));

    // Typed into the search field, the edit menu offers undo and select-all; the menu's
    // select-all selects the field's text, after which cut and copy are offered too.
    const QList<QLineEdit*> fields = window.findChildren<QLineEdit*>();
    ASSERT_EQ(fields.size(), 1) << "the search field";
    QLineEdit& field = *fields.first();
    ASSERT_TRUE(clickAt(centreOf(field, field.rect())));
    ASSERT_TRUE(xdotool({"type", "--delay", "40", "harbour"}, 300));
    waitUntil([&] { return field.text() == "harbour"; }, 30s);
    ASSERT_EQ(field.text(), "harbour");
    QAction* editTitle = menu.editMenu()->menuAction();
    ASSERT_TRUE(clickAt(centreOf(*menu.menuBar(), menu.menuBar()->actionGeometry(editTitle))));
    ASSERT_TRUE(waitUntil([&] { return menu.editMenu()->isVisible(); }, 30s));
    QTest::qWait(300);
    grabScreenArea(window.frameGeometry().adjusted(-10, -10, 10, 10))
        .save(applicationShots() + "/70-edit-menu.png");
    EXPECT_EQ(enabledItems(*menu.editMenu()), (QStringList{"撤销", "全选"}));
    QAction* selectAll = menu.editAction(EditMenuResponder::Command::selectAll);
    ASSERT_TRUE(clickAt(centreOf(*menu.editMenu(), menu.editMenu()->actionGeometry(selectAll))));
    EXPECT_TRUE(waitUntil([&] { return field.selectedText() == "harbour"; }, 30s));
    ASSERT_TRUE(clickAt(centreOf(*menu.menuBar(), menu.menuBar()->actionGeometry(editTitle))));
    ASSERT_TRUE(waitUntil([&] { return menu.editMenu()->isVisible(); }, 30s));
    EXPECT_EQ(enabledItems(*menu.editMenu()), (QStringList{"撤销", "剪切", "复制", "全选"}));
    // The first Escape leaves the menu bar in keyboard mode, the second gives the field its keys.
    ASSERT_TRUE(xdotool({"key", "Escape"}, 300));
    ASSERT_TRUE(xdotool({"key", "Escape"}, 300));
    waitUntil([&] { return field.hasFocus(); }, 30s);
    EXPECT_TRUE(field.hasFocus());
    // The field's own key takes the typing back.
    ASSERT_TRUE(xdotool({"key", "ctrl+z"}, 300));
    EXPECT_TRUE(waitUntil([&] { return field.text().isEmpty(); }, 30s)) << field.text().toStdString();

    // The application menu opens the settings from the grid, and Ctrl+Q in the settings window
    // quits.
    ASSERT_TRUE(clickAt(
        centreOf(*menu.menuBar(), menu.menuBar()->actionGeometry(menu.applicationMenu()->menuAction()))));
    ASSERT_TRUE(waitUntil([&] { return menu.applicationMenu()->isVisible(); }, 30s));
    grabScreenArea(window.frameGeometry().adjusted(-10, -10, 10, 10))
        .save(applicationShots() + "/71-application-menu.png");
    ASSERT_TRUE(clickAt(centreOf(*menu.applicationMenu(), menu.applicationMenu()->actionGeometry(
                                                              menu.applicationMenu()->actions().first()))));
    ASSERT_TRUE(waitUntil(settingsShown, 30s)) << "设置… in the menu";
    for (const QWidget* shown : {static_cast<QWidget*>(&window), static_cast<QWidget*>(app.settingsWindow())})
        EXPECT_TRUE(runProgram("xprop", {"-id", QString::number(shown->winId()), "_NET_WM_ICON"})
                        .startsWith("_NET_WM_ICON(CARDINAL)"))
            << "the application icon on " << shown->windowTitle().toStdString();
    ASSERT_TRUE(xdotool({"key", "ctrl+q"}, 300));
    EXPECT_TRUE(waitUntil([&] { return !exits.isEmpty(); }, 30s)) << "Ctrl+Q in the settings window";
    EXPECT_EQ(exits, QStringList{"0"});
}
