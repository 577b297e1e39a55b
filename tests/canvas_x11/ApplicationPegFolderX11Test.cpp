#include "ApplicationRope.h"
#include "PhotoLikeImages.h"
#include "WindowTrail.h"
#include "platform/X11WindowStack.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <utility>

using namespace vennimo;
using namespace vennimo::test;

namespace {

// Thunar's window, where the test puts it: below the rope, away from its prints.
const QRect kFileManager(460, 600, 1000, 440);

QString fileManagerWindow(QProcess& thunar) {
    QProcess search;
    search.start("xdotool",
                 {"search", "--sync", "--onlyvisible", "--pid", QString::number(thunar.processId())});
    // Thunar's first window can take long on a busy machine; --sync waits for it.
    if (!search.waitForFinished(60000)) {
        search.kill();
        search.waitForFinished();
    }
    return QString::fromUtf8(search.readAllStandardOutput())
        .split('\n', Qt::SkipEmptyParts)
        .value(0)
        .trimmed();
}

QStringList entries(const QString& folder) {
    return QDir(folder).entryList(QDir::Files | QDir::NoDotAndDotDot, QDir::Name);
}

// Where the X server says the rope window's top-left corner lies (the window manager's own idea
// can lag behind a move the application made).
std::optional<QRect> ropeOnScreen(qint64 pid) {
    const std::optional<QRect> frame = applicationWindow(pid);
    const QString id = widestWindowId(pid);
    if (!frame || id.isEmpty())
        return frame;
    return QRect(clientAreaOf(id).topLeft(), frame->size());
}

// Red of the count badge at a point of a grab.
bool badgeRed(QRgb pixel) {
    return qRed(pixel) > 170 && qGreen(pixel) < 90 && qBlue(pixel) < 110;
}

// Pixels of a grab of the whole screen in `area` (screen coordinates) that pass `test`, leaving
// out `except`.
int countPixels(const QImage& shot, const QRect& screen, const QRect& area, const QRect& except,
                const std::function<bool(QRgb)>& test) {
    int count = 0;
    const QRect within = area.intersected(screen);
    for (int y = within.top(); y <= within.bottom(); ++y)
        for (int x = within.left(); x <= within.right(); ++x)
            if (!except.contains(x, y) && test(shot.pixel(x - screen.x(), y - screen.y())))
                ++count;
    return count;
}

} // namespace

