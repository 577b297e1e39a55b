// How long a session end waits for a drop of large local photos: the application hangs one photo,
// another window drops N distinct camera-sized JPEGs (16 MB each by default) on that print, and
// SIGTERM is sent while the drop is saved. Photos outside the temporary folders are hung where they
// lie, and the signal goes as soon as the first one's thumbnail is saved; photos in a temporary
// folder are copied in first, and the signal goes 0.5 s after the first copy began. Prints the time
// from the signal to the end of the process, how many files were still saved after the signal,
// how many of the dropped photos hang, and for copies whether every named one is whole and
// whether anything half-written stayed. Target: the process gone within 1 s.
//
// Needs an X server with a window manager, as the x11 tests run:
//   xvfb-run -a -s "-screen 0 1920x1080x24" dbus-run-session -- bash -c
//     'openbox & sleep 1; build/bench/sessionend/bench_drop_session_end [COUNTS] [RUNS] [MB] [FOLDERS]
//     [CASES]'
// COUNTS is a comma-separated list (default 30,60); FOLDERS a comma-separated list of folders to
// make the photos in, one case each (default: beside this program, then the temporary folder).
// Then, from the same folders, drops of six JPEGs of 20,000 empty scans and of six 6000 x 4000
// HEICs, SIGTERM 1.5 s after the drop: pictures that cost more to decode than to send; and of an
// SVG of 21 MB and one of 300 bytes whose picture is a FIFO, SIGTERM 1 s after the drop. Last, from
// the temporary folder only, the smallest count of photos ended by SIGTERM and SIGHUP 2 ms later,
// as a stopped session scope sends them: besides the time, whether the process ended by itself.
// CASES, a comma-separated list of drops, scans, heics, svgs and hangup (default: all), picks the
// cases.
// COUNTS "progressive" runs only a case of its own: from the temporary folder, 40 progressive
// 5640 x 3172 JPEGs (about 10 MB each), whose checks hold whole-picture coefficient buffers: the
// CPU the process spends after the signal (mostly the kernel giving that memory back; target
// 200 ms) and its peak resident memory at the signal and, in a run left to finish, over the whole
// drop (target 600 MB).
// VENNIMO_BENCH_APP=/path/to/vennimo-gallery measures that build of the application instead.
#include "BenchSupport.h"
#include "dragdrop/ExternalImageDrop.h"
#include "rope/ClotheslineRopeGeometry.h"

#include <QApplication>
#include <QBuffer>
#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QDrag>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>
#include <QProcess>
#include <QRandomGenerator>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>
#include <QUrl>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <thread>
#include <vector>

#include <csignal>
#include <sys/stat.h>
#include <tuple>

using vennimo::bench::ropeWindow;
using vennimo::bench::waitMs;

namespace {

constexpr int kLimitMs = 120'000;
constexpr int kDistinctPictures = 6;
// After the first copy of a drop from a temporary folder began.
constexpr int kSignalAfterCopyBeganMs = 500;
// Where the application's rope canvas sits in its window, and a print's paper below its peg.
constexpr int kCanvasTop = 8;
constexpr int kSideInset = 10;
constexpr double kRopeInset = 12;
constexpr double kPegToPaper = 150;

template <typename Done>
bool waitFor(Done done, int ms) {
    const QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(2);
    }
    return true;
}

// A camera-like picture of about `megabytes` as a JPEG: smooth light with strong grain, which is
// what makes a camera file large and its decoding costly.
QByteArray cameraJpeg(int width, int height, int seed, bool progressive = false) {
    QImage image(width, height, QImage::Format_RGB32);
    QRandomGenerator random{quint32(seed)};
    for (int y = 0; y < height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const quint32 noise = random.generate();
            line[x] = qRgb(int((x * 200 / width + (noise & 63) + seed * 17) & 255),
                           int((y * 200 / height + ((noise >> 6) & 63)) & 255),
                           int(((x + y) * 100 / (width + height) + ((noise >> 12) & 63)) & 255));
        }
    }
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(93);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes;
}

