#include "WindowCut.h"
#include "platform/X11WindowHints.h"
#include "support/WaitUntil.h"

#include <QDir>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <utility>

using namespace vennimo;
using namespace vennimo::test;
using namespace std::chrono_literals;

namespace {

// The print and the rope grip of the host's stand-in canvas, in window coordinates.
const QPoint kOnPrint(200, 150);
const QPoint kOnGrip(550, 65);
const QPoint kTransparent(60, 420);

// The environment of a program shown on `display`, or on this test's own display when empty.
QProcessEnvironment environmentFor(const QString& display) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!display.isEmpty())
        environment.insert("DISPLAY", display);
    return environment;
}

QString run(const QString& program, const QStringList& arguments, const QString& display = {}) {
    QProcess process;
    process.setProcessEnvironment(environmentFor(display));
    process.start(program, arguments);
    process.waitForFinished(5000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

void xdotool(const QStringList& arguments) {
    run("xdotool", arguments);
}

// An ordinary window under the strip that counts the clicks reaching it.
class Below : public QWidget {
public:
    int presses = 0;
    Below() {
        setWindowTitle("below");
        setGeometry(0, 0, 1920, 1080);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.fillRect(rect(), QColor(60, 150, 90));
        painter.setPen(QColor(20, 60, 30));
        for (int x = 0; x < width(); x += 40)
            painter.drawLine(x, 0, x, height());
    }
    void mousePressEvent(QMouseEvent*) override { ++presses; }
};

// The test host in its own process: one rope window with a stand-in canvas.
struct Host {
    QString display;
    QProcess process;
    QString windowId;
    QRect frame;
    int presses = 0;
    QByteArray pending;

    explicit Host(QString on = {}, const QStringList& arguments = {})
        : display(std::move(on)) {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.setProcessEnvironment(environmentFor(display));
        process.start(VENNIMO_ROPE_WINDOW_HOST, arguments);
        EXPECT_TRUE(waitFor([&] { return !windowId.isEmpty(); }, 30s)) << "the host never showed its window";
        // The window manager reparents the window after it is shown; the reported frame is right
        // once it agrees with the X server's.
        EXPECT_TRUE(waitFor([&] { return frame.topLeft() == serverPosition(); }, 30s))
            << "the frame never settled";
    }
    QPoint serverPosition() {
        const QString geometry = run("xdotool", {"getwindowgeometry", windowId}, display);
        const int at = geometry.indexOf("Position: ");
        const QStringList xy = geometry.mid(at + 10).section(' ', 0, 0).split(',');
        return at < 0 || xy.size() != 2 ? QPoint(-1, -1) : QPoint(xy[0].toInt(), xy[1].toInt());
    }
    ~Host() {
        process.kill();
        process.waitForFinished(3000);
    }
    void read() {
        pending += process.readAllStandardOutput();
        int end;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QStringList words = QString::fromUtf8(pending.left(end)).split(' ');
            pending.remove(0, end + 1);
            if (words.value(0) == "window")
                windowId = words.value(1);
            else if (words.value(0) == "frame" && words.size() == 5)
                frame = QRect(words[1].toInt(), words[2].toInt(), words[3].toInt(), words[4].toInt());
            else if (words.value(0) == "press")
                ++presses;
        }
    }
    bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit = 5s) {
        return test::waitUntil([&] { return read(), done(); }, limit);
    }
    QString property(const char* name) { return run("xprop", {"-id", windowId, name}, display); }
};

// A second X server run by icewm, whose frames, unlike openbox's, do not take on the input shape
// of the window they hold: there only the window's own shaping of its frame lets clicks through.
// x11-session brings it up as it brings up the test's own display, waiting until the server takes
// a client and starting again on a new display when it does not come up; its program prints the
// display and keeps the session until this side closes its input.
struct IcewmDisplay {
    QProcess session;
    QString name;

    // Whether the programs are installed at all; once they are, a server that does not come up
    // within the deadline is a failure, not a reason to skip.
    static bool available() {
        return !QStandardPaths::findExecutable("icewm").isEmpty() &&
               !QStandardPaths::findExecutable("Xvfb").isEmpty();
    }

