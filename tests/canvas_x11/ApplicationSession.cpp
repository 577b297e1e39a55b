#include "ApplicationSession.h"

#include "support/ScreenGrab.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <sched.h>
#include <unistd.h>

namespace vennimo::test {

QString screenshotFolder(const QString& name) {
    const QString dir = QStringLiteral(VENNIMO_SCREENSHOT_DIR) + "/" + name;
    QDir().mkpath(dir);
    return dir;
}

QString defaultsFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           "/VennimoGallery/defaults.json";
}

QString windowNamed(const QString& pattern) {
    return runProgram(QStringLiteral("xdotool"), {"search", "--onlyvisible", "--name", pattern})
        .trimmed()
        .section('\n', 0, 0);
}

QRect ropeArea() {
    const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
    return QRect(screen.x() + (screen.width() - 980) / 2 - 20, screen.y() + 20, 1020, 506);
}

std::optional<QRect> trayIcon() {
    QProcess search;
    search.start("xdotool", {"search", "--class", "VennimoGallery"});
    search.waitForFinished(5000);
    for (const QString& id :
         QString::fromUtf8(search.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts)) {
        const QRect area = clientAreaOf(id.trimmed());
        if (area.width() > 0 && area.width() <= kTrayIconSize && area.height() > 0 &&
            area.height() <= kTrayIconSize)
            return area;
    }
    return std::nullopt;
}

bool showTrayMenu(qint64 pid) {
    const std::optional<QRect> icon = trayIcon();
    if (!icon)
        return false;
    const auto windows = [pid] {
        return runProgram(QStringLiteral("xdotool"),
                          {"search", "--onlyvisible", "--pid", QString::number(pid)})
            .split('\n', Qt::SkipEmptyParts);
    };
    const QStringList before = windows();
    runProgram(QStringLiteral("xdotool"),
               {"mousemove", QString::number(icon->center().x()), QString::number(icon->center().y())});
    QTest::qWait(100);
    runProgram(QStringLiteral("xdotool"), {"click", "3"});
    // Keys sent before the menu shows go elsewhere; on a busy machine it can take seconds.
    const bool shown = QTest::qWaitFor(
        [&] {
            const QStringList now = windows();
            return std::any_of(now.begin(), now.end(),
                               [&](const QString& id) { return !before.contains(id); });
        },
        20000);
    QTest::qWait(300);
    return shown;
}

QRect clientAreaOf(const QString& id) {
    QProcess info;
    info.start("xwininfo", {"-id", id});
    info.waitForFinished(30000);
    QHash<QString, int> values;
    for (const QString& line : QString::fromUtf8(info.readAllStandardOutput()).split('\n')) {
        const qsizetype colon = line.indexOf(':');
        if (colon > 0)
            values.insert(line.left(colon).trimmed(), line.mid(colon + 1).trimmed().toInt());
    }
    return {values.value("Absolute upper-left X"), values.value("Absolute upper-left Y"),
            values.value("Width"), values.value("Height")};
}

bool launchApplication(QProcess& app) {
    app.setProcessChannelMode(QProcess::ForwardedChannels);
    app.start(QStringLiteral(VENNIMO_APP_PATH));
    return app.waitForStarted();
}

