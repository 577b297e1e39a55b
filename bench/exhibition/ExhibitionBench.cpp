// Merging the exhibition into the indexed photo list runs on every refresh, and peg returns
// across volumes hash whole files: both must stay linear.
#include "core/ExhibitionStore.h"
#include "core/PegReturnIntent.h"
#include "platform/JsonFile.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

using namespace vennimo;

namespace {

constexpr int kIndexedPhotos = 20'000;
constexpr int kExhibitionPhotos = 2'000;
constexpr qint64 kDigestFileBytes = 64LL * 1024 * 1024;

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
    timer.restart();
    const auto digest = PegReturnIntent::digest(file.fileName());
    const qint64 digestMs = std::max<qint64>(1, timer.elapsed());
    if (!digest)
        return 1;
    std::printf("digest of %lld MiB: %lld ms (%.0f MiB/s)\n", static_cast<long long>(bytes >> 20),
                static_cast<long long>(digestMs), static_cast<double>(bytes >> 20) * 1000.0 / digestMs);
    return 0;
}
