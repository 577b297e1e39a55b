// The rope window's frame without a compositing manager: painting, the cut to what it draws and
// the frame sent to the X server, while 200 prints sway on a rope that sags and rises (so the cut
// both gives up and takes in pixels every frame). A timing program: prints the main thread's CPU
// time per frame (the rope animates at display rate: one frame must stay far below 16 ms).
//
// Needs an X server with a window manager and no compositing manager:
//   xvfb-run -a -s "-screen 0 1920x1080x24" dbus-run-session -- bash -c
//     'openbox & sleep 1; build-release/bench/ropecut/bench_ropecut [FRAMES]'
#include "BenchSupport.h"
#include "platform/X11Connection.h"
#include "shell/GalleryWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QTemporaryDir>
#include <QWindow>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <numbers>
#include <vector>

using namespace vennimo;

namespace {

constexpr int kPrints = 200;
constexpr QSize kWindowSize{980, 466};
constexpr QSizeF kPrintSize{145, 146};
constexpr double kRopeTop = 60;
constexpr double kSagPixels = 120;
constexpr double kSwayPixels = 30;

// Prints on a rope whose sag and sway change with the phase, like a rope settling under them.
class SwayingRope : public QWidget {
public:
    double phase = 0;

    SwayingRope() { setAttribute(Qt::WA_TranslucentBackground); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const double sag = kSagPixels * (0.6 + 0.4 * std::sin(phase));
        const auto ropeY = [&](double x) {
            const double t = x / width();
            return kRopeTop + 4 * sag * t * (1 - t);
        };
        QPainterPath rope;
        rope.moveTo(0, ropeY(0));
        for (int x = 8; x <= width(); x += 8)
            rope.lineTo(x, ropeY(x));
        p.setPen(QPen(QColor(150, 120, 80), 2));
        p.drawPath(rope);
        for (int i = 0; i < kPrints; ++i) {
            const double x = 40 + (width() - 80) * double(i) / (kPrints - 1);
            const double sway = kSwayPixels * std::sin(phase * 1.7 + i * 0.3);
            const QRectF paper(x + sway - kPrintSize.width() / 2, ropeY(x) + 10, kPrintSize.width(),
                               kPrintSize.height());
            p.save();
            p.translate(paper.center());
            p.rotate(sway / 6);
            p.translate(-paper.center());
            p.fillRect(paper, QColor(246, 244, 238));
            p.fillRect(paper.adjusted(8, 8, -8, -30), QColor::fromHsv((i * 37) % 360, 120, 170));
            p.restore();
        }
    }
};

double percentile(std::vector<double> values, double share) {
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, std::size_t(share * double(values.size())))];
}

// Whether the X server cuts the window to a shape of its own: the frames measured are cut ones.
bool cut(const QWidget& window) {
    xcb_connection_t* c = X11Connection::get();
    xcb_shape_query_extents_reply_t* extents =
        xcb_shape_query_extents_reply(c, xcb_shape_query_extents(c, xcb_window_t(window.winId())), nullptr);
    const bool shaped = extents && extents->bounding_shaped;
    std::free(extents);
    return shaped;
}

QByteArray load() {
    QFile file("/proc/loadavg");
    return file.open(QIODevice::ReadOnly) ? file.readAll().trimmed() : QByteArray("?");
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        qputenv(name, home.path().toUtf8() + "/" + name);
    QApplication app(argc, argv);
    const int frames = argc > 1 ? std::max(10, QByteArray(argv[1]).toInt()) : 300;
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        std::fprintf(stderr, "bench_ropecut: needs an X server\n");
        return 1;
    }

    GalleryWindow window;
    auto* rope = new SwayingRope;
    window.setContentWidget(rope);
    window.setClotheslineStyle(true);
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    window.setFrame(QRectF(QPointF(screen.center().x() - kWindowSize.width() / 2.0, screen.top() + 100),
                           QSizeF(kWindowSize)));
    window.showWithoutActivating();
    QElapsedTimer wait;
    wait.start();
    while (!(window.windowHandle() && window.windowHandle()->isExposed()) && wait.elapsed() < 30000)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    if (!window.windowHandle()->isExposed()) {
        std::fprintf(stderr, "bench_ropecut: the window never showed\n");
        return 1;
    }
    // The window manager frames it and the first cut is made.
    wait.restart();
    while (wait.elapsed() < 500)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);

    std::vector<double> cpu;
    std::vector<double> wall;
    QElapsedTimer clock;
    for (int i = 0; i < frames; ++i) {
        rope->phase += 2 * std::numbers::pi / 60;
        const double start = bench::threadCpuSeconds();
        clock.start();
        // The frame as a display-link tick draws it, then the turn that follows it (the cut's
        // queued pass), until nothing is left to do.
        window.repaint();
        QCoreApplication::processEvents();
        cpu.push_back((bench::threadCpuSeconds() - start) * 1000);
        wall.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    if (!cut(window)) {
        std::fprintf(stderr, "bench_ropecut: the window is not cut (is a compositing manager running?)\n");
        return 1;
    }
    std::printf("rope window %dx%d with %d swaying prints, no compositing manager, %d frames: main thread "
                "CPU per frame median %.2f ms, p95 %.2f ms; wall median %.2f ms, p95 %.2f ms; load %s\n",
                kWindowSize.width(), kWindowSize.height(), kPrints, frames, percentile(cpu, 0.5),
                percentile(cpu, 0.95), percentile(wall, 0.5), percentile(wall, 0.95), load().constData());
    return 0;
}
