#pragma once

#include <array>
#include <cstddef>
#include <vector>

namespace vennimo {

// One point a dragged peg pulls the rope toward: a rope parameter and the wanted displacement.
struct RopePullPoint {
    double fraction = 0;
    double displacement = 0;
};

// The rope as 97 samples of vertical displacement (points, positive downward) added to its
// resting curve, with a spring that draws every inner sample toward its target. Sample i lies
// at rope parameter i / 96; the two end samples sit at the knots and never move.
struct ClotheslinePhysics {
    static constexpr std::size_t kSampleCount = 97;
    using Samples = std::array<double, kSampleCount>;

    Samples displacement{};
    Samples velocity{};
    Samples target{};
    bool initialized = false;

    bool operator==(const ClotheslinePhysics&) const = default;

    // The resting sag under prints whose pegs hang at the given rope parameters, on a rope
    // whose ends lie `span` points apart.
    static Samples equilibrium(const std::vector<double>& loads, double span);

    // Bends the target toward one wanted displacement at a rope parameter, by `amount` (0 to 1).
    void pull(double at, double toward, double amount);
    // Bends the target as a polyline through several pulled points at once.
    void pull(const std::vector<RopePullPoint>& toward, double amount);

    // Advances toward the target by `dt` seconds; answers whether the rope still moves. Once it
    // answers false the rope sits exactly on its target at rest. The non-bouncing springs are
    // stiff and never overshoot (used while a peg is dragged).
    bool step(double dt, bool nonBouncing);

    // The target between samples, linearly interpolated.
    double targetAt(double fraction) const;
};

// Frame time clamped to what one frame may integrate, and the sub-step count for it: the
// physics never integrates more than 0.05 s per frame, in steps of at most 1/240 s.
struct PhysicsSubsteps {
    double dt = 0;
    int count = 1;
    double h = 0;
};
PhysicsSubsteps physicsSubsteps(double dt);

} // namespace vennimo