// The application, Thunar showing an empty folder "Album" below the rope, and three prints hanging.
class ApplicationPegFolderX11 : public testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X server";
        if (QStandardPaths::findExecutable("thunar").isEmpty())
            GTEST_SKIP() << "needs Thunar (scripts/install-deps installs it)";
        desktop = makeWatchedFolders();
        ASSERT_TRUE(desktop.startsWith(TestEnvironment::root()));
        album = TestEnvironment::root() + "/Album";
        ASSERT_TRUE(QDir().mkpath(album));
        shots = applicationShots();
        screen = QGuiApplication::primaryScreen()->availableGeometry();

        ASSERT_TRUE(backdrop.cover());

        thunar.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        thunar.start("thunar", {shownFolder()});
        ASSERT_TRUE(thunar.waitForStarted());
        thunarWindow = fileManagerWindow(thunar);
        ASSERT_FALSE(thunarWindow.isEmpty()) << "Thunar showed no window";
        xdotool({"windowsize", thunarWindow, QString::number(kFileManager.width()),
                 QString::number(kFileManager.height())});
        xdotool({"windowmove", thunarWindow, QString::number(kFileManager.x()),
                 QString::number(kFileManager.y())},
                500);
        // The drops aim at the folder view: it has to be where the test put it.
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                const QRect area = clientAreaOf(thunarWindow);
                return area.contains(into) && std::abs(area.width() - kFileManager.width()) <= 2;
            },
            30000))
            << "Thunar's window did not come where it was put";

        if (keepsLog()) {
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("QT_LOGGING_RULES", "com.tavrun.vennimo-gallery.rope-diagnostic.info=true");
            app.setProcessEnvironment(environment);
        }
        ASSERT_TRUE(startApplication(app, keepsLog()));
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(makePhotoLikeImage({1600, 1200}, 40 + i)
                            .save(QString("%1/folder-%2.jpg").arg(desktop).arg(i + 1), "JPEG", 88));
        ASSERT_TRUE(QTest::qWaitFor([] { return placements().size() == 3; }, 30000));
        QTest::qWait(2500);
        window = ropeOnScreen(app.processId());
        ASSERT_TRUE(window);
        before = placements();
        keys = before.keys();
        std::sort(keys.begin(), keys.end(),
                  [&](const QString& a, const QString& b) { return before[a] < before[b]; });
        originals = entries(desktop);
        ASSERT_EQ(originals.size(), 3);
    }
    // The folder Thunar shows, and whether the application's diagnostics are kept for the test.
    virtual QString shownFolder() const { return album; }
    virtual bool keepsLog() const { return false; }
    // What the application wrote so far, once it has been quiet for a moment.
    QString log() {
        do
            m_log += QString::fromUtf8(app.readAllStandardError());
        while (app.waitForReadyRead(100));
        return m_log;
    }
    // Runs a let-go-and-take-again gesture whose new press must come while the print still flies
    // back, and returns with the button still down once the application has taken the print up
    // again. The pause between the let-go and the press is far shorter than the flight, but on a
    // busy machine xdotool may wake from it only after the flight is over: it runs with a
    // real-time priority where the machine grants one. The button must not come up before the
    // application took the print up: a drag it starts only after that is over before it began.
    bool takeUpAgainInFlight(const QStringList& gesture) {
        const qsizetype loggedBefore = log().size();
        if (QProcess::execute("chrt", {"-f", "50", "true"}) == 0)
            QProcess::execute("chrt", QStringList{"-f", "50", "xdotool"} + gesture);
        else
            xdotool(gesture, 0);
        QTest::qWait(100);
        // A flight that ended first was not caught: no need to wait on for what cannot come.
        bool caught = false;
        (void)QTest::qWaitFor(
            [&] {
                const QString soFar = log();
                const qsizetype interrupt = soFar.indexOf("OpaqueInterrupt", loggedBefore);
                // The end of the flight the let-go started, not of one before it.
                const qsizetype letGo = soFar.indexOf("DragEnd", loggedBefore);
                const qsizetype end = letGo < 0 ? -1 : soFar.indexOf("OpaqueEnd", letGo);
                caught = interrupt >= 0 && soFar.indexOf("LocalPegBegin", interrupt) >= 0;
                return caught || (end >= 0 && (interrupt < 0 || end < interrupt));
            },
            30000);
        return caught;
    }
    // The saved places once they hold still: an undo or a flight back is saved a moment after it
    // ends, and a gesture aimed at a place not yet saved presses beside the print.
    static QMap<QString, double> settledPlacements() {
        QMap<QString, double> last;
        int still = 0;
        (void)QTest::qWaitFor(
            [&] {
                QTest::qWait(500);
                const QMap<QString, double> now = placements();
                still = now == std::exchange(last, now) ? still + 1 : 0;
                return still >= 3;
            },
            30000);
        return last;
    }
    void TearDown() override {
        app.terminate();
        app.waitForFinished(5000);
        thunar.terminate();
        thunar.waitForFinished(5000);
    }

    const QPoint into = kFileManager.center() + QPoint(0, 40);
    QString desktop, album, shots, thunarWindow;
    QRect screen;
    Backdrop backdrop{Backdrop::Tone::Plain};
    QProcess thunar, app;
    std::optional<QRect> window;
    QMap<QString, double> before;
    QStringList keys, originals;

private:
    QString m_log;
};

