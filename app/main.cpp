#include "TemporaryRopeScreen.h"
#include "core/Indexer.h"
#include "dragdrop/ExternalImageDrop.h"
#include "dragdrop/PromiseDirectory.h"
#include "model/GalleryModel.h"
#include "platform/FileMove.h"
#include "platform/JsonFile.h"
#include "platform/Logging.h"
#include "platform/SingleInstance.h"
#include "platform/StorageLocation.h"
#include "platform/UnixSignals.h"
#include "shell/GalleryWindow.h"

#include <QApplication>
#include <QStandardPaths>

#include <cstdio>
#include <memory>

namespace {

// Fallback rescan interval of the model, in seconds.
constexpr double kFallbackRescanSeconds = 60;

// Desktop and Downloads from the XDG user dirs, until the source-folder store keeps the list.
QList<vennimo::SourceRoot> defaultSources() {
    QList<vennimo::SourceRoot> roots;
    const QString desktop = QStandardPaths::writableLocation(QStandardPaths::DesktopLocation);
    const QString downloads = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    if (!desktop.isEmpty())
        roots.append({QStringLiteral("桌面"), desktop});
    if (!downloads.isEmpty() && downloads != desktop)
        roots.append({QStringLiteral("下载"), downloads});
    return roots;
}

} // namespace

int main(int argc, char** argv) {
    // Wayland lets no ordinary window float above others, place itself or pass clicks through,
    // so the application always runs on X11 (XWayland on a Wayland desktop).
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "xcb");
    if (qEnvironmentVariable("QT_QPA_PLATFORM") == QLatin1String("xcb") &&
        qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::fprintf(stderr, "vennimo-gallery: no X display (DISPLAY is not set); start it inside an X11 "
                             "or XWayland session.\n");
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("VennimoGallery"));
    QApplication::setQuitOnLastWindowClosed(false);

    const auto storage = vennimo::StorageLocation::ensure();
    if (!storage) {
        qCCritical(vennimo::lcApp) << "cannot create the storage folder:" << storage.error().message
                                   << storage.error().failureReason;
        return 1;
    }

    // Before anything writes to the storage folder: a second start only asks the running one
    // to show its window.
    vennimo::SingleInstance instance(*storage);
    const auto primary = instance.acquire();
    if (!primary) {
        qCCritical(vennimo::lcApp) << "cannot lock the storage folder:" << primary.error().message
                                   << primary.error().failureReason;
        return 1;
    }
    if (!*primary) {
        if (instance.requestShow())
            return 0;
        std::fprintf(stderr, "vennimo-gallery: another instance is running but does not answer.\n");
        return 1;
    }

    // Drop folders, half-written imports and state files a crash left behind.
    vennimo::PromiseDirectory::removeStale();
    vennimo::ExternalImageDrop::removeLeftoverPartials(*storage);
    vennimo::JsonFile::removeLeftoverTemporaries(*storage);
    vennimo::FileMove::removeLeftoverPartials(*storage);

    vennimo::UnixSignals unixSignals;
    QObject::connect(&unixSignals, &vennimo::UnixSignals::terminationRequested, &app,
                     [] { QApplication::quit(); });

    vennimo::GalleryModel model(std::make_unique<vennimo::Indexer>(defaultSources(), *storage), true);
    vennimo::GalleryWindow window;
    window.setGalleryModel(&model);
    auto* rope = new vennimo::TemporaryRopeScreen(model, window);
    rope->showRope();
    QObject::connect(&instance, &vennimo::SingleInstance::showGalleryRequested, &window,
                     [&window] { window.showWithoutActivating(); });
    model.start(kFallbackRescanSeconds);
    const int status = QApplication::exec();
    rope->dismantle();
    return status;
}
