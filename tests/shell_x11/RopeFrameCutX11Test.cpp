#include "WindowCut.h"
#include "canvas_x11/ApplicationRope.h"
#include "platform/X11Connection.h"
#include "platform/X11WindowStack.h"
#include "shell/GalleryWindow.h"
#include "support/ScreenGrab.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include <cstdlib>

using namespace vennimo;
using namespace vennimo::test;

namespace {

// A stand-in canvas that draws one opaque print where it is told, on nothing.
class MovingPrint : public QWidget {
public:
    QRect print{100, 200, 300, 150};

    MovingPrint() { setAttribute(Qt::WA_TranslucentBackground); }

protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(print, QColor(250, 248, 240)); }
};

int count(const QImage& shot, bool (*test)(QRgb)) {
    int n = 0;
    for (int y = 0; y < shot.height(); ++y)
        for (int x = 0; x < shot.width(); ++x)
            n += test(shot.pixel(x, y)) ? 1 : 0;
    return n;
}

bool nearBlack(QRgb p) {
    return qRed(p) < 16 && qGreen(p) < 16 && qBlue(p) < 16;
}

bool paper(QRgb p) {
    return qRed(p) > 240 && qGreen(p) > 240 && qBlue(p) > 230;
}

} // namespace

// A print that rises leaves clear pixels where it hung. The frame that clears them goes to the X
// server the moment it is painted: a cut set only after it shows them black, for as long as the
// rope's next turn takes on a busy machine. The cut must give them up before the frame shows.
TEST(RopeFrameWithoutCompositorX11, WhatAFrameClearsIsCutAwayBeforeTheFrameShows) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    ASSERT_FALSE(X11WindowStack::compositorRunning()) << "the session has a compositing manager";
    ASSERT_TRUE(paintRootPlain());

    GalleryWindow window;
    auto* canvas = new MovingPrint;
    window.setContentWidget(canvas);
    window.setClotheslineStyle(true);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    window.setFrame(QRectF(screen.center().x() - 400, screen.center().y() - 259, 800, 518));
    window.showWithoutActivating();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 30000));
    // Where the X server has the window, whatever Qt heard of it yet.
    xcb_connection_t* c = X11Connection::get();
    ASSERT_NE(c, nullptr);
    const auto id = xcb_window_t(window.winId());
    // Where the X server has the window now: a window manager slow to frame it may still move it.
    const auto placed = [&] {
        QRect area;
        xcb_translate_coordinates_reply_t* at = xcb_translate_coordinates_reply(
            c, xcb_translate_coordinates(c, id, X11Connection::root(c), 0, 0), nullptr);
        if (at)
            area = QRect(at->dst_x, at->dst_y, window.width(), window.height());
        free(at);
        return area;
    };
    const QRect hung = canvas->print.translated(canvas->mapTo(&window, QPoint()));
    int papers = 0;
    QRect area;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            area = placed();
            const QImage shot = grabScreenArea(area);
            papers = count(shot, paper);
            return papers >= hung.width() * hung.height() * 98 / 100 &&
                   count(shot, backdropBlue) >= shot.width() * shot.height() * 8 / 10;
        },
        20000))
        << "the print never showed cut: " << papers << " pixels of paper at " << area.x() << "," << area.y();

    for (int step = 0; step < 3; ++step) {
        // Up by a third of its height, painted and flushed at once; the grab comes before this
        // process turns again, as another client's may on a loaded machine.
        canvas->print.translate(0, -50);
        window.repaint();
        free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
        const QImage shot = grabScreenArea(placed());
        shot.save(QString("%1/rope-frame-cut-%2.png").arg(screenshotFolder("shell")).arg(step));
        EXPECT_EQ(count(shot, nearBlack), 0)
            << "step " << step + 1 << ": the frame showed black under the last cut";
        // What the print rose into shows once the cut has taken it in.
        const int wanted = canvas->print.width() * canvas->print.height() * 98 / 100;
        EXPECT_TRUE(QTest::qWaitFor([&] { return count(grabScreenArea(placed()), paper) >= wanted; }, 10000))
            << "step " << step + 1 << ": the risen print does not show whole";
    }
}