TEST_F(ApplicationPegFolderX11,
       ThreePegsShowTheirCountAndOnePegMovesItsOriginalIntoTheFolderOnceUntilControlZ) {
    // Three selected prints carried together over the file manager show the count 3; Escape
    // ends the drag and nothing moves.
    const std::optional<QRect> rope = window;
    for (const QString& key : keys) {
        // On the paper, below the peg: a click selects, and once one is selected, adds.
        const QPoint paper = pegPoint(*rope, before[key], before.values()) + QPoint(0, 140);
        xdotool({"mousemove", QString::number(paper.x()), QString::number(paper.y())}, 300);
        xdotool({"mousedown", "1"}, 150);
        xdotool({"mouseup", "1"}, 500);
    }
    xdotool({"windowraise", thunarWindow}, 300);
    QTest::qWait(500);
    grabScreenArea(ropeArea()).save(shots + "/50-three-selected.png");
    const QPoint leader = pegPoint(*rope, before[keys[1]], before.values());
    bool badgeSeen = false;
    pegGesture(
        leader, into,
        [&] {
            // The badge sits beside the pointer, below and to the right, once the application has
            // caught up with the pointer: a busy machine draws it late.
            (void)QTest::qWaitFor(
                [&] {
                    const QImage shot = grabScreenArea(screen);
                    shot.save(shots + "/51-badge-three.png");
                    for (int dy = 0; dy < 30 && !badgeSeen; ++dy)
                        for (int dx = 0; dx < 40 && !badgeSeen; ++dx)
                            badgeSeen = badgeRed(
                                shot.pixel(into.x() - screen.x() + 6 + dx, into.y() - screen.y() + dy));
                    return badgeSeen;
                },
                30000);
        },
        [] {
            xdotool({"key", "Escape"}, 300);
            xdotool({"mouseup", "1"}, 600);
        });
    EXPECT_TRUE(badgeSeen) << "no count badge beside the pointer";
    QTest::qWait(1500);
    EXPECT_TRUE(entries(album).isEmpty()) << "a cancelled drag moves nothing";
    EXPECT_EQ(entries(desktop).size(), 3);

    // A click on a selected print takes it out of the selection: the first one stays alone.
    for (const QString& key : {keys[1], keys[2]}) {
        const QPoint paper = pegPoint(*rope, before[key], before.values()) + QPoint(0, 140);
        xdotool({"mousemove", QString::number(paper.x()), QString::number(paper.y())}, 300);
        xdotool({"mousedown", "1"}, 150);
        xdotool({"mouseup", "1"}, 500);
    }

    // One print carried by its peg onto the folder Thunar shows: its original moves there, once.
    const QPoint from = pegPoint(*window, before[keys[0]], before.values());
    pegGesture(from, into, [&] { grabScreenArea(screen).save(shots + "/52-peg-over-file-manager.png"); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return entries(album).size() == 1; }, 30000))
        << "nothing arrived in the folder; the Desktop holds " << entries(desktop).join(", ").toStdString();
    QTest::qWait(1500);
    EXPECT_EQ(entries(album).size(), 1) << "moved once";
    EXPECT_EQ(entries(desktop).size(), 2);
    const QString moved = entries(album).value(0);
    EXPECT_TRUE(originals.contains(moved)) << "the original keeps its name";
    grabScreenArea(screen).save(shots + "/53-peg-moved-into-folder.png");

    // Control-Z in the rope window brings it back.
    ASSERT_TRUE(undoInRopeWindow(app.processId()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return entries(desktop).size() == 3; }, 30000))
        << "Control-Z did not bring it back";
    EXPECT_TRUE(entries(album).isEmpty());
    EXPECT_TRUE(QFile::exists(desktop + "/" + moved));
    QTest::qWait(2500);
    grabScreenArea(screen).save(shots + "/54-peg-move-undone.png");
}

TEST_F(ApplicationPegFolderX11, APegLetGoBesideTheFileManagerComesDownThroughACatcherUntilControlZ) {
    // Carried over the file manager and let go over another program's window beside it: a catcher
    // takes the peg and the print comes down; Control-Z hangs it again.
    const QPoint elsewhere(260, 760);
    pegGesture(pegPoint(*window, before[keys[2]], before.values()), into, {}, [&] {
        for (int i = 1; i <= 8; ++i) {
            const QPoint p = into + (elsewhere - into) * i / 8;
            xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())}, 90);
        }
        QTest::qWait(300);
        grabScreenArea(screen).save(shots + "/55-peg-over-catcher.png");
        xdotool({"mouseup", "1"}, 600);
    });
    ASSERT_TRUE(QTest::qWaitFor([] { return takenDownCount() == 1; }, 30000))
        << "the catcher took nothing down";
    EXPECT_TRUE(entries(album).isEmpty());
    EXPECT_EQ(entries(desktop).size(), 3) << "a take-down moves no file";
    ASSERT_TRUE(undoInRopeWindow(app.processId()));
    EXPECT_TRUE(QTest::qWaitFor([] { return takenDownCount() == 0; }, 30000))
        << "Control-Z did not hang it again";
}

