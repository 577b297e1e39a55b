#include "shell/LoginSetting.h"

#include <QCoreApplication>

namespace vennimo {

LoginSetting::LoginSetting(QString executable, QObject* parent)
    : QObject(parent)
    , m_entry(executable.isEmpty() ? QCoreApplication::applicationFilePath() : std::move(executable))
    , m_runTool(AutostartEntry::runToolBlocking) {}

void LoginSetting::refresh() {
    const bool enabled = m_entry.hasOwnedLegacy() || m_entry.entryEnabled();
    if (enabled == m_enabled)
        return;
    m_enabled = enabled;
    Q_EMIT enabledChanged();
}

void LoginSetting::setMessage(const std::optional<QString>& message) {
    if (m_message == message)
        return;
    m_message = message;
    Q_EMIT messageChanged();
}

void LoginSetting::fail(const Error& error) {
    setMessage(QString::fromUtf8(kFailurePrefix) + error.localizedDescription());
}

bool LoginSetting::setEnabled(bool enabled) {
    Status status;
    if (enabled) {
        if (!m_entry.hasOwnedLegacy())
            status = m_entry.writeEntry();
    } else {
        if (m_entry.entryExists() || m_entry.entryEnabled())
            status = m_entry.removeEntry();
        if (status.ok() && m_entry.hasOwnedLegacy())
            status = m_entry.removeLegacy(m_runTool);
    }
    if (status.ok())
        setMessage(std::nullopt);
    else
        fail(status.error());
    refresh();
    return status.ok();
}

} // namespace vennimo
