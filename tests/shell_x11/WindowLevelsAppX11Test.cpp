#include "canvas_x11/ApplicationRope.h"
#include "canvas_x11/ApplicationSession.h"
#include "canvas_x11/PhotoLikeImages.h"
#include "support/ScreenGrab.h"
#include "support/TestEnvironment.h"
#include "support/WaitUntil.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QJsonObject>
#include <QProcess>
#include <QScopeGuard>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <csignal>

using namespace vennimo::test;

namespace {

using namespace std::chrono_literals;

QString shots() {
    return screenshotFolder("window-levels");
}

void shoot(const QString& name) {
    grabScreenArea(QGuiApplication::primaryScreen()->geometry()).save(shots() + "/" + name + ".png");
}

QString run(const QString& program, const QStringList& arguments) {
    return runProgram(program, arguments).trimmed();
}

// The application's mapped windows but the tray icon, by X id.
QStringList visibleWindows(qint64 pid) {
    QStringList ids;
    for (const QString& id : visibleWindowIds(pid)) {
        const QRect area = clientAreaOf(id);
        if (area.width() > 48 || area.height() > 48)
            ids.append(id);
    }
    return ids;
}

// The first mapped window of the application that is none of `known`, once one shows.
QString newWindow(qint64 pid, const QStringList& known) {
    QString found;
    waitUntil(
        [&] {
            for (const QString& id : visibleWindows(pid))
                if (!known.contains(id))
                    found = id;
            return !found.isEmpty();
        },
        30s);
    return found;
}

// The window manager's stacking order, bottom first, as decimal X ids.
QStringList stacking() {
    const QString line = run("xprop", {"-root", "_NET_CLIENT_LIST_STACKING"});
    QStringList ids;
    for (const QString& word : line.section('#', 1).split(',', Qt::SkipEmptyParts))
        ids.append(QString::number(word.trimmed().toULongLong(nullptr, 16)));
    return ids;
}

// Whether the window manager has taken the window in: before that it is in no stacking order.
bool managed(const QString& id) {
    return stacking().contains(id);
}

bool stacksAbove(const QString& upper, const QString& lower) {
    const QStringList order = stacking();
    return order.contains(upper) && order.contains(lower) && order.indexOf(upper) > order.indexOf(lower);
}

std::string stackingText() {
    return stacking().join(' ').toStdString();
}

QString activeWindow() {
    return run("xdotool", {"getactivewindow"});
}

bool clickAt(const QPoint& p) {
    return xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())}, 200) &&
           xdotool({"click", "1"}, 400);
}

// Where the rope line hangs on the screen: the canvas top below the window's top edge.
int ropeLine(const QRect& window) {
    return window.top() + canvasTop(window);
}

// A button of a dialog, found by its place from the dialog's bottom-right corner.
QPoint fromBottomRight(const QRect& dialog, int dx, int dy) {
    return {dialog.right() - dx, dialog.bottom() - dy};
}

bool savePhoto(const QString& folder, const QString& name, int seed) {
    return makePhotoLikeImage({1600, 1200}, seed).save(folder + "/" + name, "JPEG", 88);
}

// Opens the tray menu and picks its `downs`-th enabled item.
bool chooseInTrayMenu(qint64 pid, int downs) {
    if (!showTrayMenu(pid))
        return false;
    for (int i = 0; i < downs; ++i)
        xdotool({"key", "Down"}, 60);
    return xdotool({"key", "Return"}, 300);
}

bool shown(const QString& id) {
    return !id.isEmpty() && run("xwininfo", {"-id", id}).contains("IsViewable");
}

// Each test runs the application over a backdrop, its rope window's frame saved where the test
// wants the rope to hang, and ends it however the test ends.
class WindowLevelsApp : public testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X server";
    }
    void TearDown() override {
        app.kill();
        app.waitForFinished();
    }

    // Starts the application with the rope window's frame saved as `position`; false when it did
    // not start.
    bool startWithRopeAt(const QString& position) {
        desktop = makeWatchedFolders();
        if (!desktop.startsWith(TestEnvironment::root()))
            return false;
        writeFile(defaultsFile(),
                  QStringLiteral(R"({"ClotheslineWindowPosition": %1})").arg(position).toUtf8());
        return backdrop.cover() && startApplication(app);
    }

    Backdrop backdrop;
    QProcess app;
    QString desktop;
};

} // namespace