// Thunar shows the Trash's own files folder (its trash: view needs gvfs, which this desktop
// lacks), and the application writes its rope diagnostics for the test.
class ApplicationPegTrashX11 : public ApplicationPegFolderX11 {
protected:
    QString shownFolder() const override {
        const QString files =
            QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + "/Trash/files";
        QDir().mkpath(files);
        return files;
    }
    bool keepsLog() const override { return true; }
    static void moveSteps(QPoint from, QPoint to) {
        for (int i = 1; i <= 10; ++i) {
            const QPoint p = from + (to - from) * i / 10;
            xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())}, 60);
        }
    }
};

TEST_F(ApplicationPegTrashX11,
       ACutOffDragEndsAsEscapeAPegComesBackAndIsPickedUpInFlightAndTheTrashAsksFirst) {
    const QString trashFiles = shownFolder();
    // Hidden by the hot key while a peg is carried: shown again, a click only selects.
    const QPoint first = pegPoint(*window, before[keys[0]], before.values());
    xdotool({"mousemove", QString::number(first.x()), QString::number(first.y())}, 300);
    xdotool({"mousedown", "1"}, 200);
    moveSteps(first, first + QPoint(0, 120));
    QTest::qWait(300);
    grabScreenArea(ropeArea().adjusted(0, 0, 0, 160)).save(shots + "/60-carried-before-hiding.png");
    xdotool({"key", "ctrl+alt+p"}, 300);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !applicationWindow(app.processId()); }, 30000)) << "not hidden";
    xdotool({"mouseup", "1"}, 300);
    xdotool({"key", "ctrl+alt+p"}, 300);
    ASSERT_TRUE(QTest::qWaitFor([&] { return applicationWindow(app.processId()).has_value(); }, 30000));
    QTest::qWait(1500);
    grabScreenArea(ropeArea()).save(shots + "/61-shown-again.png");
    const QPoint paper = pegPoint(*window, before[keys[2]], before.values()) + QPoint(0, 140);
    xdotool({"mousemove", QString::number(paper.x()), QString::number(paper.y())}, 300);
    xdotool({"mousedown", "1"}, 150);
    xdotool({"mouseup", "1"}, 800);
    grabScreenArea(ropeArea()).save(shots + "/62-click-after-showing.png");
    EXPECT_EQ(takenDownCount(), 0) << "the cut-off drag took nothing down";
    EXPECT_EQ(placements(), before) << "and moved nothing";
    EXPECT_TRUE(log().contains("DragEnd operation=0 cancelled=true")) << log().toStdString();
    // The selection brought the toolbar, and the canvas moved down under it.
    window = ropeOnScreen(app.processId());
    ASSERT_TRUE(window);

    // Carried over the file manager (the system drag) and back onto the rope: it hangs there.
    const double span = std::max(window->width() - 2 * kSideInset - 2 * kRopeInset - 290.0, 1.0);
    const double moved = before[keys[1]] - 120 / span;
    const QPoint middle = pegPoint(*window, before[keys[1]], before.values());
    const QPoint back = pegPoint(*window, moved, {before[keys[0]], before[keys[2]]});
    xdotool({"mousemove", QString::number(middle.x()), QString::number(middle.y())}, 300);
    xdotool({"mousedown", "1"}, 200);
    moveSteps(middle, into);
    QTest::qWait(400);
    grabScreenArea(screen).save(shots + "/63-peg-over-trash-folder.png");
    moveSteps(into, back);
    QTest::qWait(300);
    xdotool({"mouseup", "1"}, 1500);
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::abs(placements()[keys[1]] - moved) < 6 / span; }, 30000))
        << "the peg was not taken back where it was let go: " << placements()[keys[1]] << " for " << moved;

    EXPECT_TRUE(log().contains("PegNativeHandoff")) << "the carry went over the file manager";
    QTest::qWait(1500);
    grabScreenArea(ropeArea()).save(shots + "/64-taken-back.png");

    // Slid once more along the rope and, while its panel still flies back, picked up again.
    const QList<double> others{before[keys[0]], before[keys[2]]};
    const double target = moved + 120 / span;
    const QStringList gesture = letGoAndTakeAgain(back, pegPoint(*window, moved + 60 / span, others),
                                                  pegPoint(*window, target, others), "0.05");
    // A landing gone wrong is told by what the application logged from the gesture's start on.
    const qsizetype gestureLog = log().size();
    (void)takeUpAgainInFlight(gesture);
    QTest::qWait(300);
    grabScreenArea(ropeArea()).save(shots + "/65-picked-up-while-flying-back.png");
    xdotool({"mouseup", "1"}, 600);
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::abs(placements()[keys[1]] - target) < 6 / span; }, 30000))
        << "the pick-up did not land: " << placements()[keys[1]] << " for " << target << "\n"
        << log().mid(std::max<qsizetype>(gestureLog - 1000, 0)).toStdString();
    EXPECT_TRUE(log().contains("OpaqueInterrupt")) << "the pick-up caught the flight";
    EXPECT_TRUE(log().contains("OpaqueBegin count=1 reused=1 ")) << "and took its panel over";
    QTest::qWait(1200);
    grabScreenArea(ropeArea()).save(shots + "/66-landed-after-pick-up.png");

    // A peg let go on the Trash's folder: the user is asked first, and the original goes to the
    // Trash with its record, never as a plain file moved in.
    const QStringList ids = visibleWindowIds(app.processId());
    const int windowsBefore = int(applicationWindows(app.processId()).size());
    const QPoint last = pegPoint(*window, before[keys[0]], placements().values());
    // The button comes up over the folder once the application has handed the peg to the system's
    // drag: on a busy machine it runs behind the gesture, and a release it reads before it saw the
    // pointer leave the rope lets the print go on the rope's side.
    const qsizetype loggedBefore = log().size();
    pegGesture(last, into, [&] {
        (void)QTest::qWaitFor([&] { return log().indexOf("PegNativeHandoff", loggedBefore) >= 0; }, 30000);
        grabScreenArea(screen).save(shots + "/67-peg-over-trash.png");
    });
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return int(applicationWindows(app.processId()).size()) > windowsBefore; }, 30000))
        << "no confirmation came: " << log().toStdString();
    QTest::qWait(600);
    grabScreenArea(screen).save(shots + "/68-trash-confirmation.png");
    EXPECT_TRUE(entries(trashFiles).isEmpty()) << "nothing moves in before the user confirms";
    // The confirmation's default is Cancel: "移到废纸篓" is the button left of it, at the bottom.
    QStringList dialogs = visibleWindowIds(app.processId());
    for (const QString& id : ids)
        dialogs.removeAll(id);
    ASSERT_EQ(dialogs.size(), 1);
    const QRect dialog = clientAreaOf(dialogs.first());
    const QPoint confirm(dialog.left() + dialog.width() * 52 / 100, dialog.bottom() - 24);
    xdotool({"mousemove", QString::number(confirm.x()), QString::number(confirm.y())}, 300);
    xdotool({"click", "1"}, 600);
    // The Desktop has not been granted for trashing yet: the folder is chosen once.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return int(applicationWindows(app.processId()).size()) > windowsBefore; }, 30000));
    QTest::qWait(800);
    grabScreenArea(screen).save(shots + "/69-grant-the-folder.png");
    xdotool({"type", desktop}, 300);
    xdotool({"key", "Return"}, 800);
    ASSERT_TRUE(QTest::qWaitFor([&] { return entries(trashFiles).size() == 1; }, 30000))
        << "nothing reached the Trash: " << log().toStdString();
    const QString trashed = entries(trashFiles).value(0);
    EXPECT_TRUE(originals.contains(trashed));
    EXPECT_TRUE(QFile::exists(QFileInfo(trashFiles).path() + "/info/" + trashed + ".trashinfo"))
        << "trashed with its record, so it can be restored";
    EXPECT_EQ(entries(desktop).size(), 2);
    QTest::qWait(1500);
    grabScreenArea(screen).save(shots + "/70-trashed.png");
}

