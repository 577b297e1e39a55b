#include "canvas_x11/ApplicationSession.h"
#include "canvas_x11/PhotoLikeImages.h"
#include "support/ScreenGrab.h"
#include "support/TestEnvironment.h"
#include "support/WaitUntil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QProcess>
#include <QScopeGuard>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

using namespace vennimo::test;

namespace {

using namespace std::chrono_literals;

QString shots() {
    return screenshotFolder("settings-window");
}

QString xdotool(const QStringList& arguments) {
    return runProgram(QStringLiteral("xdotool"), arguments).trimmed();
}

bool ropeVisible() {
    return !xdotool({"search", "--onlyvisible", "--name", "^Vennimo$"}).isEmpty();
}

QString settingsWindow() {
    return windowNamed("^设置$");
}

// Opens the tray menu and moves down to its "设置…", leaving the choice to the caller.
void moveToSettingsInTrayMenu(qint64 pid) {
    ASSERT_TRUE(showTrayMenu(pid)) << "the tray menu shows";
    for (int i = 0; i < 3; ++i)
        xdotool({"key", "Down"});
}

// Clicks a point given in the settings window's own coordinates.
void clickIn(const QRect& window, QPoint point) {
    xdotool({"mousemove", QString::number(window.x() + point.x()), QString::number(window.y() + point.y())});
    QTest::qWait(150);
    xdotool({"click", "1"});
    QTest::qWait(600);
}

// The tab buttons sit centred in the toolbar, in the order 通用, 晾衣绳, 快捷键, 帮助.
QPoint tab(int index) {
    return {203 + 65 * index, 26};
}

void savePhoto(const QString& folder, const QString& name, int seed) {
    ASSERT_TRUE(makePhotoLikeImage(QSize(1500, 1000), seed).save(folder + "/" + name, "JPEG", 88));
}

std::optional<qint64> waitForChange(const QImage& before, double share, std::chrono::milliseconds limit) {
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < limit.count()) {
        QTest::qWait(50);
        if (changedShare(before, grabScreenArea(ropeArea())) > share)
            return timer.elapsed();
    }
    return std::nullopt;
}

// Pixels of the window in the warning's orange, the colour of the line a failed save leaves under
// every pane; its text antialiased on the light pane stays clearly warmer than anything else there.
int warningPixels(const QRect& window) {
    const QImage grab = grabScreenArea(window);
    int count = 0;
    for (int y = 0; y < grab.height(); ++y)
        for (int x = 0; x < grab.width(); ++x) {
            const QColor c = grab.pixelColor(x, y);
            count += c.red() > 200 && c.red() - c.blue() > 110 && c.red() - c.green() > 40 ? 1 : 0;
        }
    return count;
}

// Opens the settings window through the tray menu; its X id, empty when it did not come.
QString openSettings(qint64 pid) {
    moveToSettingsInTrayMenu(pid);
    xdotool({"key", "Return"});
    if (!waitUntil([] { return !settingsWindow().isEmpty(); }, 30s))
        return {};
    QTest::qWait(800);
    return settingsWindow();
}

} // namespace

