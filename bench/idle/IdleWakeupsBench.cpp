// How often an idle rope wakes the application's main thread: the rope hangs with a few prints,
// nothing moves, and the pointer rests first away from the rope, then over a transparent part of
// its window. Counts the main thread's context switches (each sleep after a wake-up is one) over
// 10 seconds from /proc. Target: under 0.5 wake-ups a second.
//
// Needs an X server with a window manager and a compositor, as the x11 tests run:
//   xvfb-run -a -s "-screen 0 1920x1080x24" dbus-run-session -- bash -c
//     'openbox & xcompmgr & sleep 1; build/bench/idle/bench_idle_wakeups [SECONDS]'
// VENNIMO_BENCH_APP=/path/to/vennimo-gallery measures that build of the application instead.
#include "BenchSupport.h"

#include <QApplication>
#include <QCursor>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>
#include <optional>

using vennimo::bench::hangingRows;
using vennimo::bench::waitMs;

namespace {

constexpr int kPhotos = 3;
constexpr int kLimitMs = 30'000;
constexpr int kSettleMs = 4000;

// Voluntary and involuntary context switches of one thread of a process.
std::optional<qint64> switchesOf(qint64 pid, qint64 tid) {
    QFile file(QStringLiteral("/proc/%1/task/%2/status").arg(pid).arg(tid));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    qint64 total = 0;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith("voluntary_ctxt_switches:") || line.startsWith("nonvoluntary_ctxt_switches:"))
            total += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
    return total;
}

// Wake-ups a second of the main thread (its id is the process id) over `seconds`.
std::optional<double> wakeupsPerSecond(qint64 pid, int seconds) {
    const std::optional<qint64> before = switchesOf(pid, pid);
    waitMs(seconds * 1000);
    const std::optional<qint64> after = switchesOf(pid, pid);
    if (!before || !after)
        return std::nullopt;
    return double(*after - *before) / seconds;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const int seconds = std::max(1, app.arguments().value(1, QStringLiteral("10")).toInt());

    QTemporaryDir home;
    vennimo::bench::useOwnHome(home.path());
    const QString desktop = home.path() + QStringLiteral("/Desktop");
    const QString storage = home.path() + QStringLiteral("/.local/share/VennimoGallery");
    QDir().mkpath(desktop);
    const QString program = qEnvironmentVariable("VENNIMO_BENCH_APP", QStringLiteral(VENNIMO_APP_PATH));

    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCursor::setPos(screen.bottomLeft() + QPoint(20, -20));
    QProcess gallery;
    gallery.setProcessChannelMode(QProcess::ForwardedChannels);
    gallery.start(program);
    if (!gallery.waitForStarted()) {
        std::printf("the application did not start\n");
        return 1;
    }
    waitMs(kSettleMs);
    for (int i = 0; i < kPhotos; ++i)
        vennimo::bench::writeCameraJpeg(QStringLiteral("%1/idle-%2.jpg").arg(desktop).arg(i), 1600, 1200, i);
    const QDeadlineTimer hung(kLimitMs);
    while (hangingRows(storage) < kPhotos && !hung.hasExpired())
        waitMs(100);
    if (hangingRows(storage) < kPhotos) {
        std::printf("the photos did not hang\n");
        gallery.kill();
        return 1;
    }
    // The swing of the new prints and the thumbnails' work end before the count starts.
    waitMs(kSettleMs);

    const std::optional<double> away = wakeupsPerSecond(gallery.processId(), seconds);
    // The bottom of the rope window, below the prints: transparent, so clicks pass through.
    const QRect rope(screen.x() + (screen.width() - 980) / 2, screen.y() + 40, 980, 466);
    QCursor::setPos(rope.left() + 40, rope.bottom() - 20);
    waitMs(1000);
    const std::optional<double> overStrip = wakeupsPerSecond(gallery.processId(), seconds);
    gallery.terminate();
    gallery.waitForFinished(10'000);
    if (!away || !overStrip) {
        std::printf("could not read the main thread's switches\n");
        return 1;
    }
    std::printf("idle rope, pointer away: %.1f main-thread wake-ups/s over %d s (target under 0.5)\n", *away,
                seconds);
    std::printf("idle rope, pointer over its transparent strip: %.1f wake-ups/s (target under 0.5)\n",
                *overStrip);
    return 0;
}