// The same picture made a file of its own: a comment right after the start marker.
QByteArray distinct(const QByteArray& jpeg, int index) {
    const QByteArray text = QByteArray("drop photo ") + QByteArray::number(index);
    QByteArray segment("\xFF\xFE", 2);
    segment.append(char((text.size() + 2) >> 8)).append(char((text.size() + 2) & 0xFF)).append(text);
    return jpeg.left(2) + segment + jpeg.mid(2);
}

// `count` translucent rectangles over a 4000 x 3000 picture, 72 bytes each.
QByteArray rectanglesSvg(int count) {
    QByteArray svg(R"(<svg xmlns="http://www.w3.org/2000/svg" width="4000" height="3000">)");
    svg.reserve(qsizetype(count) * 72 + 100);
    for (int i = 0; i < count; ++i)
        svg += R"(<rect width="4000" height="3000" fill="#3060a0" fill-opacity="0.01"/>)"
               "\n";
    return svg + "</svg>\n";
}

int countFiles(const QString& folder) {
    return int(QDir(folder).entryList(QDir::Files).size());
}

int countHiddenFiles(const QString& folder) {
    return int(QDir(folder).entryList({QStringLiteral(".*")}, QDir::Files | QDir::Hidden).size());
}

// Copies are named after the digest of their bytes: one whose bytes differ from its name is not
// whole.
int wholeCopies(const QString& folder) {
    int whole = 0;
    const QDir dir(folder);
    for (const QString& name : dir.entryList(QDir::Files)) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly))
            continue;
        const QByteArray digest =
            QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha256).toHex();
        whole += name.contains(QString::fromLatin1(digest)) ? 1 : 0;
    }
    return whole;
}

int hungReferences(const QString& storage) {
    QFile file(storage + QStringLiteral("/exhibition.json"));
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray bytes = file.readAll();
    return int(bytes.count("\"bookmark\""));
}

std::optional<double> firstPlacementX(const QString& storage) {
    QFile file(storage + QStringLiteral("/clothesline-positions.json"));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QJsonObject records = QJsonDocument::fromJson(file.readAll()).object().value("records").toObject();
    if (records.isEmpty())
        return std::nullopt;
    return records.begin()->toObject().value("placement").toObject().value("x").toDouble();
}

QPoint printPoint(const QRect& window, double x) {
    vennimo::ClotheslineRopeGeometry rope;
    rope.width = window.width() - 2 * kSideInset;
    rope.inset = kRopeInset;
    const QPointF paper = rope.pointAlong(rope.supportFraction(x)) + QPointF(0, kPegToPaper);
    return window.topLeft() + QPointF(paper.x() + kSideInset, paper.y() + kCanvasTop).toPoint();
}

// Another program's window: a press drags the files as a file manager offers them.
class FileSource : public QWidget {
public:
    QList<QUrl> urls;

protected:
    void mousePressEvent(QMouseEvent*) override {
        auto* drag = new QDrag(this);
        auto* data = new QMimeData;
        data->setUrls(urls);
        drag->setMimeData(data);
        drag->exec(Qt::CopyAction | Qt::MoveAction, Qt::CopyAction);
    }
};

QString xy(QPoint p) {
    return QStringLiteral("%1 %2").arg(p.x()).arg(p.y());
}

// The most resident memory the process has held so far ("VmHWM"), in MiB; 0 once it is gone.
double peakResidentMiB(qint64 pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024;
    return 0;
}

struct Run {
    double exitMs = -1;
    double cpuAfterMs = 0;
    double peakMiB = 0;
    // Ended by itself, with status 0, rather than killed by a signal.
    bool clean = false;
    int writtenAfter = 0;
    int hung = 0;
    int copies = 0;
    int wholeCopies = 0;
    int halfWritten = 0;
};

// The signals of the end, sent 2 ms apart.
using Signals = QList<int>;
constexpr int kSignalsApartMs = 2;

