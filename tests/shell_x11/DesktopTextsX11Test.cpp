#include "canvas_x11/ApplicationRope.h"
#include "canvas_x11/ApplicationSession.h"
#include "platform/GalleryShortcut.h"
#include "shell/GalleryStatusItem.h"
#include "shell/QuickOpenStatus.h"
#include "support/TestEnvironment.h"
#include "support/WaitUntil.h"
#include "widgets/ClotheslineToolbarButtonStyle.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

#include <utility>

using namespace vennimo;
using namespace vennimo::test;

namespace {

using namespace std::chrono_literals;

// The general pane's "添加文件夹…" button, in the settings window.
constexpr QPoint kAddFolderButton{540, 221};

QString shots() {
    return screenshotFolder("desktop-texts");
}

// The application's window that is neither its rope nor its tray icon: the open tray menu.
std::optional<QRect> openMenu(qint64 pid) {
    const QList<QRect> windows = applicationWindows(pid);
    const std::optional<QRect> rope = applicationWindow(pid);
    for (const QRect& window : windows)
        if (window != rope && window.height() > 100)
            return window;
    return std::nullopt;
}

std::optional<QRect> openTrayMenu(qint64 pid) {
    const std::optional<QRect> icon = trayIcon();
    if (!icon)
        return std::nullopt;
    xdotool({"mousemove", QString::number(icon->center().x()), QString::number(icon->center().y())}, 100);
    xdotool({"click", "3"}, 100);
    std::optional<QRect> menu;
    waitUntil([&] { return (menu = openMenu(pid)).has_value(); }, 30s);
    QTest::qWait(300);
    return menu;
}

// The columns of the toolbar's title band where black text is inked, grouped into runs that lie
// closer than a glyph's gap; the widest run is the title "晾衣绳".
std::pair<int, int> widestInkRun(const QImage& band) {
    std::pair<int, int> best{0, -1};
    int start = -1;
    int last = -10;
    for (int x = 0; x < band.width(); ++x) {
        bool ink = false;
        for (int y = 0; y < band.height() && !ink; ++y)
            ink = qGray(band.pixel(x, y)) < 70;
        if (!ink)
            continue;
        if (x - last > 4)
            start = x;
        last = x;
        if (last - start > best.second - best.first)
            best = {start, last};
    }
    return best;
}

} // namespace