    IcewmDisplay() {
        if (!available())
            return;
        using namespace std::chrono_literals;
        session.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        session.start(VENNIMO_X11_SESSION_SCRIPT, {"--window-manager", "icewm", VENNIMO_X11_SESSION_READY,
                                                   "sh", "-c", "echo \"$DISPLAY\"; exec cat >/dev/null"});
        // The session tries up to three times, each step with a minute to come up.
        if (test::waitUntil([&] { return session.canReadLine() || session.state() == QProcess::NotRunning; },
                            200s) &&
            session.canReadLine())
            name = QString::fromLatin1(session.readLine().trimmed());
    }
    ~IcewmDisplay() {
        session.closeWriteChannel();
        if (session.waitForFinished(15000))
            return;
        session.terminate();
        if (!session.waitForFinished(15000))
            session.kill();
        session.waitForFinished(3000);
    }
};

// The window manager's frame around the window: its ancestor that is a child of the root.
xcb_window_t frameOf(xcb_connection_t* c, xcb_window_t window) {
    xcb_window_t current = window;
    for (int depth = 0; depth < 16; ++depth) {
        const std::unique_ptr<xcb_query_tree_reply_t, decltype(&std::free)> tree{
            xcb_query_tree_reply(c, xcb_query_tree(c, current), nullptr), &std::free};
        if (!tree || tree->parent == tree->root)
            return current;
        current = tree->parent;
    }
    return current;
}

void click(QPoint at) {
    xdotool({"mousemove", QString::number(at.x()), QString::number(at.y())});
    // One routing pass (1/30 s) decides before the button goes down.
    QTest::qWait(150);
    xdotool({"click", "1"});
}

TEST(RopeWindowX11, FloatsWithoutFocusAndLetsClicksThroughBesideItsShapes) {
    if (QGuiApplication::platformName() != "xcb")
        GTEST_SKIP() << "needs an X server";
    Below below;
    below.show();
    below.activateWindow();
    ASSERT_TRUE(test::waitUntil([&] { return X11WindowHints::activeWindow() == below.winId(); }))
        << "the window underneath never became active";

    Host host;
    ASSERT_TRUE(host.waitFor([&] { return host.property("_NET_WM_STATE").contains("_NET_WM_STATE_ABOVE"); }))
        << qPrintable(host.property("_NET_WM_STATE"));
    EXPECT_TRUE(host.property("_NET_WM_DESKTOP").contains("4294967295")) << "on all workspaces";
    QTest::qWait(700);
    EXPECT_EQ(X11WindowHints::activeWindow(), below.winId()) << "showing the strip took the focus";

    click(host.frame.topLeft() + kTransparent);
    EXPECT_TRUE(host.waitFor([&] { return below.presses == 1; })) << "a transparent spot catches the click";
    EXPECT_EQ(host.presses, 0);

    click(host.frame.topLeft() + kOnPrint);
    EXPECT_TRUE(host.waitFor([&] { return host.presses == 1; })) << "the print does not take the click";
    EXPECT_EQ(below.presses, 1) << "the click on the print fell through";

    // Move the pointer off the strip, so the picture shows the strip alone over the window below.
    xdotool({"mousemove", "5", "1075"});
    QTest::qWait(300);
    const QImage screen = QGuiApplication::primaryScreen()->grabWindow(0).toImage();
    QDir().mkpath(VENNIMO_SCREENSHOT_DIR);
    ASSERT_TRUE(screen.save(VENNIMO_SCREENSHOT_DIR "/rope-window-over-window.png"));
    const QPoint clear = host.frame.topLeft() + kTransparent + QPoint(1, 0);
    EXPECT_EQ(screen.pixelColor(clear).green(), 150) << "the window below shows through the strip";
    EXPECT_EQ(screen.pixelColor(host.frame.topLeft() + QPoint(200, 120)), QColor(200, 40, 40))
        << "the print shows";
}

