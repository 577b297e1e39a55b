#pragma once

#include "platform/AutostartEntry.h"

#include <QObject>
#include <QString>

#include <optional>

namespace vennimo {

// The switch that starts the application at login, over the XDG autostart entry. A unit of an
// earlier installation that starts this program counts as on and is removed when the switch is
// turned off; it is never written. Main thread only.
class LoginSetting : public QObject {
    Q_OBJECT

public:
    static constexpr auto kFailurePrefix = "登录启动设置未完成：";

    // `executable` defaults to the running program.
    explicit LoginSetting(QString executable = {}, QObject* parent = nullptr);

    bool enabled() const { return m_enabled; }
    const std::optional<QString>& message() const { return m_message; }
    const AutostartEntry& entry() const { return m_entry; }

    // Reads the real state again.
    void refresh();
    // Turns starting at login on or off; answers whether it worked, a failure is also reported
    // through message().
    bool setEnabled(bool enabled);
    void setRunTool(AutostartEntry::RunTool runTool) { m_runTool = std::move(runTool); }

Q_SIGNALS:
    void enabledChanged();
    void messageChanged();

private:
    void fail(const Error& error);
    void setMessage(const std::optional<QString>& message);

    bool m_enabled = false;
    std::optional<QString> m_message;
    AutostartEntry m_entry;
    AutostartEntry::RunTool m_runTool;
};

} // namespace vennimo
