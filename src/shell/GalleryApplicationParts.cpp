#include "shell/GalleryApplicationParts.h"

#include "core/Indexer.h"
#include "dragdrop/ExternalImageDrop.h"
#include "dragdrop/PromiseDirectory.h"
#include "model/GalleryModel.h"
#include "model/PhotoClipboard.h"
#include "platform/FileMove.h"
#include "platform/JsonFile.h"
#include "platform/LeftoverTemporaries.h"
#include "platform/Logging.h"
#include "platform/SessionWatcher.h"
#include "platform/SingleInstance.h"
#include "platform/StorageLocation.h"
#include "platform/UnixSignals.h"
#include "platform/Updater.h"
#include "platform/UserDefaults.h"
#include "platform/XcbHotKey.h"
#include "shell/LoginSetting.h"
#include "shell/SourceStore.h"
#include "widgets/QuitBlockedAlert.h"

#include <QCoreApplication>
#include <QDir>
#include <QMessageBox>

namespace vennimo {

GalleryApplicationParts GalleryApplicationParts::standard() {
    GalleryApplicationParts parts;
    parts.storage = [] { return StorageLocation::ensure(); };
    parts.home = QDir::homePath();
    parts.singleInstance = [](const QString& storage) { return std::make_unique<SingleInstance>(storage); };
    parts.removeLeftovers = [](const QString& storage) {
        PromiseDirectory::removeStale();
        ExternalImageDrop::removeLeftoverPartials(storage);
        JsonFile::removeLeftoverTemporaries(storage);
        FileMove::removeLeftoverPartials(storage);
    };
    // Built into the program from app/resources.
    parts.applicationIcon = QStringLiteral(":/vennimo-gallery.png");
    parts.updater = [](UserDefaults& defaults) {
        // No feed is built in; one named in the defaults is taken as it is.
        const QUrl feed(defaults.stringValue(QLatin1String(Updater::kFeedUrlKey)).value_or(QString()));
        return std::make_unique<Updater>(feed, QCoreApplication::applicationVersion(), defaults);
    };
    parts.sourceStore = [](const QString& storage, const QString& home) {
        return std::make_unique<SourceStore>(storage, home);
    };
    parts.loginSetting = [] { return std::make_unique<LoginSetting>(); };
    parts.indexer = [](const QList<SourceRoot>& roots, const QString& storage) {
        return std::make_unique<Indexer>(roots, storage);
    };
    parts.model = [](std::unique_ptr<Indexer> indexer) {
        return std::make_unique<GalleryModel>(std::move(indexer), true);
    };
    parts.sessionWatcher = [] { return std::make_unique<SessionWatcher>(); };
    parts.hotKey = [] { return std::make_unique<XcbHotKey>(); };
    parts.unixSignals = [] { return std::make_unique<UnixSignals>(); };
    parts.quitBlockedAlert = [](const QString& reason) -> std::unique_ptr<QWidget> {
        return QuitBlockedAlert::makeAlert(reason);
    };
    parts.handOverClipboard = [] { PhotoClipboard::handOverBeforeQuit(); };
    parts.exit = [](int status) { QCoreApplication::exit(status); };
    parts.launchStep = [](const QString& step) {
        const auto since = LeftoverTemporaries::Clock::now() - LeftoverTemporaries::processStart();
        qCDebug(lcSignpost).noquote()
            << "launch" << step << std::chrono::duration_cast<std::chrono::milliseconds>(since).count()
            << "ms";
    };
    return parts;
}

} // namespace vennimo
