#include "platform/Logging.h"

namespace vennimo {

Q_LOGGING_CATEGORY(lcApp, "com.tavrun.vennimo-gallery", QtInfoMsg)
Q_LOGGING_CATEGORY(lcRopeDiagnostic, "com.tavrun.vennimo-gallery.rope-diagnostic", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSignpost, "com.tavrun.vennimo-gallery.signpost", QtWarningMsg)

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
