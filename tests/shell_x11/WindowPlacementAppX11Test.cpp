#include "canvas_x11/ApplicationRope.h"
#include "grid_x11/ApplicationGrid.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDir>
#include <QGuiApplication>
#include <QProcess>
#include <QScopeGuard>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

using namespace vennimo;
using namespace vennimo::test;

namespace {

// The window manager of this test's own desktop: the openbox that the session script which runs
// this program started beside it. None when the test runs on another desktop.
std::optional<pid_t> sessionWindowManager() {
    const QString session = QString::number(::getppid());
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile stat("/proc/" + entry + "/stat");
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        const qsizetype close = line.lastIndexOf(')');
        const QByteArray name = line.mid(line.indexOf('(') + 1, close - line.indexOf('(') - 1);
        // After the name: the state, then the parent.
        if (name == "openbox" && line.mid(close + 2).split(' ').value(1) == session.toUtf8())
            return pid_t(entry.toInt());
    }
    return std::nullopt;
}

// What the window manager's frame adds around a client window on each side; none before it
// framed the window.
struct FrameExtents {
    int left = 0;
    int right = 0;
    int top = 0;
    int bottom = 0;
};
std::optional<FrameExtents> frameExtentsOf(const QString& id) {
    const QString line = runProgram("xprop", {"-id", id, "_NET_FRAME_EXTENTS"});
    const qsizetype equals = line.indexOf('=');
    if (equals < 0)
        return std::nullopt;
    const QStringList values = line.mid(equals + 1).split(',');
    if (values.size() != 4)
        return std::nullopt;
    return FrameExtents{values[0].trimmed().toInt(), values[1].trimmed().toInt(), values[2].trimmed().toInt(),
                        values[3].trimmed().toInt()};
}

// The client windows bottom to top, as the window manager stacks them.
QList<quint32> stacking() {
    const QString line = runProgram("xprop", {"-root", "_NET_CLIENT_LIST_STACKING"});
    QList<quint32> ids;
    for (const QString& id : line.mid(line.indexOf('#') + 1).split(',', Qt::SkipEmptyParts))
        ids.append(id.trimmed().toUInt(nullptr, 16));
    return ids;
}

quint32 activeWindow() {
    const QString line = runProgram("xprop", {"-root", "_NET_ACTIVE_WINDOW"});
    return line.mid(line.indexOf('#') + 1).trimmed().toUInt(nullptr, 16);
}

// Thunar serving the file manager's calls on the test's bus, with the test's home. Whatever the bus
// starts on demand on its behalf (its settings daemon) gets that home too.
struct FileManager {
    QProcess thunar;

    bool start() {
        qDBusRegisterMetaType<QMap<QString, QString>>();
        QMap<QString, QString> environment;
        for (const char* name :
             {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "XDG_RUNTIME_DIR"})
            environment.insert(QString::fromLatin1(name), qEnvironmentVariable(name));
        QDBusMessage update =
            QDBusMessage::createMethodCall("org.freedesktop.DBus", "/org/freedesktop/DBus",
                                           "org.freedesktop.DBus", "UpdateActivationEnvironment");
        update << QVariant::fromValue(environment);
        if (QDBusConnection::sessionBus().call(update).type() != QDBusMessage::ReplyMessage)
            return false;
        thunar.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        thunar.start("thunar", {"--daemon"});
        return thunar.waitForStarted() &&
               QTest::qWaitFor(
                   [] {
                       return QDBusConnection::sessionBus().interface()->isServiceRegistered(
                           "org.freedesktop.FileManager1");
                   },
                   60000);
    }
    ~FileManager() {
        thunar.terminate();
        if (!thunar.waitForFinished(5000))
            thunar.kill();
    }
    // The properties window Thunar shows; empty while none shows.
    QString propertiesWindow() const {
        return runProgram("xdotool",
                          {"search", "--onlyvisible", "--pid", QString::number(thunar.processId())})
            .trimmed()
            .section('\n', 0, 0);
    }
};

// A window the user asked for lies above `below` in the stacking and has the keyboard.
void expectInFront(const QString& window, const QString& below, const QString& what) {
    const QList<quint32> stack = stacking();
    const qsizetype requested = stack.indexOf(window.toUInt());
    const qsizetype ours = stack.indexOf(below.toUInt());
    EXPECT_GE(requested, 0) << "the properties window is managed";
    EXPECT_GE(ours, 0) << what.toStdString() << " is managed";
    EXPECT_GT(requested, ours) << "the properties window lies under " << what.toStdString();
    EXPECT_EQ(activeWindow(), window.toUInt()) << "the properties window has the keyboard";
}

// A click on the print at `x` chooses it, and the toolbar it brings shows: the rope window as it
// then stands; none when it did not come.
std::optional<QRect> choosePrint(qint64 pid, double x) {
    std::optional<QRect> rope = applicationWindow(pid);
    if (!rope)
        return std::nullopt;
    const QPoint print = printPoint(*rope, x);
    if (!xdotool({"mousemove", QString::number(print.x()), QString::number(print.y())}, 150) ||
        !xdotool({"click", "1"}, 400))
        return std::nullopt;
    if (!QTest::qWaitFor(
            [&] {
                rope = applicationWindow(pid);
                return rope && rope->height() > kCollapsedHeight && capsuleEnds(*rope);
            },
            30000))
        return std::nullopt;
    return rope;
}

