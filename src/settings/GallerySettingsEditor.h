#pragma once

#include "platform/Result.h"
#include "settings/GallerySettingsSaveActions.h"
#include "settings/GallerySettingsValues.h"
#include "settings/SettingsEditorPort.h"

#include <QObject>
#include <QString>

#include <optional>

namespace vennimo {

class GallerySettingsServices;
class UserDefaults;

// The settings window's draft of every setting. Each change of the draft is applied part by
// part, in the order shortcut, folders, login, appearance, space key, through the services
// that own them; a part that fails stays pending in the draft and is named in one message, the others
// count as saved. Made anew each time the window opens. Main thread only.
class GallerySettingsEditor : public QObject, public SettingsEditorPort {
    Q_OBJECT

public:
    static constexpr auto kErrorDomain = "Vennimo.Settings";
    static constexpr int kLoginErrorCode = 1;
    static constexpr int kShortcutErrorCode = 2;
    static constexpr int kAppearanceErrorCode = 3;
    static constexpr int kSpaceOpenerErrorCode = 4;
    static constexpr auto kInvalidShortcutMessage = "快捷键需包含 Ctrl 或 Super。";
    static constexpr auto kShortcutUnavailableMessage = "快捷键暂时不可用。";
    static constexpr auto kLoginUnfinishedMessage = "登录启动设置未完成。";
    static constexpr auto kNothingAppliedPrefix = "未能应用：";
    static constexpr auto kPartlyAppliedPrefix = "部分设置已保存，其余未能应用：";

    // Reads the current settings from the services and the user defaults.
    GallerySettingsEditor(GallerySettingsServices& services, UserDefaults& defaults,
                          QObject* parent = nullptr);
    ~GallerySettingsEditor() override;

    const GallerySettingsValues& draft() const { return m_draft; }
    void setDraft(const GallerySettingsValues& draft);
    const GallerySettingsValues& saved() const { return m_saved; }
    const std::optional<QString>& message() const { return m_message; }
    void setMessage(const std::optional<QString>& message);
    bool needsSourceRepair() const { return m_needsSourceRepair; }
    bool shortcutNeedsRegistration() const { return m_shortcutNeedsRegistration; }
    GallerySettingsServices& services() const { return m_services; }

    bool saving() const override { return m_saving; }
    bool hasChanges() const override;
    void discard() override;

    // Applies what differs from the saved values; true when every part applied. A call while
    // a save runs answers false at once.
    bool save();

Q_SIGNALS:
    void draftChanged();
    void savedChanged();
    void messageChanged();
    void savingChanged();

private:
    void setSaved(const GallerySettingsValues& saved);
    void setSaving(bool saving);
    GallerySettingsSaveActions makeActions();

    GallerySettingsServices& m_services;
    UserDefaults& m_defaults;
    GallerySettingsValues m_draft;
    GallerySettingsValues m_saved;
    std::optional<QString> m_message;
    bool m_saving = false;
    bool m_needsSourceRepair = false;
    bool m_shortcutNeedsRegistration = false;
    GallerySettingsSaveActions m_actions;
};

} // namespace vennimo
