#include "canvas/OpaqueHandoffGate.h"

#include <cmath>

namespace vennimo {

bool OpaqueHandoffGate::sameTargets(const Targets& a, const Targets& b) {
    if (a.size() != b.size())
        return false;
    const auto near = [](double x, double y) { return std::abs(x - y) <= kTolerance; };
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i].has_value() != b[i].has_value())
            return false;
        if (!a[i])
            continue;
        const QRectF& r = *a[i];
        const QRectF& s = *b[i];
        if (!near(r.x(), s.x()) || !near(r.y(), s.y()) || !near(r.width(), s.width()) ||
            !near(r.height(), s.height()))
            return false;
    }
    return true;
}

std::optional<QString> OpaqueHandoffGate::update(double elapsed, const Targets& targets, bool sourceReady) {
    if (elapsed >= kWatchdogSeconds)
        return QStringLiteral("watchdog");
    if (elapsed >= kReturnSeconds && sourceReady) {
        if (anchor && stableSince && sameTargets(*anchor, targets)) {
            if (elapsed - *stableSince >= kStableSeconds)
                return QStringLiteral("stable");
            return std::nullopt;
        }
        anchor = targets;
        stableSince = elapsed;
        return std::nullopt;
    }
    anchor.reset();
    stableSince.reset();
    return std::nullopt;
}

} // namespace vennimo
