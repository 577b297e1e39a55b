#pragma once

#include <QList>
#include <QString>

namespace vennimo {

// The settings window's panes in tab order, each with its tab title, tab symbol and content
// height; every pane is 600 wide.
enum class SettingsPane { general, hanging, shortcut, help };

struct SettingsPaneInfo {
    static constexpr int kContentWidth = 600;

    static QList<SettingsPane> all();
    static QString title(SettingsPane pane);
    static QString symbol(SettingsPane pane);
    static int height(SettingsPane pane);
};

} // namespace vennimo