TEST(SettingsWindowX11, TrayOpensThePanesWhichRegrabTheKeyDropAFolderAndWriteTheLoginEntry) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    const QString shotsFolder = makeFolder("Pictures/Shots");
    QDir().mkpath(desktop);
    writeFile(defaultsFile(), R"({"GalleryAlwaysOnTop": false})");
    writeFile(storageFolder() + "/sources.json",
              QStringLiteral(R"([{"id":"D","kind":"desktop","path":"%1","enabled":true},)"
                             R"({"id":"S","path":"%2","enabled":true}])")
                  .arg(desktop, shotsFolder)
                  .toUtf8());
    const QString autostart = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                              "/autostart/vennimo-gallery.desktop";

    QProcess app;
    ASSERT_TRUE(launchApplication(app));
    const auto stop = stopAtEnd(app);
    ASSERT_TRUE(waitUntil(ropeVisible, 30s));
    ASSERT_TRUE(waitUntil([] { return trayIcon().has_value(); }, 30s));
    QTest::qWait(2000);

    // A photo of the second folder hangs.
    const QImage empty = grabScreenArea(ropeArea());
    savePhoto(shotsFolder, "shot.jpg", 3);
    ASSERT_TRUE(waitForChange(empty, 0.02, 30000ms).has_value()) << "the folder's photo hangs";
    QTest::qWait(3500);
    const QImage withShot = grabScreenArea(ropeArea());

    // The tray menu's "设置…" opens the window on its general pane.
    moveToSettingsInTrayMenu(app.processId());
    xdotool({"key", "Return"});
    ASSERT_TRUE(waitUntil([] { return !settingsWindow().isEmpty(); }, 30s));
    QTest::qWait(800);
    const QString id = settingsWindow();
    QRect window = clientAreaOf(id);
    EXPECT_EQ(window.width(), 600);
    const int toolbar = window.height() - 480;
    EXPECT_GT(toolbar, 30);
    EXPECT_LT(toolbar, 90);
    // Centred with its first pane's height, toolbar included. The window manager's title bar comes
    // after the placement and pushes the window down by its height at most.
    const QPoint middle = QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE(std::abs(window.center().x() - middle.x()), 2);
    EXPECT_GE(window.center().y(), middle.y() - 2);
    EXPECT_LE(window.center().y(), middle.y() + 30) << "top " << window.y() << ", height " << window.height();
    grabScreenArea(window).save(shots() + "/1-general.png");

    // Each tab gives the window its pane's height.
    const QList<std::pair<QString, int>> panes{{"2-hanging", 560}, {"3-shortcut", 400}, {"4-help", 580}};
    for (int i = 0; i < panes.size(); ++i) {
        clickIn(window, tab(i + 1));
        EXPECT_TRUE(waitUntil([&] { return clientAreaOf(id).height() == toolbar + panes[i].second; }, 30s))
            << qPrintable(panes[i].first) << " " << clientAreaOf(id).height();
        window = clientAreaOf(id);
        QTest::qWait(i == 0 ? 1500 : 300);
        grabScreenArea(window).save(shots() + "/" + panes[i].first + ".png");
    }

    // Ticking Shift moves the quick-open key to Ctrl+Alt+Shift+P: the old combination no longer
    // toggles the rope, the new one does.
    clickIn(window, tab(2));
    window = clientAreaOf(id);
    clickIn(window, QPoint(155, 138));
    grabScreenArea(window).save(shots() + "/5-shortcut-with-shift.png");
    ASSERT_TRUE(ropeVisible());
    xdotool({"key", "ctrl+alt+p"});
    QTest::qWait(1000);
    EXPECT_TRUE(ropeVisible()) << "the old key is released";
    xdotool({"key", "ctrl+alt+shift+p"});
    EXPECT_TRUE(waitUntil([] { return !ropeVisible(); }, 30s)) << "the new key closes the rope";
    xdotool({"key", "ctrl+alt+shift+p"});
    ASSERT_TRUE(waitUntil(ropeVisible, 30s)) << "and opens it again";
    QString stored;
    waitUntil(
        [&] {
            return (stored = QString::fromUtf8(readFile(defaultsFile())))
                .contains("galleryQuickOpenShortcut");
        },
        30s);
    EXPECT_TRUE(stored.contains("galleryQuickOpenShortcut")) << qPrintable(stored);

    // The space-key picker's second item stores the desktop's default application.
    xdotool({"windowactivate", "--sync", id});
    clickIn(window, QPoint(195, 323));
    xdotool({"key", "Down"});
    xdotool({"key", "Return"});
    EXPECT_TRUE(
        waitUntil([] { return readFile(defaultsFile()).contains(R"("spaceKeyOpener":"default")"); }, 30s));
    grabScreenArea(window).save(shots() + "/5b-space-key-default.png");

    // Switching the second folder off takes its photo off the rope. The window moves below the
    // rope first, so the rope's pictures show only the rope.
    xdotool({"windowactivate", "--sync", id});
    clickIn(window, tab(0));
    xdotool({"windowmove", "--sync", id, "0", "540"});
    QTest::qWait(500);
    window = clientAreaOf(id);
    const QImage before = grabScreenArea(ropeArea());
    EXPECT_LT(changedShare(withShot, before), 0.05) << "the rope still shows the photo";
    clickIn(window, QPoint(519, 174));
    grabScreenArea(window).save(shots() + "/6-folder-off.png");
    EXPECT_TRUE(waitForChange(before, 0.02, 30000ms).has_value()) << "its print leaves the rope";
    QTest::qWait(1500);
    grabScreenArea(ropeArea()).save(shots() + "/7-rope-without-folder.png");
    EXPECT_TRUE(waitUntil(
        [] { return readFile(storageFolder() + "/sources.json").contains(R"("enabled":false)"); }, 30s));

    // Launch at login writes the autostart entry, and switching it off removes it.
    EXPECT_FALSE(QFile::exists(autostart));
    xdotool({"windowactivate", "--sync", id});
    clickIn(window, QPoint(547, 321));
    EXPECT_TRUE(waitUntil([&] { return QFile::exists(autostart); }, 30s)) << "written";
    grabScreenArea(window).save(shots() + "/8-login-on.png");
    EXPECT_TRUE(readFile(autostart).contains("Exec="));
    clickIn(window, QPoint(547, 321));
    EXPECT_TRUE(waitUntil([&] { return !QFile::exists(autostart); }, 30s)) << "removed";
}

