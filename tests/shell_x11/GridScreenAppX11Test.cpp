#include "canvas_x11/ApplicationRope.h"
#include "canvas_x11/PhotoLikeImages.h"
#include "grid_x11/ApplicationGrid.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>
#include <QProcess>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QUrl>
#include <QWidget>
#include <gtest/gtest.h>

using namespace vennimo;
using namespace vennimo::test;

namespace {

// Another program's window that takes dropped files.
class DropWindow : public QWidget {
public:
    QList<QUrl> urls;
    Qt::DropAction action = Qt::IgnoreAction;
    // What the source allowed: a file manager would move the original when Move is among them.
    Qt::DropActions offered;

    DropWindow() {
        setWindowTitle("drop here");
        setAcceptDrops(true);
        setAutoFillBackground(true);
        QPalette colours = palette();
        colours.setColor(QPalette::Window, QColor(60, 90, 120));
        setPalette(colours);
    }

protected:
    void dragEnterEvent(QDragEnterEvent* event) override {
        if (event->mimeData()->hasUrls())
            event->acceptProposedAction();
    }
    void dragMoveEvent(QDragMoveEvent* event) override { event->acceptProposedAction(); }
    void dropEvent(QDropEvent* event) override {
        urls = event->mimeData()->urls();
        action = event->dropAction();
        offered = event->possibleActions();
        event->acceptProposedAction();
    }
};

int hangingCount() {
    QFile file(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
               "/VennimoGallery/clothesline-positions.json");
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return int(QJsonDocument::fromJson(file.readAll()).object().value("records").toObject().size());
}

bool moveTo(const QPoint& p, int settleMs = 150) {
    return xdotool({"mousemove", QString::number(p.x()), QString::number(p.y())}, settleMs);
}

bool click(const QPoint& p) {
    return moveTo(p) && xdotool({"click", "1"}, 400);
}

TEST(GridScreenApp, TheRopesSwitchShowsPhotographsThatASearchNarrowsADoubleClickPreviewsAndADragCopies) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const QString desktop = makeWatchedFolders();
    ASSERT_TRUE(desktop.startsWith(TestEnvironment::root()));
    const QString shots = applicationShots();

    QProcess app;
    ASSERT_TRUE(startApplication(app));
    const QStringList names = {"harbour.jpg", "lakeside.jpg", "meadow.jpg", "summit.jpg"};
    for (int i = 0; i < names.size(); ++i)
        ASSERT_TRUE(makePhotoLikeImage({1600, 1067}, 70 + i).save(desktop + "/" + names[i], "JPEG", 88));
    ASSERT_TRUE(QTest::qWaitFor([] { return hangingCount() == 4; }, 30000));
    QTest::qWait(2500);

    // A click on a print brings the rope's toolbar; its "普通窗口" button switches to the grid.
    const std::optional<QRect> grid = switchToGrid(app.processId());
    ASSERT_TRUE(grid) << "the titled grid window";
    // The thumbnails come in after the window shows; a loaded machine draws them late.
    std::optional<Cards> cards;
    EXPECT_TRUE(QTest::qWaitFor([&] { return (cards = findCards(*grid, 4)).has_value(); }, 30000));
    QTest::qWait(500);
    grabScreenArea(grid->adjusted(-20, -40, 20, 20)).save(shots + "/60-grid.png");
    ASSERT_TRUE(cards) << "cards below the header";
    for (int i = 0; i < 4; ++i)
        EXPECT_GT(spread(grabScreenArea(cards->picture(i))), 12) << "card " << i << " shows a photograph";

    // Typing in the search field narrows the cards: the field lies left of the properties,
    // rope and settings buttons at the header's right end. The switch leaves the window as the
    // rope was, not active.
    const QString id = runProgram("xdotool", {"search", "--onlyvisible", "--name", "^Vennimo$"}).trimmed();
    xdotool({"windowactivate", "--sync", id.split('\n').first()}, 300);
    const QPoint field(grid->right() - 24 - 3 * 30 - 3 * 6 - 1 - 6 - 110, cards->top - 24 - 1 - 37);
    ASSERT_TRUE(click(field));
    ASSERT_TRUE(xdotool({"type", "--delay", "60", "summit"}, 800));
    // The search narrows the cards once the machine gets to it.
    (void)QTest::qWaitFor([&] { return spread(grabScreenArea(cards->picture(1))) < 3; }, 30000);
    grabScreenArea(grid->adjusted(-20, -40, 20, 20)).save(shots + "/61-grid-search.png");
    EXPECT_GT(spread(grabScreenArea(cards->picture(0))), 12) << "the match stays";
    EXPECT_LT(spread(grabScreenArea(cards->picture(1))), 3) << "the others are gone";
    ASSERT_TRUE(xdotool({"key", "ctrl+a", "BackSpace"}, 800));
    ASSERT_TRUE(xdotool({"key", "Escape"}, 300)); // no selection left behind by a stray key
    (void)QTest::qWaitFor([&] { return spread(grabScreenArea(cards->picture(3))) > 12; }, 30000);
    EXPECT_GT(spread(grabScreenArea(cards->picture(3))), 12) << "an empty search shows every card";