// With `finishDrop`, the signal waits until every dropped photo was copied in and hangs; with
// `afterNamed`, it goes 0.5 s after the first copy is named rather than begun.
std::optional<Run> measure(const QString& program, const QStringList& photos, const QString& homeParent,
                           bool copiedIn, std::optional<int> signalAfterDropMs = std::nullopt,
                           const Signals& ending = {SIGTERM}, bool finishDrop = false,
                           bool afterNamed = false) {
    QTemporaryDir home(homeParent + QStringLiteral("/home-XXXXXX"));
    vennimo::bench::useOwnHome(home.path());
    const QString desktop = home.path() + QStringLiteral("/Desktop");
    const QString storage = home.path() + QStringLiteral("/.local/share/VennimoGallery");
    const QString thumbnails = storage + QStringLiteral("/exhibition-thumbnails");
    QDir().mkpath(desktop);

    QProcess gallery;
    gallery.setProcessChannelMode(QProcess::ForwardedChannels);
    // SIGHUP as a session sends it, even when the bench runs under nohup.
    gallery.setChildProcessModifier([] { ::signal(SIGHUP, SIG_DFL); });
    gallery.start(program);
    if (!gallery.waitForStarted())
        return std::nullopt;
    waitMs(2500);
    vennimo::bench::writeCameraJpeg(desktop + QStringLiteral("/first.jpg"), 1200, 900, 1);
    if (!waitFor([&] { return vennimo::bench::hangingRows(storage) == 1; }, 20'000)) {
        gallery.kill();
        gallery.waitForFinished();
        return std::nullopt;
    }
    waitMs(2500);
    const std::optional<QRect> window = ropeWindow(gallery.processId());
    const std::optional<double> x = firstPlacementX(storage);
    if (!window || !x) {
        gallery.kill();
        gallery.waitForFinished();
        return std::nullopt;
    }
    const QString copies = storage + QStringLiteral("/imported-images");
    // Files dropped from a temporary folder are copied in first, the others drawn where they lie:
    // either shows that the drop is being saved.
    const auto saved = [&] { return countFiles(thumbnails) + countFiles(copies); };
    const int before = saved();

    FileSource source;
    for (const QString& photo : photos)
        source.urls.append(QUrl::fromLocalFile(photo));
    source.setWindowTitle(QStringLiteral("files"));
    source.setGeometry(window->x() + 40, window->bottom() + 60, 200, 150);
    source.show();
    waitMs(500);
    const QPoint from = source.geometry().center();
    const QPoint to = printPoint(*window, *x);
    QString script = "xdotool mousemove " + xy(from) + "; sleep 0.3; xdotool mousedown 1; sleep 0.3;";
    for (int i = 1; i <= 12; ++i)
        script += " xdotool mousemove " + xy(from + (to - from) * i / 12) + "; sleep 0.05;";
    script += " sleep 0.6; xdotool mouseup 1";
    QProcess gesture;
    gesture.start("bash", {"-c", script});

    // A copy begins as a hidden file in the import folder.
    const auto begun = [&] {
        if (afterNamed)
            return countFiles(copies) > 0;
        return copiedIn ? countHiddenFiles(copies) > 0 : saved() > before;
    };
    if (signalAfterDropMs) {
        waitFor([&] { return gesture.state() == QProcess::NotRunning; }, 30'000);
        waitFor([] { return false; }, *signalAfterDropMs);
    } else if (!waitFor(begun, 30'000)) {
        std::printf("  the drop was not taken\n");
        gallery.kill();
        gallery.waitForFinished();
        return std::nullopt;
    }
    if (finishDrop)
        waitFor([&] { return vennimo::bench::hangingRows(storage) >= int(photos.size()) + 1; }, kLimitMs);
    else if (copiedIn && !signalAfterDropMs)
        waitFor([] { return false; }, kSignalAfterCopyBeganMs);
    const qint64 pid = gallery.processId();
    Run run;
    run.peakMiB = peakResidentMiB(pid);
    const double cpuBefore = vennimo::bench::cpuOf(pid).value_or(vennimo::bench::CpuReading{}).seconds;
    double cpuLast = cpuBefore;
    QElapsedTimer sinceSignal;
    sinceSignal.start();
    for (qsizetype i = 0; i < ending.size(); ++i) {
        if (i > 0)
            QThread::usleep(kSignalsApartMs * 1000);
        ::kill(pid_t(pid), ending[i]);
    }
    const int atSignal = saved();
    // The process is not reaped while its CPU time is read, so its last reading is its final one.
    while (sinceSignal.elapsed() < kLimitMs) {
        const std::optional<vennimo::bench::CpuReading> now = vennimo::bench::cpuOf(pid);
        if (now)
            cpuLast = now->seconds;
        if (!now || now->ended)
            break;
        QThread::usleep(500);
    }
    run.exitMs = double(sinceSignal.nsecsElapsed()) / 1e6;
    run.cpuAfterMs = (cpuLast - cpuBefore) * 1000;
    const bool ended = waitFor([&] { return gallery.state() == QProcess::NotRunning; }, kLimitMs);
    run.clean = gallery.exitStatus() == QProcess::NormalExit && gallery.exitCode() == 0;
    gesture.waitForFinished(5000);
    source.hide();
    if (!ended) {
        gallery.kill();
        gallery.waitForFinished();
        return std::nullopt;
    }
    run.writtenAfter = saved() - atSignal;
    run.hung = hungReferences(storage);
    run.copies = countFiles(copies);
    run.wholeCopies = wholeCopies(copies);
    run.halfWritten = countHiddenFiles(copies) + countHiddenFiles(thumbnails);
    return run;
}

// Forty copies of progressive camera photos dropped from the temporary folder, the signal 0.5 s after
// the first copy was named; then one drop left to finish, for the peak memory of the whole drop.
bool ranProgressive(const QString& program, const QString& homeParent, int runs) {
    constexpr int kCount = 40;
    constexpr int kWidth = 5640;
    constexpr int kHeight = 3172;
    std::vector<QByteArray> pictures(kDistinctPictures);
    {
        std::vector<std::thread> makers;
        for (int i = 0; i < kDistinctPictures; ++i)
            makers.emplace_back(
                [&pictures, i] { pictures[size_t(i)] = cameraJpeg(kWidth, kHeight, i + 21, true); });
        for (std::thread& maker : makers)
            maker.join();
    }
    QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/drop-progressive-XXXXXX"));
    QStringList photos;
    for (int i = 0; i < kCount; ++i) {
        const QString path = QStringLiteral("%1/DSC_%2.jpg").arg(folder.path()).arg(5000 + i);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(distinct(pictures[size_t(i % kDistinctPictures)], i)) < 0)
            return false;
        photos.append(path);
    }
    std::printf("progressive photos in %s: %d x %d, %.1f MB each\n", qPrintable(folder.path()), kWidth,
                kHeight, double(QFileInfo(photos.first()).size()) / 1'048'576.0);
    for (int run = 0; run <= runs; ++run) {
        const bool finish = run == runs;
        const std::optional<Run> result =
            measure(program, photos, homeParent, true, std::nullopt, {SIGTERM}, finish, true);
        if (!result) {
            std::printf("drop of %d progressive photos: run %d failed\n", kCount, run + 1);
            continue;
        }
        if (finish)
            std::printf("drop of %d progressive photos (copied in) left to finish: peak RSS %.0f MB (target: "
                        "under 600 MB); then SIGTERM to exit %.0f ms, %.0f ms of CPU after the signal\n",
                        kCount, result->peakMiB, result->exitMs, result->cpuAfterMs);
        else
            std::printf(
                "drop of %d progressive photos (copied in), SIGTERM 0.5 s after the first copy was named: "
                "exit %.0f ms, %.0f ms of CPU after the signal (target: 200 ms), peak RSS %.0f MB at the "
                "signal; files saved after the signal: %d; copies named: %d, whole: %d; half-written "
                "left: %d\n",
                kCount, result->exitMs, result->cpuAfterMs, result->peakMiB, result->writtenAfter,
                result->copies, result->wholeCopies, result->halfWritten);
        std::fflush(stdout);
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QList<int> counts;
    for (const QString& count : app.arguments().value(1, QStringLiteral("30,60")).split(','))
        counts.append(std::max(1, count.toInt()));
    const int runs = std::max(1, app.arguments().value(2, QStringLiteral("3")).toInt());
    const int megabytes = std::max(1, app.arguments().value(3, QStringLiteral("16")).toInt());
    const QString program = qEnvironmentVariable("VENNIMO_BENCH_APP", QStringLiteral(VENNIMO_APP_PATH));
    const QStringList cases = app.arguments()
                                  .value(5, QStringLiteral("drops,scans,heics,svgs,hangup"))
                                  .split(QLatin1Char(','), Qt::SkipEmptyParts);

    // The bench's own folders, homes included, outside any of the application's homes. By default
    // the photos lie outside the temporary folders first, as in a user's picture folder, and then
    // in the temporary folder, whence the drop copies them in.
    QTemporaryDir work;
    if (app.arguments().value(1) == QLatin1String("progressive"))
        return ranProgressive(program, work.path(), runs) ? 0 : 1;
    const QStringList folders =
        app.arguments()
            .value(4, QCoreApplication::applicationDirPath() + QLatin1Char(',') + QDir::tempPath())
            .split(QLatin1Char(','), Qt::SkipEmptyParts);
    // About 0.64 bytes a pixel at this grain: 16 MB is some 25 megapixels, a camera's size.
    const double pixels = megabytes * 1'048'576.0 / 0.64;
    const int width = int(std::sqrt(pixels * 4 / 3));
    const int height = width * 3 / 4;
    std::vector<QByteArray> pictureBytes(kDistinctPictures);
    {
        std::vector<std::thread> makers;
        for (int i = 0; i < kDistinctPictures; ++i)
            makers.emplace_back([&pictureBytes, i, width, height] {
                pictureBytes[size_t(i)] = cameraJpeg(width, height, i + 3);
            });
        for (std::thread& maker : makers)
            maker.join();
    }
    // HEICs take a while to make: made once, copied into each folder.
    QStringList madeHeics;
    for (int i = 0; i < 6; ++i)
        madeHeics.append(QStringLiteral("%1/camera-%2.heic").arg(work.path()).arg(i));
    if (!vennimo::bench::writeCameraHeics(madeHeics, 6000, 4000))
        madeHeics.clear();
    const int most = *std::max_element(counts.cbegin(), counts.cend());
    for (const QString& folder : folders) {
        QTemporaryDir photoFolder(folder + QStringLiteral("/drop-photos-XXXXXX"));
        const QString pictures = photoFolder.path();
        const bool copiedIn =
            vennimo::ExternalImageDrop::isInTemporaryFolder(pictures + QStringLiteral("/a.jpg"));
        QStringList photos;
        for (int i = 0; i < most; ++i) {
            const QString path = QStringLiteral("%1/IMG_%2.jpg").arg(pictures).arg(1000 + i);
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) ||
                file.write(distinct(pictureBytes[size_t(i % kDistinctPictures)], i)) < 0)
                return 1;
            photos.append(path);
        }
        std::printf("photos in %s (%s): %d x %d, %.1f MB each\n", qPrintable(pictures),
                    copiedIn ? "a temporary folder: copied in" : "hung where they lie", width, height,
                    double(QFileInfo(photos.first()).size()) / 1'048'576.0);

        for (int count : cases.contains(QStringLiteral("drops")) ? counts : QList<int>()) {
            for (int run = 0; run < runs; ++run) {
                const std::optional<Run> result =
                    measure(program, photos.mid(0, count), work.path(), copiedIn);
                if (!result) {
                    std::printf("drop of %d: run %d failed\n", count, run + 1);
                    continue;
                }
                std::printf("drop of %d photos%s: SIGTERM to exit %.0f ms; files saved after the signal: %d; "
                            "dropped photos hung: %d",
                            count, copiedIn ? " (copied in)" : "", result->exitMs, result->writtenAfter,
                            result->hung);
                if (copiedIn)
                    std::printf("; copies named: %d, whole: %d", result->copies, result->wholeCopies);
                std::printf("; half-written left: %d (target: exit within 1000 ms)\n", result->halfWritten);
                std::fflush(stdout);
            }
        }

        // Six pictures that cost more to decode than to send, the signal 1.5 s after the drop.
        QStringList scans;
        QStringList heics;
        for (int i = 0; i < 6; ++i) {
            scans.append(QStringLiteral("%1/scans-%2.jpg").arg(pictures).arg(i));
            QFile file(scans.last());
            if (!file.open(QIODevice::WriteOnly) || file.write(vennimo::bench::manyScanJpeg(20'000, i)) < 0)
                return 1;
            heics.append(QStringLiteral("%1/camera-%2.heic").arg(pictures).arg(i));
            if (!madeHeics.isEmpty() && !QFile::copy(madeHeics[i], heics.last()))
                return 1;
        }
        QList<std::tuple<const char*, QStringList, int>> costly;
        if (cases.contains(QStringLiteral("scans")))
            costly.append({"JPEGs of 20,000 scans", scans, 6});
        if (cases.contains(QStringLiteral("heics")))
            costly.append({"HEICs of 6000 x 4000", madeHeics.isEmpty() ? QStringList() : heics, 6});
        if (cases.contains(QStringLiteral("svgs"))) {
            // Reading an SVG's size takes a process of its own; one linking a FIFO waited on it.
            const QString fifo = work.path() + QStringLiteral("/waiting");
            ::mkfifo(QFile::encodeName(fifo).constData(), 0600);
            const QStringList svgs = {pictures + QStringLiteral("/rectangles.svg"),
                                      pictures + QStringLiteral("/linking.svg")};
            QFile large(svgs[0]);
            QFile linking(svgs[1]);
            if (!large.open(QIODevice::WriteOnly) || large.write(rectanglesSvg(300'000)) < 0 ||
                !linking.open(QIODevice::WriteOnly) ||
                linking.write(
                    "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/"
                    "xlink\" width=\"400\" height=\"300\"><image width=\"400\" height=\"300\" "
                    "xlink:href=\"" +
                    QFile::encodeName(fifo) + "\"/></svg>\n") < 0)
                return 1;
            costly.append({"SVGs of 21 MB", {svgs[0]}, 1});
            costly.append({"SVGs linking a FIFO", {svgs[1]}, 1});
        }
        for (const auto& [what, files, count] : costly) {
            if (files.isEmpty()) {
                std::printf("no %s: heif-enc is missing or failed\n", what);
                continue;
            }
            // An SVG's reading is under way a second after its drop.
            const int afterMs = count == 1 ? 1000 : 1500;
            for (int run = 0; run < runs; ++run) {
                const std::optional<Run> result = measure(program, files, work.path(), copiedIn, afterMs);
                if (!result) {
                    std::printf("drop of %d %s: run %d failed\n", count, what, run + 1);
                    continue;
                }
                std::printf(
                    "drop of %d %s%s, SIGTERM %.1f s later: exit after %.0f ms; files saved after the "
                    "signal: %d; half-written left: %d\n",
                    count, what, copiedIn ? " (copied in)" : "", afterMs / 1000.0, result->exitMs,
                    result->writtenAfter, result->halfWritten);
                std::fflush(stdout);
            }
        }

        // A stopped session scope: SIGTERM, and SIGHUP right behind it, while copies are made.
        if (!copiedIn || !cases.contains(QStringLiteral("hangup")))
            continue;
        const int fewest = *std::min_element(counts.cbegin(), counts.cend());
        for (int run = 0; run < runs; ++run) {
            const std::optional<Run> result = measure(program, photos.mid(0, fewest), work.path(), copiedIn,
                                                      std::nullopt, {SIGTERM, SIGHUP});
            if (!result) {
                std::printf("drop of %d, SIGTERM and SIGHUP: run %d failed\n", fewest, run + 1);
                continue;
            }
            std::printf(
                "drop of %d photos (copied in), SIGTERM and SIGHUP %d ms later: exit after %.0f ms, %s; "
                "copies named: %d, whole: %d, hung: %d; half-written left: %d\n",
                fewest, kSignalsApartMs, result->exitMs,
                result->clean ? "ended by itself" : "killed by the signal", result->copies,
                result->wholeCopies, result->hung, result->halfWritten);
            std::fflush(stdout);
        }
    }
    if (!ranProgressive(program, work.path(), runs))
        return 1;
    return 0;
}
