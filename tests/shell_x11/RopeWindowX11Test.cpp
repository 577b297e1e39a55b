#include "platform/X11WindowHints.h"
#include "support/WaitUntil.h"

#include <QDir>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QProcess>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace vennimo;
using namespace std::chrono_literals;

namespace {

// The print and the rope grip of the host's stand-in canvas, in window coordinates.
const QPoint kOnPrint(200, 150);
const QPoint kOnGrip(550, 65);
const QPoint kTransparent(60, 420);

QString run(const QString& program, const QStringList& arguments) {
    QProcess process;
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
    QProcess process;
    QString windowId;
    QRect frame;
    int presses = 0;
    QByteArray pending;

    Host() {
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(VENNIMO_ROPE_WINDOW_HOST, {});
        EXPECT_TRUE(waitFor([&] { return !windowId.isEmpty(); }, 10s)) << "the host never showed its window";
        // The window manager reparents the window after it is shown; the reported frame is right
        // once it agrees with the X server's.
        EXPECT_TRUE(waitFor([&] { return frame.topLeft() == serverPosition(); }))
            << "the frame never settled";
    }
    QPoint serverPosition() {
        const QString geometry = run("xdotool", {"getwindowgeometry", windowId});
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
    QString property(const char* name) { return run("xprop", {"-id", windowId, name}); }
};

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

} // namespace
