// Change-driven scans of a burst: one folder of FILES images (10,000 unless given) indexed, then
// scans naming 1,000 and then all of them as changed, as a watcher reports a burst that landed in
// one folder; and how soon such a scan, stopped 50 ms in, comes back. Medians of RUNS runs (3
// unless given). The scan's cost should grow with the changed paths: ten times the paths, about
// ten times the time.
// Usage: bench_scan_changes [FILES] [RUNS]
#include "BenchSupport.h"
#include "core/FolderChange.h"
#include "core/Indexer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <future>
#include <thread>
#include <vector>

using namespace vennimo;

namespace {

constexpr std::uint32_t kCreated = 0x100 | 0x10000;
constexpr int kSmallBurst = 1000;
constexpr std::chrono::milliseconds kStopAfter{50};

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int files = std::max(kSmallBurst, app.arguments().value(1, QStringLiteral("10000")).toInt());
    const int runs = std::max(1, app.arguments().value(2, QStringLiteral("3")).toInt());
    QTemporaryDir tree;
    const QString folder = tree.path() + QStringLiteral("/Desktop");
    QDir().mkpath(folder);
    QList<FolderChange> changes;
    for (int i = 0; i < files; ++i) {
        const QString path = folder + QStringLiteral("/burst-%1.jpg").arg(i);
        if (!bench::writeStandInImage(path))
            return 2;
        changes.append({path, kCreated});
    }
    const QList<SourceRoot> roots{{QStringLiteral("Desktop"), folder}};

    std::vector<double> smallCpu, wholeCpu, stopWall;
    bool clean = true;
    for (int run = 0; run < runs; ++run) {
        QTemporaryDir storage;
        Indexer indexer(roots, storage.path());
        clean = clean && indexer.scan(std::nullopt, false).size() == files;
        double start = bench::threadCpuSeconds();
        clean = clean && indexer.scan(changes.mid(0, kSmallBurst), false).size() == files;
        smallCpu.push_back(bench::threadCpuSeconds() - start);
        start = bench::threadCpuSeconds();
        clean = clean && indexer.scan(changes, false).size() == files;
        wholeCpu.push_back(bench::threadCpuSeconds() - start);

        auto scanned = std::async(std::launch::async, [&] { return indexer.scan(changes, false); });
        std::this_thread::sleep_for(kStopAfter);
        const auto stopped = std::chrono::steady_clock::now();
        indexer.stop();
        scanned.wait();
        stopWall.push_back(bench::secondsSince(stopped));
    }

    std::printf("one folder of %d images, median of %d runs\n", files, runs);
    std::printf("change scan of %d paths:  %.3f s of CPU\n", kSmallBurst, bench::median(smallCpu));
    std::printf("change scan of %d paths: %.3f s of CPU\n", files, bench::median(wholeCpu));
    std::printf("change scan stopped %lld ms in: back after %.4f s\n",
                static_cast<long long>(kStopAfter.count()), bench::median(stopWall));
    return clean ? 0 : 1;
}
