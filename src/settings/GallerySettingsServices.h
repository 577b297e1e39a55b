#pragma once

#include "core/SourceFolder.h"
#include "platform/GalleryShortcut.h"
#include "platform/Result.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace vennimo {

// What the settings window reads and changes of the services the application owns: the source
// folders, the login switch, the quick-open key, the window levels and the update check. The
// application installs the real ones; the settings never write those settings themselves.
class GallerySettingsServices {
public:
    virtual ~GallerySettingsServices() = default;

    virtual QList<SourceFolder> folders() const = 0;
    // A problem of the stored folder list (it could not be read at start), shown until fixed.
    virtual std::optional<QString> sourceMessage() const = 0;
    // Access problems by folder id.
    virtual QHash<QString, QString> sourceIssues() const = 0;
    virtual QList<SourceFolder> defaultFolders() const = 0;
    // Folders chosen in a panel merged into a list: a listed one is switched on with a new grant.
    virtual Result<QList<SourceFolder>> addingFolders(const QStringList& paths,
                                                      const QList<SourceFolder>& list) const = 0;
    virtual Status saveFolders(const QList<SourceFolder>& folders) = 0;

    virtual bool loginEnabled() const = 0;
    // Reads the real state again; it may have changed outside the application.
    virtual void refreshLogin() = 0;
    virtual bool setLoginEnabled(bool enabled) = 0;
    virtual std::optional<QString> loginMessage() const = 0;

    // Without a controller there is no quick-open key to edit.
    virtual bool hasShortcutController() const = 0;
    virtual GalleryShortcut shortcut() const = 0;
    virtual bool shortcutRegistered() const = 0;
    virtual std::optional<QString> shortcutError() const = 0;
    virtual bool applyShortcut(const GalleryShortcut& shortcut, bool persist) = 0;

    // Every registered window takes the level of the stored "GalleryAlwaysOnTop" again.
    virtual void refreshWindowLayers() = 0;
    virtual void checkForUpdates() = 0;
};

} // namespace vennimo
