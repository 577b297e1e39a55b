// bench_thumbnails --large-turn [LARGE] [ORDINARY]: ORDINARY (default 24) 4000x3000 JPEGs get
// their thumbnails through the indexer's pipeline alone, and then again behind LARGE (default 6)
// pictures that each keep more than a decoding's share of memory and so take the one large turn
// in order, walked first. Prints when the last ordinary thumbnail came each time, and the ratio.
#include "LargeTurnWaits.h"

#include "BenchSupport.h"
#include "core/Indexer.h"
#include "platform/JpegDecoder.h"
#include "support/TestImages.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <sys/time.h>
#include <thread>

namespace vennimo::bench {

namespace {

constexpr int kOrdinarySide = 4000;
// Three colours at full resolution: 311 MB of coefficients, above the share.
constexpr int kLargeSide = 7200;
constexpr int kLargeScans = 8;

void setModified(const QString& path, qint64 secondsAgo) {
    timeval now{};
    gettimeofday(&now, nullptr);
    const timeval times[2] = {{now.tv_sec - secondsAgo, 0}, {now.tv_sec - secondsAgo, 0}};
    utimes(QFile::encodeName(path).constData(), times);
}

// Seconds until every ordinary photo of `folder` has its thumbnail, and until all have.
std::pair<double, double> thumbnailsOf(const QString& folder, const QStringList& ordinary) {
    QTemporaryDir storage;
    SerialQueue queue(QStringLiteral("local.vennimo.index"));
    std::unique_ptr<Indexer> indexer;
    QList<Photo> photos;
    queue.sync([&] {
        indexer =
            std::make_unique<Indexer>(QList<SourceRoot>{{QStringLiteral("Bench"), folder}}, storage.path());
        photos = indexer->scan(std::nullopt, false);
    });
    QStringList waited;
    for (const Photo& photo : std::as_const(photos))
        if (ordinary.contains(QFileInfo(photo.path).fileName()))
            waited.append(indexer->thumbnailFolder() + QLatin1Char('/') + photo.id + QStringLiteral(".jpg"));
    const auto start = std::chrono::steady_clock::now();
    queue.sync([&] { indexer->prepareThumbnails(&queue, {}); });
    double ordinaryDone = 0;
    for (int pending = 1; pending > 0;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (ordinaryDone == 0 &&
            std::all_of(waited.cbegin(), waited.cend(), [](const QString& p) { return QFile::exists(p); }))
            ordinaryDone = secondsSince(start);
        queue.sync([&] { pending = indexer->pendingThumbnailCount(); });
    }
    const double all = secondsSince(start);
    queue.sync([&] { indexer.reset(); });
    return {ordinaryDone == 0 ? all : ordinaryDone, all};
}

} // namespace

int runLargeTurnWaits(const QStringList& arguments) {
    const int large = arguments.value(0, QStringLiteral("6")).toInt();
    const int count = arguments.value(1, QStringLiteral("24")).toInt();
    QTemporaryDir alone, mixed;
    QStringList ordinary;
    std::printf("writing %d %dx%d JPEGs and %d large pictures needing the turn...\n", count, kOrdinarySide,
                kOrdinarySide * 3 / 4, large);
    for (int i = 0; i < count; ++i) {
        const QString name = QStringLiteral("photo%1.jpg").arg(i);
        ordinary.append(name);
        if (!writeCameraJpeg(alone.filePath(name), kOrdinarySide, kOrdinarySide * 3 / 4, i) ||
            !QFile::copy(alone.filePath(name), mixed.filePath(name)))
            return 2;
        setModified(alone.filePath(name), 1000);
        setModified(mixed.filePath(name), 1000);
    }
    const QByteArray largeBytes = test::manyScanJpeg(kLargeSide, kLargeSide, kLargeScans, 0, 3);
    const auto layout = JpegDecoder::readLayout(largeBytes);
    if (!layout || layout->coefficientBytes <= JpegDecoder::kCoefficientShareBytes) {
        std::printf("the large picture does not need the turn\n");
        return 2;
    }
    for (int i = 0; i < large; ++i) {
        // Newest, so that the walk meets them first; each differs in its bytes.
        const QString path = mixed.filePath(QStringLiteral("large%1.jpg").arg(i));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(largeBytes + QByteArray(i + 1, '\0')) < 0)
            return 2;
        file.close();
        setModified(path, 0);
    }
    const auto [aloneOrdinary, aloneAll] = thumbnailsOf(alone.path(), ordinary);
    std::printf("ordinary alone: last of %d thumbnails after %.2f s\n", count, aloneOrdinary);
    const auto [mixedOrdinary, mixedAll] = thumbnailsOf(mixed.path(), ordinary);
    std::printf("behind %d large: last ordinary thumbnail after %.2f s (%.2fx alone; target <= 2x); "
                "all after %.2f s\n",
                large, mixedOrdinary, mixedOrdinary / aloneOrdinary, mixedAll);
    return 0;
}

} // namespace vennimo::bench
