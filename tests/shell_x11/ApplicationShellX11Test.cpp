#include "canvas_x11/PhotoLikeImages.h"
#include "support/ScreenGrab.h"
#include "support/TestEnvironment.h"
#include "support/WaitUntil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <cstring>

using namespace vennimo::test;

namespace {

using namespace std::chrono_literals;

bool onX11() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

QString shots() {
    const QString dir = QStringLiteral(VENNIMO_SCREENSHOT_DIR) + "/app-shell";
    QDir().mkpath(dir);
    return dir;
}

void shoot(const QString& name, const QRect& area = {}) {
    const QRect whole = QGuiApplication::primaryScreen()->geometry();
    grabScreenArea(area.isNull() ? whole : area).save(shots() + "/" + name + ".png");
}

QString xdotool(const QStringList& arguments) {
    return runProgram(QStringLiteral("xdotool"), arguments).trimmed();
}

// The rope window is the one named "Vennimo"; mapped or not.
bool ropeVisible() {
    return !xdotool({"search", "--onlyvisible", "--name", "^Vennimo$"}).isEmpty();
}

// The tray icon: the application's small window that trayer took in.
std::optional<QRect> trayIcon() {
    for (const QString& id :
         xdotool({"search", "--class", "VennimoGallery"}).split('\n', Qt::SkipEmptyParts)) {
        const QString shape = xdotool({"getwindowgeometry", "--shell", id});
        QHash<QString, int> values;
        for (const QString& line : shape.split('\n')) {
            const qsizetype eq = line.indexOf('=');
            if (eq > 0)
                values.insert(line.left(eq), line.mid(eq + 1).toInt());
        }
        if (values.value("WIDTH") > 0 && values.value("WIDTH") <= 48 && values.value("HEIGHT") <= 48)
            return QRect(values.value("X"), values.value("Y"), values.value("WIDTH"), values.value("HEIGHT"));
    }
    return std::nullopt;
}

// Where the rope hangs: centred, 40 points below the top of the screen, prints below it.
QRect ropeArea() {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    return QRect(screen.x() + (screen.width() - 980) / 2 - 20, screen.y() + 20, 1020, 506);
}

// The bottom-right corner where trayer shows its icons and the menu opens above them.
QRect trayCorner() {
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    return QRect(screen.right() - 420, screen.bottom() - 460, 420, 460);
}

QString desktop() {
    return QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
}
QString downloads() {
    return QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
}

void savePhoto(const QString& folder, const QString& name, int seed) {
    const QList<QSize> sizes{{1600, 1200}, {1200, 1600}, {1600, 900}, {1200, 1200}, {1500, 1000}};
    ASSERT_TRUE(makePhotoLikeImage(sizes[seed % sizes.size()], seed).save(folder + "/" + name, "JPEG", 88));
}

// Waits until the rope area differs from `before` by more than `share`; answers how long it took.
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

// A "desktop" behind everything: the user's own window, with the keyboard.
struct DesktopWindow : QWidget {
    DesktopWindow() {
        setWindowTitle(QStringLiteral("desktop"));
        QPalette palette;
        QLinearGradient gradient(0, 0, 1920, 1080);
        gradient.setColorAt(0, QColor(38, 92, 120));
        gradient.setColorAt(0.55, QColor(96, 140, 150));
        gradient.setColorAt(1, QColor(196, 160, 120));
        palette.setBrush(QPalette::Window, gradient);
        setPalette(palette);
        setAutoFillBackground(true);
        setGeometry(QGuiApplication::primaryScreen()->availableGeometry().adjusted(0, 0, 0, -60));
        show();
        EXPECT_TRUE(QTest::qWaitForWindowExposed(this, 30000));
        xdotool({"windowactivate", "--sync", QString::number(winId())});
    }
    QString id() const { return QString::number(winId()); }
    // What the window draws over `area` of the screen where the window manager keeps it now: the
    // screen shows just that there while nothing covers the window. (A grab of the screen taken as
    // the window first showed is no such picture: the window manager may still move it.)
    QImage drawnOver(const QRect& area) {
        QHash<QString, int> values;
        for (const QString& line : xdotool({"getwindowgeometry", "--shell", id()}).split('\n')) {
            const qsizetype eq = line.indexOf('=');
            if (eq > 0)
                values.insert(line.left(eq), line.mid(eq + 1).toInt());
        }
        return grab(area.translated(-QPoint(values.value("X"), values.value("Y")))).toImage();
    }
};

struct RunningApp {
    QProcess process;
    RunningApp() {
        process.setProcessChannelMode(QProcess::ForwardedChannels);
        process.start(QStringLiteral(VENNIMO_APP_PATH));
        EXPECT_TRUE(process.waitForStarted());
    }
    ~RunningApp() {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
};

void writeDefaults(const QByteArray& json) {
    writeFile(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
                  "/VennimoGallery/defaults.json",
              json);
}

// Hears, over a connection of its own, the requests programs send the window manager to give a
// window the keyboard (as a pager's or the application's own): which windows they named.
class ActivationRequests {
public:
    ActivationRequests()
        : m_c(xcb_connect(nullptr, nullptr)) {
        if (xcb_connection_has_error(m_c))
            return;
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;
        const char* name = "_NET_ACTIVE_WINDOW";
        xcb_intern_atom_reply_t* reply =
            xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, uint16_t(std::strlen(name)), name), nullptr);
        m_atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_c, m_root, XCB_CW_EVENT_MASK, &mask);
        // A round trip: from here on every request is heard.
        std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr));
    }
    ~ActivationRequests() { xcb_disconnect(m_c); }
    ActivationRequests(const ActivationRequests&) = delete;
    ActivationRequests& operator=(const ActivationRequests&) = delete;
    bool heardFor(quint32 window) {
        while (xcb_generic_event_t* event = xcb_poll_for_event(m_c)) {
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                const auto* message = reinterpret_cast<const xcb_client_message_event_t*>(event);
                if (message->type == m_atom)
                    m_heard.append(message->window);
            }
            std::free(event);
        }
        return m_heard.contains(window);
    }

