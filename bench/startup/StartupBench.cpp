// Start-up of the real application with a library already indexed: the time from exec to the rope
// window on screen with its prints drawn, and the resident memory once it settled; then a burst
// of new photos: the time until all of them hang, and the memory at its peak and afterwards.
// Targets: under 300 ms to the first frame with prints, under 150 MB resident, a burst of 200
// hung within 10 s. Prints the same start-up figures for a trivial Qt Widgets window.
//
// Needs an X server with a window manager and a compositor, as the x11 tests run:
//   xvfb-run -a -s "-screen 0 1920x1080x24" dbus-run-session -- bash -c
//     'openbox & xcompmgr & sleep 1; build/bench/startup/bench_startup [PHOTOS] [HANGING] [BURST] [ROUNDS]'
// Defaults: 1000 photos in the library, of which 20 hang, a burst of 200, 5 rounds.
// VENNIMO_BENCH_HOME=/some/folder keeps the home (and its library) for the next run.
// VENNIMO_BENCH_APP=/path/to/vennimo-gallery measures that build of the application instead.
#include "BenchSupport.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <optional>

using vennimo::bench::hangingRows;

namespace {

constexpr int kPhotoWidth = 1600;
constexpr int kPhotoHeight = 1200;
constexpr double kDrawnShare = 0.03;
constexpr int kSettleMs = 3000;
constexpr int kLimitMs = 20'000;

// Keeps the event loop turning, so grabs see what the X server shows now.
void waitMs(int ms) {
    const QDeadlineTimer deadline(ms);
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        if (ms > 5)
            QThread::msleep(1);
    } while (!deadline.hasExpired());
}

QRect ropeArea() {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    return QRect(screen.x() + (screen.width() - 980) / 2, screen.y() + 40, 980, 466);
}

QImage grab() {
    const QRect area = ropeArea();
    return QGuiApplication::primaryScreen()
        ->grabWindow(0, area.x(), area.y(), area.width(), area.height())
        .toImage();
}

double changedShare(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull())
        return 1;
    qint64 changed = 0;
    for (int y = 0; y < a.height(); y += 4)
        for (int x = 0; x < a.width(); x += 4)
            if (std::abs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y))) > 24)
                ++changed;
    return double(changed) / (double((a.width() + 3) / 4) * ((a.height() + 3) / 4));
}

// Kilobytes of a /proc/PID/status field.
qint64 statusKb(qint64 pid, const char* field) {
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : file.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(std::strlen(field))).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

void writePhotos(const QString& folder, const QString& prefix, int count, int seed) {
    QDir().mkpath(folder);
    for (int i = 0; i < count; ++i)
        vennimo::bench::writeCameraJpeg(QStringLiteral("%1/%2-%3.jpg").arg(folder, prefix).arg(i),
                                        kPhotoWidth, kPhotoHeight, seed + i);
}