TEST(WindowPlacementApp, TheGridsTitleBarComesOnTheScreenWhenTheWindowManagerFramesTheWindowLate) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const std::optional<pid_t> manager = sessionWindowManager();
    if (!manager)
        GTEST_SKIP() << "needs the test's own desktop, whose window manager it can pause";
    const QString desktop = makeWatchedFolders();
    const QString shots = screenshotFolder("window-placement");
    QProcess app;
    ASSERT_TRUE(startApplication(app));
    const auto stop = stopAtEnd(app);
    const qint64 pid = app.processId();
    ASSERT_TRUE(hangDesktopPhotos(desktop, "late-frame", 2, 91));

    // A chosen print brings the toolbar, whose room pushes the window's top to the screen's: the
    // grid takes that top edge, with no room above it for a title bar.
    const QList<double> xs = placementXs();
    ASSERT_EQ(xs.size(), 2);
    std::optional<QRect> rope = choosePrint(pid, xs[0]);
    ASSERT_TRUE(rope) << "the toolbar";
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    ASSERT_LT(rope->top(), screen.top() + 10) << "the rope window's top lies at the screen's";

    // The rope's own menu, on its blank stroke past the last print, switches to the grid. The
    // menu holds the pointer and the keyboard itself, so it is still chosen from while the window
    // manager sleeps.
    const QPoint blank = pegPoint(*rope, xs[1] > 0.8 ? 0.02 : 0.98, xs) - QPoint(0, 8);
    const qsizetype shown = applicationWindows(pid).size();
    ASSERT_TRUE(xdotool({"mousemove", QString::number(blank.x()), QString::number(blank.y())}, 150));
    ASSERT_TRUE(xdotool({"click", "3"}, 400));
    ASSERT_TRUE(QTest::qWaitFor([&] { return applicationWindows(pid).size() > shown; }, 30000))
        << "the rope's menu";
    QTest::qWait(300);
    {
        ::kill(*manager, SIGSTOP);
        const auto wake = qScopeGuard([&] { ::kill(*manager, SIGCONT); });
        ASSERT_TRUE(xdotool({"key", "Down", "Return"}, 100));
        // The switch takes the rope window down and asks for the grid window, which the window
        // manager frames a good while later.
        EXPECT_TRUE(QTest::qWaitFor([&] { return applicationWindows(pid).isEmpty(); }, 20000))
            << "the switch to the grid";
        QTest::qWait(1200);
        // The application, busy, hears of the frame only once it is all in place.
        ::kill(pid_t(pid), SIGSTOP);
        const auto resume = qScopeGuard([&] { ::kill(pid_t(pid), SIGCONT); });
        ::kill(*manager, SIGCONT);
        QTest::qWait(800);
    }

    std::optional<QRect> grid;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            grid = applicationWindow(pid);
            return grid && grid->height() >= 520 && grid->width() >= 900;
        },
        30000))
        << "the titled grid window";
    const QString id = widestWindowId(pid);
    std::optional<FrameExtents> extents;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            extents = frameExtentsOf(id);
            return extents && extents->top > 0 && clientAreaOf(id).top() - extents->top >= screen.top();
        },
        15000))
        << "the title bar is above the screen";
    // Whatever was to bring it down has had its time.
    QTest::qWait(1500);
    grabScreenArea(QRect(screen.left(), screen.top(), screen.width(), 200))
        .save(shots + "/late-frame-top.png");
    ASSERT_TRUE(extents && extents->top > 0) << "the window manager framed the grid window";
    const QRect client = clientAreaOf(id);
    ASSERT_GE(client.top() - extents->top, screen.top()) << "the title bar is above the screen";

    // The title bar takes the window along.
    const QPoint title(client.center().x(), client.top() - extents->top / 2);
    const QPoint shift(140, 90);
    ASSERT_TRUE(xdotool({"mousemove", QString::number(title.x()), QString::number(title.y())}, 150));
    ASSERT_TRUE(xdotool({"mousedown", "1"}, 150));
    for (int step = 1; step <= 8; ++step) {
        const QPoint p = title + shift * step / 8;
        ASSERT_TRUE(xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())}, 60));
    }
    ASSERT_TRUE(xdotool({"mouseup", "1"}, 600));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return near(clientAreaOf(id).topLeft(), client.topLeft() + shift, 4); }, 10000))
        << "the window did not follow its title bar: from " << client.x() << "," << client.y() << " to "
        << clientAreaOf(id).x() << "," << clientAreaOf(id).y();
    grabScreenArea(QGuiApplication::primaryScreen()->geometry()).save(shots + "/late-frame-moved.png");
}

