// How long the application takes to end after a session that paged its preview through large
// photos (5640 x 3172), against a session that only started: the time from the signal (SIGTERM,
// as a logout sends; SIGINT, which takes the user's quit path) to the end of the process, and when
// its windows were gone. Sessions that copied the last photo they showed (Control-C in the
// preview) end right after the copy, as they are, or after another program took the clipboard.
// Then sessions that quit while the prints and thumbnails of six 6000 x 4000 camera JPEGs, just
// copied onto the Desktop, are being drawn (the process used 0.3 s of CPU on them): the time to
// the end and the CPU the process used after the signal.
// Target: every session ends about as fast as a fresh one; one drawing photos within 300 ms and
// with under 200 ms of CPU after the signal on a quiet machine.
//
// Needs an X server with a window manager and a compositor, as the x11 tests run:
//   xvfb-run -a -s "-screen 0 1920x1080x24" dbus-run-session -- bash -c
//     'openbox & xcompmgr & sleep 1; build-release/bench/quit/bench_quit [PHOTOS] [PAGES] [ROUNDS] [CASES]'
// Defaults: 8 photos on the rope, 24 page turns a session, 3 rounds. A fourth argument, a
// comma-separated list of sessions, arrivals, drawing and copied (default: all), picks the cases.
// Then sessions that end while the prints and thumbnails of files just copied onto the Desktop are
// drawn: two JPEGs of 20,000 empty scans (SIGTERM 6 s after they came), and six 6000 x 4000 HEICs
// (SIGTERM 1.5 s after), each in a fresh home; besides the time, the CPU the process spent after
// the signal. Target: under 300 ms on a quiet machine, under 200 ms of CPU.
// Last, sessions with one 6000 x 4000 camera photo on the rope that end right after the photo was
// copied (a click and Control-C), the signal as soon as the copy is on the clipboard, its picture
// being decoded for a paste: the same figures, to the same target.
// VENNIMO_BENCH_HOME=/some/folder keeps the home (and its photos) for the next run.
// VENNIMO_BENCH_APP=/path/to/vennimo-gallery measures that build of the application instead.
#include "BenchSupport.h"
#include "platform/X11Selection.h"
#include "rope/ClotheslineRopeGeometry.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <optional>
#include <unistd.h>

using vennimo::bench::cpuOf;
using vennimo::bench::CpuReading;
using vennimo::bench::hangingRows;
using vennimo::bench::ropeWindow;
using vennimo::bench::waitMs;
using vennimo::bench::windowFrames;