void stop(QProcess& process) {
    process.terminate();
    if (!process.waitForFinished(10'000)) {
        process.kill();
        process.waitForFinished();
    }
}

// One start: milliseconds from exec to the first grab that shows the window's content.
std::optional<double> timeToFirstFrame(QProcess& process, const QString& program, const QImage& bare) {
    QElapsedTimer timer;
    timer.start();
    process.start(program);
    if (!process.waitForStarted())
        return std::nullopt;
    while (timer.elapsed() < kLimitMs) {
        if (changedShare(bare, grab()) > kDrawnShare)
            return double(timer.nsecsElapsed()) / 1e6;
        waitMs(2);
    }
    return std::nullopt;
}

struct StartFigures {
    double firstFrameMs = 0;
    double residentMb = 0;
};

std::optional<StartFigures> measureStarts(const QString& program, int rounds) {
    QList<double> frames;
    QList<double> resident;
    for (int round = 0; round < rounds; ++round) {
        waitMs(500);
        const QImage bare = grab();
        QProcess process;
        const std::optional<double> frame = timeToFirstFrame(process, program, bare);
        if (!frame) {
            stop(process);
            return std::nullopt;
        }
        frames.append(*frame);
        waitMs(kSettleMs);
        resident.append(double(statusKb(process.processId(), "VmRSS:")) / 1024);
        stop(process);
    }
    return StartFigures{median(frames), median(resident)};
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int photos = std::max(1, args.value(1, QStringLiteral("1000")).toInt());
    const int hanging = std::clamp(args.value(2, QStringLiteral("20")).toInt(), 1, photos);
    const int burst = std::max(0, args.value(3, QStringLiteral("200")).toInt());
    const int rounds = std::max(1, args.value(4, QStringLiteral("5")).toInt());

    // Its own home: the application's folders, defaults and library live there. A folder named
    // in VENNIMO_BENCH_HOME is kept instead, and a library made there by an earlier run is used
    // as it is (a burst leaves its photos in it).
    QTemporaryDir temporary;
    const QString homePath = qEnvironmentVariable("VENNIMO_BENCH_HOME", temporary.path());
    vennimo::bench::useOwnHome(homePath);
    const QString desktop = homePath + QStringLiteral("/Desktop");
    const QString storage = homePath + QStringLiteral("/.local/share/VennimoGallery");
    // VENNIMO_BENCH_APP names another build of the application, to compare two in one run.
    const QString program = qEnvironmentVariable("VENNIMO_BENCH_APP", QStringLiteral(VENNIMO_APP_PATH));

    // The library: what the first scan finds is already seen; what arrives after it hangs.
    if (hangingRows(storage) < hanging) {
        std::printf("preparing %d photos (%d hanging)...\n", photos, hanging);
        writePhotos(desktop, QStringLiteral("library"), photos - hanging, 1);
        QProcess first;
        first.start(program);
        first.waitForStarted();
        waitMs(kSettleMs);
        writePhotos(desktop, QStringLiteral("hanging"), hanging, 100'000);
        QElapsedTimer waited;
        waited.start();
        while (hangingRows(storage) < hanging && waited.elapsed() < 120'000)
            waitMs(200);
        // Thumbnails of the whole library are made in the background: let them finish.
        waitMs(10'000);
        stop(first);
    }
    if (hangingRows(storage) < hanging) {
        std::printf("the library did not get ready\n");
        return 1;
    }

    const std::optional<StartFigures> floor = measureStarts(QStringLiteral(VENNIMO_FLOOR_PATH), rounds);
    const std::optional<StartFigures> gallery = measureStarts(program, rounds);
    if (!floor || !gallery) {
        std::printf("a window never showed\n");
        return 1;
    }
    std::printf("first frame with prints: %.0f ms median (target 300 ms); trivial Qt window: %.0f ms\n",
                gallery->firstFrameMs, floor->firstFrameMs);
    std::printf("resident after settling: %.0f MB median (target 150 MB); trivial Qt window: %.0f MB\n",
                gallery->residentMb, floor->residentMb);

    if (burst > 0) {
        QProcess running;
        running.start(program);
        running.waitForStarted();
        waitMs(kSettleMs);
        const int before = hangingRows(storage);
        QTemporaryDir staging;
        writePhotos(staging.path(), QStringLiteral("burst"), burst, 200'000);
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < burst; ++i) {
            const QString name = QStringLiteral("/burst-%1.jpg").arg(i);
            QFile::rename(staging.path() + name, desktop + name);
        }
        qint64 peakKb = 0;
        while (hangingRows(storage) < before + burst && timer.elapsed() < 60'000) {
            peakKb = std::max(peakKb, statusKb(running.processId(), "VmRSS:"));
            waitMs(50);
        }
        const double hungSeconds = double(timer.elapsed()) / 1000;
        const int hung = hangingRows(storage) - before;
        for (int i = 0; i < 50; ++i) {
            peakKb = std::max(peakKb, statusKb(running.processId(), "VmRSS:"));
            waitMs(100);
        }
        std::printf("burst of %d: %d hung after %.1f s (target 10 s); resident peak %.0f MB, settled %.0f MB "
                    "(target 150 MB)\n",
                    burst, hung, hungSeconds, double(peakKb) / 1024,
                    double(statusKb(running.processId(), "VmRSS:")) / 1024);
        stop(running);
    }
    return 0;
}
