// A full library scan of DIR (or of a generated tree of 10,000 image files in 200 folders) into a
// temporary storage folder, without thumbnails. Prints files per second next to
// `find DIR -type f -printf '%i %s %T@\n'` on the same warm tree.
// Usage: bench_scan [DIR]
#include "BenchSupport.h"
#include "core/ImageFileRule.h"
#include "core/Indexer.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace vennimo;

namespace {

constexpr int kFolders = 200;
constexpr int kFilesPerFolder = 50;
constexpr int kRuns = 5;

constexpr double kTargetRatio = 2.0;

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
    timeFind(folder);
    // Each run times find next to the two scans, so that every ratio compares figures taken
    // moments apart on a busy machine; the median of the runs is reported.
    std::vector<double> findWall, firstWall, againWall, firstRatio, againRatio, firstCpuRatio, againCpuRatio;
    std::vector<double> encodeSeconds;
    QList<Photo> photos;
    bool clean = true;
    for (int run = 0; run < kRuns; ++run) {
        double cpu = bench::childrenCpuSeconds();
        const double find = timeFind(folder);
        const double findCpu = std::max(1e-6, bench::childrenCpuSeconds() - cpu);
        QTemporaryDir storage;
        Indexer indexer({{QStringLiteral("Bench"), folder}}, storage.path());
        auto start = std::chrono::steady_clock::now();
        cpu = bench::threadCpuSeconds();
        photos = indexer.scan(std::nullopt, false);
        const double first = bench::secondsSince(start);
        const double firstCpu = bench::threadCpuSeconds() - cpu;
        // The index is written off the scan's path; this is how long it takes there.
        start = std::chrono::steady_clock::now();
        indexer.flushIndex();
        encodeSeconds.push_back(bench::secondsSince(start));
        start = std::chrono::steady_clock::now();
        cpu = bench::threadCpuSeconds();
        indexer.scan(std::nullopt, false);
        const double again = bench::secondsSince(start);
        const double againCpu = bench::threadCpuSeconds() - cpu;
        indexer.flushIndex();
        clean = clean && indexer.errors().isEmpty() && QFile::exists(indexer.indexPath());
        findWall.push_back(find);
        firstWall.push_back(first);
        againWall.push_back(again);
        firstRatio.push_back(first / find);
        againRatio.push_back(again / find);
        firstCpuRatio.push_back(firstCpu / findCpu);
        againCpuRatio.push_back(againCpu / findCpu);
    }

    const double find = bench::median(findWall);
    const double first = bench::median(firstWall);
    const double again = bench::median(againWall);
    auto verdict = [](double ratio) { return ratio < kTargetRatio ? "met" : "missed"; };
    std::printf("median of %d runs\n", kRuns);
    std::printf("find -printf:                   %.3f s wall (%.0f files/s)\n", find, expected / find);
    std::printf("first scan:                     %lld of %d images in %.3f s = %.0f files/s; "
                "%.2fx find wall, %.2fx CPU (target < %.0fx, %s)\n",
                static_cast<long long>(photos.size()), expected, first, photos.size() / first,
                bench::median(firstRatio), bench::median(firstCpuRatio), kTargetRatio,
                verdict(bench::median(firstRatio)));
    std::printf("index.json written after it, off the scan's path: %.3f s\n", bench::median(encodeSeconds));
    std::printf("unchanged full rescan:          %.3f s = %.0f files/s; %.2fx find wall, %.2fx CPU "
                "(target < %.0fx, %s)\n",
                again, photos.size() / again, bench::median(againRatio), bench::median(againCpuRatio),
                kTargetRatio, verdict(bench::median(againRatio)));
    return photos.size() == expected && clean ? 0 : 1;
}
