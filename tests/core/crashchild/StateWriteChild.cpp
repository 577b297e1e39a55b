// Writes the three kinds of state file over and over until it is killed. After its first full
// round it writes one byte to standard output, so the parent knows every file exists.
#include "core/ClotheslinePlacementStore.h"
#include "core/UsageHistory.h"
#include "crashchild/StateWriteRounds.h"

#include <unistd.h>

using namespace vennimo;

int main(int argc, char** argv) {
    if (argc != 2)
        return 64;
    const QString storage = QString::fromLocal8Bit(argv[1]);
    ClotheslinePlacementStore placements(storage);
    UsageHistory history(storage, QString::fromLatin1(kLineHistoryFileName));
    if (placements.loadError() || history.loadError())
        return 65; // torn by an earlier run
    DeferredStateWriter raw;
    const QList<Photo> photos = test::crashPhotos();
    const QString rawPath = storage + QLatin1Char('/') + QLatin1String(test::kRawStateFileName);
    for (long round = 0;; ++round) {
        const bool odd = round % 2 != 0;
        QList<ClotheslinePlacementUpdate> updates;
        for (const Photo& p : photos)
            updates << ClotheslinePlacementUpdate{p, 1, test::crashX(odd)};
        raw.schedule([rawPath, odd] { return DeferredStateWriter::write(test::rawState(odd), rawPath); });
        if (!placements.setPositions(updates).ok() || !history.setUsed(photos, odd).ok() || !raw.flush().ok())
            return 66;
        if (round == 0 && write(STDOUT_FILENO, "r", 1) != 1)
            return 67;
    }
}
