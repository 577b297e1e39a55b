// A full library scan of DIR (or of a generated tree of 10,000 image files in 200 folders) into a
// temporary storage folder, without thumbnails. Prints files per second next to
// `find DIR -type f -printf '%i %s %T@\n'` on the same warm tree.
// Usage: bench_scan [DIR]
#include "BenchSupport.h"
#include "core/ImageFileRule.h"
#include "core/Indexer.h"
#include "core/LibraryEncoding.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>

using namespace vennimo;

namespace {

constexpr int kFolders = 200;
constexpr int kFilesPerFolder = 50;
constexpr int kRuns = 5;

struct Timing {
    double wall = 1e9;
    double cpu = 1e9;
    void keepBest(double wallSeconds, double cpuSeconds) {
        wall = std::min(wall, wallSeconds);
        cpu = std::min(cpu, cpuSeconds);
    }
};

// Wall-clock seconds; the CPU seconds of find are read from the reaped children.
double timeFind(const QString& folder) {
    const auto start = std::chrono::steady_clock::now();
    QProcess find;
    find.setStandardOutputFile(QProcess::nullDevice());
    find.start(QStringLiteral("find"), {folder, QStringLiteral("-type"), QStringLiteral("f"),
                                        QStringLiteral("-printf"), QStringLiteral("%i %s %T@\\n")});
    find.waitForFinished(-1);
    return bench::secondsSince(start);
}

int countImages(const QString& folder) {
    int count = 0;
    QDirIterator it(folder, QDir::Files | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (isImageFileName(path) && !QDir(folder).relativeFilePath(path).contains(QLatin1String("/.")) &&
            !it.fileName().startsWith(QLatin1Char('.')))
            ++count;
    }
    return count;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir generated;
    QString folder = app.arguments().value(1);
    if (folder.isEmpty()) {
        folder = generated.path();
        const QByteArray bytes(2048, 'j');
        for (int f = 0; f < kFolders; ++f) {
            const QString sub = folder + QStringLiteral("/folder%1").arg(f);
            QDir().mkpath(sub);
            for (int i = 0; i < kFilesPerFolder; ++i) {
                QFile file(sub + QStringLiteral("/image%1.jpg").arg(i));
                if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
                    return 2;
            }
        }
    }
    const int expected = countImages(folder);
    // Best of several runs: the figures are about the work, not about a busy machine.
    timeFind(folder);
    Timing find;
    for (int run = 0; run < kRuns; ++run) {
        const double cpu = bench::childrenCpuSeconds();
        const double wall = timeFind(folder);
        find.keepBest(wall, bench::childrenCpuSeconds() - cpu);
    }

    Timing first;
    Timing again;
    double encodeSeconds = 1e9;
    QList<Photo> photos;
    bool clean = true;
    for (int run = 0; run < kRuns; ++run) {
        QTemporaryDir storage;
        Indexer indexer({{QStringLiteral("Bench"), folder}}, storage.path());
        auto start = std::chrono::steady_clock::now();
        double cpu = bench::threadCpuSeconds();
        photos = indexer.scan(std::nullopt, false);
        first.keepBest(bench::secondsSince(start), bench::threadCpuSeconds() - cpu);
        start = std::chrono::steady_clock::now();
        cpu = bench::threadCpuSeconds();
        indexer.scan(std::nullopt, false);
        again.keepBest(bench::secondsSince(start), bench::threadCpuSeconds() - cpu);
        clean = clean && indexer.errors().isEmpty();
        start = std::chrono::steady_clock::now();
        const QByteArray encoded = encodeLibrary(indexer.library());
        encodeSeconds = std::min(encodeSeconds, bench::secondsSince(start));
        clean = clean && !encoded.isEmpty();
    }

    // Best of several runs: the figures are about the work, not about a busy machine.
    std::printf("find -printf:                   %.3f s wall, %.3f s CPU (%.0f files/s)\n", find.wall,
                find.cpu, expected / find.wall);
    std::printf("first scan, index.json written: %lld of %d images in %.3f s = %.0f files/s; "
                "%.2fx find wall, %.2fx CPU\n",
                static_cast<long long>(photos.size()), expected, first.wall, photos.size() / first.wall,
                first.wall / find.wall, first.cpu / find.cpu);
    std::printf("  of which encoding index.json: %.3f s\n", encodeSeconds);
    std::printf(
        "unchanged full rescan:          %.3f s = %.0f files/s; %.2fx find wall, %.2fx CPU (target <= 2x)\n",
        again.wall, photos.size() / again.wall, again.wall / find.wall, again.cpu / find.cpu);
    return photos.size() == expected && clean ? 0 : 1;
}
