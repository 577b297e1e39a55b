// How long the application takes to end after a great many photos landed on the watched Desktop
// at once: 10,000 small JPEGs moved in together (as unpacking an archive does), SIGTERM 8 s later,
// while the index, the thumbnails, the sizes and the rope are all still busy with them. Prints the
// time from the signal to the end of the process, the CPU the process used after the signal, and
// how many of the photos had been hung by then, with the longest the main thread stood still and
// the CPU it used from the landing to the signal.
// With "real" after the three numbers, copies of real photographs of 200 shapes land instead
// (see realPhotoPool; a few MB each, so a thousand rather than ten thousand). With "copied" after
// "real", they are copied onto the Desktop one after another, as `cp` does, instead of moved there
// at once; the signal still comes that many seconds after the first.
// Target: under 1 s.
//
// Needs an X server with a window manager, as the x11 tests run:
//   xvfb-run -a -s "-screen 0 1920x1080x24" dbus-run-session -- bash -c
//     'openbox & xcompmgr & sleep 1; build-release/bench/burstexit/bench_burstexit [ROUNDS] [PHOTOS]
//     [SECONDS] [real]'
// Defaults: 3 rounds, 10,000 photos, the signal 8 s after they landed. Each round has a home of its
// own, made anew.
// VENNIMO_BENCH_HOME=/some/folder keeps the photos there for the next run.
// VENNIMO_BENCH_APP=/path/to/vennimo-gallery measures that build of the application instead.
#include "BenchSupport.h"
#include "MainThreadPinger.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <unistd.h>

using vennimo::bench::cpuOf;
using vennimo::bench::hangingRows;
using vennimo::bench::waitMs;

