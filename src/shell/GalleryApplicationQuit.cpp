#include "core/Indexer.h"
#include "dragdrop/ExternalImageDrop.h"
#include "dragdrop/PromiseDirectory.h"
#include "model/DeferredStateExit.h"
#include "model/GalleryModel.h"
#include "model/PhotoClipboard.h"
#include "platform/FileMove.h"
#include "platform/JsonFile.h"
#include "platform/SessionWatcher.h"
#include "platform/SingleInstance.h"
#include "platform/StorageLocation.h"
#include "platform/UnixSignals.h"
#include "platform/Updater.h"
#include "platform/UserDefaults.h"
#include "platform/XcbHotKey.h"
#include "shell/GalleryApplication.h"
#include "shell/GalleryShortcutController.h"
#include "shell/LoginSetting.h"
#include "shell/SettingsEditorPort.h"
#include "shell/SettingsWindow.h"
#include "shell/SourceStore.h"
#include "widgets/QuitBlockedAlert.h"

#include <QCoreApplication>
#include <QDir>
#include <QTimer>

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
    parts.quitBlockedAlert = [](const QString& reason) { QuitBlockedAlert::run(reason); };
    parts.handOverClipboard = [] { PhotoClipboard::handOverBeforeQuit(); };
    parts.exit = [](int status) { QCoreApplication::exit(status); };
    return parts;
}

bool GalleryApplication::quit(QuitCause cause) {
    if (m_quitting)
        return true;
    const auto leave = [this] {
        m_quitting = true;
        m_pendingQuit.reset();
        if (m_parts.exit)
            m_parts.exit(0);
    };
    if (!m_model) {
        leave();
        return true;
    }
    if (const std::optional<QString> reason = m_model->terminationBlockReason()) {
        // Nobody reads an alert at logout; the quit waits for the work instead.
        if (cause == QuitCause::user) {
            if (m_parts.quitBlockedAlert)
                m_parts.quitBlockedAlert(*reason);
        } else {
            m_pendingQuit = cause;
        }
        return false;
    }
    if (m_settingsWindow && m_settingsWindow->isVisible()) {
        if (SettingsEditorPort* editor = m_settingsWindow->editor()) {
            if (editor->saving())
                return false;
            // Unsaved settings are dropped, never saved, on the way out.
            if (editor->hasChanges())
                editor->discard();
        }
    }
    const DeferredStateExitOutcome outcome =
        DeferredStateExit::requestQuit(*m_model, cause == QuitCause::sessionEnd);
    if (outcome.kind != DeferredStateExitOutcome::Kind::quit)
        return false;
    if (m_parts.handOverClipboard)
        m_parts.handOverClipboard();
    if (m_shortcutController)
        m_shortcutController->stop();
    leave();
    return true;
}

void GalleryApplication::retryPendingQuit() {
    if (!m_pendingQuit || !m_model || m_model->terminationBlockReason())
        return;
    // After the turn that finished the work, so its own steps are complete.
    QTimer::singleShot(0, this, [this] {
        if (m_pendingQuit)
            quit(*m_pendingQuit);
    });
}

} // namespace vennimo
