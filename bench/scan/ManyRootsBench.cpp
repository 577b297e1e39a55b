// Scans of many source folders: FOLDERS sibling folders (10,000 unless given), each a source of its
// own holding one image and a subfolder with another, into a temporary storage folder, without
// thumbnails. Times the first scan, where every folder awaits its baseline, an unchanged full
// rescan, the scan of one new file, and how soon a first scan stopped half-way comes back and its
// indexer is gone (the way out), as the median of RUNS runs (3 unless given).
// Usage: bench_scan_roots [FOLDERS] [RUNS]
#include "BenchSupport.h"
#include "core/FolderChange.h"
#include "core/Indexer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <future>
#include <memory>
#include <thread>
#include <vector>

using namespace vennimo;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int folders = std::max(1, app.arguments().value(1, QStringLiteral("10000")).toInt());
    const int runs = std::max(1, app.arguments().value(2, QStringLiteral("3")).toInt());
    QTemporaryDir tree;
    QList<SourceRoot> roots;
    for (int i = 0; i < folders; ++i) {
        const QString folder = tree.path() + QStringLiteral("/folder-%1").arg(i);
        if (!QDir().mkpath(folder + QStringLiteral("/sub")) ||
            !bench::writeStandInImage(folder + QStringLiteral("/a.jpg")) ||
            !bench::writeStandInImage(folder + QStringLiteral("/sub/b.jpg")))
            return 2;
        roots.append({QStringLiteral("F%1").arg(i), folder});
    }
    const qsizetype expected = 2LL * folders;

    std::vector<double> firstWall, againWall, changeWall, stopWall, goneWall;
    bool clean = true;
    for (int run = 0; run < runs; ++run) {
        QTemporaryDir storage;
        Indexer indexer(roots, storage.path());
        auto start = std::chrono::steady_clock::now();
        const QList<Photo> photos = indexer.scan(std::nullopt, false);
        firstWall.push_back(bench::secondsSince(start));
        clean = clean && photos.size() == expected && indexer.library().pendingBaselineRoots == QStringList{};
        start = std::chrono::steady_clock::now();
        clean = clean && indexer.scan(std::nullopt, false).size() == expected;
        againWall.push_back(bench::secondsSince(start));
        const QString added = tree.path() + QStringLiteral("/folder-%1/new-%2.jpg").arg(folders / 2).arg(run);
        clean = clean && bench::writeStandInImage(added);
        start = std::chrono::steady_clock::now();
        clean = clean && indexer.scan(QList<FolderChange>{{added, 0x100}}, false).size() == expected + 1;
        changeWall.push_back(bench::secondsSince(start));
        QFile::remove(added);
        clean = clean && indexer.errors().isEmpty();

        // A first scan stopped once it has opened half of the folders.
        QTemporaryDir stopStorage;
        auto stopped = std::make_unique<Indexer>(roots, stopStorage.path());
        auto opened = std::make_shared<std::atomic<int>>(0);
        stopped->setFolderOpenFaultForTesting([opened](const QString&) {
            ++*opened;
            return 0;
        });
        auto scanned =
            std::async(std::launch::async, [&stopped] { return stopped->scan(std::nullopt, false); });
        while (*opened < folders &&
               scanned.wait_for(std::chrono::milliseconds(1)) != std::future_status::ready) {
        }
        start = std::chrono::steady_clock::now();
        stopped->stop();
        clean = clean && scanned.get().isEmpty();
        stopWall.push_back(bench::secondsSince(start));
        stopped.reset();
        goneWall.push_back(bench::secondsSince(start));
    }

    std::printf("%d source folders, %lld images, median of %d runs\n", folders,
                static_cast<long long>(expected), runs);
    std::printf("first scan (every folder awaits its baseline): %.3f s\n", bench::median(firstWall));
    std::printf("unchanged full rescan:                         %.3f s\n", bench::median(againWall));
    std::printf("scan of one new file:                          %.4f s\n", bench::median(changeWall));
    std::printf("first scan stopped half-way: back after %.4f s, indexer gone after %.4f s\n",
                bench::median(stopWall), bench::median(goneWall));
    return clean ? 0 : 1;
}
