#include "shell/GalleryApplication.h"

#include "model/DeferredStateExit.h"
#include "model/GalleryModel.h"
#include "platform/ProcessExit.h"
#include "settings/SettingsEditorPort.h"
#include "shell/GalleryShortcutController.h"
#include "shell/SettingsWindow.h"
#include "shell/WindowActivation.h"

#include <QApplication>
#include <QScopedValueRollback>
#include <QTimer>
#include <QWidget>

namespace vennimo {

bool GalleryApplication::quit(QuitCause cause) {
    if (m_quitting)
        return true;
    // A session end waiting for a delete or a stopped drop is under way: a quit asked meanwhile (the
    // SIGHUP that follows SIGTERM, a Ctrl+C, the menu) is part of it, asks nobody and shows nothing.
    if (m_pendingQuit == QuitCause::sessionEnd)
        cause = QuitCause::sessionEnd;
    const auto leave = [this] {
        m_quitting = true;
        // From here on the prints, thumbnails and previews still being decoded are thrown away:
        // they stop now rather than hold the exit.
        ProcessExit::announce();
        m_pendingQuit.reset();
        if (m_parts.exit)
            m_parts.exit(0);
    };
    // A quit answered no is over: it must not come back by itself when some later work ends.
    const auto refuse = [this, cause] {
        if (m_pendingQuit == cause)
            m_pendingQuit.reset();
        return false;
    };
    if (!m_model) {
        leave();
        return true;
    }
    // The user is already being asked (a signal comes in the alert's own loop): that alert is
    // the answer, in front, and no second one opens over it.
    if (cause == QuitCause::user && m_askingToQuit) {
        if (QWidget* asking = QApplication::activeModalWidget())
            WindowActivation::activate(asking);
        return false;
    }
    if (cause == QuitCause::sessionEnd) {
        // The session does not wait: a drop stops where it is, what it saved so far hangs, and
        // the quit follows at once. A delete is short and is finished first.
        m_model->cancelExhibitionDrop();
        if (m_model->terminationBlockReason()) {
            m_pendingQuit = cause;
            // The end is decided: the stopped drop's checks and thumbnails, and any other decoding,
            // are thrown away, and a HEIF decoding is left behind only once this is announced.
            // Only a settings save under way could still refuse this end, and then nothing stops.
            if (!settingsSaving())
                ProcessExit::announce();
            return false;
        }
    } else if (const std::optional<QString> reason = m_model->terminationBlockReason()) {
        // Someone is there to read why; the work goes on untouched and the quit is not kept.
        showQuitBlocked(*reason);
        return refuse();
    }
    if (settingsSaving())
        return refuse();
    // Unsaved settings are dropped, never saved, on the way out.
    if (SettingsEditorPort* editor = visibleSettingsEditor(); editor && editor->hasChanges())
        editor->discard();
    const QScopedValueRollback asking(m_askingToQuit, m_askingToQuit || cause == QuitCause::user);
    const DeferredStateExitOutcome outcome =
        DeferredStateExit::requestQuit(*m_model, cause == QuitCause::sessionEnd);
    if (outcome.kind != DeferredStateExitOutcome::Kind::quit)
        return refuse();
    if (m_parts.handOverClipboard)
        m_parts.handOverClipboard();
    if (m_shortcutController)
        m_shortcutController->stop();
    leave();
    return true;
}

SettingsEditorPort* GalleryApplication::visibleSettingsEditor() const {
    return m_settingsWindow && m_settingsWindow->isVisible() ? m_settingsWindow->editor() : nullptr;
}

bool GalleryApplication::settingsSaving() const {
    const SettingsEditorPort* editor = visibleSettingsEditor();
    return editor && editor->saving();
}

QWidget* GalleryApplication::quitBlockedAlert() const {
    return m_quitBlockedAlert && m_quitBlockedAlert->isVisible() ? m_quitBlockedAlert.get() : nullptr;
}

void GalleryApplication::showQuitBlocked(const QString& reason) {
    if (quitBlockedAlert() && m_quitBlockedReason == reason) {
        WindowActivation::activate(m_quitBlockedAlert.get());
        return;
    }
    m_quitBlockedAlert.reset();
    if (m_parts.quitBlockedAlert)
        m_quitBlockedAlert = m_parts.quitBlockedAlert(reason);
    if (!m_quitBlockedAlert)
        return;
    m_quitBlockedReason = reason;
    // Modal as ever, but without a loop of its own: a quit asked meanwhile, by the menu or by
    // a signal, returns here and finds it up instead of nesting another loop with another alert.
    m_quitBlockedAlert->setWindowModality(Qt::ApplicationModal);
    m_quitBlockedAlert->show();
}

void GalleryApplication::settleQuitBlocked() {
    // The work it named is over, and with it the quit it refused: nothing is left to wait for.
    if (m_quitBlockedAlert && m_model->terminationBlockReason() != m_quitBlockedReason)
        m_quitBlockedAlert.reset();
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