// x11-session gives this suite x11-slow-framer: it puts a titled window into its frame at the
// screen's corner, tells the frame's extents, and moves the frame where the window asked to be only
// 1.5 s later. Where the window stands meanwhile is not where the grid belongs.
TEST(WindowPlacementAppUnderASlowFramer, TheGridOpensWhereTheRopeHungThoughItsFrameStoodAtTheCornerFirst) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    if (!runProgram("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id"))
        GTEST_SKIP() << "needs a window manager";
    const QString desktop = makeWatchedFolders();
    const QString shots = screenshotFolder("window-placement");
    QProcess app;
    ASSERT_TRUE(startApplication(app));
    const auto stop = stopAtEnd(app);
    const qint64 pid = app.processId();
    ASSERT_TRUE(hangDesktopPhotos(desktop, "slow-frame", 2, 93));

    // A chosen print brings the toolbar; the grid takes the window's place as it then stands.
    const QList<double> xs = placementXs();
    ASSERT_EQ(xs.size(), 2);
    ASSERT_TRUE(choosePrint(pid, xs[0])) << "the toolbar";
    QTest::qWait(600);
    const std::optional<QRect> rope = applicationWindow(pid);
    ASSERT_TRUE(rope);
    ASSERT_TRUE(switchToGrid(pid)) << "the titled grid window";

    // Its title bar on the screen: below the screen's top when the rope hung there.
    const QString id = widestWindowId(pid);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    std::optional<FrameExtents> extents;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (extents = frameExtentsOf(id)) && extents->top > 0; }, 30000))
        << "the framer framed the grid window";
    const QPoint expected(rope->left(), std::max(rope->top(), screen.top() + extents->top));
    // The frame's late move and whatever the application answers to it have had their time.
    QTest::qWait(4000);
    grabScreenArea(QGuiApplication::primaryScreen()->geometry()).save(shots + "/slow-frame-grid.png");
    const QRect client = clientAreaOf(id);
    EXPECT_EQ(client.topLeft(), expected)
        << "the grid stands at " << client.x() << "," << client.y()
        << ", not where the rope hung: " << expected.x() << "," << expected.y();
}

TEST(WindowPlacementApp, ThePropertiesWindowComesUpInFrontOfTheRopeAndOfTheGrid) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    if (QStandardPaths::findExecutable("thunar").isEmpty())
        GTEST_SKIP() << "needs Thunar (scripts/install-deps installs it)";
    const QString desktop = makeWatchedFolders();
    const QString shots = screenshotFolder("window-placement");
    FileManager files;
    ASSERT_TRUE(files.start()) << "Thunar serves the file manager's calls";
    QProcess app;
    ASSERT_TRUE(startApplication(app));
    const auto stop = stopAtEnd(app);
    const qint64 pid = app.processId();
    ASSERT_TRUE(hangDesktopPhotos(desktop, "properties", 2, 57));

    // On the rope: a click chooses the print and gives the rope the keyboard; Control-I asks for
    // the file's properties.
    const QList<double> xs = placementXs();
    ASSERT_EQ(xs.size(), 2);
    ASSERT_TRUE(choosePrint(pid, xs[0])) << "the print was chosen";
    const QString ropeId = widestWindowId(pid);
    ASSERT_TRUE(xdotool({"key", "ctrl+i"}, 300));
    QString properties;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !(properties = files.propertiesWindow()).isEmpty(); }, 60000))
        << "Thunar showed no properties window";
    // It is brought forward once it shows; on a busy machine that takes a moment.
    (void)QTest::qWaitFor([&] { return activeWindow() == properties.toUInt(); }, 10000);
    QTest::qWait(500);
    grabScreenArea(QGuiApplication::primaryScreen()->geometry()).save(shots + "/properties-over-rope.png");
    expectInFront(properties, ropeId, "the rope");
    ASSERT_TRUE(xdotool({"key", "Escape"}, 300));
    EXPECT_TRUE(QTest::qWaitFor([&] { return files.propertiesWindow().isEmpty(); }, 10000))
        << "Escape closes the properties window: it has the keyboard";

    // In the grid, over the whole window: a click on a card chooses it.
    const std::optional<QRect> grid = switchToGrid(pid);
    ASSERT_TRUE(grid) << "the titled grid window";
    std::optional<Cards> cards;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (cards = findCards(*grid, 2)).has_value(); }, 30000))
        << "cards below the header";
    const QPoint card = cards->picture(1).center();
    ASSERT_TRUE(xdotool({"mousemove", QString::number(card.x()), QString::number(card.y())}, 150));
    ASSERT_TRUE(xdotool({"click", "1"}, 600));
    ASSERT_TRUE(xdotool({"key", "ctrl+i"}, 300));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !(properties = files.propertiesWindow()).isEmpty(); }, 60000))
        << "Thunar showed no properties window over the grid";
    (void)QTest::qWaitFor([&] { return activeWindow() == properties.toUInt(); }, 10000);
    QTest::qWait(500);
    grabScreenArea(QGuiApplication::primaryScreen()->geometry()).save(shots + "/properties-over-grid.png");
    expectInFront(properties, widestWindowId(pid), "the grid");
}

} // namespace
