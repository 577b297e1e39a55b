// Starts a model on a storage folder, as the application does, and moves one file as a peg move
// does; the crash test kills it mid-copy. Without FROM and TO it only starts the model, as the
// next start of the application would. Exits 0 when done, 3 when the move failed.
// Usage: move_crash_child STORAGE [FROM TO]
#include "model/GalleryModel.h"
#include "platform/FileMove.h"

#include <QGuiApplication>

using namespace vennimo;

int main(int argc, char** argv) {
    if (argc != 2 && argc != 4)
        return 64;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    GalleryModel model(std::make_unique<Indexer>(QList<SourceRoot>{}, QString::fromLocal8Bit(argv[1])),
                       false);
    if (argc == 2)
        return 0;
    return FileMove::moveNoReplace(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[3])) ? 0 : 3;
}
