// The road of a new file: created in a watched folder, reported by the folder watcher, scanned on
// the index queue. Prints the time from creation to the photo being in the library.
// Target: 0.5 s. Usage: watch-latency [ROUNDS]
#include "BenchSupport.h"
#include "core/FolderWatcher.h"
#include "core/Indexer.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>

using namespace vennimo;

namespace {
constexpr double kTargetSeconds = 0.5;
constexpr int kPauseBetweenRoundsMs = 400;
} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int rounds = std::max(1, app.arguments().value(1, QStringLiteral("8")).toInt());
    QTemporaryDir folder;
    QTemporaryDir storage;
    SerialQueue queue(QStringLiteral("local.vennimo.index"));
    std::unique_ptr<Indexer> indexer;
    queue.sync([&] {
        indexer = std::make_unique<Indexer>(QList<SourceRoot>{{QStringLiteral("Watched"), folder.path()}},
                                            storage.path());
        indexer->scan(std::nullopt, false);
    });

    std::chrono::steady_clock::time_point created;
    QString expectedPath;
    QList<double> latencies;
    int round = 0;
    std::function<void()> next;
    FolderWatcher watcher(
        QStringList{folder.path()}, QStringList{storage.path()}, [&](const QList<FolderChange>& changes) {
            queue.async([&, changes] {
                const QList<Photo> photos = indexer->scan(changes, false);
                const bool found = std::any_of(photos.cbegin(), photos.cend(),
                                               [&](const Photo& p) { return p.path == expectedPath; });
                const double latency = bench::secondsSince(created);
                postToMain([&, found, latency] {
                    if (!found || latencies.size() > round)
                        return;
                    latencies.append(latency);
                    std::printf("round %d: %.3f s\n", round + 1, latency);
                    ++round;
                    QTimer::singleShot(kPauseBetweenRoundsMs, next);
                });
            });
        });
    watcher.activate();
    if (!watcher.running()) {
        std::printf("the watcher could not start\n");
        return 2;
    }
    next = [&] {
        if (round == rounds) {
            app.quit();
            return;
        }
        expectedPath = folder.path() + QStringLiteral("/new%1.jpg").arg(round);
        created = std::chrono::steady_clock::now();
        QFile file(expectedPath);
        if (file.open(QIODevice::WriteOnly))
            file.write(QByteArray(64 * 1024, 'x'));
    };
    QTimer::singleShot(0, next);
    QTimer::singleShot(30000, &app, &QCoreApplication::quit);
    app.exec();
    watcher.stop();
    queue.sync([&] { indexer.reset(); });

    if (latencies.size() < rounds) {
        std::printf("only %lld of %d files arrived\n", static_cast<long long>(latencies.size()), rounds);
        return 1;
    }
    const double worst = *std::max_element(latencies.cbegin(), latencies.cend());
    double sum = 0;
    for (double l : latencies)
        sum += l;
    std::printf("creation to library: mean %.3f s, worst %.3f s (target <= %.1f s)\n", sum / latencies.size(),
                worst, kTargetSeconds);
    return worst <= kTargetSeconds ? 0 : 1;
}
