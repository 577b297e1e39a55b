#pragma once

#include <QProcess>
#include <QRect>
#include <QScopeGuard>
#include <QString>

#include <csignal>
#include <initializer_list>
#include <optional>

namespace vennimo::test {

// Helpers for tests that start the application under the test's X server. They keep clear of the
// names tests give their own xdotool wrappers, so any such test can use them.

// A folder of the given name for screenshots under the build's screenshot folder, made.
QString screenshotFolder(const QString& name);
// The application's "defaults.json" in the test home, which a test writes to start it with
// settings of its own.
QString defaultsFile();
// The X id of the first visible window whose name matches the pattern; empty when none shows.
QString windowNamed(const QString& pattern);
// Where the application puts its rope window at first: centred, 40 points below the top of the
// screen, with a margin around it.
QRect ropeArea();
// The largest side of the application's tray icon, the small window the tray host took in.
inline constexpr int kTrayIconSize = 48;
// The application's tray icon; none without a tray host.
std::optional<QRect> trayIcon();
// Right-clicks the application's tray icon and waits until a new window of the process, the menu,
// shows and can take keys; false when there is no icon or no menu came.
bool showTrayMenu(qint64 pid);
// Where the X server has a window's client area, inside the window manager's frame (xwininfo's
// absolute corner: xdotool's idea of a reparented window's place can be off by the frame).
QRect clientAreaOf(const QString& id);
// Starts the application with both its channels passed on; false when it did not start.
bool launchApplication(QProcess& app);
// The CPU time (user and system) a process has used so far, and whether it has ended: a zombie's
// times are its last. None once it is gone.
struct CpuReading {
    double seconds = 0;
    bool ended = false;
};
std::optional<CpuReading> cpuOf(qint64 pid);
// The CPU seconds (user and system) the process's main thread has used so far; none once it is gone.
std::optional<double> mainThreadCpuOf(qint64 pid);
// The most resident memory a process has held so far, in KiB ("VmHWM"); none once it is gone.
std::optional<qint64> peakResidentKiB(qint64 pid);
// Sends the signals, `apartMs` apart, and follows the process to its end: whether it ended, the
// time from the first signal, and the CPU it and its helper processes spent after it, those that
// outlive it included. Not reaped meanwhile, so an ended process's times stay readable.
struct Ending {
    bool finished = false;
    qint64 ms = 0;
    double cpuSeconds = 0;
    // Helper processes that worked after the signal.
    int helpers = 0;
};
Ending terminateCountingCpu(QProcess& app, std::initializer_list<int> signalNumbers = {SIGTERM},
                            int apartMs = 0);
// Whether a process below `pid` runs the program of that file name.
bool runsHelper(qint64 pid, const QString& program);
// Waits until the process has worked `seconds` of CPU since `idle`: its pictures are being drawn.
bool workedFor(qint64 pid, const CpuReading& idle, double seconds);
// What a bound on the CPU a process spends is multiplied by when the application is built with
// AddressSanitizer, whose bookkeeping of the memory of the large pictures these tests draw costs
// several times the work itself: 0.4-0.9 s at a quit that takes 0.05 s of a plain build.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr double kCpuBoundScale = 4.0;
#else
inline constexpr double kCpuBoundScale = 1.0;
#endif
// The same for a bound on resident memory: AddressSanitizer keeps up to 256 MB of freed memory in
// quarantine and an eighth more as shadow, where a plain build peaks at some 64 MiB.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr double kMemoryBoundScale = 2.0;
#else
inline constexpr double kMemoryBoundScale = 1.0;
#endif
// How much slower than at its goal's load the machine runs: 1 up to some thirty runnable tasks on
// eight cores (four a core), in proportion to the load beyond that.
double loadScale();
// The same for a load given: the runnable tasks counted while a test measured, say.
double loadScaleOf(double load);
// The tasks runnable at this moment. The load average follows them a minute late: a run that
// started on an idle machine measures its first minute with the load of the idle one.
int runnableTasks();
// The most a session end may take: it is to end within a second at that load; beyond it each task
// more slows it in proportion, and the sanitizers' bookkeeping too (kCpuBoundScale). Twice that,
// for the moment the load average lags behind.
qint64 sessionEndBoundMs();
// What a bound on the CPU spent after a signal is multiplied by: the application's threads work
// on until its main thread, woken by the signal, gets its turn, which on a loaded machine comes
// later in proportion; and the sanitizer build's factor.
double cpuAfterSignalScale();
// Ends the application when the test does, however it ends.
[[nodiscard]] inline auto stopAtEnd(QProcess& app) {
    return qScopeGuard([&app] {
        app.kill();
        app.waitForFinished();
    });
}

} // namespace vennimo::test
