#pragma once

#include <QByteArray>
#include <QList>
#include <QRect>
#include <QString>
#include <QStringList>

#include <chrono>
#include <optional>
#include <vector>

namespace vennimo::bench {

// A photo-like 4000x3000 JPEG (gradients and noise, so that decoding costs what a camera
// picture costs).
bool writeCameraJpeg(const QString& path, int width, int height, int seed);
// A 10000 x 10000 grey progressive JPEG of `scans` DC scans of ten bytes each: cheap to send, a
// pass over 1.56 million blocks a scan for a decoder that makes them all. `seed` makes its bytes
// differ from another's.
QByteArray manyScanJpeg(int scans, int seed);
// Camera-sized HEICs made from camera-like JPEGs by heif-enc, side by side; false when heif-enc
// is missing or failed.
bool writeCameraHeics(const QStringList& paths, int width, int height);
// Real photographs of `shapes` different shapes, one file each in `pool`: the JPEG photographs
// found under VENNIMO_BENCH_PHOTOS (default /usr/share/wallpapers, Debian's
// plasma-workspace-wallpapers), each cropped at its full size to an aspect ratio of its own
// between 2:5 and 5:2. Files already in `pool` are kept. Empty when no photograph was found.
QStringList realPhotoPool(const QString& pool, int shapes);
// `count` copies of the pool's photographs named "<prefix>-<n>.jpg" in `folder`, the shapes in turn.
bool copyRealPhotos(const QStringList& pool, const QString& folder, const QString& prefix, int count);
// The CPU time (user and system) of a process's main thread so far, in seconds; none once gone.
std::optional<double> mainThreadCpuOf(qint64 pid);
double secondsSince(std::chrono::steady_clock::time_point start);
// The middle value of a few runs' figures; `values` must not be empty.
double median(std::vector<double> values);
// A file of 2 KB named like an image: what an index lists without decoding it.
bool writeStandInImage(const QString& path);
// CPU time (user and system) of the calling thread, and of the reaped child processes: a
// comparison that holds up on a busy machine, where wall-clock times wander.
double threadCpuSeconds();
double childrenCpuSeconds();
// CPU time of every thread of this process, helper threads included, on the precise clock.
double processCpuSeconds();
// The CPU time (user and system) another process has used so far, in scheduler ticks, and whether
// it has ended: a zombie's times are its last. None once it is gone.
struct CpuReading {
    double seconds = 0;
    bool ended = false;
};
std::optional<CpuReading> cpuOf(qint64 pid);

// The application this program starts keeps to `home`: its folders, defaults and library live
// there, and its runtime folder too, so it never meets a running instance of the user's.
void useOwnHome(const QString& home);
// The prints the application started with storage folder `storage` has hung, as it saved them.
int hangingRows(const QString& storage);

// Keeps the event loop turning for `ms`, so what the X server shows and sends keeps arriving.
void waitMs(int ms);
// The frames of the process's visible windows but a tray icon, which a tray host may show, and the
// widest of them, the application's rope window.
QList<QRect> windowFrames(qint64 pid);
std::optional<QRect> ropeWindow(qint64 pid);
// The X id of the rope window; empty while none shows.
QString ropeWindowId(qint64 pid);

} // namespace vennimo::bench
