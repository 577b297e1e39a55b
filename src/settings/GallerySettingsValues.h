#pragma once

#include "core/SourceFolder.h"
#include "model/SpaceKeyOpener.h"
#include "platform/GalleryShortcut.h"
#include "rope/HangingStyle.h"

#include <QList>

#include <optional>

namespace vennimo {

// Every setting the settings window edits, at once: the draft the panes change and the copy
// of what was last applied.
struct GallerySettingsValues {
    // The watched folders in the order shown.
    QList<SourceFolder> folders{};
    bool login = false;
    // "GalleryAlwaysOnTop".
    bool alwaysOnTop = true;
    HangingStyle style{};
    // Absent while the application runs without a quick-open key.
    std::optional<GalleryShortcut> shortcut{};
    // What the space bar opens.
    SpaceKeyOpener spaceOpener{};

    bool operator==(const GallerySettingsValues&) const = default;
};

} // namespace vennimo
