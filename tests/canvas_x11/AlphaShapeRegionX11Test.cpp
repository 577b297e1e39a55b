#include "canvas/AlphaShapeRegion.h"
#include "platform/X11Connection.h"
#include "platform/X11InputShape.h"
#include "support/ScreenGrab.h"

#include <QGuiApplication>
#include <QPainter>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <climits>
#include <cstdlib>
#include <memory>

using namespace vennimo;
using namespace vennimo::test;

namespace {

class Red : public QWidget {
protected:
    void paintEvent(QPaintEvent*) override { QPainter(this).fillRect(rect(), QColor(200, 30, 40)); }
};

} // namespace

TEST(AlphaShapeRegionX11, ACutOfMillionsOfRectanglesReachesTheServerWithoutLosingTheConnection) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    xcb_connection_t* c = X11Connection::get();
    ASSERT_NE(c, nullptr);
    // A whole-screen rope frame whose alpha alternates pixel by pixel, cut without any bound:
    // 3.58 million rectangles, a request of 28 MB, more than any X server takes.
    QImage frame(7680, 932, QImage::Format_ARGB32_Premultiplied);
    frame.fill(Qt::transparent);
    for (int y = 0; y < frame.height(); ++y) {
        auto* line = reinterpret_cast<quint32*>(frame.scanLine(y));
        for (int x = y % 2; x < frame.width(); x += 2)
            line[x] = 0xff806040u;
    }
    const QRegion fine = AlphaShapeRegion::of(frame, 0, INT_MAX);
    ASSERT_GT(fine.rectCount(), 3'000'000);

    Red window;
    window.setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    window.setGeometry(200, 200, 600, 300);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 30000));
    X11InputShape::applyBounding(window.windowHandle(), fine);
    QTest::qWait(500);
    // A round trip: a connection the server closed answers nothing.
    xcb_generic_error_t* error = nullptr;
    free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), &error));
    free(error);
    EXPECT_EQ(xcb_connection_has_error(c), 0) << "the X server closed the connection";
    // The cut is coarser but shows every drawn pixel: the window shows where the frame is opaque.
    const QImage shot = grabScreenArea(QRect(200, 200, 600, 300));
    int red = 0;
    for (const QPoint p : {QPoint(0, 0), QPoint(1, 1), QPoint(301, 151), QPoint(599, 299)})
        red += qRed(shot.pixel(p)) > 170 && qGreen(shot.pixel(p)) < 80;
    EXPECT_EQ(red, 4) << "a pixel of the cut does not show";
}

namespace {

int boundingRectangles(xcb_connection_t* c, xcb_window_t window, QRect& united) {
    std::unique_ptr<xcb_shape_get_rectangles_reply_t, decltype(&std::free)> reply{
        xcb_shape_get_rectangles_reply(c, xcb_shape_get_rectangles(c, window, XCB_SHAPE_SK_BOUNDING),
                                       nullptr),
        &std::free};
    if (!reply)
        return -1;
    const xcb_rectangle_t* rects = xcb_shape_get_rectangles_rectangles(reply.get());
    const int count = xcb_shape_get_rectangles_rectangles_length(reply.get());
    for (int i = 0; i < count; ++i)
        united |= QRect(rects[i].x, rects[i].y, rects[i].width, rects[i].height);
    return count;
}

} // namespace

// A cut that grows has what it newly shows drawn with it: the redraw runs once, with the new cut
// already in place, and the X server serves other clients again afterwards.
TEST(AlphaShapeRegionX11, AGrowingCutRunsItsRedrawOnceAfterTheShapeAndLetsOtherClientsOnAgain) {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        GTEST_SKIP() << "needs an X server";
    xcb_connection_t* c = X11Connection::get();
    ASSERT_NE(c, nullptr);
    Red window;
    window.setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint);
    window.setGeometry(200, 200, 600, 300);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 30000));
    const auto id = xcb_window_t(window.winId());
    X11InputShape::applyBounding(window.windowHandle(), QRegion(0, 0, 100, 300));

    int runs = 0;
    QRect seen;
    X11InputShape::applyBounding(window.windowHandle(), QRegion(0, 0, 600, 300), [&] {
        ++runs;
        boundingRectangles(c, id, seen);
    });
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(seen, QRect(0, 0, 600, 300)) << "the redraw ran before the cut grew";
    X11InputShape::applyBounding(window.windowHandle(), QRegion(0, 0, 300, 300));

    // Another client gets its answer only once the server is let go.
    xcb_connection_t* other = xcb_connect(nullptr, nullptr);
    ASSERT_EQ(xcb_connection_has_error(other), 0);
    QRect united;
    EXPECT_GT(boundingRectangles(other, id, united), 0);
    EXPECT_EQ(united, QRect(0, 0, 300, 300));
    xcb_disconnect(other);
    // Without a redraw the cut is set all the same.
    X11InputShape::applyBounding(window.windowHandle(), QRegion(0, 0, 200, 300));
    QRect plain;
    boundingRectangles(c, id, plain);
    EXPECT_EQ(plain, QRect(0, 0, 200, 300));
}
