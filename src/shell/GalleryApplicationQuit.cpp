#include "shell/GalleryApplication.h"

#include "model/DeferredStateExit.h"
#include "model/GalleryModel.h"
#include "settings/SettingsEditorPort.h"
#include "shell/GalleryShortcutController.h"
#include "shell/SettingsWindow.h"

#include <QTimer>

namespace vennimo {

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
    // A drop still fetching its images stops fetching; the quit follows once what it saved so far
    // is hung, so neither a person nor a logout waits on the network.
    if (m_model->cancelExhibitionDrop()) {
        m_pendingQuit = cause;
        return false;
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
