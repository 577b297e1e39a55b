#include "WindowCut.h"
#include "canvas_x11/ApplicationRope.h"
#include "platform/X11Connection.h"
#include "platform/X11WindowStack.h"
#include "shell/GalleryWindow.h"
#include "support/ScreenGrab.h"

#include <QElapsedTimer>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QTest>
#include <gtest/gtest.h>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <thread>

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

// A rope window on the plain desktop, without a compositing manager, drawing one print.
class RopeFrameWithoutCompositorX11 : public ::testing::Test {
protected:
    void SetUp() override {
        if (QGuiApplication::platformName() != QLatin1String("xcb"))
            GTEST_SKIP() << "needs an X server";
        ASSERT_FALSE(X11WindowStack::compositorRunning()) << "the session has a compositing manager";
        ASSERT_TRUE(paintRootPlain());
        canvas = new MovingPrint;
        window.setContentWidget(canvas);
        window.setClotheslineStyle(true);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        window.setFrame(QRectF(screen.center().x() - 400, screen.center().y() - 259, 800, 518));
        window.showWithoutActivating();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 30000));
        c = X11Connection::get();
        ASSERT_NE(c, nullptr);
    }

    // Where the X server has the window now, whatever Qt heard of it yet: a window manager slow to
    // frame it may still move it.
    QRect placed() const {
        QRect area;
        xcb_translate_coordinates_reply_t* at = xcb_translate_coordinates_reply(
            c, xcb_translate_coordinates(c, xcb_window_t(window.winId()), X11Connection::root(c), 0, 0),
            nullptr);
        if (at)
            area = QRect(at->dst_x, at->dst_y, window.width(), window.height());
        free(at);
        return area;
    }

    GalleryWindow window;
    MovingPrint* canvas = nullptr;
    xcb_connection_t* c = nullptr;
};

// A window maps whole: until its first frame is drawn and cut the X server shows all of it black,
// for as long as the first frame takes on a loaded machine. The rope window is cut to nothing as
// it maps and shows nothing but its drawing from then on. Its process does not turn meanwhile
// here, as it may not on a loaded machine.
TEST(RopeWindowWithoutCompositorX11, AWindowAboutToMapShowsNothingUntilItsFirstFrameIsCut) {
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

    xcb_connection_t* c = X11Connection::get();
    ASSERT_NE(c, nullptr);
    const auto id = xcb_window_t(window.winId());
    const std::unique_ptr<xcb_shape_query_extents_reply_t, decltype(&std::free)> extents{
        xcb_shape_query_extents_reply(c, xcb_shape_query_extents(c, id), nullptr), &std::free};
    ASSERT_TRUE(extents);
    EXPECT_TRUE(extents->bounding_shaped && extents->bounding_shape_extents_width == 0 &&
                extents->bounding_shape_extents_height == 0)
        << "the window maps whole before its first frame";

    // Mapped, the window manager answering on its own, with nothing drawn yet.
    QElapsedTimer waited;
    waited.start();
    bool viewable = false;
    while (!viewable && waited.elapsed() < 20000) {
        const std::unique_ptr<xcb_get_window_attributes_reply_t, decltype(&std::free)> attributes{
            xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, id), nullptr), &std::free};
        viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
        if (!viewable)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(viewable) << "the window never mapped";
    // Where the X server has the window now: a window manager slow to frame it may still move it.
    const auto placed = [&] {
        QRect area;
        const std::unique_ptr<xcb_translate_coordinates_reply_t, decltype(&std::free)> at{
            xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, id, X11Connection::root(c), 0, 0),
                                            nullptr),
            &std::free};
        if (at)
            area = QRect(at->dst_x, at->dst_y, window.width(), window.height());
        return area;
    };
    const QImage before = grabScreenArea(placed());
    before.save(QString("%1/rope-window-before-its-first-frame.png").arg(screenshotFolder("shell")));
    EXPECT_EQ(count(before, nearBlack), 0) << "the window showed black before its first frame";

    // The first frame shows the print, cut to it.
    const QRect hung = canvas->print.translated(canvas->mapTo(&window, QPoint()));
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window, 30000));
    QImage shown;
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            shown = grabScreenArea(placed());
            return count(shown, paper) >= hung.width() * hung.height() * 98 / 100;
        },
        20000))
        << "the print never showed";
    shown.save(QString("%1/rope-window-first-frame.png").arg(screenshotFolder("shell")));
    EXPECT_EQ(count(shown, nearBlack), 0);
}