TEST(SettingsWindowX11, TenThousandFoldersOpenAtOnceAndASigtermIsActedOn) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    // Folders that exist, as many as the store takes comfortably.
    const QString root = makeFolder("many-folders");
    QByteArray sources = "[";
    for (int i = 0; i < 10'000; ++i) {
        const QString path = root + "/folder-" + QString::number(i);
        QDir().mkpath(path);
        sources += (i ? "," : "") +
                   QStringLiteral(R"({"id":"F%1","path":"%2","enabled":true})").arg(i).arg(path).toUtf8();
    }
    writeFile(storageFolder() + "/sources.json", sources + "]");

    QProcess app;
    ASSERT_TRUE(launchApplication(app));
    const auto stop = stopAtEnd(app);
    ASSERT_TRUE(waitUntil([] { return trayIcon().has_value(); }, 60s));
    QTest::qWait(2000);

    moveToSettingsInTrayMenu(app.processId());
    QElapsedTimer opening;
    opening.start();
    xdotool({"key", "Return"});
    ASSERT_TRUE(waitUntil([] { return !settingsWindow().isEmpty(); }, 60s));
    // The main thread is held at most as long as the window took to come.
    std::printf("[ figure ] settings with 10000 folders shown after %lld ms\n",
                static_cast<long long>(opening.elapsed()));
    QTest::qWait(800);
    const QString id = settingsWindow();
    const QRect window = clientAreaOf(id);
    grabScreenArea(window).save(shots() + "/9-ten-thousand-folders.png");
    // The list scrolls inside its plate; the window keeps its size.
    EXPECT_EQ(window.width(), 600);
    xdotool({"mousemove", QString::number(window.x() + 300),
             QString::number(window.y() + window.height() - 400)});
    for (int i = 0; i < 5; ++i)
        xdotool({"click", "5"});
    QTest::qWait(600);
    grabScreenArea(window).save(shots() + "/10-ten-thousand-folders-scrolled.png");

    // The signal is taken on the next turn of the loop: the windows go at once, and the process
    // follows without waiting for the scan of ten thousand roots that the start and the windows
    // coming forward began, which used to hold it for a minute. Half a minute leaves a loaded
    // machine ample room; the figures say how long it took.
    QElapsedTimer quitting;
    quitting.start();
    app.terminate();
    const bool gone = waitUntil(
        [&] { return app.state() == QProcess::NotRunning || (settingsWindow().isEmpty() && !ropeVisible()); },
        60s);
    std::printf("[ figure ] SIGTERM with the settings open: windows gone after %lld ms\n",
                static_cast<long long>(quitting.elapsed()));
    EXPECT_TRUE(gone) << "the quit was not acted on";
    const bool exited = app.state() == QProcess::NotRunning || app.waitForFinished(30'000);
    std::printf("[ figure ] SIGTERM with the settings open: process gone after %lld ms\n",
                static_cast<long long>(quitting.elapsed()));
    ASSERT_TRUE(exited) << "the process did not end";
    EXPECT_EQ(app.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.exitCode(), 0);
    // Whether or not a scan had finished, what the index file holds is whole.
    if (QFile::exists(storageFolder() + "/index.json")) {
        QJsonParseError error{};
        EXPECT_TRUE(QJsonDocument::fromJson(readFile(storageFolder() + "/index.json"), &error).isObject())
            << error.errorString().toStdString();
    }
}

