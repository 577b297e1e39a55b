#pragma once

#include "settings/GallerySettingsServices.h"

#include <QStringList>

namespace vennimo::test {

// The application's services as plain values; every change is logged by name, in order.
struct FakeSettingsServices : GallerySettingsServices {
    QList<SourceFolder> storedFolders{};
    std::optional<QString> storedSourceMessage{};
    QHash<QString, QString> issues{};
    std::optional<Error> foldersFailure{};
    std::optional<Error> addingFailure{};
    bool login = false;
    bool loginWorks = true;
    std::optional<QString> loginProblem{};
    bool controller = true;
    GalleryShortcut registeredShortcut{};
    bool registered = true;
    std::optional<QString> shortcutProblem{};
    bool shortcutWorks = true;
    QStringList log{};

    QList<SourceFolder> folders() const override { return storedFolders; }
    std::optional<QString> sourceMessage() const override { return storedSourceMessage; }
    QHash<QString, QString> sourceIssues() const override { return issues; }
    QList<SourceFolder> defaultFolders() const override {
        return {{"desktop", QString("desktop"), "/home/u/Desktop", std::nullopt, true}};
    }
    Result<QList<SourceFolder>> addingFolders(const QStringList& paths,
                                              const QList<SourceFolder>& list) const override {
        if (addingFailure)
            return *addingFailure;
        QList<SourceFolder> added = list;
        for (const QString& path : paths)
            added.append({path, std::nullopt, path, QByteArray("grant"), true});
        return added;
    }
    Status saveFolders(const QList<SourceFolder>& folders) override {
        log.append("folders");
        if (foldersFailure)
            return *foldersFailure;
        storedFolders = folders;
        // The store fills in what resolution found, so the stored list differs from the given one.
        for (SourceFolder& folder : storedFolders)
            folder.bookmark = folder.bookmark.value_or(QByteArray("resolved"));
        storedSourceMessage.reset();
        return {};
    }
    bool loginEnabled() const override { return login; }
    void refreshLogin() override { log.append("refreshLogin"); }
    bool setLoginEnabled(bool enabled) override {
        log.append(enabled ? "login on" : "login off");
        if (loginWorks)
            login = enabled;
        return loginWorks;
    }
    std::optional<QString> loginMessage() const override { return loginProblem; }
    bool hasShortcutController() const override { return controller; }
    GalleryShortcut shortcut() const override { return registeredShortcut; }
    bool shortcutRegistered() const override { return registered; }
    std::optional<QString> shortcutError() const override { return shortcutProblem; }
    bool applyShortcut(const GalleryShortcut& shortcut, bool persist) override {
        log.append(QStringLiteral("shortcut %1%2").arg(shortcut.label(), persist ? "" : " unsaved"));
        if (!shortcutWorks)
            return false;
        registeredShortcut = shortcut;
        registered = true;
        return true;
    }
    void refreshWindowLayers() override { log.append("layers"); }
    void checkForUpdates() override { log.append("updates"); }
};

} // namespace vennimo::test
