#pragma once

#include "core/SourceFolder.h"
#include "model/SpaceKeyOpener.h"
#include "platform/GalleryShortcut.h"
#include "platform/Result.h"
#include "rope/HangingStyle.h"

#include <QList>

#include <functional>

namespace vennimo {

// How each part of the settings is applied, each through the service that owns it. A failing
// part answers the error whose text the settings window shows.
struct GallerySettingsSaveActions {
    // Answers the list as stored.
    std::function<Result<QList<SourceFolder>>(const QList<SourceFolder>& folders)> folders{};
    std::function<Status(bool login)> login{};
    std::function<Status(const GalleryShortcut& shortcut)> shortcut{};
    std::function<Status(const HangingStyle& style, bool alwaysOnTop)> appearance{};
    std::function<Status(const SpaceKeyOpener& opener)> spaceOpener{};
};

} // namespace vennimo