// The same desktop without a compositing manager (x11-session leaves it out for this suite's
// name): windows are not blended, so the drag panels and the count are cut to their pictures.
class ApplicationPegFolderWithoutCompositorX11 : public ApplicationPegFolderX11 {
protected:
    bool keepsLog() const override { return true; }
};

TEST_F(ApplicationPegFolderWithoutCompositorX11,
       TwoPegsShowTheirPanelsAndCountEscapeFliesThemBackAndADropMovesTheOriginalsUntilControlZ) {
    ASSERT_FALSE(X11WindowStack::compositorRunning()) << "the session has a compositing manager";
    const std::optional<QRect> rope = window;
    for (const QString& key : {keys[0], keys[1]}) {
        const QPoint paper = pegPoint(*rope, before[key], before.values()) + QPoint(0, 140);
        xdotool({"mousemove", QString::number(paper.x()), QString::number(paper.y())}, 300);
        xdotool({"mousedown", "1"}, 150);
        xdotool({"mouseup", "1"}, 500);
    }
    xdotool({"windowraise", thunarWindow}, 300);
    QTest::qWait(500);
    // Thunar's own view is white; a picture box of the system drag would be white beside it.
    const QRect fileManager = kFileManager.adjusted(-12, -40, 12, 12);
    const auto white = [](QRgb pixel) { return (pixel & 0xffffff) == 0xffffff; };
    const auto paper = [](QRgb pixel) {
        return std::abs(qRed(pixel) - 250) <= 6 && std::abs(qGreen(pixel) - 248) <= 6 &&
               std::abs(qBlue(pixel) - 245) <= 6;
    };
    const int whiteBefore = countPixels(grabScreenArea(screen), screen, screen, fileManager, white);

    // Carried by the peg of the second print to just inside Thunar's left edge: the drag panels
    // show both prints, the badge counts 2, and nothing white comes with them.
    const QPoint edge(kFileManager.left() + 70, kFileManager.center().y() + 40);
    const QPoint leader = pegPoint(*rope, before[keys[1]], before.values());
    int badge = 0;
    int whiteCarried = 0;
    int paperNearPointer = 0;
    pegGesture(
        leader, edge,
        [&] {
            // A busy machine draws the badge beside the pointer's last place some time after the
            // pointer came there: what the drag shows is judged once it has caught up.
            QImage shot;
            (void)QTest::qWaitFor(
                [&] {
                    shot = grabScreenArea(screen);
                    badge =
                        countPixels(shot, screen, QRect(edge + QPoint(6, 0), QSize(40, 30)), {}, badgeRed);
                    return badge >= 40;
                },
                30000);
            shot.save(shots + "/80-no-compositor-two-panels-and-count.png");
            whiteCarried = countPixels(shot, screen, screen, fileManager, white);
            paperNearPointer =
                countPixels(shot, screen, QRect(edge - QPoint(400, 40), QSize(800, 420)), fileManager, paper);
        },
        [] {
            xdotool({"key", "Escape"}, 300);
            xdotool({"mouseup", "1"}, 200);
        });
    const QString carried = log();
    EXPECT_TRUE(carried.contains("OpaqueSwapIn count=2")) << carried.toStdString();
    EXPECT_TRUE(carried.contains("PegBadgeVisibility visible=true count=2")) << carried.toStdString();
    EXPECT_GE(badge, 40) << "no count badge beside the pointer";
    EXPECT_GE(paperNearPointer, 2000) << "no print's paper beside Thunar: its panel did not show";
    EXPECT_LT(whiteCarried - whiteBefore, 400)
        << "the drag carries a white box: " << whiteBefore << " white pixels before, " << whiteCarried;

    // Escape: the panels fly back and give the prints to the rope; nothing moved.
    QTest::qWait(150);
    grabScreenArea(screen).save(shots + "/81-no-compositor-flying-back.png");
    QTest::qWait(1500);
    EXPECT_TRUE(log().contains("OpaqueFinish mode=stable")) << "the panels never flew back";
    EXPECT_TRUE(log().contains("OpaqueSwapOut count=2"));
    grabScreenArea(screen).save(shots + "/82-no-compositor-back-on-the-rope.png");
    EXPECT_TRUE(entries(album).isEmpty()) << "a cancelled drag moves nothing";
    EXPECT_EQ(entries(desktop).size(), 3);
    EXPECT_EQ(placements(), before);

    // Let go on the folder Thunar shows: both originals move there, once.
    pegGesture(leader, into,
               [&] { grabScreenArea(screen).save(shots + "/83-no-compositor-over-folder.png"); });
    ASSERT_TRUE(QTest::qWaitFor([&] { return entries(album).size() == 2; }, 10000))
        << "the folder holds " << entries(album).join(", ").toStdString() << "; " << log().toStdString();
    QTest::qWait(1500);
    EXPECT_EQ(entries(album).size(), 2) << "moved once";
    EXPECT_EQ(entries(desktop).size(), 1);
    grabScreenArea(screen).save(shots + "/84-no-compositor-moved-into-folder.png");

    // Control-Z in the rope window brings them back.
    ASSERT_TRUE(undoInRopeWindow(app.processId()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return entries(desktop).size() == 3; }, 10000))
        << "Control-Z did not bring them back";
    EXPECT_TRUE(entries(album).isEmpty());
    QTest::qWait(2000);
    grabScreenArea(screen).save(shots + "/85-no-compositor-move-undone.png");

    // The third print slid along the rope and, while its panel still flies back, picked up again:
    // the new drag takes the flying panel over. A machine too busy to press again before the flight
    // ended gets the gesture again from where the print came to rest; one so busy that the rope's
    // cut had not yet come to the flying print loses the second press to the desktop below, and
    // gets it again too. Each try goes toward the rope's wider side, so tries never run out of rope.
    double target = 0, span = 1;
    for (int attempt = 1; attempt <= 5; ++attempt) {
        window = ropeOnScreen(app.processId());
        ASSERT_TRUE(window);
        const QMap<QString, double> now = settledPlacements();
        span = std::max(window->width() - 2 * kSideInset - 2 * kRopeInset - 290.0, 1.0);
        const QList<double> others{now[keys[0]], now[keys[1]]};
        const double x = now[keys[2]];
        const double way = x > 0.5 ? -1 : 1;
        target = x + way * 120 / span;
        const QPoint from = pegPoint(*window, x, now.values());
        const bool caught = takeUpAgainInFlight(letGoAndTakeAgain(
            from, pegPoint(*window, x + way * 60 / span, others), pegPoint(*window, target, others), "0.05"));
        if (caught || attempt == 5)
            break;
        xdotool({"mouseup", "1"}, 600);
    }
    grabScreenArea(ropeArea()).save(shots + "/86-no-compositor-picked-up-in-flight.png");
    xdotool({"mouseup", "1"}, 600);
    ASSERT_TRUE(QTest::qWaitFor([&] { return std::abs(placements()[keys[2]] - target) < 6 / span; }, 30000))
        << "the pick-up did not land: " << placements()[keys[2]] << " for " << target << "\n"
        << log().right(3000).toStdString();
    const QString flight = log();
    EXPECT_TRUE(flight.contains("OpaqueInterrupt")) << "the pick-up caught the flight";
    EXPECT_TRUE(flight.contains("OpaqueBegin count=1 reused=1 ")) << "and took its panel over";
}