TEST_F(WindowLevelsApp, TheRopeLineStaysThroughSelectionsAndItsDialogsStandAboveIt) {
    // The rope hangs mid-screen, with room above it for the toolbar.
    ASSERT_TRUE(startWithRopeAt(R"({"x": 300, "ropeY": 400, "width": 1100})"));
    ASSERT_TRUE(hangDesktopPhotos(desktop, "line", 3, 40));
    const QString rope = widestWindowId(app.processId());
    ASSERT_FALSE(rope.isEmpty());
    const QRect start = clientAreaOf(rope);
    ASSERT_EQ(start.height(), kCollapsedHeight);
    ASSERT_EQ(ropeLine(start), 400);
    const int line = ropeLine(start);
    const double printX = placementXs().at(1);

    // Each selection makes room for the toolbar above the rope and each Escape gives it back; the
    // window's top moves with its height, so the rope hangs still.
    int drifts = 0;
    for (int cycle = 0; cycle < 20; ++cycle) {
        ASSERT_TRUE(clickAt(printPoint(clientAreaOf(rope), printX)));
        const bool expanded = waitUntil(
            [&] {
                const QRect now = clientAreaOf(rope);
                return now.height() > kCollapsedHeight && std::abs(ropeLine(now) - line) <= 1;
            },
            10s);
        if (cycle == 0)
            shoot("01-selected");
        ASSERT_TRUE(xdotool({"key", "Escape"}, 100));
        const bool collapsed = waitUntil(
            [&] {
                const QRect now = clientAreaOf(rope);
                return now.height() == kCollapsedHeight && std::abs(ropeLine(now) - line) <= 1;
            },
            10s);
        if (!expanded || !collapsed) {
            ++drifts;
            ADD_FAILURE() << "cycle " << cycle << ": rope line " << ropeLine(clientAreaOf(rope)) << ", was "
                          << line << " (height " << clientAreaOf(rope).height() << ")";
            if (drifts > 2)
                break;
        }
    }
    shoot("02-after-twenty-selections");
    const QRect end = clientAreaOf(rope);
    EXPECT_LE(std::abs(ropeLine(end) - line), 1);
    EXPECT_TRUE(waitUntil(
        [&] {
            const QJsonObject saved = savedRopePosition();
            return std::abs(saved.value("ropeY").toDouble() - ropeLine(end)) < 1 &&
                   std::abs(saved.value("x").toDouble() - end.left()) < 1 &&
                   std::abs(saved.value("width").toDouble() - end.width()) < 1;
        },
        10s))
        << "the saved position is where the rope is";

    // Ctrl+Delete asks before moving a print to the Trash; its question stands above the rope
    // and takes the click on its button.
    ASSERT_TRUE(clickAt(printPoint(clientAreaOf(rope), printX)));
    ASSERT_TRUE(waitUntil([&] { return clientAreaOf(rope).height() > kCollapsedHeight; }, 10s));
    const QStringList known = visibleWindows(app.processId());
    ASSERT_TRUE(xdotool({"key", "ctrl+Delete"}, 300));
    const QString question = newWindow(app.processId(), known);
    ASSERT_FALSE(question.isEmpty()) << "the trash question shows";
    EXPECT_TRUE(waitUntil([&] { return stacksAbove(question, rope); }, 10s)) << stackingText();
    QTest::qWait(500);
    shoot("03-trash-question");
    const QRect questionArea = clientAreaOf(question);
    // "移到废纸篓" is the first of the two buttons at the right end of the question's bottom row.
    ASSERT_TRUE(clickAt(fromBottomRight(questionArea, 150, 26)));

    // The first delete in a default folder asks for the folder: its panel stands above the rope
    // too, and its own button grants it.
    const QString panel = newWindow(app.processId(), known + QStringList{question});
    ASSERT_FALSE(panel.isEmpty()) << "the folder grant panel shows";
    EXPECT_TRUE(waitUntil([&] { return stacksAbove(panel, rope); }, 10s)) << stackingText();
    QTest::qWait(500);
    shoot("04-grant-panel");
    const QRect panelArea = clientAreaOf(panel);
    ASSERT_TRUE(clickAt(fromBottomRight(panelArea, 66, 57)));
    const QDir trash(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash/files");
    EXPECT_TRUE(waitUntil([&] { return trash.entryList(QDir::Files).size() == 1; }, 20s))
        << "the print went to the Trash";
    QTest::qWait(800);
    shoot("05-trashed");
    EXPECT_TRUE(waitUntil(
        [&] {
            const QRect now = clientAreaOf(rope);
            return now.height() == kCollapsedHeight && std::abs(ropeLine(now) - line) <= 1;
        },
        10s))
        << "after the delete the rope hangs at " << ropeLine(clientAreaOf(rope)) << " (height "
        << clientAreaOf(rope).height() << "), it hung at " << line;
}

TEST_F(WindowLevelsApp, SettingsAndPanelsStayAboveTheRopeWhichTheGridReplacesInPlace) {
    ASSERT_TRUE(startWithRopeAt(R"({"x": 110, "ropeY": 300, "width": 1280})"));
    const qint64 pid = app.processId();
    ASSERT_TRUE(hangDesktopPhotos(desktop, "grid", 2, 60));
    const QRect rope = clientAreaOf(widestWindowId(pid));
    const int line = ropeLine(rope);

    // The grid opens with the keyboard, so typing searches at once.
    const auto openedGrid = [&](const QString& shot) -> std::optional<QRect> {
        QString grid;
        if (!waitUntil(
                [&] {
                    grid = widestWindowId(pid);
                    return clientAreaOf(grid).height() >= 520;
                },
                20s))
            return std::nullopt;
        EXPECT_TRUE(waitUntil([&] { return activeWindow() == grid; }, 20s)) << "the grid takes the keyboard";
        QTest::qWait(1200);
        const QRect area = clientAreaOf(grid);
        shoot(shot);
        const QImage cards = grabScreenArea(area);
        EXPECT_TRUE(xdotool({"type", "--delay", "40", "nothing-matches"}, 800));
        // The search redraws the cards once the machine gets to it.
        double changed = 0;
        waitUntil([&] { return (changed = changedShare(cards, grabScreenArea(area))) > 0.05; }, 20s);
        shoot(shot + "-typed");
        EXPECT_GT(changed, 0.05) << "the typing searched";
        return area;
    };
    // A new photo brings the rope back where it hung.
    int photos = 2;
    const auto ropeCameBack = [&](const QString& shot) -> QString {
        ++photos;
        EXPECT_TRUE(savePhoto(desktop, QString("arrival-%1.jpg").arg(photos), 70 + photos));
        QString back;
        if (!waitUntil(
                [&] {
                    back = widestWindowId(pid);
                    return clientAreaOf(back).height() < 520;
                },
                30s))
            return {};
        // Until the rope maps again, the widest window of the application may be its tray icon.
        EXPECT_TRUE(waitUntil(
            [&] {
                back = widestWindowId(pid);
                const QRect area = clientAreaOf(back);
                return area.left() == rope.left() && std::abs(ropeLine(area) - line) <= 1;
            },
            20s))
            << "the rope hangs at " << clientAreaOf(back).left() << ", " << ropeLine(clientAreaOf(back))
            << "; it hung at " << rope.left() << ", " << line;
        QTest::qWait(1500);
        shoot(shot);
        return back;
    };

    // The toolbar's "普通窗口" opens the grid at the rope's left edge and top, 720 high.
    ASSERT_TRUE(clickAt(printPoint(rope, placementXs().at(0))));
    std::optional<QRect> selected;
    ASSERT_TRUE(waitUntil(
        [&] {
            selected = clientAreaOf(widestWindowId(pid));
            return selected->height() > kCollapsedHeight;
        },
        20s));
    // The toolbar is drawn once the machine gets to it; it is measured once it has come to rest.
    waitUntil([&] { return capsuleEnds(*selected).has_value(); }, 20s);
    QTest::qWait(600);
    const auto ends = capsuleEnds(*selected);
    ASSERT_TRUE(ends) << "the toolbar shows";
    ASSERT_TRUE(clickAt(QPoint(ends->second - 15 - 30 - 6 - 26, selected->top() + 8 + 22)));
    const std::optional<QRect> first = openedGrid("10-grid-from-toolbar");
    ASSERT_TRUE(first);
    EXPECT_EQ(first->left(), selected->left());
    EXPECT_EQ(first->top(), selected->top());
    EXPECT_EQ(first->width(), std::max(selected->width(), 900));
    EXPECT_EQ(first->height(), 720);
    ASSERT_FALSE(ropeCameBack("11-rope-back-in-place").isEmpty());

    // The tray's "普通窗口" gives back the grid's last frame.
    ASSERT_TRUE(chooseInTrayMenu(pid, 2));
    const std::optional<QRect> second = openedGrid("12-grid-from-tray");
    ASSERT_TRUE(second);
    EXPECT_EQ(*second, *first);
    const QString ropeId = ropeCameBack("12-rope-back-again");
    ASSERT_FALSE(ropeId.isEmpty());

    // The settings window floats over the rope; its folder panel comes over it and takes a click.
    ASSERT_TRUE(chooseInTrayMenu(pid, 3));
    QString settings;
    ASSERT_TRUE(waitUntil([&] { return !(settings = windowNamed("^设置$")).isEmpty(); }, 20s));
    ASSERT_TRUE(waitUntil([&] { return managed(settings) && managed(ropeId); }, 20s)) << stackingText();
    QTest::qWait(800);
    EXPECT_TRUE(stacksAbove(settings, ropeId)) << stackingText();
    const QRect settingsArea = clientAreaOf(settings);
    grabScreenArea(settingsArea).save(shots() + "/12b-settings.png");
    const QStringList known = visibleWindows(pid);
    ASSERT_TRUE(clickAt(settingsArea.topLeft() + QPoint(540, 220)));
    const QString panel = newWindow(pid, known);
    ASSERT_FALSE(panel.isEmpty()) << "the add-folder panel shows";
    EXPECT_TRUE(waitUntil([&] { return stacksAbove(panel, settings) && stacksAbove(panel, ropeId); }, 20s))
        << stackingText();
    QTest::qWait(500);
    shoot("13-add-folder-panel");
    ASSERT_TRUE(clickAt(fromBottomRight(clientAreaOf(panel), 66, 26)));
    EXPECT_TRUE(waitUntil([&] { return !shown(panel); }, 20s)) << "its cancel button closed it";

    // An arrival and the hot key bring the rope forward, and the settings window stays over it.
    ASSERT_TRUE(savePhoto(desktop, "arrival-9.jpg", 79));
    ASSERT_TRUE(waitUntil([&] { return placements().size() == photos + 1; }, 30s));
    QTest::qWait(1500);
    EXPECT_TRUE(stacksAbove(settings, ropeId)) << "after an arrival: " << stackingText();
    shoot("14-settings-over-arrival");
    ASSERT_TRUE(xdotool({"key", "ctrl+alt+p"}, 100));
    ASSERT_TRUE(waitUntil(
        [&] { return !shown(widestWindowId(pid)) || clientAreaOf(widestWindowId(pid)).width() < 700; }, 20s));
    ASSERT_TRUE(xdotool({"key", "ctrl+alt+p"}, 100));
    QString reopened;
    ASSERT_TRUE(waitUntil(
        [&] {
            reopened = widestWindowId(pid);
            return clientAreaOf(reopened).width() > 700;
        },
        20s));
    ASSERT_TRUE(waitUntil([&] { return managed(reopened); }, 20s)) << stackingText();
    QTest::qWait(1000);
    EXPECT_TRUE(stacksAbove(settings, reopened)) << "after the hot key: " << stackingText();
    shoot("15-settings-over-hot-key");

    // With the rope closed and another program at work, an alert of the quit comes to the front,
    // over floating windows, with the keyboard: the state it could not save makes it ask.
    xdotool({"windowactivate", "--sync", settings}, 200);
    xdotool({"key", "ctrl+w"}, 400);
    ASSERT_TRUE(xdotool({"key", "ctrl+alt+p"}, 100));
    ASSERT_TRUE(waitUntil([&] { return clientAreaOf(widestWindowId(pid)).width() < 700; }, 20s));
    for (const char* name : {"clothesline-positions.json", "photo-interactions.json"}) {
        QFile::remove(storage() + "/" + name);
        QDir().mkpath(storage() + "/" + name);
    }
    ASSERT_TRUE(savePhoto(desktop, "arrival-10.jpg", 80));
    QTest::qWait(2500);
    // The quit asks only once the arrival has met the state it cannot save: on a busy machine the
    // scan that finds it can come later than the pause.
    EXPECT_TRUE(waitUntil([] { return readFile(storage() + "/index.json").contains("arrival-10.jpg"); }, 30s))
        << "the arrival was never scanned";
    QTest::qWait(500);
    // The user types in another program's window that floats, where the alert will show.
    QWidget floating(nullptr, Qt::WindowStaysOnTopHint);
    floating.setWindowTitle("floating");
    floating.setGeometry(
        QRect(0, 0, 700, 400)
            .translated(QGuiApplication::primaryScreen()->availableGeometry().center() - QPoint(350, 200)));
    floating.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&floating, 30000));
    const QString user = QString::number(floating.winId());
    xdotool({"windowactivate", "--sync", user}, 200);
    xdotool({"key", "a"}, 200);
    const QStringList before = visibleWindows(pid);
    ::kill(pid_t(pid), SIGINT);
    const QString alert = newWindow(pid, before);
    ASSERT_FALSE(alert.isEmpty()) << "the unsaved-state alert shows";
    EXPECT_TRUE(waitUntil([&] { return stacksAbove(alert, user); }, 20s)) << stackingText();
    EXPECT_TRUE(waitUntil([&] { return activeWindow() == alert; }, 20s))
        << "active: " << activeWindow().toStdString();
    QTest::qWait(500);
    shoot("16-alert-in-front");
}
