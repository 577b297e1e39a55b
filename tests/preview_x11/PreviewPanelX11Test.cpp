#include "PhotoLikeImages.h"
#include "model/GalleryModel.h"
#include "preview/PhotoPreviewPresenter.h"
#include "preview/PolaroidPreviewPanel.h"
#include "preview/PolaroidPreviewPaperView.h"
#include "preview/PreviewActionButton.h"
#include "support/ScreenGrab.h"
#include "support/TestEnvironment.h"

#include <QDir>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <memory>

using namespace vennimo;
using namespace vennimo::test;

namespace {

// Something for the panel's transparent margin to show.
class Backdrop : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        QLinearGradient g(0, 0, width(), height());
        g.setColorAt(0, QColor(96, 130, 160));
        g.setColorAt(1, QColor(170, 160, 190));
        p.fillRect(rect(), g);
    }
};

QString screenshotDir() {
    const QString dir = QStringLiteral(VENNIMO_SCREENSHOT_DIR);
    QDir().mkpath(dir);
    return dir;
}

QString scaleName() {
    return QString("%1x").arg(qRound(QGuiApplication::primaryScreen()->devicePixelRatio()));
}

void xdotool(const QStringList& arguments) {
    runProgram("xdotool", arguments);
}

void saveShot(const QWidget& panel, const QString& name) {
    const QRect area = panel.frameGeometry().adjusted(-20, -20, 20, 20);
    grabScreenArea(area).save(QString("%1/%2-%3.png").arg(screenshotDir(), name, scaleName()));
}

} // namespace

TEST(PreviewPanelX11, ShowsTheRealPhotoSharpPagesWithTheArrowsAndClosesOnEscape) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    const double dpr = QGuiApplication::primaryScreen()->devicePixelRatio();

    const QString source = makeFolder("pictures");
    const QString storage = makeFolder("storage");
    GalleryModel model(std::make_unique<Indexer>(QList<SourceRoot>{{"源", source}}, storage), false);
    model.refresh(std::nullopt, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.appliedScanCount() > 0 && !model.scanInFlight(); }));
    const QList<QSize> sizes{{1600, 1200}, {1200, 1600}, {1500, 1000}};
    for (int i = 0; i < sizes.size(); ++i)
        ASSERT_TRUE(makePhotoLikeImage(sizes[i], i + 3)
                        .save(QString("%1/photo-%2.jpg").arg(source).arg(i), "JPEG", 90));
    model.refresh(std::nullopt, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.scanInFlight() && model.photos().size() == 3; }, 30000));
    const auto photo = [&](int i) {
        for (const Photo& p : model.photos())
            if (p.path.endsWith(QString("/photo-%1.jpg").arg(i)))
                return p;
        return Photo{};
    };
    ASSERT_TRUE(model.moveClotheslinePhotos({{photo(0), 0, 0.2}, {photo(1), 0, 0.5}, {photo(2), 0, 0.8}}));
    model.setSelection({photo(0), photo(1), photo(2)});

    Backdrop host;
    host.setGeometry(QGuiApplication::primaryScreen()->availableGeometry());
    host.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&host, 30000));
    PhotoPreviewPresenter presenter(model, &host);
    presenter.open(photo(1));
    ASSERT_TRUE(presenter.isOpen());
    PolaroidPreviewPanel* panel = presenter.panel();
    PolaroidPreviewPaperView* paper = presenter.paper();
    // Qt counts a tool window active while its parent has the focus; the keys below go where the X
    // server puts the focus, which must be the panel's own window.
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return QGuiApplication::focusWindow() == panel->windowHandle(); }, 30000))
        << "the panel never took the keyboard";

    // Sharp: the decode has at least the device pixels of the photo's place on the paper, which
    // takes the photo's shape once its size is read.
    QSize place;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            place = paper->previewGeometry().image.size().toSize();
            return !paper->loading() && paper->hasImage() &&
                   std::max(paper->image().width(), paper->image().height()) >=
                       std::max(place.width(), place.height()) * dpr - 1;
        },
        30000))
        << "decoded " << paper->image().width() << "x" << paper->image().height() << " for " << place.width()
        << "x" << place.height() << " points at " << dpr;
    EXPECT_EQ(paper->pageLabel()->text(), "2 / 3");
    QTest::qWait(300);
    saveShot(*panel, "panel");

    // The arrows page in rope order, through the real keyboard. A key comes through xdotool and
    // the X server, each a process of its own: on a loaded machine that alone can take seconds.
    xdotool({"key", "Right"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return presenter.current() && presenter.current()->id == photo(2).id; },
                                30000));
    EXPECT_EQ(paper->pageLabel()->text(), "3 / 3");
    xdotool({"key", "Left"});
    xdotool({"key", "Left"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return presenter.current() && presenter.current()->id == photo(0).id; },
                                30000));
    EXPECT_EQ(paper->pageLabel()->text(), "1 / 3");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !paper->loading() && paper->hasImage(); }, 30000));

    // Resting on the trash button shows its hint below it. The pointer is placed inside the
    // panel's own X window: right after a page change Qt's idea of where the window manager put
    // the panel can lag, and a place on the screen taken from it can miss the button. While the
    // button has not seen the pointer enter, it is aimed again from a pixel beside.
    const auto aimAtTrash = [&] {
        const QPoint trash = paper->trashButton()->mapTo(panel, paper->trashButton()->rect().center());
        const QString window = QString::number(panel->winId());
        const int x = qRound(trash.x() * dpr);
        const int y = qRound(trash.y() * dpr);
        xdotool({"mousemove", "--window", window, QString::number(x + 1), QString::number(y + 1)});
        xdotool({"mousemove", "--window", window, QString::number(x), QString::number(y)});
    };
    aimAtTrash();
    QElapsedTimer sinceAimed;
    sinceAimed.start();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            if (paper->hintedButton() != nullptr)
                return true;
            if (!paper->trashButton()->underMouse() && sinceAimed.elapsed() > 500) {
                aimAtTrash();
                sinceAimed.restart();
            }
            return false;
        },
        30000))
        << "the pointer at " << runProgram("xdotool", {"getmouselocation"}).toStdString()
        << " never rested on the trash button of window " << panel->winId();
    QTest::qWait(100);
    saveShot(*panel, "panel-hint");

    xdotool({"key", "Escape"});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !presenter.isOpen(); }, 30000));
    EXPECT_FALSE(presenter.selected().has_value());
    EXPECT_EQ(model.selectedIDs().size(), 3) << "the selection stays";
}
