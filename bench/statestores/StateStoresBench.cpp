// Times the state stores at the sizes a large library reaches: slot search over 100 columns, an
// immediate write of every placement, and a burst of raises that the debounce folds into one
// write. Prints its figures; runs in a temporary folder and never touches the user's files.
#include "core/ClotheslinePlacementStore.h"
#include "core/UsageHistory.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <cstdio>

using namespace vennimo;

namespace {

QList<Photo> makePhotos(int count) {
    QList<Photo> photos;
    for (int i = 0; i < count; ++i) {
        Photo p;
        p.id = QStringLiteral("1-%1").arg(i);
        p.usageID = QStringLiteral("VOLUME-%1").arg(i);
        p.path = QStringLiteral("/nowhere/%1.jpg").arg(i);
        p.created = 1000.0 + i;
        photos << p;
    }
    return photos;
}

double millisecondsSince(const QElapsedTimer& timer) {
    return static_cast<double>(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const bool smoke = app.arguments().contains(QStringLiteral("--smoke"));
    const int photoCount = smoke ? 200 : 5000;
    QTemporaryDir storage;
    if (!storage.isValid())
        return 1;
    const QList<Photo> photos = makePhotos(photoCount);

    ClotheslinePlacementStore placements(storage.path());
    QElapsedTimer timer;
    timer.start();
    if (!placements.ensurePositions(photos, 100).ok())
        return 2;
    std::printf("ensurePositions: %d new prints, 100 columns: %.1f ms\n", photoCount,
                millisecondsSince(timer));

    timer.restart();
    if (!placements.setPositions({{photos.first(), 0, 0.5}}).ok())
        return 3;
    std::printf("setPositions: one move among %d records (immediate write): %.1f ms\n", photoCount,
                millisecondsSince(timer));

    timer.restart();
    for (const Photo& p : photos.mid(0, 100)) {
        if (!placements.bringToFront(p).ok())
            return 4;
    }
    std::printf("bringToFront: 100 raises on the main thread: %.2f ms\n", millisecondsSince(timer));
    timer.restart();
    if (!placements.deferredWriter().flush().ok())
        return 5;
    std::printf("flush of the folded raises: %.1f ms, %d writes in all\n", millisecondsSince(timer),
                placements.deferredWriter().writeCount());

    UsageHistory history(storage.path(), QString::fromLatin1(kLineHistoryFileName));
    timer.restart();
    if (!history.observe(photos).ok())
        return 6;
    std::printf("UsageHistory.observe: first run over %d photos: %.1f ms\n", photoCount,
                millisecondsSince(timer));
    timer.restart();
    if (!history.observe(photos).ok())
        return 7;
    std::printf("UsageHistory.observe: nothing new (no write): %.2f ms\n", millisecondsSince(timer));

    timer.restart();
    ClotheslinePlacementStore reopened(storage.path());
    std::printf("load of %d placements: %.1f ms\n", photoCount, millisecondsSince(timer));
    return reopened.loadError() ? 8 : 0;
}