    // A double click opens the preview in a window of its own above the grid.
    const qsizetype before = applicationWindows(app.processId()).size();
    ASSERT_TRUE(moveTo(cards->picture(1).center()));
    ASSERT_TRUE(xdotool({"click", "--repeat", "2", "--delay", "90", "1"}, 1200));
    EXPECT_TRUE(QTest::qWaitFor([&] { return applicationWindows(app.processId()).size() > before; }, 30000))
        << "the preview opened";
    grabScreenArea(QGuiApplication::primaryScreen()->geometry()).save(shots + "/62-grid-preview.png");
    ASSERT_TRUE(xdotool({"key", "Escape"}, 800));
    EXPECT_TRUE(QTest::qWaitFor([&] { return applicationWindows(app.processId()).size() == before; }, 30000))
        << "Escape closed it";

    // Dragging a card into another program's window delivers its file.
    DropWindow drop;
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    const QRect place = grid->right() + 360 < screen.right()
                            ? QRect(grid->right() + 40, grid->top() + 100, 300, 300)
                            : QRect(screen.left() + 20, screen.bottom() - 320, 300, 300);
    drop.setGeometry(place);
    drop.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&drop, 30000));
    QTest::qWait(300);
    const QPoint from = cards->picture(2).center();
    const QPoint to = drop.geometry().center();
    ASSERT_TRUE(moveTo(from));
    ASSERT_TRUE(xdotool({"mousedown", "1"}, 150));
    for (int step = 1; step <= 12; ++step) {
        const QPoint p = from + (to - from) * step / 12;
        ASSERT_TRUE(moveTo(p, 60));
        QCoreApplication::processEvents();
    }
    grabScreenArea(QGuiApplication::primaryScreen()->geometry()).save(shots + "/63-grid-drag.png");
    ASSERT_TRUE(xdotool({"mouseup", "1"}, 300));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !drop.urls.isEmpty(); }, 30000)) << "the drop arrived";
    ASSERT_EQ(drop.urls.size(), 1);
    const QString delivered = drop.urls.first().toLocalFile();
    EXPECT_TRUE(delivered.startsWith(desktop + "/") && names.contains(QFileInfo(delivered).fileName()))
        << delivered.toStdString();
    EXPECT_EQ(drop.action, Qt::CopyAction);
    EXPECT_EQ(drop.offered, Qt::DropActions(Qt::CopyAction)) << "a copy drag never offers a move";
    EXPECT_TRUE(QFile::exists(delivered)) << "a copy leaves the original where it was";

    app.terminate();
    app.waitForFinished(5000);
}

// With every print taken down, the tray's "普通窗口" is the way to the library: it opens the grid
// with the photos, not the empty rope.
TEST(GridScreenApp, TheTraysNormalWindowShowsTheLibraryWhenNothingHangs) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const QString desktop = makeWatchedFolders();
    const QString shots = applicationShots();
    QProcess app;
    ASSERT_TRUE(startApplication(app));
    const auto stop = stopAtEnd(app);
    const qint64 pid = app.processId();
    ASSERT_TRUE(hangDesktopPhotos(desktop, "library", 2, 84));

    // Each print comes down by the fourth item of its menu; its place on the rope is kept.
    const QList<double> xs = placementXs();
    ASSERT_EQ(xs.size(), 2);
    for (int taken = 0; taken < 2; ++taken) {
        const std::optional<QRect> rope = applicationWindow(pid);
        ASSERT_TRUE(rope);
        const QPoint print = printPoint(*rope, xs[taken]);
        const qsizetype shown = applicationWindows(pid).size();
        ASSERT_TRUE(moveTo(print) && xdotool({"click", "3"}, 400));
        ASSERT_TRUE(QTest::qWaitFor([&] { return applicationWindows(pid).size() > shown; }, 30000))
            << "the print's menu";
        ASSERT_TRUE(xdotool({"key", "Down", "Down", "Down", "Down", "Return"}, 800));
        ASSERT_TRUE(QTest::qWaitFor([&] { return takenDownCount() == taken + 1; }, 30000));
        QTest::qWait(1500);
    }
    grabScreenArea(ropeArea()).save(shots + "/64-nothing-hangs.png");

    // The menu holds the toggle, the undo of the take-down, then "普通窗口".
    ASSERT_TRUE(showTrayMenu(pid));
    ASSERT_TRUE(xdotool({"key", "Down", "Down", "Down", "Return"}, 300));
    std::optional<QRect> grid;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            grid = applicationWindow(pid);
            return grid && grid->height() >= 520 && grid->width() >= 900;
        },
        30000))
        << "the titled grid window";
    QTest::qWait(800);
    grabScreenArea(QGuiApplication::primaryScreen()->geometry()).save(shots + "/65-grid-from-tray.png");
    ASSERT_TRUE(grid && grid->height() >= 520) << "the rope came instead";
    std::optional<Cards> cards;
    EXPECT_TRUE(QTest::qWaitFor([&] { return (cards = findCards(*grid, 2)).has_value(); }, 30000));
    ASSERT_TRUE(cards) << "cards below the header";
    (void)QTest::qWaitFor([&] { return spread(grabScreenArea(cards->picture(1))) > 12; }, 30000);
    grabScreenArea(grid->adjusted(-20, -40, 20, 20)).save(shots + "/66-grid-from-tray-cards.png");
    for (int i = 0; i < 2; ++i)
        EXPECT_GT(spread(grabScreenArea(cards->picture(i))), 12) << "card " << i << " shows a photograph";

    app.terminate();
    app.waitForFinished(5000);
}

} // namespace
