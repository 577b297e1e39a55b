// Drops image files onto the rope of a fresh model and kills itself with SIGKILL at the n-th step
// of the import. Exits 0 when the import finished before that step, 3 when it failed. Without
// files it only starts a model, as the next start of the application would, and exits 0.
// Usage: import_crash_child STORAGE STEP X [FILE...]
#include "model/GalleryModel.h"

#include <QGuiApplication>

#include <atomic>
#include <csignal>
#include <unistd.h>

using namespace vennimo;

int main(int argc, char** argv) {
    if (argc < 4)
        return 64;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString storage = QString::fromLocal8Bit(argv[1]);
    const int crashAt = QByteArray(argv[2]).toInt();
    const double x = QByteArray(argv[3]).toDouble();
    ExternalImageDrop::Snapshot snapshot;
    for (int i = 4; i < argc; ++i)
        snapshot.items.append({ExternalImageDrop::Source::file(QString::fromLocal8Bit(argv[i]), true)});

    std::atomic<int> steps{0};
    GalleryModel::Options options;
    options.importStepHook = [&steps, crashAt](ExhibitionImportStep) {
        if (++steps == crashAt)
            ::kill(::getpid(), SIGKILL);
    };
    GalleryModel model(std::make_unique<Indexer>(QList<SourceRoot>{}, storage), false, std::move(options));
    if (snapshot.isEmpty())
        return model.exhibitionBlocked() ? 4 : 0;
    model.importExhibitionDrop(snapshot, x, [](bool imported) { QCoreApplication::exit(imported ? 0 : 3); });
    return QCoreApplication::exec();
}