// What a Linux user reads in the real application: the tray menu names the quick-open key the
// Linux way, the toolbar's title shows whole, the settings panes and Qt's own file dialog speak
// Chinese, and a quit from the tray menu ends the process once its state is saved.
TEST(DesktopTextsX11, TrayMenuToolbarTitleAndDialogsAndTheMenusQuit) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const QString desktop = makeWatchedFolders();
    // Floating settings would hide the folder dialog, which does not float with it yet.
    writeFile(defaultsFile(), R"({"GalleryAlwaysOnTop": false})");
    Backdrop backdrop(Backdrop::Tone::Dark);
    ASSERT_TRUE(backdrop.cover());
    QProcess app;
    ASSERT_TRUE(startApplication(app));
    const auto stop = stopAtEnd(app);
    // Ten prints: a count of two digits leaves the title the least room.
    ASSERT_TRUE(hangDesktopPhotos(desktop, "text", 10, 40));
    ASSERT_TRUE(waitUntil([] { return trayIcon().has_value(); }, 30s)) << "needs a tray host";

    // The tray menu is as wide as the same menu with the key named "Ctrl+Alt+P".
    std::optional<QRect> menu = openTrayMenu(app.processId());
    ASSERT_TRUE(menu);
    grabScreenArea(menu->adjusted(-4, -4, 4, 4)).save(shots() + "/1-tray-menu.png");
    GalleryStatusItem reference;
    reference.apply(quickOpenStatus(
        {.open = true, .shortcutLabel = GalleryShortcut{}.label(), .shortcutRegistered = true}));
    EXPECT_NEAR(menu->width(), reference.menu().sizeHint().width(), 2)
        << "the toggle reads " << reference.toggleAction()->text().toStdString();
    xdotool({"key", "Escape"}, 300);

    // Selected, the toolbar shows: the title's ink is as wide as the font draws it.
    std::optional<QRect> window = applicationWindow(app.processId());
    ASSERT_TRUE(window);
    xdotool({"mousemove", QString::number(printPoint(*window, placementXs()[0]).x()),
             QString::number(printPoint(*window, placementXs()[0]).y())},
            200);
    xdotool({"click", "1"}, 200);
    std::optional<std::pair<int, int>> capsule;
    ASSERT_TRUE(waitUntil(
        [&] {
            window = applicationWindow(app.processId());
            return window && (capsule = capsuleEnds(*window)).has_value();
        },
        30s))
        << "the toolbar shows";
    QTest::qWait(500);
    const QRect band(capsule->first, window->top() + kCanvasTop, 200, 44);
    const QImage title = grabScreenArea(band);
    title.scaled(title.size() * 4).save(shots() + "/2-toolbar-title.png");
    const auto [from, to] = widestInkRun(title);
    const QRectF glyphs = QFontMetricsF(ClotheslineToolbarButtonStyle::font(17, QFont::DemiBold))
                              .tightBoundingRect(QString::fromUtf8("晾衣绳"));
    EXPECT_NEAR(to - from + 1, glyphs.width(), 2) << "inked from " << from << " to " << to;
    xdotool({"key", "Escape"}, 300);

    // The settings window's shortcut pane, then Qt's own folder dialog from the general pane.
    menu = openTrayMenu(app.processId());
    ASSERT_TRUE(menu);
    for (int i = 0; i < 3; ++i)
        xdotool({"key", "Down"}, 50);
    xdotool({"key", "Return"}, 300);
    QString settings;
    ASSERT_TRUE(waitUntil(
        [&] {
            settings = windowNamed("^设置$");
            return !settings.isEmpty();
        },
        30s));
    QTest::qWait(800);
    QRect area = clientAreaOf(settings);
    // The tabs sit centred in the toolbar: 通用, 晾衣绳, 快捷键, 帮助.
    const auto clickAt = [&](QPoint point) {
        xdotool({"mousemove", QString::number(area.x() + point.x()), QString::number(area.y() + point.y())},
                150);
        xdotool({"click", "1"}, 600);
        // A tab gives the window its pane's height: it is measured again once it holds still.
        QRect last;
        waitUntil(
            [&] {
                QTest::qWait(200);
                const QRect now = clientAreaOf(settings);
                return std::exchange(last, now) == now;
            },
            30s);
    };
    clickAt({203 + 65 * 2, 26});
    area = clientAreaOf(settings);
    grabScreenArea(area).save(shots() + "/3-shortcut-pane.png");
    clickAt({203, 26});
    area = clientAreaOf(settings);
    grabScreenArea(area).save(shots() + "/4-general-pane.png");
    clickAt({kAddFolderButton.x(), kAddFolderButton.y()});
    QString dialog;
    EXPECT_TRUE(waitUntil(
        [&] {
            dialog = windowNamed("^添加图片源文件夹$");
            return !dialog.isEmpty() && dialog != settings;
        },
        30s))
        << "the folder dialog opens";
    if (!dialog.isEmpty()) {
        // Raised by hand: the panel may open behind the settings window.
        xdotool({"windowraise", dialog}, 100);
        xdotool({"windowactivate", "--sync", dialog}, 600);
        grabScreenArea(clientAreaOf(dialog)).save(shots() + "/5-folder-dialog.png");
        xdotool({"key", "Escape"}, 400);
    }
    xdotool({"windowactivate", "--sync", settings}, 100);
    xdotool({"key", "ctrl+w"}, 400);

    // "退出Vennimo", the menu's last item, ends the process once the prints' places are saved.
    menu = openTrayMenu(app.processId());
    ASSERT_TRUE(menu);
    xdotool({"key", "Up"}, 50);
    QElapsedTimer ending;
    ending.start();
    xdotool({"key", "Return"}, 0);
    ASSERT_TRUE(app.waitForFinished(30000)) << "the menu's quit ends the process";
    std::printf("the process ended %lld ms after the menu's quit\n",
                static_cast<long long>(ending.elapsed()));
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    EXPECT_EQ(placements().size(), 10) << "every print's place is saved";
}
