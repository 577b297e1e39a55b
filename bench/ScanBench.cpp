// A full library scan of DIR (or of a generated tree of 10,000 image files in 200 folders) into a
// temporary storage folder, without thumbnails. Prints files per second next to
// `find DIR -type f -printf '%i %s %T@\n'` on the same warm tree.
// Usage: scan [DIR]
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

using namespace vennimo;

namespace {

constexpr int kFolders = 200;
constexpr int kFilesPerFolder = 50;
constexpr int kRuns = 5;

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
    double findSeconds = 1e9;
    for (int run = 0; run < kRuns; ++run)
        findSeconds = std::min(findSeconds, timeFind(folder));

    double firstSeconds = 1e9;
    double againSeconds = 1e9;
    QList<Photo> photos;
    bool clean = true;
    for (int run = 0; run < kRuns; ++run) {
        QTemporaryDir storage;
        Indexer indexer({{QStringLiteral("Bench"), folder}}, storage.path());
        auto start = std::chrono::steady_clock::now();
        photos = indexer.scan(std::nullopt, false);
        firstSeconds = std::min(firstSeconds, bench::secondsSince(start));
        start = std::chrono::steady_clock::now();
        indexer.scan(std::nullopt, false);
        againSeconds = std::min(againSeconds, bench::secondsSince(start));
        clean = clean && indexer.errors().isEmpty();
    }

    std::printf("find -printf:           %.3f s (%.0f files/s)\n", findSeconds, expected / findSeconds);
    std::printf("first scan, index.json written: %lld of %d images in %.3f s = %.0f files/s (%.2fx find)\n",
                static_cast<long long>(photos.size()), expected, firstSeconds, photos.size() / firstSeconds,
                firstSeconds / findSeconds);
    std::printf("unchanged full rescan:  %.3f s = %.0f files/s (%.2fx find; target <= 2x)\n", againSeconds,
                photos.size() / againSeconds, againSeconds / findSeconds);
    return photos.size() == expected && clean ? 0 : 1;
}
