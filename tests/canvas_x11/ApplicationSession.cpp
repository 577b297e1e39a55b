#include "ApplicationSession.h"

#include "support/ScreenGrab.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QHash>
#include <QScreen>
#include <QStandardPaths>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <csignal>
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
    info.waitForFinished(5000);
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

std::optional<CpuReading> cpuOf(qint64 pid) {
    QFile stat(QString("/proc/%1/stat").arg(pid));
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
    std::optional<CpuReading> atSignal;
    for (const int number : signalNumbers) {
        if (atSignal && apartMs > 0)
            QThread::usleep(apartMs * 1000);
        ::kill(pid_t(pid), number);
        if (!atSignal) {
            ending.start();
            atSignal = cpuOf(pid);
            if (!atSignal)
                return {};
        }
    }
    CpuReading last = *atSignal;
    while (!last.ended && ending.elapsed() < 60000) {
        QThread::msleep(5);
        const std::optional<CpuReading> now = cpuOf(pid);
        if (!now)
            break;
        last = *now;
    }
    const qint64 endedMs = ending.elapsed();
    return {app.waitForFinished(60000), endedMs, last.seconds - atSignal->seconds};
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
