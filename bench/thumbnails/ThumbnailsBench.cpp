// Thumbnails for every image of DIR (or of generated 4000x3000 JPEGs) through the indexer's own
// pipeline, two renderings at a time, into a temporary storage folder. Prints images per second
// and, when vipsthumbnail is installed, its rate run once per file on the same images.
// Usage: bench_thumbnails [DIR] [--count N]
//        bench_thumbnails --hostile [CASE]   pictures made to cost more than their bytes say
//        bench_thumbnails --large-turn [LARGE] [ORDINARY]   ordinary photos behind large ones
#include "BenchSupport.h"
#include "HostileDecodes.h"
#include "LargeTurnWaits.h"
#include "core/Indexer.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <thread>

using namespace vennimo;

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.value(0) == QLatin1String("--hostile"))
        return bench::runHostileDecodes(args.mid(1));
    if (args.value(0) == QLatin1String("--large-turn"))
        return bench::runLargeTurnWaits(args.mid(1));
    int count = 12;
    if (const qsizetype at = args.indexOf(QStringLiteral("--count")); at >= 0 && at + 1 < args.size()) {
        count = args.at(at + 1).toInt();
        args.remove(at, 2);
    }
    QTemporaryDir generated;
    QTemporaryDir storage;
    QString folder = args.value(0);
    if (folder.isEmpty()) {
        folder = generated.path();
        std::printf("generating %d 4000x3000 JPEGs...\n", count);
        for (int i = 0; i < count; ++i) {
            if (!bench::writeCameraJpeg(folder + QStringLiteral("/photo%1.jpg").arg(i), 4000, 3000, i))
                return 2;
        }
    }

    SerialQueue queue(QStringLiteral("local.vennimo.index"));
    std::unique_ptr<Indexer> indexer;
    QList<Photo> photos;
    queue.sync([&] {
        indexer =
            std::make_unique<Indexer>(QList<SourceRoot>{{QStringLiteral("Bench"), folder}}, storage.path());
        photos = indexer->scan(std::nullopt, false);
    });
    const auto start = std::chrono::steady_clock::now();
    queue.sync([&] { indexer->prepareThumbnails(&queue, {}); });
    for (int pending = 1; pending > 0;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        queue.sync([&] { pending = indexer->pendingThumbnailCount(); });
    }
    const double seconds = bench::secondsSince(start);
    int made = 0;
    for (const Photo& photo : photos)
        made += QFile::exists(photo.thumbnail) ? 1 : 0;
    const double rate = photos.isEmpty() ? 0 : photos.size() / seconds;
    std::printf("thumbnails: %d of %lld images in %.3f s = %.1f images/s\n", made,
                static_cast<long long>(photos.size()), seconds, rate);

    const QString vips = QStandardPaths::findExecutable(QStringLiteral("vipsthumbnail"));
    if (!vips.isEmpty() && !photos.isEmpty()) {
        QTemporaryDir out;
        const auto vipsStart = std::chrono::steady_clock::now();
        for (const Photo& photo : photos) {
            QProcess process;
            process.start(vips, {QStringLiteral("-s"), QStringLiteral("720"), QStringLiteral("-o"),
                                 out.path() + QStringLiteral("/%s.jpg"), photo.path});
            process.waitForFinished(-1);
        }
        const double vipsRate = photos.size() / bench::secondsSince(vipsStart);
        std::printf("vipsthumbnail -s 720 per file: %.1f images/s; ratio %.2fx (target >= 3x)\n", vipsRate,
                    rate / vipsRate);
    } else {
        std::printf("vipsthumbnail not installed: no comparison\n");
    }
    queue.sync([&] { indexer.reset(); });
    return made == photos.size() ? 0 : 1;
}
