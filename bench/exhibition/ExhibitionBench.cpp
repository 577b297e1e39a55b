// Merging the exhibition into the indexed photo list runs on every refresh, and peg returns
// across volumes hash whole files: both must stay linear.
#include "core/ExhibitionStore.h"
#include "core/PegReturnIntent.h"
#include "platform/JsonFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace vennimo;

namespace {

constexpr int kIndexedPhotos = 20'000;
constexpr int kExhibitionPhotos = 2'000;
constexpr qint64 kDigestFileBytes = 64LL * 1024 * 1024;
constexpr int kDigestRuns = 5;
constexpr double kDigestRateTarget = 0.8;

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

Photo photo(const QString& key, const QString& path, double added) {
    Photo p;
    p.id = key;
    p.usageID = key;
    p.path = path;
    p.added = added;
    return p;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTemporaryDir storage;
    ExhibitionReferences exhibition;
    for (int i = 0; i < kExhibitionPhotos; ++i) {
        const QString key = QStringLiteral("E-%1").arg(i);
        exhibition.insert(key, {photo(key, QStringLiteral("/exhibit/%1.jpg").arg(i), i), "b"});
    }
    if (!JsonFile::writeAtomically(storage.path() + "/exhibition.json", encodeExhibition(exhibition))) {
        std::fprintf(stderr, "cannot write the exhibition\n");
        return 1;
    }
    QList<Photo> indexed;
    for (int i = 0; i < kIndexedPhotos; ++i)
        indexed.append(
            photo(QStringLiteral("I-%1").arg(i), QStringLiteral("/photos/%1.jpg").arg(i), i % 500));

    QElapsedTimer timer;
    timer.start();
    const ExhibitionStore store(storage.path());
    const qint64 loadMs = timer.restart();
    constexpr int kRounds = 10;
    qsizetype total = 0;
    for (int round = 0; round < kRounds; ++round)
        total += store.merged(indexed).size();
    const double mergeMs = static_cast<double>(timer.elapsed()) / kRounds;
    std::printf("exhibition load (%d items): %lld ms\n", kExhibitionPhotos, static_cast<long long>(loadMs));
    std::printf("merged (%d indexed + %d exhibition -> %lld): %.1f ms\n", kIndexedPhotos, kExhibitionPhotos,
                static_cast<long long>(total / kRounds), mergeMs);

    const bool smoke = argc > 1 && QByteArray(argv[1]) == "--smoke";
    const qint64 bytes = smoke ? 1024 * 1024 : kDigestFileBytes;
    QFile file(storage.path() + "/big.bin");
    if (!file.open(QIODevice::WriteOnly) || !file.resize(bytes))
        return 1;
    file.close();
    // Median of five, beside the reference tool on the same file: the ratio holds on a busy machine.
    std::vector<double> ours;
    std::vector<double> reference;
    for (int run = 0; run < kDigestRuns; ++run) {
        timer.restart();
        if (!PegReturnIntent::digest(file.fileName()))
            return 1;
        ours.push_back(static_cast<double>(std::max<qint64>(1, timer.nsecsElapsed())) / 1e6);
        timer.restart();
        QProcess openssl;
        openssl.setStandardOutputFile(QProcess::nullDevice());
        openssl.start(QStringLiteral("openssl"),
                      {QStringLiteral("dgst"), QStringLiteral("-sha256"), file.fileName()});
        if (!openssl.waitForFinished(-1) || openssl.exitCode() != 0) {
            std::fprintf(stderr, "openssl dgst did not run\n");
            return 1;
        }
        reference.push_back(static_cast<double>(std::max<qint64>(1, timer.nsecsElapsed())) / 1e6);
    }
    const double mib = static_cast<double>(bytes) / (1024.0 * 1024.0);
    const double oursMs = median(ours);
    const double referenceMs = median(reference);
    const double ratio = referenceMs / oursMs;
    std::printf("digest of %.0f MiB: %.1f ms (%.0f MiB/s); openssl dgst -sha256: %.1f ms (%.0f MiB/s); "
                "%.2f of its rate (target >= %.1f, %s)\n",
                mib, oursMs, mib * 1000.0 / oursMs, referenceMs, mib * 1000.0 / referenceMs, ratio,
                kDigestRateTarget, ratio >= kDigestRateTarget ? "met" : "missed");
    return 0;
}
