#include "BenchSupport.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <ctime>
#include <memory>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace vennimo::bench {

namespace {

// The CPU time of a process or thread from its "stat" file, and whether it has ended.
std::optional<CpuReading> statCpu(const QString& path) {
    QFile stat(path);
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray line = stat.readAll();
    // The fields after the command's closing parenthesis: state, then utime and stime at 12 and 13.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return std::nullopt;
    const double ticks = double(::sysconf(_SC_CLK_TCK));
    return CpuReading{(fields[11].toLongLong() + fields[12].toLongLong()) / ticks, fields[0] == "Z"};
}

} // namespace

bool writeCameraJpeg(const QString& path, int width, int height, int seed) {
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random(static_cast<quint32>(seed));
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int noise = static_cast<int>(random.generate() & 31);
            line[x] = qRgb((x * 255 / width + noise + seed * 13) & 255, (y * 255 / height + noise) & 255,
                           ((x + y) * 127 / (width + height) + noise) & 255);
        }
    }
    QImageWriter writer(path, "jpeg");
    writer.setQuality(90);
    return writer.write(image);
}

QStringList realPhotoPool(const QString& pool, int shapes) {
    QDir().mkpath(pool);
    QStringList sources;
    const QString from =
        qEnvironmentVariable("VENNIMO_BENCH_PHOTOS", QStringLiteral("/usr/share/wallpapers"));
    QDirIterator it(from, {QStringLiteral("*.jpg"), QStringLiteral("*.jpeg")}, QDir::Files,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QSize size = QImageReader(path).size();
        // Photographs of a camera's size; the small renderings and previews beside them are not.
        if (size.width() >= 1600 && size.height() >= 1000 && QFileInfo(path).size() > 300'000)
            sources.append(path);
    }
    std::sort(sources.begin(), sources.end());
    if (sources.isEmpty())
        return {};
    QStringList photos;
    for (int i = 0; i < shapes; ++i) {
        const QString path = QStringLiteral("%1/shape-%2.jpg").arg(pool).arg(i);
        photos.append(path);
        if (QFileInfo::exists(path))
            continue;
        const QImage source(sources[i % sources.size()]);
        if (source.isNull())
            return {};
        // From 2:5 to 5:2 on a logarithmic scale, so that every shape is its own.
        const double aspect =
            std::exp(std::log(0.4) + std::log(6.25) * (shapes > 1 ? double(i) / (shapes - 1) : 0.5));
        QSize crop = source.size();
        if (double(crop.width()) / crop.height() > aspect)
            crop.setWidth(std::max(1, int(crop.height() * aspect)));
        else
            crop.setHeight(std::max(1, int(crop.width() / aspect)));
        QImageWriter writer(path, "jpeg");
        writer.setQuality(92);
        if (!writer.write(source.copy(QRect(
                QPoint((source.width() - crop.width()) / 2, (source.height() - crop.height()) / 2), crop))))
            return {};
    }
    return photos;
}

bool copyRealPhotos(const QStringList& pool, const QString& folder, const QString& prefix, int count) {
    if (pool.isEmpty())
        return false;
    QDir().mkpath(folder);
    for (int i = 0; i < count; ++i)
        if (!QFile::copy(pool[i % pool.size()], QStringLiteral("%1/%2-%3.jpg").arg(folder, prefix).arg(i)))
            return false;
    return true;
}

std::optional<double> mainThreadCpuOf(qint64 pid) {
    const std::optional<CpuReading> reading = statCpu(QStringLiteral("/proc/%1/task/%1/stat").arg(pid));
    return reading ? std::optional<double>(reading->seconds) : std::nullopt;
}

QByteArray manyScanJpeg(int scans, int seed) {
    const auto segment = [](char marker, const QByteArray& body) {
        const int length = int(body.size()) + 2;
        return QByteArray("\xff", 1) + marker + char(length >> 8) + char(length & 0xff) + body;
    };
    QByteArray jpeg("\xff\xd8", 2);
    jpeg += segment('\xfe', QByteArray("scans ") + QByteArray::number(seed));
    jpeg += segment('\xdb', QByteArray(1, '\0') + QByteArray(64, '\1'));
    jpeg += segment('\xc2', QByteArray::fromHex("08 2710 2710 01 011100"));
    // One DC code, "0": a difference of nothing for every block.
    jpeg += segment('\xc4', QByteArray::fromHex("00 01") + QByteArray(16, '\0'));
    const QByteArray scan = segment('\xda', QByteArray::fromHex("01 0100 00 00 00"));
    for (int i = 0; i < scans; ++i)
        jpeg += scan;
    return jpeg + QByteArray("\xff\xd9", 2);
}

bool writeCameraHeics(const QStringList& paths, int width, int height) {
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("heif-enc"));
    if (tool.isEmpty())
        return false;
    std::vector<std::unique_ptr<QProcess>> encoders;
    for (int i = 0; i < paths.size(); ++i) {
        const QString jpeg = paths[i] + QStringLiteral(".source.jpg");
        if (!writeCameraJpeg(jpeg, width, height, i + 11))
            return false;
        auto& encoder = encoders.emplace_back(std::make_unique<QProcess>());
        encoder->start(tool,
                       {QStringLiteral("-q"), QStringLiteral("60"), QStringLiteral("-o"), paths[i], jpeg});
    }
    bool ok = true;
    for (int i = 0; i < paths.size(); ++i) {
        ok = encoders[size_t(i)]->waitForFinished(600'000) && encoders[size_t(i)]->exitCode() == 0 && ok;
        QFile::remove(paths[i] + QStringLiteral(".source.jpg"));
    }
    return ok;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool writeStandInImage(const QString& path) {
    static const QByteArray bytes(2048, 'j');
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

namespace {
double cpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

double clockSeconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}
} // namespace

// The thread's own clock rather than getrusage, whose thread figures move in scheduler ticks
// and so round a short frame to nothing or to a whole tick.
double threadCpuSeconds() {
    return clockSeconds(CLOCK_THREAD_CPUTIME_ID);
}

double childrenCpuSeconds() {
    return cpuSeconds(RUSAGE_CHILDREN);
}

double processCpuSeconds() {
    return clockSeconds(CLOCK_PROCESS_CPUTIME_ID);
}

std::optional<CpuReading> cpuOf(qint64 pid) {
    return statCpu(QStringLiteral("/proc/%1/stat").arg(pid));
}

void useOwnHome(const QString& home) {
    QDir().mkpath(home);
    for (const char* name : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_CACHE_HOME"})
        qunsetenv(name);
    qputenv("HOME", QFile::encodeName(home));
    const QString runtime = home + QStringLiteral("/runtime");
    QDir().mkpath(runtime);
    QFile::setPermissions(runtime, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    QDir().mkpath(home + QStringLiteral("/Downloads"));
}

int hangingRows(const QString& storage) {
    QFile file(storage + QStringLiteral("/clothesline-positions.json"));
    return file.open(QIODevice::ReadOnly) ? int(file.readAll().count("\"row\"")) : 0;
}

namespace {

constexpr int kTrayIconSize = 64;

QString run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(5000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

QStringList visibleWindows(qint64 pid) {
    return run(QStringLiteral("xdotool"), {QStringLiteral("search"), QStringLiteral("--onlyvisible"),
                                           QStringLiteral("--pid"), QString::number(pid)})
        .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

} // namespace

void waitMs(int ms) {
    const QDeadlineTimer deadline(ms);
    do {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(ms > 5 ? 5 : 1);
    } while (!deadline.hasExpired());
}

namespace {

// The frames of the process's visible windows but a tray icon, by X id.
QList<std::pair<QString, QRect>> framedWindows(qint64 pid) {
    QList<std::pair<QString, QRect>> frames;
    for (const QString& id : visibleWindows(pid)) {
        QHash<QString, int> values;
        for (const QString& line : run(QStringLiteral("xdotool"),
                                       {QStringLiteral("getwindowgeometry"), QStringLiteral("--shell"), id})
                                       .split(QLatin1Char('\n'))) {
            const QStringList pair = line.split(QLatin1Char('='));
            if (pair.size() == 2)
                values.insert(pair[0], pair[1].toInt());
        }
        const QRect frame(values.value(QStringLiteral("X")), values.value(QStringLiteral("Y")),
                          values.value(QStringLiteral("WIDTH")), values.value(QStringLiteral("HEIGHT")));
        if (frame.width() > kTrayIconSize || frame.height() > kTrayIconSize)
            frames.append({id, frame});
    }
    return frames;
}

std::optional<std::pair<QString, QRect>> widestWindow(qint64 pid) {
    std::optional<std::pair<QString, QRect>> widest;
    for (const auto& window : framedWindows(pid))
        if (!widest || window.second.width() > widest->second.width())
            widest = window;
    return widest;
}

} // namespace

QList<QRect> windowFrames(qint64 pid) {
    QList<QRect> frames;
    for (const auto& window : framedWindows(pid))
        frames.append(window.second);
    return frames;
}

std::optional<QRect> ropeWindow(qint64 pid) {
    const auto widest = widestWindow(pid);
    return widest ? std::optional<QRect>(widest->second) : std::nullopt;
}

QString ropeWindowId(qint64 pid) {
    const auto widest = widestWindow(pid);
    return widest && widest->second.width() > 200 ? widest->first : QString();
}

} // namespace vennimo::bench