// Over the file manager the drag becomes the system's, whose picture Qt shows in a window of its
// own and fills white: the panels carry the prints, so Qt's picture is a single clear pixel, and
// its window is cut to nothing for as long as it shows, else a white dot rides under the pointer.
TEST_F(ApplicationPegFolderWithoutCompositorX11, QtsOwnDragPictureOfAPegShowsNothing) {
    ASSERT_FALSE(X11WindowStack::compositorRunning()) << "the session has a compositing manager";
    xdotool({"windowraise", thunarWindow}, 300);
    WindowTrail trail(app.processId());
    ASSERT_TRUE(trail.connected());
    const QPoint from = pegPoint(*window, before[keys[0]], before.values());
    int looks = 0;
    QStringList shown;
    pegGesture(
        from, into,
        [&] {
            // Qt makes its window anew as the pointer goes: every one seen is looked at.
            for (int i = 0; i < 10; ++i, QTest::qWait(100)) {
                trail.poll();
                for (const WindowTrail::Window& w : trail.windows()) {
                    if (w.gone || w.places.last().size() != QSize(1, 1))
                        continue;
                    ++looks;
                    const std::optional<QRegion> shape = trail.boundingShape(w.id);
                    if (!shape || !shape->isEmpty())
                        shown.append(QString::number(w.id, 16));
                }
            }
        },
        [] {
            xdotool({"key", "Escape"}, 300);
            xdotool({"mouseup", "1"}, 200);
        });
    EXPECT_TRUE(log().contains("PegNativeHandoff")) << "the drag never became the system's";
    EXPECT_GT(looks, 0) << "Qt's drag picture never showed";
    shown.removeDuplicates();
    EXPECT_TRUE(shown.isEmpty()) << "Qt's drag picture showed uncut in window "
                                 << shown.join(", ").toStdString();
}