namespace {

constexpr int kPhotoWidth = 5640;
constexpr int kPhotoHeight = 3172;
constexpr int kSettleMs = 3000;
constexpr int kPageMs = 250;
constexpr int kCopySettleMs = 300;
// Where the rope screen puts its canvas inside its window, and how far below the rope a print's
// paper is surely hit.
constexpr int kSideInset = 10;
constexpr double kRopeInset = 12;
constexpr int kCanvasTop = 8;
constexpr double kPegToPaper = 150;

// The leftmost print's paper on the screen, as its placement was saved.
std::optional<QPoint> firstPrint(const QString& storage, const QRect& window) {
    QFile file(storage + QStringLiteral("/clothesline-positions.json"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject records =
        QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("records")).toObject();
    std::optional<double> leftmost;
    for (const QJsonValue& record : records) {
        const double x = record.toObject()
                             .value(QStringLiteral("placement"))
                             .toObject()
                             .value(QStringLiteral("x"))
                             .toDouble();
        leftmost = leftmost ? std::min(*leftmost, x) : x;
    }
    if (!leftmost)
        return std::nullopt;
    vennimo::ClotheslineRopeGeometry rope;
    rope.width = window.width() - 2 * kSideInset;
    rope.inset = kRopeInset;
    const QPointF onCanvas = rope.pointAlong(rope.supportFraction(*leftmost)) + QPointF(0, kPegToPaper);
    return window.topLeft() + QPointF(onCanvas.x() + kSideInset, onCanvas.y() + kCanvasTop).toPoint();
}

void xdotool(const QStringList& arguments, int settleMs) {
    QProcess::execute(QStringLiteral("xdotool"), arguments);
    waitMs(settleMs);
}

// Opens the preview on the leftmost print and turns `pages` pages, to the last photo and back.
bool pagePreviews(qint64 pid, const QString& storage, int photos, int pages) {
    const std::optional<QRect> window = ropeWindow(pid);
    const std::optional<QPoint> print = window ? firstPrint(storage, *window) : std::nullopt;
    if (!print)
        return false;
    xdotool({QStringLiteral("mousemove"), QString::number(print->x()), QString::number(print->y())}, 300);
    xdotool({QStringLiteral("click"), QStringLiteral("--repeat"), QStringLiteral("2"),
             QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("1")},
            1500);
    if (windowFrames(pid).size() < 2)
        return false;
    int position = 0;
    int step = 1;
    for (int page = 0; page < pages; ++page) {
        if (position + step < 0 || position + step >= photos)
            step = -step;
        position += step;
        xdotool({QStringLiteral("key"), step > 0 ? QStringLiteral("Right") : QStringLiteral("Left")},
                kPageMs);
    }
    return true;
}

// The photo the preview shows goes on the clipboard, its picture made in the background.
void copyShownPhoto() {
    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+c")}, kCopySettleMs);
}

// Starts the application and lets its first scan pass; false when it did not start.
bool startSettled(QProcess& gallery, const QString& program) {
    gallery.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    gallery.start(program);
    if (!gallery.waitForStarted())
        return false;
    waitMs(kSettleMs);
    return true;
}

struct Ending {
    double exitMs = 0;
    double windowsGoneMs = 0;
};

// Sends the signal and waits for the process's end, looking meanwhile when its windows went.
std::optional<Ending> end(QProcess& process, int signal) {
    const qint64 pid = process.processId();
    QElapsedTimer timer;
    timer.start();
    ::kill(pid_t(pid), signal);
    std::optional<double> windowsGone;
    while (timer.elapsed() < 60'000) {
        if (process.waitForFinished(2)) {
            const double exitMs = double(timer.nsecsElapsed()) / 1e6;
            return Ending{exitMs, windowsGone.value_or(exitMs)};
        }
        if (!windowsGone && windowFrames(pid).isEmpty())
            windowsGone = double(timer.nsecsElapsed()) / 1e6;
    }
    process.kill();
    process.waitForFinished();
    return std::nullopt;
}

struct CostlyEnding {
    double exitMs = 0;
    double cpuMs = 0;
};

// Sends the signal and waits for the end, reading the process's CPU time until it has ended: the
// process is not reaped meanwhile, so its last reading is its final one.
std::optional<CostlyEnding> endCountingCpu(QProcess& process, int signal) {
    const qint64 pid = process.processId();
    const double before = cpuOf(pid).value_or(CpuReading{}).seconds;
    QElapsedTimer timer;
    timer.start();
    ::kill(pid_t(pid), signal);
    double last = before;
    std::optional<double> exitMs;
    while (timer.elapsed() < 60'000) {
        const std::optional<CpuReading> now = cpuOf(pid);
        if (now)
            last = now->seconds;
        if (!now || now->ended) {
            exitMs = double(timer.nsecsElapsed()) / 1e6;
            break;
        }
        QThread::usleep(500);
    }
    if (!exitMs) {
        process.kill();
        process.waitForFinished();
        return std::nullopt;
    }
    process.waitForFinished();
    return CostlyEnding{*exitMs, (last - before) * 1000};
}

struct Arrival {
    const char* name;
    QStringList files;
    int signalAfterMs;
};

// A fresh session gets `files` copied onto its Desktop and ends by SIGTERM `signalAfterMs` later:
// the time to its end and the CPU it spent after the signal.
std::optional<std::pair<double, double>> quitWhileDrawing(const QString& program, const Arrival& arrival) {
    QTemporaryDir home;
    vennimo::bench::useOwnHome(home.path());
    const QString desktop = home.path() + QStringLiteral("/Desktop");
    const QString staging = home.path() + QStringLiteral("/staging");
    QDir().mkpath(desktop);
    QDir().mkpath(staging);
    QProcess gallery;
    if (!startSettled(gallery, program))
        return std::nullopt;
    QStringList staged;
    for (const QString& file : arrival.files) {
        staged.append(staging + QLatin1Char('/') + QFileInfo(file).fileName());
        QFile::copy(file, staged.last());
    }
    for (const QString& file : staged)
        QFile::rename(file, desktop + QLatin1Char('/') + QFileInfo(file).fileName());
    waitMs(arrival.signalAfterMs);
    const double cpuBefore = cpuOf(gallery.processId()).value_or(CpuReading{}).seconds;
    double cpuAfter = cpuBefore;
    QElapsedTimer timer;
    timer.start();
    ::kill(pid_t(gallery.processId()), SIGTERM);
    while (timer.elapsed() < 120'000 && !gallery.waitForFinished(2)) {
        const double now = cpuOf(gallery.processId()).value_or(CpuReading{}).seconds;
        cpuAfter = now > 0 ? now : cpuAfter;
    }
    const double exitMs = double(timer.nsecsElapsed()) / 1e6;
    if (gallery.state() != QProcess::NotRunning) {
        gallery.kill();
        gallery.waitForFinished();
        return std::nullopt;
    }
    return std::make_pair(exitMs, (cpuAfter - cpuBefore) * 1000);
}

// A fresh session hangs `photo`; a click selects it, Control-C copies it, and the signal comes as
// soon as the copy is on the clipboard.
std::optional<CostlyEnding> quitRightAfterCopy(const QString& program, const QString& photo, int signal) {
    QTemporaryDir home;
    vennimo::bench::useOwnHome(home.path());
    const QString desktop = home.path() + QStringLiteral("/Desktop");
    const QString storage = home.path() + QStringLiteral("/.local/share/VennimoGallery");
    QDir().mkpath(desktop);
    QProcess gallery;
    if (!startSettled(gallery, program))
        return std::nullopt;
    const auto fail = [&gallery]() -> std::optional<CostlyEnding> {
        gallery.kill();
        gallery.waitForFinished();
        return std::nullopt;
    };
    // Moved in whole, so that it is read once.
    const QString staged = home.path() + QStringLiteral("/") + QFileInfo(photo).fileName();
    if (!QFile::copy(photo, staged) || !QFile::rename(staged, desktop + QStringLiteral("/copied.jpg")))
        return fail();
    const QDeadlineTimer hung(60'000);
    while (hangingRows(storage) < 1 && !hung.hasExpired())
        waitMs(100);
    waitMs(kSettleMs);
    const std::optional<QRect> window = ropeWindow(gallery.processId());
    const std::optional<QPoint> print = window ? firstPrint(storage, *window) : std::nullopt;
    if (!print)
        return fail();
    xdotool({QStringLiteral("mousemove"), QString::number(print->x()), QString::number(print->y())}, 300);
    xdotool({QStringLiteral("click"), QStringLiteral("1")}, 1000);
    const std::optional<unsigned> before = vennimo::X11Selection::owner("CLIPBOARD");
    xdotool({QStringLiteral("key"), QStringLiteral("ctrl+c")}, 0);
    const QDeadlineTimer copied(10'000);
    for (;;) {
        const std::optional<unsigned> owner = vennimo::X11Selection::owner("CLIPBOARD");
        if (owner && owner != before)
            break;
        if (copied.hasExpired())
            return fail();
        QThread::msleep(1);
    }
    return endCountingCpu(gallery, signal);
}

double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0 : values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int photos = std::max(2, args.value(1, QStringLiteral("8")).toInt());
    const int pages = std::max(1, args.value(2, QStringLiteral("24")).toInt());
    const int rounds = std::max(1, args.value(3, QStringLiteral("3")).toInt());

    QTemporaryDir temporary;
    const QString homePath = qEnvironmentVariable("VENNIMO_BENCH_HOME", temporary.path());
    vennimo::bench::useOwnHome(homePath);
    const QString desktop = homePath + QStringLiteral("/Desktop");
    const QString storage = homePath + QStringLiteral("/.local/share/VennimoGallery");
    QDir().mkpath(desktop);
    const QString program = qEnvironmentVariable("VENNIMO_BENCH_APP", QStringLiteral(VENNIMO_APP_PATH));
    const QStringList wanted = args.value(4, QStringLiteral("sessions,arrivals,drawing,copied"))
                                   .split(QLatin1Char(','), Qt::SkipEmptyParts);

    // The photos arrive after the first scan, so that they hang; later starts find them hung.
    if (wanted.contains(QStringLiteral("sessions")) && hangingRows(storage) < photos) {
        std::printf("preparing %d photos of %d x %d...\n", photos, kPhotoWidth, kPhotoHeight);
        QTemporaryDir staging;
        for (int i = 0; i < photos; ++i)
            vennimo::bench::writeCameraJpeg(QStringLiteral("%1/large-%2.jpg").arg(staging.path()).arg(i),
                                            kPhotoWidth, kPhotoHeight, i + 1);
        QProcess first;
        first.start(program);
        first.waitForStarted();
        waitMs(kSettleMs);
        for (int i = 0; i < photos; ++i)
            QFile::rename(QStringLiteral("%1/large-%2.jpg").arg(staging.path()).arg(i),
                          QStringLiteral("%1/large-%2.jpg").arg(desktop).arg(i));
        const QDeadlineTimer hung(120'000);
        while (hangingRows(storage) < photos && !hung.hasExpired())
            waitMs(200);
        waitMs(kSettleMs * 2);
        first.terminate();
        first.waitForFinished(30'000);
    }
    if (wanted.contains(QStringLiteral("sessions")) && hangingRows(storage) < photos) {
        std::printf("the photos did not hang\n");
        return 1;
    }

    enum class Copy { none, kept, taken };
    struct Mode {
        const char* name;
        bool paged;
        Copy copy;
        int signal;
    };
    const Mode modes[] = {
        {"fresh session, SIGTERM", false, Copy::none, SIGTERM},
        {"fresh session, SIGINT (the user's quit)", false, Copy::none, SIGINT},
        {"previews paged, SIGTERM", true, Copy::none, SIGTERM},
        {"previews paged, last photo copied, SIGTERM", true, Copy::kept, SIGTERM},
        {"previews paged, last photo copied, SIGINT (the user's quit)", true, Copy::kept, SIGINT},
        {"previews paged, last photo copied, clipboard taken by another program, SIGTERM", true, Copy::taken,
         SIGTERM}};
    for (const Mode& mode : modes) {
        if (!wanted.contains(QStringLiteral("sessions")))
            break;
        QList<double> exits;
        QList<double> gone;
        for (int round = 0; round < rounds; ++round) {
            QProcess gallery;
            if (!startSettled(gallery, program)) {
                std::printf("the application did not start\n");
                return 1;
            }
            if (mode.paged && !pagePreviews(gallery.processId(), storage, photos, pages)) {
                std::printf("the preview did not open\n");
                gallery.kill();
                gallery.waitForFinished();
                return 1;
            }
            QProcess other;
            if (mode.copy != Copy::none)
                copyShownPhoto();
            if (mode.copy == Copy::taken) {
                other.start(QStringLiteral("xclip"),
                            {QStringLiteral("-quiet"), QStringLiteral("-i"), QStringLiteral("-selection"),
                             QStringLiteral("clipboard")});
                other.write("another program's text");
                other.closeWriteChannel();
                waitMs(kCopySettleMs);
            }
            const std::optional<Ending> ending = end(gallery, mode.signal);
            if (other.state() != QProcess::NotRunning) {
                other.kill();
                other.waitForFinished();
            }
            if (!ending) {
                std::printf("%s: the process did not end within 60 s\n", mode.name);
                return 1;
            }
            exits.append(ending->exitMs);
            gone.append(ending->windowsGoneMs);
            waitMs(500);
        }
        std::printf("%s: signal to exit %.0f ms median (%.0f..%.0f), windows gone after %.0f ms\n", mode.name,
                    median(exits), *std::min_element(exits.begin(), exits.end()),
                    *std::max_element(exits.begin(), exits.end()), median(gone));
        std::fflush(stdout);
    }

    // Kept in the home with it, since HEICs take a while to make.
    const QString arrivals = homePath + QStringLiteral("/arrivals");
    QDir().mkpath(arrivals);
    QStringList scans;
    for (int i = 0; i < 2; ++i) {
        scans.append(QStringLiteral("%1/scans-%2.jpg").arg(arrivals).arg(i));
        QFile file(scans.last());
        if (!file.open(QIODevice::WriteOnly) || file.write(vennimo::bench::manyScanJpeg(20'000, i)) < 0)
            return 1;
    }
    QStringList heics;
    for (int i = 0; i < 6; ++i)
        heics.append(QStringLiteral("%1/camera-%2.heic").arg(arrivals).arg(i));
    const bool heicsMade =
        std::all_of(heics.cbegin(), heics.cend(), [](const QString& f) { return QFile::exists(f); });
    if (!heicsMade && wanted.contains(QStringLiteral("arrivals"))) {
        std::printf("preparing 6 HEICs of 6000 x 4000...\n");
        std::fflush(stdout);
    }
    QList<Arrival> cases{{"2 JPEGs of 20,000 scans copied onto the Desktop, SIGTERM 6 s later", scans, 6000}};
    if (!wanted.contains(QStringLiteral("arrivals")))
        cases.clear();
    else if (heicsMade || vennimo::bench::writeCameraHeics(heics, 6000, 4000))
        cases.append({"6 HEICs of 6000 x 4000 copied onto the Desktop, SIGTERM 1.5 s later", heics, 1500});
    else
        std::printf("no HEICs: heif-enc is missing or failed\n");
    for (const Arrival& arrival : cases) {
        QList<double> exits;
        QList<double> cpu;
        for (int round = 0; round < rounds; ++round) {
            const auto ending = quitWhileDrawing(program, arrival);
            if (!ending) {
                std::printf("%s: the process did not end within 120 s\n", arrival.name);
                continue;
            }
            exits.append(ending->first);
            cpu.append(ending->second);
            waitMs(500);
        }
        if (exits.isEmpty())
            continue;
        std::printf("%s: signal to exit %.0f ms median (%.0f..%.0f), CPU after the signal %.0f ms median "
                    "(%.0f at most)\n",
                    arrival.name, median(exits), *std::min_element(exits.begin(), exits.end()),
                    *std::max_element(exits.begin(), exits.end()), median(cpu),
                    *std::max_element(cpu.begin(), cpu.end()));
        std::fflush(stdout);
    }
    // Six camera photos copied onto the Desktop, the signal once their prints and thumbnails are
    // being drawn.
    constexpr int kDrawnPhotos = 6;
    constexpr int kDrawnWidth = 6000;
    constexpr int kDrawnHeight = 4000;
    constexpr int kDrawingMs = 10'000;
    constexpr double kDrawingCpuSeconds = 0.3;
    QTemporaryDir cameraFiles(homePath + QStringLiteral("/camera-XXXXXX"));
    const bool drawing = wanted.contains(QStringLiteral("drawing"));
    if (drawing)
        std::printf("preparing %d photos of %d x %d...\n", kDrawnPhotos, kDrawnWidth, kDrawnHeight);
    for (int i = 0; drawing && i < kDrawnPhotos; ++i)
        vennimo::bench::writeCameraJpeg(QStringLiteral("%1/camera-%2.jpg").arg(cameraFiles.path()).arg(i),
                                        kDrawnWidth, kDrawnHeight, 40 + i);
    int copied = 0;
    for (const int signal : drawing ? QList<int>{SIGTERM, SIGINT} : QList<int>()) {
        QList<double> exits;
        QList<double> cpu;
        for (int round = 0; round < rounds; ++round) {
            QProcess gallery;
            if (!startSettled(gallery, program)) {
                std::printf("the application did not start\n");
                return 1;
            }
            // New names each time, so that every round brings new photos.
            for (int i = 0; i < kDrawnPhotos; ++i, ++copied) {
                const QString staged = QStringLiteral("%1/copy-%2.jpg").arg(cameraFiles.path()).arg(copied);
                QFile::copy(QStringLiteral("%1/camera-%2.jpg").arg(cameraFiles.path()).arg(i), staged);
                QFile::rename(staged, QStringLiteral("%1/drawn-%2.jpg").arg(desktop).arg(copied));
            }
            // The signal comes once the process has worked a while on them, however busy the machine.
            const std::optional<CpuReading> idle = cpuOf(gallery.processId());
            QElapsedTimer drawing;
            drawing.start();
            while (drawing.elapsed() < kDrawingMs) {
                const std::optional<CpuReading> now = cpuOf(gallery.processId());
                if (idle && now && now->seconds - idle->seconds >= kDrawingCpuSeconds)
                    break;
                QThread::msleep(5);
            }
            const std::optional<CostlyEnding> ending = endCountingCpu(gallery, signal);
            if (!ending) {
                std::printf("quit while drawing: the process did not end within 60 s\n");
                return 1;
            }
            exits.append(ending->exitMs);
            cpu.append(ending->cpuMs);
            waitMs(500);
        }
        std::printf("%d camera photos just copied onto the Desktop, %s: signal to exit %.0f ms median "
                    "(%.0f..%.0f), CPU after the signal %.0f ms median (%.0f..%.0f)\n",
                    kDrawnPhotos, signal == SIGTERM ? "SIGTERM" : "SIGINT (the user's quit)", median(exits),
                    *std::min_element(exits.begin(), exits.end()),
                    *std::max_element(exits.begin(), exits.end()), median(cpu),
                    *std::min_element(cpu.begin(), cpu.end()), *std::max_element(cpu.begin(), cpu.end()));
        std::fflush(stdout);
    }

    if (!wanted.contains(QStringLiteral("copied")))
        return 0;
    const QString copiedPhoto = cameraFiles.path() + QStringLiteral("/copied.jpg");
    vennimo::bench::writeCameraJpeg(copiedPhoto, kDrawnWidth, kDrawnHeight, 60);
    for (const int signal : {SIGTERM, SIGINT}) {
        QList<double> exits;
        QList<double> cpu;
        for (int round = 0; round < rounds; ++round) {
            const std::optional<CostlyEnding> ending = quitRightAfterCopy(program, copiedPhoto, signal);
            if (!ending) {
                std::printf("quit right after a copy: the photo was not copied or the process did not end\n");
                continue;
            }
            exits.append(ending->exitMs);
            cpu.append(ending->cpuMs);
            waitMs(500);
        }
        if (exits.isEmpty())
            continue;
        std::printf("a %d x %d photo on the rope copied, %s at once: signal to exit %.0f ms median "
                    "(%.0f..%.0f), CPU after the signal %.0f ms median (%.0f..%.0f)\n",
                    kDrawnWidth, kDrawnHeight, signal == SIGTERM ? "SIGTERM" : "SIGINT (the user's quit)",
                    median(exits), *std::min_element(exits.begin(), exits.end()),
                    *std::max_element(exits.begin(), exits.end()), median(cpu),
                    *std::min_element(cpu.begin(), cpu.end()), *std::max_element(cpu.begin(), cpu.end()));
        std::fflush(stdout);
    }
    return 0;
}