TEST(RopeWindowX11, TheWindowManagersFrameTakesThePointerOnlyOverThePublishedShapes) {
    if (QGuiApplication::platformName() != "xcb")
        GTEST_SKIP() << "needs an X server";
    if (!IcewmDisplay::available())
        GTEST_SKIP() << "needs Xvfb and icewm";
    const IcewmDisplay icewm;
    ASSERT_FALSE(icewm.name.isEmpty()) << "the second X server with icewm never came up";
    // The print and the grip the host's canvas publishes, in window coordinates.
    const QRegion published = QRegion(100, 80, 200, 200) + QRegion(400, 50, 300, 30);
    for (const QString& display : {QString(), icewm.name}) {
        SCOPED_TRACE(display.isEmpty() ? "openbox" : "icewm");
        Host host(display);
        ASSERT_FALSE(host.windowId.isEmpty());
        run("xdotool", {"mousemove", "5", "1075"}, display);
        const std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> c{
            xcb_connect(display.isEmpty() ? nullptr : qPrintable(display), nullptr), &xcb_disconnect};
        ASSERT_FALSE(xcb_connection_has_error(c.get()));
        const auto window = xcb_window_t(host.windowId.toULong());
        // The window manager takes the window in once it gets to it; a busy machine makes it late.
        xcb_window_t frame = window;
        host.waitFor([&] { return (frame = frameOf(c.get(), window)) != window; }, 30s);
        ASSERT_NE(frame, window) << "the window manager put no frame around the window";
        const std::unique_ptr<xcb_translate_coordinates_reply_t, decltype(&std::free)> offset{
            xcb_translate_coordinates_reply(c.get(), xcb_translate_coordinates(c.get(), window, frame, 0, 0),
                                            nullptr),
            &std::free};
        ASSERT_TRUE(offset);
        QRegion own;
        QRegion framed;
        EXPECT_TRUE(host.waitFor([&] {
            own = inputShape(c.get(), window);
            framed = inputShape(c.get(), frame).translated(-offset->dst_x, -offset->dst_y);
            return own == published && framed == published;
        })) << "window "
            << own.boundingRect().width() << "x" << own.boundingRect().height() << " in " << own.rectCount()
            << " rectangles, frame " << framed.boundingRect().width() << "x" << framed.boundingRect().height()
            << " in " << framed.rectCount();
    }
}

TEST(RopeWindowX11, RemembersWhereItWasMovedAcrossARestart) {
    if (QGuiApplication::platformName() != "xcb")
        GTEST_SKIP() << "needs an X server";
    QRect moved;
    {
        Host host;
        ASSERT_TRUE(host.waitFor([&] { return host.property("_NET_WM_STATE").contains("ABOVE"); }));
        const QPoint grip = host.frame.topLeft() + kOnGrip;
        const QRect before = host.frame;
        xdotool({"mousemove", QString::number(grip.x()), QString::number(grip.y())});
        QTest::qWait(150);
        xdotool({"mousedown", "1"});
        for (int step = 1; step <= 10; ++step) {
            xdotool(
                {"mousemove", QString::number(grip.x() - 15 * step), QString::number(grip.y() + 12 * step)});
            QTest::qWait(30);
        }
        xdotool({"mouseup", "1"});
        ASSERT_TRUE(host.waitFor([&] {
            return host.frame.topLeft() == before.topLeft() + QPoint(-150, 120);
        })) << "moved to "
            << host.frame.x() << "," << host.frame.y() << " from " << before.x() << "," << before.y();
        QTest::qWait(200);
        moved = host.frame;
    }
    Host again;
    ASSERT_TRUE(again.waitFor([&] { return again.frame == moved; }))
        << "came back at " << again.frame.x() << "," << again.frame.y() << " instead of " << moved.x() << ","
        << moved.y();
}

TEST(RopeWindowX11, TheTitledGridWindowStaysWhereTheWindowManagerPutsIt) {
    if (QGuiApplication::platformName() != "xcb")
        GTEST_SKIP() << "needs an X server";
    Host host({}, {"--grid"});
    ASSERT_TRUE(host.waitFor([&] { return host.frame.height() >= 520; })) << "switched to the grid";
    // The window manager places the grid window once it maps it, over any move made before.
    QRect placed;
    ASSERT_TRUE(host.waitFor(
        [&] {
            QTest::qWait(300);
            return std::exchange(placed, host.frame) == host.frame;
        },
        10s))
        << "the grid window keeps moving";
    // Moves of a decorated window once made it chase its own client area down to the screen's corner.
    for (const QPoint target : {QPoint(300, 200), QPoint(120, 90)}) {
        xdotool({"windowmove", host.windowId, QString::number(target.x()), QString::number(target.y())});
        // Settled once the X server has the window near the target and the frame the host
        // reports has stopped changing.
        QRect last;
        EXPECT_TRUE(host.waitFor(
            [&] {
                QTest::qWait(300);
                const bool still = std::exchange(last, host.frame) == host.frame;
                return still && (host.serverPosition() - target).manhattanLength() < 60;
            },
            10s));
        host.read();
        const QRect settled = host.frame;
        QTest::qWait(1000);
        host.read();
        EXPECT_EQ(host.frame, settled) << "still moving at " << host.frame.x() << "," << host.frame.y();
        EXPECT_LT((host.serverPosition() - target).manhattanLength(), 60)
            << "at " << host.serverPosition().x() << "," << host.serverPosition().y() << " for " << target.x()
            << "," << target.y();
    }
}

} // namespace
