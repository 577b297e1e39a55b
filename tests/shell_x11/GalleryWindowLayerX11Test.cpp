#include "canvas_x11/ApplicationSession.h"
#include "platform/UserDefaults.h"
#include "shell/GalleryWindowLayer.h"
#include "shell/ModalWindowPresenter.h"
#include "shell/UpdateWindowPresenter.h"
#include "support/ScreenGrab.h"
#include "support/WaitUntil.h"

#include <QDialog>
#include <QGuiApplication>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;

namespace {

using namespace std::chrono_literals;

// The X window as it is now: Qt makes a new one when a shown window's level changes, and the
// widget's own id can still name the old one.
QString idOf(const QWidget& window) {
    return window.windowHandle() ? QString::number(window.windowHandle()->winId()) : QString();
}

// The window manager's stacking order, bottom first, as decimal X ids.
QStringList stacking() {
    const QString line = runProgram("xprop", {"-root", "_NET_CLIENT_LIST_STACKING"}).trimmed();
    QStringList ids;
    for (const QString& word : line.section('#', 1).split(',', Qt::SkipEmptyParts))
        ids.append(QString::number(word.trimmed().toULongLong(nullptr, 16)));
    return ids;
}

// Whether the windows stack in this order, lowest first, with nothing of them left out.
bool stackedInOrder(const QList<const QWidget*>& lowestFirst) {
    const QStringList order = stacking();
    qsizetype below = -1;
    for (const QWidget* window : lowestFirst) {
        const qsizetype at = order.indexOf(idOf(*window));
        if (at <= below)
            return false;
        below = at;
    }
    return true;
}

std::string namedStacking(const QList<const QWidget*>& windows) {
    QStringList names;
    for (const QString& id : stacking())
        for (const QWidget* window : windows)
            if (idOf(*window) == id)
                names.append(window->windowTitle());
    return names.join(" < ").toStdString();
}

QString activeWindow() {
    return runProgram("xdotool", {"getactivewindow"}).trimmed();
}

bool shownAt(QWidget& window, const QString& title, const QRect& geometry) {
    window.setWindowTitle(title);
    window.setGeometry(geometry);
    window.show();
    return QTest::qWaitForWindowExposed(&window);
}

// The rope window (floating) and the settings window (auxiliary, floating higher) of the
// application, while floating is on; each test shows them side by side, so that none covers another.
class GalleryWindowLayerX11 : public testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X server";
        UserDefaults::standard().setBool(UserDefaults::kGalleryAlwaysOnTopKey, true);
        GalleryWindowLayer::registerWindow(&rope, false);
        GalleryWindowLayer::registerWindow(&settings, true);
    }

    ModalWindowPresenter presenter;
    QWidget rope;
    QWidget settings;
};

} // namespace

TEST_F(GalleryWindowLayerX11, WindowsOfHigherLevelsGoBackOverOneRaisedOrClicked) {
    ASSERT_TRUE(shownAt(rope, "rope", {60, 80, 500, 300}));
    ASSERT_TRUE(shownAt(settings, "settings", {640, 80, 500, 300}));
    // An updater window lifted while a check runs. (A dialog stands on a window of ours, and the
    // window manager keeps it over that window by itself.)
    QWidget updater;
    GalleryWindowLayer::applyLevel(&updater, UpdateWindowPresenter::kUpdaterLevel, true);
    ASSERT_TRUE(shownAt(updater, "updater", {1220, 80, 400, 200}));
    const QList<const QWidget*> levelOrder{&rope, &settings, &updater};
    ASSERT_TRUE(waitUntil([&] { return stackedInOrder(levelOrder); }, 5s)) << namedStacking(levelOrder);

    // Raised one by one the other way round (as a pager would), the rope ends on top; raising it
    // through the layer puts the higher levels back over it, lowest first, even in a quiet moment,
    // when no event from the X server wakes Qt to send what it queued.
    for (QWidget* window : {&updater, &settings, &rope})
        runProgram("xdotool", {"windowraise", idOf(*window)});
    ASSERT_TRUE(waitUntil(
        [&] {
            return stackedInOrder({&updater, &settings, &rope});
        },
        5s))
        << namedStacking(levelOrder);
    QTest::qWait(500);
    GalleryWindowLayer::raise(&rope);
    EXPECT_TRUE(waitUntil([&] { return stackedInOrder(levelOrder); }, 5s))
        << "after a raise: " << namedStacking(levelOrder);

    // A click on the rope makes the window manager raise it over everything; the windows of higher
    // levels come back over it.
    const QRect ropeArea = clientAreaOf(idOf(rope));
    ASSERT_FALSE(ropeArea.isEmpty());
    const QPoint inside = ropeArea.topLeft() + QPoint(40, 40);
    runProgram("xdotool", {"mousemove", QString::number(inside.x()), QString::number(inside.y())});
    runProgram("xdotool", {"click", "1"});
    ASSERT_TRUE(waitUntil([&] { return activeWindow() == idOf(rope); }, 5s)) << "the click took the rope";
    QTest::qWait(300);
    EXPECT_TRUE(waitUntil([&] { return stackedInOrder(levelOrder); }, 5s))
        << "after a click on the rope: " << namedStacking(levelOrder);
}

// A question of ours takes the keyboard even from another program, though the window manager
// gives none to a window that belongs to one without it.
TEST_F(GalleryWindowLayerX11, AShownDialogTakesTheKeyboardFromAnotherProgram) {
    ASSERT_TRUE(shownAt(rope, "rope", {60, 80, 500, 300}));
    QProcess other;
    other.start("xmessage", {"-title", "another-program", "-geometry", "+700+500", "typing here"});
    ASSERT_TRUE(other.waitForStarted());
    const auto stop = qScopeGuard([&other] {
        other.kill();
        other.waitForFinished();
    });
    QString otherId;
    ASSERT_TRUE(waitUntil([&] { return !(otherId = windowNamed("^another-program$")).isEmpty(); }, 10s));
    runProgram("xdotool", {"windowactivate", "--sync", otherId});
    ASSERT_TRUE(waitUntil([&] { return activeWindow() == otherId; }, 5s))
        << "the other program has the keyboard";
    runProgram("xdotool", {"key", "a"});

    QDialog question;
    ASSERT_TRUE(shownAt(question, "question", {640, 80, 400, 200}));
    EXPECT_TRUE(waitUntil([&] { return activeWindow() == idOf(question); }, 5s))
        << "active: " << activeWindow().toStdString() << ", the other program: " << otherId.toStdString();
    EXPECT_TRUE(waitUntil([&] { return question.isActiveWindow(); }, 3s));
}
