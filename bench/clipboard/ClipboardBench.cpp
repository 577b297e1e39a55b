// The main thread's share of copying one 100-megapixel photo and pasting its image, whose PNG
// takes seconds to make. Three ways: the image made when the paste asks for it (how a copy
// that does not start it ahead behaves), a copy through PhotoClipboard pasted at once, and one
// pasted a moment later, as a user switching to another program does. The main thread's CPU
// time shows what it did itself, its wall time how long it could not answer; the target is
// 0.5 s of main-thread time for a copy and its first paste.
// Exits non-zero when a paste gives no image.
// Usage: clipboard [RUNS] [WORKDIR]
#include "BenchSupport.h"
#include "core/PhotoIdentity.h"
#include "model/ImageClipboardData.h"
#include "model/PhotoClipboard.h"
#include "platform/FileIdentity.h"

#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <vector>

using namespace vennimo;

namespace {

constexpr int kWidth = 12000;
constexpr int kHeight = 8333; // just under 100,000,000 pixels
constexpr double kTargetSeconds = 0.5;

using Clock = std::chrono::steady_clock;

struct Span {
    double wall = 0;
    double cpu = 0;
};

template <class F>
Span measure(F&& work) {
    const auto start = Clock::now();
    const double cpu = bench::threadCpuSeconds();
    work();
    return {bench::secondsSince(start), bench::threadCpuSeconds() - cpu};
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

Photo photoAt(const QString& path) {
    const auto id = currentIdentity(path);
    const auto file = FileIdentity::read(path);
    if (!id || !file)
        return {};
    return {.id = id->id,
            .path = path,
            .modified = file->modified,
            .size = file->size,
            .created = id->created,
            .usageID = id->usageID};
}

QByteArray pasted() {
    return QGuiApplication::clipboard()->mimeData()->data(
        QString::fromLatin1(ImageClipboardData::kImageType));
}

} // namespace

int main(int argc, char** argv) {
    QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", (home.path() + "/config").toUtf8());
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int runs = std::max(1, app.arguments().value(1).toInt());
    const QString workRoot = app.arguments().value(2, QDir::tempPath());

    QTemporaryDir work(workRoot + QStringLiteral("/vennimo-clipboard-bench-XXXXXX"));
    const QString path = work.path() + QStringLiteral("/large.jpg");
    if (!bench::writeCameraJpeg(path, kWidth, kHeight, 1)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return 1;
    }
    const Photo photo = photoAt(path);
    std::printf("copy and paste a %dx%d JPEG (%.1f MB), %d runs, medians\n", kWidth, kHeight,
                QFileInfo(path).size() / 1e6, runs);

    bool ok = true;
    std::vector<double> onRequestWall, onRequestCpu, atOnceWall, atOnceCpu, laterWall, laterCpu, copyWall;
    for (int run = 0; run < runs; ++run) {
        // Made when the paste asks, on the thread that asks.
        {
            const auto source = PhotoClipboard::immutableCopySource(photo);
            ImageClipboardData data(QUrl::fromLocalFile(path), source);
            QByteArray image;
            const Span paste =
                measure([&] { image = data.data(QString::fromLatin1(ImageClipboardData::kImageType)); });
            ok = ok && !image.isEmpty();
            onRequestWall.push_back(paste.wall);
            onRequestCpu.push_back(paste.cpu);
        }
        // Copied, then pasted at once: the paste waits for whatever is left.
        {
            QByteArray image;
            const Span copy = measure([&] { ok = ok && PhotoClipboard::copyPhoto(photo); });
            const Span paste = measure([&] { image = pasted(); });
            ok = ok && !image.isEmpty();
            copyWall.push_back(copy.wall);
            atOnceWall.push_back(copy.wall + paste.wall);
            atOnceCpu.push_back(copy.cpu + paste.cpu);
        }
        // Copied, then pasted once the user got to the other program.
        {
            QByteArray image;
            const Span copy = measure([&] { ok = ok && PhotoClipboard::copyPhoto(photo); });
            std::this_thread::sleep_for(std::chrono::duration<double>(median(onRequestWall) * 1.5));
            const Span paste = measure([&] { image = pasted(); });
            ok = ok && !image.isEmpty();
            laterWall.push_back(copy.wall + paste.wall);
            laterCpu.push_back(copy.cpu + paste.cpu);
        }
        QGuiApplication::clipboard()->clear();
    }

    std::printf("%-44s %10s %10s\n", "main thread", "wall s", "cpu s");
    std::printf("%-44s %10.3f %10.3f\n", "image made when pasted (no early start)", median(onRequestWall),
                median(onRequestCpu));
    std::printf("%-44s %10.3f %10.3f\n", "copy + paste at once", median(atOnceWall), median(atOnceCpu));
    std::printf("%-44s %10.3f %10.3f\n", "copy + paste after a pause", median(laterWall), median(laterCpu));
    std::printf("copy alone: %.3f s wall; target: copy + first paste within %.1f s of main-thread time\n",
                median(copyWall), kTargetSeconds);
    if (!ok)
        std::fprintf(stderr, "a copy or paste gave no image\n");
    return ok ? 0 : 1;
}
