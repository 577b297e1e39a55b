#pragma once

#include <QString>

#include <optional>

namespace vennimo {

// What the tray shows about the gallery: whether it is open, the quick-open key and the photos
// that arrived while the user kept the rope closed.
struct QuickOpenStatusInput {
    bool open = false;
    // The key's label; absent without a shortcut controller.
    std::optional<QString> shortcutLabel{};
    bool shortcutRegistered = false;
    int arrivals = 0;
    bool collecting = false;

    bool operator==(const QuickOpenStatusInput&) const = default;
};

struct QuickOpenStatus {
    QString toggleTitle;
    bool collectionVisible = false;
    QString collectionTitle;
    QString toolTip;
    QString accessibleName;
    // The arrival dot on the icon.
    bool dot = false;

    bool operator==(const QuickOpenStatus&) const = default;
};

QuickOpenStatus quickOpenStatus(const QuickOpenStatusInput& input);

} // namespace vennimo
