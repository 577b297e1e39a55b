#pragma once

#include <QList>
#include <QRectF>
#include <QString>

#include <optional>

namespace vennimo {

// Decides when returning drag panels may give their prints back to the rope: once the rope has
// settled and the places the prints will take have held still for a moment, or after a watchdog
// time whatever happens, so panels never hang about.
struct OpaqueHandoffGate {
    static constexpr double kWatchdogSeconds = 3.0;
    static constexpr double kReturnSeconds = 0.16;
    static constexpr double kStableSeconds = 0.08;
    static constexpr double kTolerance = 0.05;

    using Targets = QList<std::optional<QRectF>>;

    std::optional<Targets> anchor{};
    std::optional<double> stableSince{};

    bool operator==(const OpaqueHandoffGate&) const = default;

    // "stable" or "watchdog" when the panels may go; nothing while they must stay.
    std::optional<QString> update(double elapsed, const Targets& targets, bool sourceReady);
    static bool sameTargets(const Targets& a, const Targets& b);
};

} // namespace vennimo
