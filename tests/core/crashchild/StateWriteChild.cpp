// Writes the three kinds of state file over and over until it is killed. After its first full
// round it writes one byte to standard output, so the parent knows every file exists.
#include "core/ClotheslinePlacementStore.h"
#include "core/DeferredStateWriter.h"
#include "core/UsageHistory.h"
#include "crashchild/StateWriteRounds.h"

#include <cstdio>
#include <unistd.h>

using namespace vennimo;

int main(int argc, char** argv) {
    if (argc != 2)
        return 64;
    const QString storage = QString::fromLocal8Bit(argv[1]);
    ClotheslinePlacementStore placements(storage);
    UsageHistory history(storage, QString::fromLatin1(kLineHistoryFileName));
    if (placements.loadError() || history.loadError()) {
        std::fprintf(stderr, "a state file was torn before this run\n");
        return 65;
    }
    DeferredStateWriter raw;
    const QList<Photo> photos = test::crashPhotos();
    const QString rawPath = storage + QLatin1Char('/') + QLatin1String(test::kRawStateFileName);
    for (long round = 0;; ++round) {
        const bool odd = round % 2 != 0;
        QList<ClotheslinePlacementUpdate> updates;
        for (const Photo& p : photos)
            updates << ClotheslinePlacementUpdate{p, test::crashRow(odd), test::crashX(odd)};
        if (!placements.setPositions(updates).ok())
            return 66;
        if (!history.setUsed(photos, odd).ok())
            return 67;
        raw.schedule(
            [rawPath, state = test::rawState(odd)] { return DeferredStateWriter::write(state, rawPath); });
        if (!raw.flush().ok())
            return 68;
        if (round == 0 && write(STDOUT_FILENO, "r", 1) != 1)
            return 69;
    }
}
