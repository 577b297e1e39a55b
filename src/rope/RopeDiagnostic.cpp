#include "rope/RopeDiagnostic.h"

#include "platform/Dates.h"
#include "platform/Logging.h"

namespace vennimo {

void RopeDiagnostic::event(const char* name, const QString& detail) {
    qCDebug(lcSignpost, "%s %s", name, qUtf8Printable(detail));
    qCInfo(lcRopeDiagnostic, "%s %s", name, qUtf8Printable(detail));
}

QString RopeDiagnostic::number(double value) {
    // Seconds and coordinates share their written form.
    return formatUnixSeconds(value);
}

} // namespace vennimo
