#include "ApplicationRope.h"
#include "PhotoLikeImages.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <algorithm>

using namespace vennimo;
using namespace vennimo::test;

namespace {

// Thunar's window, where the test puts it: below the rope, away from its prints.
const QRect kFileManager(460, 600, 1000, 440);

QString fileManagerWindow(QProcess& thunar) {
    QProcess search;
    search.start("xdotool",
                 {"search", "--sync", "--onlyvisible", "--pid", QString::number(thunar.processId())});
    search.waitForFinished(15000);
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
        thunar.start("thunar", {album});
        ASSERT_TRUE(thunar.waitForStarted());
        thunarWindow = fileManagerWindow(thunar);
        ASSERT_FALSE(thunarWindow.isEmpty()) << "Thunar showed no window";
        xdotool({"windowsize", thunarWindow, QString::number(kFileManager.width()),
                 QString::number(kFileManager.height())});
        xdotool({"windowmove", thunarWindow, QString::number(kFileManager.x()),
                 QString::number(kFileManager.y())},
                500);

        ASSERT_TRUE(startApplication(app));
        for (int i = 0; i < 3; ++i)
            ASSERT_TRUE(makePhotoLikeImage({1600, 1200}, 40 + i)
                            .save(QString("%1/folder-%2.jpg").arg(desktop).arg(i + 1), "JPEG", 88));
        ASSERT_TRUE(QTest::qWaitFor([] { return placements().size() == 3; }, 10000));
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
            const QImage shot = grabScreenArea(screen);
            shot.save(shots + "/51-badge-three.png");
            // The badge sits beside the pointer, below and to the right.
            for (int dy = 0; dy < 30 && !badgeSeen; ++dy)
                for (int dx = 0; dx < 40 && !badgeSeen; ++dx)
                    badgeSeen =
                        badgeRed(shot.pixel(into.x() - screen.x() + 6 + dx, into.y() - screen.y() + dy));
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
    ASSERT_TRUE(QTest::qWaitFor([&] { return entries(album).size() == 1; }, 10000))
        << "nothing arrived in the folder; the Desktop holds " << entries(desktop).join(", ").toStdString();
    QTest::qWait(1500);
    EXPECT_EQ(entries(album).size(), 1) << "moved once";
    EXPECT_EQ(entries(desktop).size(), 2);
    const QString moved = entries(album).value(0);
    EXPECT_TRUE(originals.contains(moved)) << "the original keeps its name";
    grabScreenArea(screen).save(shots + "/53-peg-moved-into-folder.png");

    // Control-Z in the rope window brings it back.
    const QString id = widestWindowId(app.processId());
    ASSERT_FALSE(id.isEmpty());
    xdotool({"windowactivate", "--sync", id}, 200);
    xdotool({"key", "--clearmodifiers", "ctrl+z"}, 300);
    ASSERT_TRUE(QTest::qWaitFor([&] { return entries(desktop).size() == 3; }, 10000))
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
    ASSERT_TRUE(QTest::qWaitFor([] { return takenDownCount() == 1; }, 10000))
        << "the catcher took nothing down";
    EXPECT_TRUE(entries(album).isEmpty());
    EXPECT_EQ(entries(desktop).size(), 3) << "a take-down moves no file";
    const QString id = widestWindowId(app.processId());
    ASSERT_FALSE(id.isEmpty());
    xdotool({"windowactivate", "--sync", id}, 200);
    xdotool({"key", "--clearmodifiers", "ctrl+z"}, 300);
    EXPECT_TRUE(QTest::qWaitFor([] { return takenDownCount() == 0; }, 10000))
        << "Control-Z did not hang it again";
}
