#pragma once

#include "platform/Error.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace vennimo {

class UserDefaults;

// What the space bar opens for the selected photos: the in-app preview, each file with the
// desktop's default application, or all of them with one chosen application (the absolute path
// of its ".desktop" entry or executable). Kept in the user default "spaceKeyOpener".
struct SpaceKeyOpener {
    enum class Kind { preview, defaultApp, app };

    static constexpr auto kPreviewValue = "preview";
    static constexpr auto kDefaultValue = "default";

    Kind kind = Kind::preview;
    QString path;

    static SpaceKeyOpener preview() { return {}; }
    static SpaceKeyOpener defaultApp() { return {Kind::defaultApp, {}}; }
    static SpaceKeyOpener app(const QString& path) { return {Kind::app, path}; }

    // Nothing or "preview" is the preview, "default" the default application, a string that
    // begins with "/" that application; anything else reads as the preview. Touches no file.
    static SpaceKeyOpener fromStoredValue(const std::optional<QString>& stored);
    // The stored form: nothing for the preview, "default", or the path.
    std::optional<QString> storedValue() const;
    static SpaceKeyOpener load(const UserDefaults& defaults);
    void save(UserDefaults& defaults) const;

    bool operator==(const SpaceKeyOpener&) const = default;
};

// How the model hands photos to applications; tests replace the parts.
struct SpaceKeyLaunchSeams {
    // Reports whether the default application took the file.
    std::function<bool(const QString& path)> openWithDefault;
    // Starts the application once with the files and reports an error or nothing; the report may
    // come on any thread.
    std::function<void(const QString& application, const QStringList& files,
                       std::function<void(std::optional<Error>)> done)>
        openWithApplication;
    std::function<bool(const QString& application)> applicationExists;
    std::function<QString(const QString& application)> displayName;

    static SpaceKeyLaunchSeams standard();
};

} // namespace vennimo
