#pragma once

#include "settings/GallerySettingsServices.h"

#include <QPointer>

#include <functional>

namespace vennimo {

class GalleryShortcutController;
class LoginSetting;
class SourceStore;

// The settings window's way to the application's own services: the source store, the login
// switch, the quick-open controller (when there is one) and the window levels.
class ShellSettingsServices : public GallerySettingsServices {
public:
    ShellSettingsServices(SourceStore& store, LoginSetting& login, GalleryShortcutController* shortcut,
                          std::function<void()> checkForUpdates);

    QList<SourceFolder> folders() const override;
    std::optional<QString> sourceMessage() const override;
    QHash<QString, QString> sourceIssues() const override;
    QList<SourceFolder> defaultFolders() const override;
    Result<QList<SourceFolder>> addingFolders(const QStringList& paths,
                                              const QList<SourceFolder>& list) const override;
    Status saveFolders(const QList<SourceFolder>& folders) override;

    bool loginEnabled() const override;
    void refreshLogin() override;
    bool setLoginEnabled(bool enabled) override;
    std::optional<QString> loginMessage() const override;

    bool hasShortcutController() const override;
    GalleryShortcut shortcut() const override;
    bool shortcutRegistered() const override;
    std::optional<QString> shortcutError() const override;
    bool applyShortcut(const GalleryShortcut& shortcut, bool persist) override;

    void refreshWindowLayers() override;
    void checkForUpdates() override;

private:
    SourceStore& m_store;
    LoginSetting& m_login;
    QPointer<GalleryShortcutController> m_shortcut;
    std::function<void()> m_checkForUpdates;
};

} // namespace vennimo
