#include "platform/Logging.h"

namespace vennimo {

Q_LOGGING_CATEGORY(lcApp, "com.tavrun.vennimo-gallery", QtInfoMsg)
// Rope diagnostics write a dozen lines a drag: off unless asked for, through QT_LOGGING_RULES or
// VENNIMO_ROPE_DIAGNOSTICS=1.
Q_LOGGING_CATEGORY(lcRopeDiagnostic, "com.tavrun.vennimo-gallery.rope-diagnostic", QtWarningMsg)
Q_LOGGING_CATEGORY(lcSignpost, "com.tavrun.vennimo-gallery.signpost", QtWarningMsg)

void applyDiagnosticSwitch() {
    if (qEnvironmentVariableIntValue("VENNIMO_ROPE_DIAGNOSTICS") != 0)
        enableRopeDiagnostics();
}

void enableRopeDiagnostics() {
    // Kept as the lowest-ranked rules: QT_LOGGING_RULES still decides over them.
    QLoggingCategory::setFilterRules(QStringLiteral("com.tavrun.vennimo-gallery.rope-diagnostic.info=true"));
}

Signpost::Signpost(const char* name)
    : m_name(name) {
    if (lcSignpost().isDebugEnabled())
        m_timer.start();
}

Signpost::~Signpost() {
    if (m_timer.isValid())
        qCDebug(lcSignpost, "%s %.3f ms", m_name, static_cast<double>(m_timer.nsecsElapsed()) / 1e6);
}

void Signpost::event(const char* name) {
    qCDebug(lcSignpost, "%s", name);
}

} // namespace vennimo