namespace {

// How long helpers that outlive the process are followed after its end: one that keeps working
// then spends about as much CPU.
constexpr qint64 kHelperFollowMs = 500;

// What /proc tells of one process: its state, the CPU it used itself and that of the children it
// reaped.
struct ProcessStat {
    char state = 0;
    double ownSeconds = 0;
    double reapedSeconds = 0;
};

// Of the main thread alone with `mainThread`: its task's file, whose times are the thread's own.
std::optional<ProcessStat> statOf(qint64 pid, bool mainThread = false) {
    QFile stat(QString(mainThread ? "/proc/%1/task/%1/stat" : "/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray line = stat.readAll();
    // The fields after the command's closing parenthesis: the state first, utime, stime, cutime
    // and cstime at 11 to 14.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 15)
        return std::nullopt;
    const double ticks = double(::sysconf(_SC_CLK_TCK));
    return ProcessStat{fields[0].isEmpty() ? char(0) : fields[0][0],
                       (fields[11].toLongLong() + fields[12].toLongLong()) / ticks,
                       (fields[13].toLongLong() + fields[14].toLongLong()) / ticks};
}

// Every process below `pid`, children first, as each thread's list of the children it started
// tells.
QList<qint64> descendantsOf(qint64 pid) {
    QList<qint64> found{pid};
    for (qsizetype i = 0; i < found.size(); ++i) {
        const QString tasks = QString("/proc/%1/task").arg(found[i]);
        for (const QString& task : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
            QFile children(tasks + "/" + task + "/children");
            if (!children.open(QIODevice::ReadOnly))
                continue;
            for (const QByteArray& child : children.readAll().split(' '))
                if (const qint64 number = child.trimmed().toLongLong(); number > 0)
                    found.append(number);
        }
    }
    return found.mid(1);
}

// Follows a process and its helpers while they end. Each helper counts with the CPU it had when
// last seen, whoever reaps it: one that outlives the process is nobody's child of it any more,
// and one the process reaped is counted once.
class TreeCpu {
public:
    explicit TreeCpu(qint64 pid)
        : m_pid(pid) {}

    std::optional<CpuReading> read() {
        const std::optional<ProcessStat> own = statOf(m_pid);
        if (!own)
            return std::nullopt;
        for (const qint64 helper : descendantsOf(m_pid))
            if (!m_helpers.contains(helper))
                m_helpers.insert(helper, {});
        double helpers = 0;
        for (auto it = m_helpers.begin(); it != m_helpers.end(); ++it) {
            if (const std::optional<ProcessStat> stat = statOf(it.key())) {
                const double seconds = stat->ownSeconds + stat->reapedSeconds;
                if (!it->first)
                    it->first = seconds;
                it->last = seconds;
            }
            helpers += it->last;
        }
        return CpuReading{own->ownSeconds + helpers, own->state == 'Z'};
    }
    // Helpers whose CPU grew since they were first seen.
    int working() const {
        return int(std::count_if(m_helpers.begin(), m_helpers.end(),
                                 [](const Helper& h) { return h.first && h.last > *h.first; }));
    }

private:
    struct Helper {
        std::optional<double> first{};
        double last = 0;
    };
    qint64 m_pid;
    QHash<qint64, Helper> m_helpers;
};

} // namespace

std::optional<CpuReading> cpuOf(qint64 pid) {
    const std::optional<ProcessStat> stat = statOf(pid);
    if (!stat)
        return std::nullopt;
    return CpuReading{stat->ownSeconds, stat->state == 'Z'};
}

std::optional<double> mainThreadCpuOf(qint64 pid) {
    const std::optional<ProcessStat> stat = statOf(pid, true);
    if (!stat)
        return std::nullopt;
    return stat->ownSeconds;
}

bool runsHelper(qint64 pid, const QString& program) {
    const QList<qint64> helpers = descendantsOf(pid);
    return std::any_of(helpers.begin(), helpers.end(), [&program](qint64 helper) {
        return QFileInfo(QFile::symLinkTarget(QString("/proc/%1/exe").arg(helper))).fileName() == program;
    });
}

double loadScale() {
    double load = 0;
    if (::getloadavg(&load, 1) != 1)
        load = 0;
    return loadScaleOf(load);
}

double loadScaleOf(double load) {
    // Some thirty runnable tasks on an eight-core machine.
    constexpr double kGoalLoadPerCore = 4;
    // The cores this process may run on: a run held to some of them shares those alone.
    cpu_set_t cores;
    CPU_ZERO(&cores);
    const int count = ::sched_getaffinity(0, sizeof cores, &cores) == 0 ? CPU_COUNT(&cores) : 0;
    const int usable = count > 0 ? count : std::max(1, QThread::idealThreadCount());
    return std::max(1.0, load / usable / kGoalLoadPerCore);
}

int runnableTasks() {
    // The fourth field of the kernel's load line: runnable tasks now, then all tasks.
    QFile line(QStringLiteral("/proc/loadavg"));
    if (!line.open(QIODevice::ReadOnly))
        return 0;
    return line.readAll().split(' ').value(3).split('/').value(0).toInt();
}

qint64 sessionEndBoundMs() {
    constexpr double kGoalMs = 1000;
    constexpr double kLagSlack = 2;
    return qint64(kGoalMs * kLagSlack * kCpuBoundScale * loadScale());
}

double cpuAfterSignalScale() {
    return kCpuBoundScale * loadScale();
}

std::optional<qint64> peakResidentKiB(qint64 pid) {
    QFile status(QString("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return std::nullopt;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return std::nullopt;
}

Ending terminateCountingCpu(QProcess& app, std::initializer_list<int> signalNumbers, int apartMs) {
    const qint64 pid = app.processId();
    QElapsedTimer ending;
    TreeCpu tree(pid);
    std::optional<CpuReading> atSignal;
    for (const int number : signalNumbers) {
        if (atSignal && apartMs > 0)
            QThread::usleep(apartMs * 1000);
        if (!atSignal) {
            atSignal = tree.read();
            if (!atSignal)
                return {};
            ending.start();
        }
        ::kill(pid_t(pid), number);
    }
    // Followed well past the bound, so that a slow end still shows what it cost.
    const qint64 followMs = std::max<qint64>(60'000, 3 * sessionEndBoundMs());
    CpuReading last = *atSignal;
    qint64 endedMs = -1;
    while (ending.elapsed() < followMs) {
        QThread::msleep(5);
        const std::optional<CpuReading> now = tree.read();
        if (!now)
            break;
        last = *now;
        if (last.ended && endedMs < 0)
            endedMs = ending.elapsed();
        // Helpers left behind are followed a little longer: their work counts too.
        if (last.ended && ending.elapsed() > endedMs + kHelperFollowMs)
            break;
    }
    if (endedMs < 0)
        endedMs = ending.elapsed();
    return {app.waitForFinished(60000), endedMs, last.seconds - atSignal->seconds, tree.working()};
}

bool workedFor(qint64 pid, const CpuReading& idle, double seconds) {
    return QTest::qWaitFor(
        [&] {
            const std::optional<CpuReading> busy = cpuOf(pid);
            return busy && busy->seconds - idle.seconds > seconds;
        },
        60000);
}

} // namespace vennimo::test