// A print that rises leaves clear pixels where it hung. The frame that clears them goes to the X
// server the moment it is painted: a cut set only after it shows them black, for as long as the
// rope's next turn takes on a busy machine. The cut must give them up before the frame shows.
TEST_F(RopeFrameWithoutCompositorX11, WhatAFrameClearsIsCutAwayBeforeTheFrameShows) {
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

namespace {

// Grabs an area of the screen over a connection of its own, as fast as the X server answers,
// from a thread of its own: the X server serves it between any two requests of the window's
// program that are not sent together, so a state that lasts from one of them to the next is seen.
class ScreenWatch {
public:
    explicit ScreenWatch(QRect area)
        : m_area(area)
        , m_thread([this] { run(); }) {}
    ~ScreenWatch() { stop(); }

    // The most near-black pixels one grab saw.
    int stop() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        return m_darkest;
    }
    int grabs() const { return m_grabs; }

private:
    void run() {
        xcb_connection_t* c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(c) != 0) {
            xcb_disconnect(c);
            return;
        }
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        while (!m_stop) {
            xcb_get_image_reply_t* image = xcb_get_image_reply(
                c,
                xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, root, int16_t(m_area.x()), int16_t(m_area.y()),
                              uint16_t(m_area.width()), uint16_t(m_area.height()), ~0u),
                nullptr);
            if (image == nullptr)
                break;
            ++m_grabs;
            // Four bytes a pixel at depth 24, blue first.
            const auto* bytes = xcb_get_image_data(image);
            const int length = xcb_get_image_data_length(image);
            int black = 0;
            for (int i = 0; i + 3 < length; i += 4)
                black += bytes[i] < 16 && bytes[i + 1] < 16 && bytes[i + 2] < 16 ? 1 : 0;
            m_darkest = std::max(m_darkest, black);
            std::free(image);
        }
        xcb_disconnect(c);
    }

    QRect m_area;
    std::atomic<bool> m_stop{false};
    int m_darkest = 0;
    int m_grabs = 0;
    std::thread m_thread;
};

} // namespace

// A window manager that frames the window shows its frame wherever the frame's cut holds more than
// the window's: black, in a frame made for a window with an alpha channel. What a frame of the rope
// gives up is cut from the window and its frame together, never from the window alone first.
TEST_F(RopeFrameWithoutCompositorX11, WhatACutGivesUpNeverShowsTheWindowManagersFrameMeanwhile) {
    const int whole = canvas->print.width() * canvas->print.height() * 98 / 100;
    QRect area;
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            area = placed();
            return count(grabScreenArea(area), paper) >= whole;
        },
        20000))
        << "the print never showed cut";
    ASSERT_TRUE(QTest::qWaitFor([&] { return count(grabScreenArea(area), nearBlack) == 0; }, 10000));

    // The print falls and rises in steps, each step's frame painted at once: what the print leaves
    // behind is cut away before the frame goes out.
    ScreenWatch watch(area);
    for (int step = 0; step < 24; ++step) {
        canvas->print.translate(0, step % 2 == 0 ? 60 : -60);
        window.repaint();
        QTest::qWait(40);
    }
    const int darkest = watch.stop();
    std::printf(
        "[ figure ] frame's black seen while the cut followed 24 steps: %d pixels at most, in %d grabs\n",
        darkest, watch.grabs());
    EXPECT_GT(watch.grabs(), 24) << "the watch saw too little to tell";
    EXPECT_EQ(darkest, 0) << "the window manager's frame showed where the window was cut away";
}
