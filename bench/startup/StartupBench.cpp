// Start-up of the real application with prints already hung, and bursts of arrivals.
//
// For each of 20, 200 and 1,000 prints hung, real photographs of as many shapes as prints (at most
// 200): from exec, the time to the rope window's first frame, to the first frame that shows the
// papers (the share of paper-white pixels at nine tenths of what it settles at), the longest the
// main thread stood still from the window's first moment on (pings of the window, each answered
// only by a turning event loop), the main thread's CPU until settled, and the resident memory then.
// Then two bursts moved onto the watched Desktop at once: 1,000 small photos, and 1,000 copies of
// real photographs of 200 shapes (a few MB each, see realPhotoPool): the longest stall, the main
// thread's CPU, the time until all hang, the resident memory at its peak, and how long a SIGTERM
// right after takes to end the process.
// Targets: papers in the first frame; the longest stall under 150 ms with 200 prints, under 300 ms
// with 1,000 and during the burst. The same start figures for a trivial Qt Widgets window.
//
// Needs an X server with a window manager, as the x11 tests run:
//   xvfb-run -a -s "-screen 0 1920x1080x24" dbus-run-session -- bash -c
//     'openbox & xcompmgr & sleep 1; build-release/bench/startup/bench_startup [ROUNDS] [HUNG...]'
// Defaults: 3 rounds, 20 200 1000 hung.
// VENNIMO_BENCH_HOME=/some/folder keeps the homes (one per count) and their libraries, and the
// photographs cut to their shapes, for the next run; VENNIMO_BENCH_APP=/path/to/vennimo-gallery measures that
// build of the application instead, so two builds can be compared over the same libraries.
#include "BenchSupport.h"
#include "MainThreadPinger.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QScreen>
#include <QTemporaryDir>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <optional>

using vennimo::bench::hangingRows;
using vennimo::bench::ropeWindowId;
using vennimo::bench::waitMs;