TEST(SettingsWindowX11, TheShortcutRuleWarningGoesOnceTheKeyIsValidAgain) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    QProcess app;
    ASSERT_TRUE(launchApplication(app));
    const auto stop = stopAtEnd(app);
    ASSERT_TRUE(waitUntil(ropeVisible, 30s));
    ASSERT_TRUE(waitUntil([] { return trayIcon().has_value(); }, 30s));
    QTest::qWait(2000);

    const QString id = openSettings(app.processId());
    ASSERT_FALSE(id.isEmpty()) << "the settings window shows";
    QRect window = clientAreaOf(id);
    const int toolbar = window.height() - 480;
    // Looks only once the window has taken the pane's height, so the grab holds its bottom line.
    const auto showPane = [&](int index, int height) {
        clickIn(window, tab(index));
        EXPECT_TRUE(waitUntil([&] { return clientAreaOf(id).height() == toolbar + height; }, 30s)) << index;
        window = clientAreaOf(id);
        QTest::qWait(300);
    };
    showPane(2, 400);
    const int calm = warningPixels(window);
    EXPECT_LT(calm, 20) << "no warning while Ctrl+Alt+P is in force";

    // Without Ctrl the combination breaks the rule: the warning names it, on every pane.
    const QPoint control(40, 138);
    clickIn(window, control);
    EXPECT_TRUE(waitUntil([&] { return warningPixels(window) > calm + 100; }, 10s))
        << "the rule is named: " << warningPixels(window);
    grabScreenArea(window).save(shots() + "/11-shortcut-without-ctrl.png");
    showPane(0, 480);
    EXPECT_GT(warningPixels(window), calm + 100) << "under the general pane too";
    showPane(2, 400);

    // Ctrl ticked again gives back the combination in force: nothing is left to warn about, at once,
    // a while later, and on the other panes.
    clickIn(window, control);
    EXPECT_TRUE(waitUntil([&] { return warningPixels(window) <= calm; }, 10s))
        << "the warning stays: " << warningPixels(window);
    grabScreenArea(window).save(shots() + "/12-shortcut-ctrl-again.png");
    QTest::qWait(4000);
    EXPECT_LE(warningPixels(window), calm) << "four seconds later";
    showPane(0, 480);
    EXPECT_LE(warningPixels(window), calm) << "on the general pane";
    grabScreenArea(window).save(shots() + "/13-general-after-ctrl-again.png");

    // And the key still answers.
    xdotool({"key", "ctrl+alt+p"});
    EXPECT_TRUE(waitUntil([] { return !ropeVisible(); }, 30s)) << "Ctrl+Alt+P closes the rope";
}