namespace {

constexpr QSize kPhotoSize{160, 120};
constexpr int kShapes = 200;
constexpr int kSettleMs = 3000;
constexpr int kEndLimitMs = 60'000;

void writePhotos(const QString& folder, int count) {
    QDir().mkpath(folder);
    for (int i = 0; i < count; ++i) {
        QImage image(kPhotoSize, QImage::Format_RGB32);
        QRandomGenerator random(quint32(300'000 + i));
        image.fill(QColor::fromHsv(int(random.bounded(360)), 120, 200));
        QPainter(&image).fillRect(QRect(QPoint(), kPhotoSize / 2),
                                  QColor::fromHsv(int(random.bounded(360)), 160, 120));
        QImageWriter(QStringLiteral("%1/burst-%2.jpg").arg(folder).arg(i), "JPEG").write(image);
    }
}

double loadAverage() {
    double load = 0;
    return getloadavg(&load, 1) == 1 ? load : -1;
}

struct Ending {
    double ms = -1;
    double cpuSeconds = 0;
    qint64 longestStallMs = -1;
    double mainThreadCpuSeconds = 0;
    int hung = 0;
    double load = 0;
};

std::optional<Ending> measure(const QString& program, const QString& homes, const QString& photos,
                              int seconds, bool copied) {
    const QString home = QStringLiteral("%1/burst-%2").arg(homes).arg(QDateTime::currentMSecsSinceEpoch());
    vennimo::bench::useOwnHome(home);
    const QString desktop = home + QStringLiteral("/Desktop");
    QDir().mkpath(desktop);
    // Linked into the home's file system first, so that the landing itself is one rename each.
    const QString staging = home + QStringLiteral("/staging");
    QDir().mkpath(staging);
    const QStringList names = QDir(photos).entryList(QDir::Files);
    for (const QString& name : names)
        if (::link(QFile::encodeName(photos + QLatin1Char('/') + name).constData(),
                   QFile::encodeName(staging + QLatin1Char('/') + name).constData()) != 0)
            return std::nullopt;

    QProcess app;
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    app.start(program, QStringList());
    if (!app.waitForStarted())
        return std::nullopt;
    waitMs(kSettleMs);
    std::optional<vennimo::bench::Pinger> pinger;
    if (const QString id = vennimo::bench::ropeWindowId(app.processId()); !id.isEmpty())
        pinger.emplace(id);
    const double mainBefore = vennimo::bench::mainThreadCpuOf(app.processId()).value_or(0);
    QElapsedTimer landing;
    landing.start();
    for (const QString& name : names) {
        const QString target = desktop + QLatin1Char('/') + name;
        // As cp does: each file written in place, the watched folder seeing it grow.
        std::error_code error;
        if (!copied)
            QFile::rename(staging + QLatin1Char('/') + name, target);
        else if (!std::filesystem::copy_file(
                     QFile::encodeName(photos + QLatin1Char('/') + name).toStdString(),
                     QFile::encodeName(target).toStdString(), error))
            return std::nullopt;
    }
    waitMs(std::max<qint64>(0, seconds * 1000 - landing.elapsed()));

    Ending ending;
    ending.mainThreadCpuSeconds = vennimo::bench::mainThreadCpuOf(app.processId()).value_or(0) - mainBefore;
    if (pinger)
        ending.longestStallMs = pinger->stop();
    ending.load = loadAverage();
    ending.hung = hangingRows(home + QStringLiteral("/.local/share/VennimoGallery"));
    const std::optional<vennimo::bench::CpuReading> before = cpuOf(app.processId());
    const qint64 pid = app.processId();
    QElapsedTimer timer;
    timer.start();
    app.terminate();
    std::optional<vennimo::bench::CpuReading> last = before;
    while (timer.elapsed() < kEndLimitMs) {
        if (const auto now = cpuOf(pid)) {
            last = now;
            if (now->ended)
                break;
        } else {
            break;
        }
        QThread::usleep(500);
    }
    const bool ended = app.waitForFinished(std::max<int>(1, kEndLimitMs - int(timer.elapsed())));
    ending.ms = double(timer.nsecsElapsed()) / 1e6;
    if (!ended) {
        app.kill();
        app.waitForFinished();
        ending.ms = -1;
    }
    if (before && last)
        ending.cpuSeconds = last->seconds - before->seconds;
    QDir(home).removeRecursively();
    return ending;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    const int rounds = std::max(1, args.value(1, QStringLiteral("3")).toInt());
    const int count = std::max(1, args.value(2, QStringLiteral("10000")).toInt());
    const int seconds = std::max(0, args.value(3, QStringLiteral("8")).toInt());
    const QString program = qEnvironmentVariable("VENNIMO_BENCH_APP", QStringLiteral(VENNIMO_APP_PATH));
    std::printf("application: %s\n", qPrintable(program));

    QTemporaryDir temporary;
    const QString homes = qEnvironmentVariable("VENNIMO_BENCH_HOME", temporary.path());
    const bool real = args.value(4) == QLatin1String("real");
    const bool copied = args.value(5) == QLatin1String("copied");
    const QString photos = QStringLiteral("%1/photos-%2%3").arg(homes).arg(count).arg(real ? "-real" : "");
    if (QDir(photos).entryList(QDir::Files).size() != count) {
        std::printf("writing %d photos...\n", count);
        std::fflush(stdout);
        QDir(photos).removeRecursively();
        if (!real) {
            writePhotos(photos, count);
        } else if (!vennimo::bench::copyRealPhotos(
                       vennimo::bench::realPhotoPool(homes + QStringLiteral("/shapes"), kShapes), photos,
                       QStringLiteral("burst"), count)) {
            std::printf("no photographs found (VENNIMO_BENCH_PHOTOS, plasma-workspace-wallpapers)\n");
            return 1;
        }
    }

    QList<double> times;
    for (int round = 0; round < rounds; ++round) {
        const std::optional<Ending> ending = measure(program, homes, photos, seconds, copied);
        if (!ending) {
            std::printf("round %d: the application did not start\n", round + 1);
            return 1;
        }
        std::printf(
            "round %d: %d photos landed, %d hung at the signal %d s later; longest main-thread stall %lld "
            "ms, main thread %.2f s of CPU until the signal; SIGTERM: ended in %.0f ms, %.2f s of CPU after "
            "the signal (load %.1f)\n",
            round + 1, count, ending->hung, seconds, static_cast<long long>(ending->longestStallMs),
            ending->mainThreadCpuSeconds, ending->ms, ending->cpuSeconds, ending->load);
        std::fflush(stdout);
        times.append(ending->ms < 0 ? 1e9 : ending->ms);
    }
    std::sort(times.begin(), times.end());
    std::printf("burst of %d, SIGTERM %d s after: ended in %.0f ms median, %.0f ms worst of %d\n", count,
                seconds, times[times.size() / 2], times.back(), rounds);
    return 0;
}