namespace {

constexpr QSize kPhotoSize{800, 600};
constexpr QSize kBurstPhotoSize{160, 120};
constexpr int kBurst = 1000;
// The shapes of the real photographs: screenshots and web pictures come in every shape.
constexpr int kShapes = 200;
constexpr int kSettleMs = 3000;
constexpr int kLimitMs = 150'000;
constexpr qint64 kPapersSettledMs = 3000;
constexpr double kPaperShare = 0.9;

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

// The share of the rope's area that shows paper: near white, as nothing else there is.
double paperShare(const QImage& image) {
    qint64 paper = 0;
    for (int y = 0; y < image.height(); y += 3)
        for (int x = 0; x < image.width(); x += 3) {
            const QRgb p = image.pixel(x, y);
            paper += qRed(p) > 225 && qGreen(p) > 222 && qBlue(p) > 215;
        }
    return double(paper) / (double((image.width() + 2) / 3) * ((image.height() + 2) / 3));
}

double changedShare(const QImage& a, const QImage& b) {
    if (a.size() != b.size() || a.isNull())
        return 1;
    qint64 changed = 0;
    for (int y = 0; y < a.height(); y += 4)
        for (int x = 0; x < a.width(); x += 4)
            changed += std::abs(qGray(a.pixel(x, y)) - qGray(b.pixel(x, y))) > 24;
    return double(changed) / (double((a.width() + 3) / 4) * ((a.height() + 3) / 4));
}

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

void writePhotos(const QString& folder, const QString& prefix, int count, QSize size, int seed) {
    QDir().mkpath(folder);
    for (int i = 0; i < count; ++i) {
        if (size.width() >= 800) {
            vennimo::bench::writeCameraJpeg(QStringLiteral("%1/%2-%3.jpg").arg(folder, prefix).arg(i),
                                            size.width(), size.height(), seed + i);
            continue;
        }
        QImage image(size, QImage::Format_RGB32);
        QRandomGenerator random(quint32(seed + i));
        image.fill(QColor::fromHsv(int(random.bounded(360)), 120, 200));
        QPainter(&image).fillRect(QRect(QPoint(), size / 2),
                                  QColor::fromHsv(int(random.bounded(360)), 160, 120));
        QImageWriter writer(QStringLiteral("%1/%2-%3.jpg").arg(folder, prefix).arg(i), "JPEG");
        writer.write(image);
    }
}

// Moves files written elsewhere onto the folder at once.
void land(const QString& staging, const QString& folder) {
    for (const QString& name : QDir(staging).entryList(QDir::Files))
        QFile::rename(staging + QLatin1Char('/') + name, folder + QLatin1Char('/') + name);
}

qint64 terminate(QProcess& process) {
    QElapsedTimer timer;
    timer.start();
    process.terminate();
    if (!process.waitForFinished(30'000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    return timer.elapsed();
}

struct Start {
    double windowMs = 0;
    double mainThreadCpuSeconds = 0;
    double papersMs = 0;
    double longestStallMs = 0;
    double residentMb = 0;
    // The share of the rope's area the papers settled at: none when they had not come in time.
    double paperShare = 0;
};

// One start, timed from exec: the first frame of the window, the first with the papers, the
// longest stall from the window's first moment on.
std::optional<Start> measureStart(const QString& program, bool rope) {
    waitMs(500);
    const QImage bare = grab();
    QProcess process;
    QElapsedTimer timer;
    timer.start();
    process.start(program, QStringList());
    if (!process.waitForStarted())
        return std::nullopt;
    QList<std::pair<double, double>> shares;
    std::optional<double> windowMs;
    std::unique_ptr<vennimo::bench::Pinger> pinger;
    std::optional<double> settleFrom;
    while (timer.elapsed() < kLimitMs) {
        const QImage now = grab();
        const double at = double(timer.nsecsElapsed()) / 1e6;
        if (!windowMs && changedShare(bare, now) > 0.01)
            windowMs = at;
        if (windowMs)
            shares.append({at, paperShare(now)});
        if (rope && !pinger) {
            const QString id = ropeWindowId(process.processId());
            if (!id.isEmpty())
                pinger = std::make_unique<vennimo::bench::Pinger>(id);
        }
        if (windowMs && !settleFrom)
            settleFrom = at;
        if (settleFrom && at - *settleFrom > kSettleMs + (rope ? 2000 : 0))
            break;
        waitMs(2);
    }
    if (!windowMs) {
        terminate(process);
        return std::nullopt;
    }
    Start start;
    start.windowMs = *windowMs;
    // The last ping is answered once the main thread turns again. The papers may come later still:
    // what they settle at is the most paper shown until it has grown no more for a while.
    start.longestStallMs = pinger ? double(pinger->stop()) : 0;
    double settled = 0;
    qint64 grewAt = timer.elapsed();
    while (timer.elapsed() - grewAt < kPapersSettledMs && timer.elapsed() < kLimitMs) {
        const double share = paperShare(grab());
        shares.append({double(timer.nsecsElapsed()) / 1e6, share});
        if (share > settled * 1.02 + 0.001)
            grewAt = timer.elapsed();
        settled = std::max(settled, share);
        waitMs(50);
    }
    for (const auto& [at, share] : shares)
        settled = std::max(settled, share);
    start.paperShare = settled;
    start.papersMs = *windowMs;
    for (const auto& [at, share] : shares)
        if (share >= settled * kPaperShare) {
            start.papersMs = at;
            break;
        }
    start.residentMb = double(statusKb(process.processId(), "VmRSS:")) / 1024;
    start.mainThreadCpuSeconds = vennimo::bench::mainThreadCpuOf(process.processId()).value_or(-1);
    terminate(process);
    return start;
}

std::optional<Start> measureStarts(const QString& program, int rounds, bool rope) {
    QList<double> windows, papers, stalls, resident, shares, cpu;
    for (int round = 0; round < rounds; ++round) {
        const std::optional<Start> start = measureStart(program, rope);
        if (!start)
            return std::nullopt;
        windows.append(start->windowMs);
        papers.append(start->papersMs);
        stalls.append(start->longestStallMs);
        resident.append(start->residentMb);
        shares.append(start->paperShare);
        cpu.append(start->mainThreadCpuSeconds);
    }
    return Start{median(windows),  median(cpu),
                 median(papers),   *std::max_element(stalls.cbegin(), stalls.cend()),
                 median(resident), median(shares)};
}

// A home with `hung` prints on its rope, made by the application itself: started on an empty
// Desktop, the photos moved in, all hung, the application ended as a session would.
bool prepareHome(const QString& home, const QString& program, int hung, const QStringList& pool) {
    vennimo::bench::useOwnHome(home);
    const QString storage = home + QStringLiteral("/.local/share/VennimoGallery");
    if (hangingRows(storage) >= hung)
        return true;
    QDir().mkpath(home + QStringLiteral("/Desktop"));
    std::printf("preparing %d hung prints in %s...\n", hung, qPrintable(home));
    std::fflush(stdout);
    QProcess first;
    first.start(program, QStringList());
    first.waitForStarted();
    waitMs(kSettleMs);
    QTemporaryDir staging;
    if (pool.isEmpty())
        writePhotos(staging.path(), QStringLiteral("hung"), hung, kPhotoSize, 100'000);
    else
        vennimo::bench::copyRealPhotos(pool.mid(0, std::min<qsizetype>(hung, pool.size())), staging.path(),
                                       QStringLiteral("hung"), hung);
    land(staging.path(), home + QStringLiteral("/Desktop"));
    QElapsedTimer waited;
    waited.start();
    while (hangingRows(storage) < hung && waited.elapsed() < 600'000)
        waitMs(200);
    // Thumbnails are made in the background: let them finish.
    waitMs(hung * 40 + 5000);
    terminate(first);
    return hangingRows(storage) >= hung;
}

// A burst of kBurst photos, written by `write` into a folder, moved onto an empty rope of a home
// of its own, made anew each run.
void burst(const QString& homes, const QString& program, const QString& what,
           const std::function<void(const QString&)>& write) {
    const QString home = QStringLiteral("%1/burst-%2").arg(homes).arg(QDateTime::currentMSecsSinceEpoch());
    vennimo::bench::useOwnHome(home);
    QDir().mkpath(home + QStringLiteral("/Desktop"));
    const QString storage = home + QStringLiteral("/.local/share/VennimoGallery");
    // On the home's own file system, so that the landing is one rename each.
    const QString staging = home + QStringLiteral("/staging");
    write(staging);
    QProcess running;
    running.start(program, QStringList());
    running.waitForStarted();
    waitMs(kSettleMs);
    const QString id = ropeWindowId(running.processId());
    const int before = hangingRows(storage);
    const double cpuBefore = vennimo::bench::mainThreadCpuOf(running.processId()).value_or(0);
    std::optional<vennimo::bench::Pinger> pinger;
    if (!id.isEmpty())
        pinger.emplace(id);
    QElapsedTimer timer;
    timer.start();
    land(staging, home + QStringLiteral("/Desktop"));
    while (hangingRows(storage) < before + kBurst && timer.elapsed() < 300'000)
        waitMs(50);
    const double hungSeconds = double(timer.elapsed()) / 1000;
    const int hung = hangingRows(storage) - before;
    // The pictures are still being made after the prints hang: the stall is watched until the
    // main thread has been quiet a while.
    double cpu = vennimo::bench::mainThreadCpuOf(running.processId()).value_or(0);
    for (int quiet = 0; quiet < 4 && timer.elapsed() < 300'000;) {
        waitMs(1000);
        const double now = vennimo::bench::mainThreadCpuOf(running.processId()).value_or(cpu);
        quiet = now - cpu < 0.02 ? quiet + 1 : 0;
        cpu = now;
    }
    const double settledSeconds = double(timer.elapsed()) / 1000;
    const double peakMb = double(statusKb(running.processId(), "VmHWM:")) / 1024;
    const qint64 stall = pinger ? pinger->stop() : -1;
    const qint64 exitMs = terminate(running);
    std::printf(
        "burst of %d %s: %d hung after %.1f s, quiet after %.1f s; longest main-thread stall %lld ms, "
        "main thread %.2f s of CPU, resident %.0f MB at the peak; SIGTERM then: ended in %lld ms\n",
        kBurst, qPrintable(what), hung, hungSeconds, settledSeconds, static_cast<long long>(stall),
        cpu - cpuBefore, peakMb, static_cast<long long>(exitMs));
    std::fflush(stdout);
    QDir(home).removeRecursively();
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int rounds = std::max(1, args.value(1, QStringLiteral("3")).toInt());
    QList<int> counts;
    for (qsizetype i = 2; i < args.size(); ++i)
        counts.append(std::max(1, args[i].toInt()));
    if (counts.isEmpty())
        counts = {20, 200, 1000};

    QTemporaryDir temporary;
    const QString homes = qEnvironmentVariable("VENNIMO_BENCH_HOME", temporary.path());
    const QString program = qEnvironmentVariable("VENNIMO_BENCH_APP", QStringLiteral(VENNIMO_APP_PATH));
    std::printf("application: %s\n", qPrintable(program));

    const std::optional<Start> floor = measureStarts(QStringLiteral(VENNIMO_FLOOR_PATH), rounds, false);
    if (!floor) {
        std::printf("the trivial window never showed\n");
        return 1;
    }
    std::printf("trivial Qt window: first frame %.0f ms median, resident %.0f MB\n", floor->windowMs,
                floor->residentMb);

    const QStringList pool = vennimo::bench::realPhotoPool(homes + QStringLiteral("/shapes"), kShapes);
    if (pool.isEmpty())
        std::printf("no photographs found (VENNIMO_BENCH_PHOTOS, plasma-workspace-wallpapers): generated "
                    "pictures of one shape stand in\n");
    for (const int hung : counts) {
        const QString home = QStringLiteral("%1/hung-%2").arg(homes).arg(hung);
        if (!prepareHome(home, program, hung, pool)) {
            std::printf("%d prints: the library did not get ready\n", hung);
            return 1;
        }
        const std::optional<Start> start = measureStarts(program, rounds, true);
        if (!start) {
            std::printf("%d prints: the rope never showed\n", hung);
            return 1;
        }
        std::printf(
            "%4d prints hung: first frame %.0f ms, papers %.0f ms, settled at %.0f%% of the rope's area, "
            "main thread %.2f s of CPU (medians); longest main-thread stall %.0f ms (worst of %d), resident "
            "%.0f MB\n",
            hung, start->windowMs, start->papersMs, start->paperShare * 100, start->mainThreadCpuSeconds,
            start->longestStallMs, rounds, start->residentMb);
        std::fflush(stdout);
    }

    burst(homes, program, QStringLiteral("small photos"), [](const QString& folder) {
        writePhotos(folder, QStringLiteral("burst"), kBurst, kBurstPhotoSize, 200'000);
    });
    if (!pool.isEmpty())
        burst(homes, program, QStringLiteral("real photographs of %1 shapes").arg(pool.size()),
              [&pool](const QString& folder) {
                  vennimo::bench::copyRealPhotos(pool, folder, QStringLiteral("burst"), kBurst);
              });
    return 0;
}