private:
    xcb_connection_t* m_c;
    xcb_window_t m_root = XCB_WINDOW_NONE;
    xcb_atom_t m_atom = XCB_ATOM_NONE;
    QList<quint32> m_heard;
};

// Keys sent before the menu shows go elsewhere: the menu is waited for, as a new window of the
// application, since on a busy machine it can take seconds.
void openTrayMenu(qint64 pid) {
    const std::optional<QRect> icon = trayIcon();
    ASSERT_TRUE(icon.has_value());
    const auto windows = [pid] {
        return xdotool({"search", "--onlyvisible", "--pid", QString::number(pid)})
            .split('\n', Qt::SkipEmptyParts);
    };
    const QStringList before = windows();
    xdotool({"mousemove", QString::number(icon->center().x()), QString::number(icon->center().y())});
    xdotool({"click", "3"});
    ASSERT_TRUE(waitUntil(
        [&] {
            const QStringList now = windows();
            return std::any_of(now.begin(), now.end(),
                               [&](const QString& id) { return !before.contains(id); });
        },
        30s))
        << "the tray menu shows";
    QTest::qWait(300);
}

} // namespace

TEST(ApplicationShellX11, TrayHotKeyPresenceSecondStartAndMenuQuit) {
    if (!onX11())
        GTEST_SKIP() << "needs an X server";
    QDir().mkpath(desktop());
    QDir().mkpath(downloads());
    // Floating over everything would hide whether arrivals bring the rope forward.
    writeDefaults(R"({"ClotheslineStrictVertical": false, "GalleryAlwaysOnTop": false})");
    DesktopWindow user;
    const QImage bare = grabScreenArea(ropeArea());

    RunningApp app;
    ASSERT_TRUE(waitUntil(ropeVisible, 30s)) << "the first pass shows the empty rope";
    ASSERT_TRUE(waitUntil([] { return trayIcon().has_value(); }, 30s)) << "the tray icon sits in trayer";
    QTest::qWait(1500);
    shoot("01-started");
    const QImage trayBefore = grabScreenArea(trayIcon()->adjusted(-2, -2, 2, 2));
    EXPECT_EQ(xdotool({"getactivewindow"}), user.id()) << "starting takes no keyboard";
    EXPECT_GT(changedShare(bare, grabScreenArea(ropeArea())), 0.001) << "the empty rope is drawn";

    // Photos saved to the Desktop hang within a second.
    const QImage empty = grabScreenArea(ropeArea());
    for (int i = 0; i < 4; ++i)
        savePhoto(desktop(), QString("photo-%1.jpg").arg(i + 1), i);
    const std::optional<qint64> arrived = waitForChange(empty, 0.02, 30000ms);
    ASSERT_TRUE(arrived.has_value()) << "the prints show";
    EXPECT_LT(*arrived, 1000);
    QTest::qWait(3500);
    shoot("02-arrivals");
    grabScreenArea(ropeArea().adjusted(-120, -10, 120, -120))
        .save(QStringLiteral(VENNIMO_SCREENSHOT_DIR) + "/readme-rope.png");
    EXPECT_EQ(xdotool({"getactivewindow"}), user.id()) << "arrivals take no keyboard";

    // The hot key closes the rope; what arrives meanwhile is only counted, on the tray's dot.
    xdotool({"key", "ctrl+alt+p"});
    ASSERT_TRUE(waitUntil([] { return !ropeVisible(); }, 30s));
    savePhoto(desktop(), "while-closed.jpg", 5);
    QTest::qWait(2500);
    EXPECT_FALSE(ropeVisible()) << "closed by the user, the rope stays closed";
    // The dot comes once the arrival is seen, which a busy machine can take longer for.
    waitUntil(
        [&] { return changedShare(trayBefore, grabScreenArea(trayIcon()->adjusted(-2, -2, 2, 2))) > 0.01; },
        30s);
    EXPECT_FALSE(ropeVisible()) << "closed by the user, the rope stays closed";
    shoot("03-closed-with-arrival");
    const QImage trayDot = grabScreenArea(trayIcon()->adjusted(-2, -2, 2, 2));
    trayDot.scaled(trayDot.size() * 6).save(shots() + "/04-tray-dot.png");
    trayBefore.scaled(trayBefore.size() * 6).save(shots() + "/04-tray-plain.png");
    EXPECT_GT(changedShare(trayBefore, trayDot), 0.01) << "the icon shows its arrival dot";

    // With Num Lock on, the same key opens it again.
    xdotool({"key", "Num_Lock"});
    xdotool({"key", "ctrl+alt+p"});
    const bool reopened = waitUntil(ropeVisible, 30s);
    xdotool({"key", "Num_Lock"});
    ASSERT_TRUE(reopened);
    QTest::qWait(800);
    shoot("05-opened-with-num-lock");
    const QString rope = xdotool({"search", "--onlyvisible", "--name", "^Vennimo$"});
    EXPECT_EQ(xdotool({"getactivewindow"}), rope) << "the user's open takes the keyboard";

    // Closing it hands the keyboard back to the window that had it.
    xdotool({"key", "ctrl+alt+p"});
    ASSERT_TRUE(waitUntil([] { return !ropeVisible(); }, 30s));
    EXPECT_TRUE(waitUntil([&] { return xdotool({"getactivewindow"}) == user.id(); }, 30s));
    ActivationRequests activations;
    xdotool({"key", "ctrl+alt+p"});
    ASSERT_TRUE(waitUntil(ropeVisible, 30s));
    // The open ends with the application asking for the keyboard for its rope, once the window has
    // shown, and the rope having it; the user turns to their window only then. The window manager
    // gives a new window the keyboard by itself as it maps it, so the rope having it is no sign
    // that the open is over: the application's own ask, which a busy machine delivers late, would
    // still raise the rope back over the user's window.
    const QString reopenedRope = xdotool({"search", "--onlyvisible", "--name", "^Vennimo$"});
    EXPECT_TRUE(waitUntil([&] { return activations.heardFor(reopenedRope.toUInt()); }, 30s))
        << "the application never asked for the keyboard";
    waitUntil([&] { return xdotool({"getactivewindow"}) == reopenedRope; }, 30s);

    // The user works in another window above the rope; a new photo brings the rope forward
    // while the keyboard stays where it was.
    xdotool({"windowactivate", "--sync", user.id()});
    user.raise();
    QImage covered;
    const auto userWindowAlone = [&] {
        return changedShare(user.drawnOver(ropeArea()), covered = grabScreenArea(ropeArea())) < 0.01;
    };
    EXPECT_TRUE(QTest::qWaitFor(userWindowAlone, 30000)) << "the user's window does not cover the rope";
    savePhoto(desktop(), "fronting.jpg", 6);
    ASSERT_TRUE(waitForChange(covered, 0.05, 30000ms).has_value()) << "the rope came forward";
    QTest::qWait(1500);
    shoot("06-fronted-without-focus");
    EXPECT_EQ(xdotool({"getactivewindow"}), user.id());

    // A right click on the icon opens the menu.
    const QImage cornerBefore = grabScreenArea(trayCorner());
    openTrayMenu(app.process.processId());
    shoot("07-tray-menu", trayCorner());
    EXPECT_GT(changedShare(cornerBefore, grabScreenArea(trayCorner())), 0.02) << "the menu is open";
    xdotool({"key", "Escape"});
    QTest::qWait(400);

    // "设置…" opens the settings frame; "检查更新…" says that no update source is set.
    const auto chooseInTrayMenu = [&app](int downs) {
        openTrayMenu(app.process.processId());
        for (int i = 0; i < downs; ++i)
            xdotool({"key", "Down"});
        xdotool({"key", "Return"});
    };
    chooseInTrayMenu(3);
    ASSERT_TRUE(waitUntil(
        [] {
            return !xdotool({"search", "--onlyvisible", "--name", "^设置$"}).isEmpty();
        },
        30s));
    QTest::qWait(500);
    shoot("07b-settings");
    xdotool({"windowactivate", "--sync", xdotool({"search", "--onlyvisible", "--name", "^设置$"})});
    xdotool({"key", "ctrl+w"});
    ASSERT_TRUE(waitUntil(
        [] {
            return xdotool({"search", "--onlyvisible", "--name", "^设置$"}).isEmpty();
        },
        30s));
    chooseInTrayMenu(4);
    const auto updateWindow = [] { return xdotool({"search", "--onlyvisible", "--name", "^软件更新$"}); };
    ASSERT_TRUE(waitUntil([&] { return !updateWindow().isEmpty(); }, 30s));
    QTest::qWait(500);
    shoot("07c-no-update-source");
    xdotool({"windowactivate", "--sync", updateWindow()});
    xdotool({"key", "Return"});
    EXPECT_TRUE(waitUntil([&] { return updateWindow().isEmpty(); }, 30s));

    // A second start only brings the first one's rope forward and ends.
    xdotool({"key", "ctrl+alt+p"});
    ASSERT_TRUE(waitUntil([] { return !ropeVisible(); }, 30s));
    QProcess second;
    second.start(QStringLiteral(VENNIMO_APP_PATH));
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(waitUntil(ropeVisible, 30s));
    QTest::qWait(800);
    shoot("08-second-start");

    // The menu's last item quits; the state files hold every print's place.
    openTrayMenu(app.process.processId());
    xdotool({"key", "Up"});
    xdotool({"key", "Return"});
    ASSERT_TRUE(app.process.waitForFinished(30000)) << "the menu's quit ends the process";
    EXPECT_EQ(app.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.process.exitCode(), 0);
    const QByteArray positions = readFile(storageFolder() + "/clothesline-positions.json");
    EXPECT_EQ(positions.count("\"row\""), 6) << positions.toStdString();
}

