#include "settings/SettingsPane.h"

namespace vennimo {

QList<SettingsPane> SettingsPaneInfo::all() {
    return {SettingsPane::general, SettingsPane::hanging, SettingsPane::shortcut, SettingsPane::help};
}

QString SettingsPaneInfo::title(SettingsPane pane) {
    switch (pane) {
    case SettingsPane::general:
        return QStringLiteral("通用");
    case SettingsPane::hanging:
        return QStringLiteral("晾衣绳");
    case SettingsPane::shortcut:
        return QStringLiteral("快捷键");
    case SettingsPane::help:
        return QStringLiteral("帮助");
    }
    return {};
}

QString SettingsPaneInfo::symbol(SettingsPane pane) {
    switch (pane) {
    case SettingsPane::general:
        return QStringLiteral("gearshape");
    case SettingsPane::hanging:
        return QStringLiteral("photo.on.rectangle.angled");
    case SettingsPane::shortcut:
        return QStringLiteral("keyboard");
    case SettingsPane::help:
        return QStringLiteral("questionmark.circle");
    }
    return {};
}

int SettingsPaneInfo::height(SettingsPane pane) {
    switch (pane) {
    case SettingsPane::general:
        return 480;
    case SettingsPane::hanging:
        return 560;
    case SettingsPane::shortcut:
        return 400;
    case SettingsPane::help:
        return 580;
    }
    return 0;
}

} // namespace vennimo
