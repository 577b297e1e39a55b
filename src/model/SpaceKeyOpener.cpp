#include "model/SpaceKeyOpener.h"

#include "platform/ApplicationLauncher.h"
#include "platform/UserDefaults.h"

#include <QFileInfo>

namespace vennimo {

SpaceKeyOpener SpaceKeyOpener::fromStoredValue(const std::optional<QString>& stored) {
    if (!stored || *stored == QLatin1String(kPreviewValue))
        return preview();
    if (*stored == QLatin1String(kDefaultValue))
        return defaultApp();
    if (stored->startsWith(QLatin1Char('/')))
        return app(*stored);
    return preview();
}

std::optional<QString> SpaceKeyOpener::storedValue() const {
    switch (kind) {
    case Kind::preview:
        return std::nullopt;
    case Kind::defaultApp:
        return QString::fromLatin1(kDefaultValue);
    case Kind::app:
        return path;
    }
    return std::nullopt;
}

SpaceKeyOpener SpaceKeyOpener::load(const UserDefaults& defaults) {
    return fromStoredValue(defaults.stringValue(QLatin1String(UserDefaults::kSpaceKeyOpenerKey)));
}

void SpaceKeyOpener::save(UserDefaults& defaults) const {
    const QString key = QLatin1String(UserDefaults::kSpaceKeyOpenerKey);
    if (const std::optional<QString> value = storedValue())
        defaults.setString(key, *value);
    else
        defaults.remove(key);
}

SpaceKeyLaunchSeams SpaceKeyLaunchSeams::standard() {
    SpaceKeyLaunchSeams seams;
    seams.openWithDefault = [](const QString& path) { return ApplicationLauncher::openWithDefault(path); };
    seams.openWithApplication = [](const QString& application, const QStringList& files,
                                   std::function<void(std::optional<Error>)> done) {
        const Status launched = ApplicationLauncher::launch(application, files);
        done(launched ? std::nullopt : std::optional<Error>(launched.error()));
    };
    seams.applicationExists = [](const QString& application) { return QFileInfo(application).isFile(); };
    seams.displayName = [](const QString& application) {
        return ApplicationLauncher::displayName(application);
    };
    return seams;
}

} // namespace vennimo
