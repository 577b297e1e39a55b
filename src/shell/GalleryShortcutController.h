#pragma once

#include "platform/GalleryShortcut.h"
#include "platform/GlobalHotKey.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

namespace vennimo {

class UserDefaults;

// Owns the one global key that opens and closes the gallery, keeps the chosen combination in
// the user defaults and reports problems in Chinese. Main thread only.
class GalleryShortcutController : public QObject {
    Q_OBJECT

public:
    static constexpr auto kInvalidMessage = "请选择字母或数字，并至少包含 Control 或 Command。";
    static constexpr auto kSystemConflictMessage = "这个组合已被系统快捷键使用，请换一个。";
    static constexpr auto kUnavailableMessage = "快捷键暂时不可用，请使用菜单栏图标。";

    using SystemShortcuts = std::function<bool(const GalleryShortcut& shortcut)>;

    // Reads the stored combination once (the default when absent, undecodable or invalid);
    // registers nothing yet. Without a hot-key layer the X11 one is used.
    explicit GalleryShortcutController(UserDefaults& defaults, std::unique_ptr<GlobalHotKey> hotKey = nullptr,
                                       QObject* parent = nullptr);
    ~GalleryShortcutController() override;

    const GalleryShortcut& shortcut() const { return m_shortcut; }
    const std::optional<QString>& error() const { return m_error; }
    bool registered() const { return m_hotKeyId != 0; }

    // Installs the handler and registers the current combination; a second call does nothing.
    void start();
    // Registers another combination (stored when `persist`); a failure, also one to store it,
    // keeps the older key.
    bool apply(const GalleryShortcut& shortcut, bool persist);
    // Releases the key; called when the application ends.
    void stop();
    // The desktop's own shortcuts; none are known unless a reader is installed.
    bool conflictsWithSystem(const GalleryShortcut& shortcut) const;
    void setSystemShortcuts(SystemShortcuts reader) { m_systemShortcuts = std::move(reader); }

    // "无法注册 Ctrl+Alt+P，可能已被其他应用占用；请换一个组合。"
    static QString registrationFailedMessage(const GalleryShortcut& shortcut);

Q_SIGNALS:
    // The key was pressed (repeats while held are dropped).
    void toggleRequested();
    // The registration or the problem changed.
    void changed();

private:
    void setError(const std::optional<QString>& error);
    void onPressed(int id);
    void onReleased(int id);

    GalleryShortcut m_shortcut;
    std::optional<QString> m_error;
    UserDefaults& m_defaults;
    std::unique_ptr<GlobalHotKey> m_hotKey;
    int m_hotKeyId = 0;
    bool m_pressed = false;
    SystemShortcuts m_systemShortcuts;
};

} // namespace vennimo