TEST(ApplicationShellX11, TheSourcesFileChoosesTheWatchedFoldersAndSigtermEndsCleanly) {
    if (!onX11())
        GTEST_SKIP() << "needs an X server";
    QDir().mkpath(desktop());
    QDir().mkpath(downloads());
    const QString screens = makeFolder("Pictures/Screens");
    writeDefaults(R"({"ClotheslineStrictVertical": false})");
    writeFile(storageFolder() + "/sources.json",
              QStringLiteral(R"([{"id":"A","kind":"downloads","path":"%1","enabled":false},)"
                             R"({"id":"B","path":"%2","enabled":true}])")
                  .arg(downloads(), screens)
                  .toUtf8());
    DesktopWindow user;

    RunningApp app;
    ASSERT_TRUE(waitUntil(ropeVisible, 30s));
    QTest::qWait(2500);
    const QImage empty = grabScreenArea(ropeArea());
    savePhoto(screens, "screen.jpg", 2);
    ASSERT_TRUE(waitForChange(empty, 0.02, 30000ms).has_value()) << "a photo in the listed folder hangs";
    QTest::qWait(3500);
    const QImage one = grabScreenArea(ropeArea());
    shoot("10-listed-folder");

    savePhoto(downloads(), "download.jpg", 3);
    EXPECT_FALSE(waitForChange(one, 0.02, 2500ms).has_value()) << "Downloads is switched off";
    shoot("11-downloads-off");

    app.process.terminate();
    ASSERT_TRUE(app.process.waitForFinished(30000));
    EXPECT_EQ(app.process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(app.process.exitCode(), 0);
    const QByteArray index = readFile(storageFolder() + "/index.json");
    EXPECT_TRUE(index.contains("screen.jpg"));
    EXPECT_FALSE(index.contains("download.jpg"));
    EXPECT_EQ(readFile(storageFolder() + "/clothesline-positions.json").count("\"row\""), 1);
}
