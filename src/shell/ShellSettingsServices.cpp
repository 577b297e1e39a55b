#include "shell/ShellSettingsServices.h"

#include "shell/GalleryShortcutController.h"
#include "shell/GalleryWindowLayer.h"
#include "shell/LoginSetting.h"
#include "shell/SourceStore.h"

namespace vennimo {

ShellSettingsServices::ShellSettingsServices(SourceStore& store, LoginSetting& login,
                                             GalleryShortcutController* shortcut,
                                             std::function<void()> checkForUpdates)
    : m_store(store)
    , m_login(login)
    , m_shortcut(shortcut)
    , m_checkForUpdates(std::move(checkForUpdates)) {}

QList<SourceFolder> ShellSettingsServices::folders() const {
    return m_store.folders();
}

std::optional<QString> ShellSettingsServices::sourceMessage() const {
    return m_store.message();
}

QHash<QString, QString> ShellSettingsServices::sourceIssues() const {
    return m_store.issues();
}

QList<SourceFolder> ShellSettingsServices::defaultFolders() const {
    return SourceStore::defaultFolders();
}

Result<QList<SourceFolder>> ShellSettingsServices::addingFolders(const QStringList& paths,
                                                                 const QList<SourceFolder>& list) const {
    return m_store.adding(paths, list);
}

Status ShellSettingsServices::saveFolders(const QList<SourceFolder>& folders) {
    return m_store.save(folders);
}

bool ShellSettingsServices::loginEnabled() const {
    return m_login.enabled();
}

void ShellSettingsServices::refreshLogin() {
    m_login.refresh();
}

bool ShellSettingsServices::setLoginEnabled(bool enabled) {
    return m_login.setEnabled(enabled);
}

std::optional<QString> ShellSettingsServices::loginMessage() const {
    return m_login.message();
}

bool ShellSettingsServices::hasShortcutController() const {
    return m_shortcut != nullptr;
}

GalleryShortcut ShellSettingsServices::shortcut() const {
    return m_shortcut ? m_shortcut->shortcut() : GalleryShortcut{};
}

bool ShellSettingsServices::shortcutRegistered() const {
    return m_shortcut && m_shortcut->registered();
}

std::optional<QString> ShellSettingsServices::shortcutError() const {
    return m_shortcut ? m_shortcut->error() : std::nullopt;
}

bool ShellSettingsServices::applyShortcut(const GalleryShortcut& shortcut, bool persist) {
    return m_shortcut && m_shortcut->apply(shortcut, persist);
}

void ShellSettingsServices::refreshWindowLayers() {
    GalleryWindowLayer::refresh();
}

void ShellSettingsServices::checkForUpdates() {
    if (m_checkForUpdates)
        m_checkForUpdates();
}

} // namespace vennimo
