#include "rope/ClotheslinePhysics.h"

#include <algorithm>
#include <cmath>

namespace vennimo {

namespace {

constexpr double kReferenceSpanPoints = 600;
constexpr double kStiffnessPerReferenceSpan = 180;
constexpr double kMinimumSpanFactor = 0.5;
constexpr double kMaximumSpanFactor = 2;
// The sag approaches this depth but never reaches it.
constexpr double kSoftSagLimitPoints = 70;
constexpr double kMaximumPullPoints = 36;
constexpr double kPullEdgeFraction = 0.001;

constexpr double kMaximumFrameSeconds = 0.05;
constexpr double kSubstepsPerSecond = 240;

constexpr double kSpringStiffness = 150;
constexpr double kSpringDamping = 14;
constexpr double kStiffSpringStiffness = 2500;
constexpr double kStiffSpringDamping = 100;

constexpr double kSettledDistancePoints = 0.015;
constexpr double kSettledSpeed = 0.04;
constexpr double kStiffSettledDistancePoints = 0.45;
constexpr double kStiffSettledSpeed = 20;

constexpr int kLast = static_cast<int>(ClotheslinePhysics::kSampleCount) - 1;

double sampleParameter(int i) {
    return static_cast<double>(i) / kLast;
}

// A weight on a taut string: 0 at both ends, peaking under the load.
double tent(double load, double x) {
    return std::min(load, x) * (1 - std::max(load, x));
}

bool insidePullRange(double fraction) {
    return fraction > kPullEdgeFraction && fraction < 1 - kPullEdgeFraction;
}

} // namespace

PhysicsSubsteps physicsSubsteps(double dt) {
    PhysicsSubsteps result;
    result.dt = (std::isfinite(dt) && dt > 0) ? std::min(dt, kMaximumFrameSeconds) : 0.0;
    result.count = std::max(static_cast<int>(std::ceil(result.dt * kSubstepsPerSecond)), 1);
    result.h = result.dt / result.count;
    return result;
}

ClotheslinePhysics::Samples ClotheslinePhysics::equilibrium(const std::vector<double>& loads, double span) {
    Samples sag{};
    const double ratio = span / kReferenceSpanPoints;
    // Written so that a NaN span falls to the smallest factor.
    const double factor =
        ratio >= kMinimumSpanFactor ? std::min(ratio, kMaximumSpanFactor) : kMinimumSpanFactor;
    const double stiffness = kStiffnessPerReferenceSpan * factor;

    std::vector<double> kept;
    kept.reserve(loads.size());
    for (double load : loads) {
        if (std::isfinite(load))
            kept.push_back(std::clamp(load, 0.0, 1.0));
    }
    if (kept.empty())
        return sag;

    double deepest = 0;
    for (int i = 0; i <= kLast; ++i) {
        const double x = sampleParameter(i);
        double sum = 0;
        for (double load : kept)
            sum += stiffness * tent(load, x);
        sag[i] = sum;
        deepest = std::max(deepest, sum);
    }
    const double divisor = 1 + deepest / kSoftSagLimitPoints;
    for (double& value : sag)
        value /= divisor;
    return sag;
}

double ClotheslinePhysics::targetAt(double fraction) const {
    const double s = fraction * kLast;
    const int i = std::clamp(static_cast<int>(std::floor(s)), 0, kLast - 1);
    return target[i] + (s - i) * (target[i + 1] - target[i]);
}

void ClotheslinePhysics::pull(double at, double toward, double amount) {
    // A non-finite wish would poison every inner sample of the target.
    if (!insidePullRange(at) || !std::isfinite(toward) || !std::isfinite(amount))
        return;
    const double delta = amount * std::clamp(toward - targetAt(at), -kMaximumPullPoints, kMaximumPullPoints);
    const double peak = at * (1 - at);
    for (int j = 1; j < kLast; ++j)
        target[j] += delta * tent(at, sampleParameter(j)) / peak;
}

void ClotheslinePhysics::pull(const std::vector<RopePullPoint>& toward, double amount) {
    std::vector<RopePullPoint> points;
    points.reserve(toward.size());
    for (RopePullPoint point : toward) {
        if (!std::isfinite(point.fraction) || !std::isfinite(point.displacement))
            continue;
        point.fraction = std::clamp(point.fraction, 0.0, 1.0);
        if (insidePullRange(point.fraction))
            points.push_back(point);
    }
    std::stable_sort(points.begin(), points.end(), [](const RopePullPoint& a, const RopePullPoint& b) {
        if (a.fraction != b.fraction)
            return a.fraction < b.fraction;
        return a.displacement < b.displacement;
    });
    if (points.empty() || !std::isfinite(amount))
        return;
    if (points.size() == 1) {
        pull(points.front().fraction, points.front().displacement, amount);
        return;
    }

    struct Knot {
        double fraction;
        double delta;
        int count;
    };
    std::vector<Knot> knots{{0, 0, 1}};
    knots.reserve(points.size() + 2);
    for (const RopePullPoint& point : points) {
        const double delta = amount * std::clamp(point.displacement - targetAt(point.fraction),
                                                 -kMaximumPullPoints, kMaximumPullPoints);
        Knot& last = knots.back();
        if (last.fraction == point.fraction) {
            // Pegs at one position pull by their mean.
            last.delta += (delta - last.delta) / (last.count + 1);
            last.count += 1;
        } else {
            knots.push_back({point.fraction, delta, 1});
        }
    }
    knots.push_back({1, 0, 1});

    std::size_t k = 0;
    for (int j = 1; j < kLast; ++j) {
        const double x = sampleParameter(j);
        while (k + 2 < knots.size() && knots[k + 1].fraction < x)
            ++k;
        const Knot& a = knots[k];
        const Knot& b = knots[k + 1];
        target[j] += a.delta + (b.delta - a.delta) * (x - a.fraction) / (b.fraction - a.fraction);
    }
}

bool ClotheslinePhysics::step(double dt, bool nonBouncing) {
    const PhysicsSubsteps steps = physicsSubsteps(dt);
    const double k = nonBouncing ? kStiffSpringStiffness : kSpringStiffness;
    const double c = nonBouncing ? kStiffSpringDamping : kSpringDamping;
    for (int n = 0; n < steps.count; ++n) {
        for (int i = 1; i < kLast; ++i) {
            const double diff = target[i] - displacement[i];
            if (nonBouncing && diff * velocity[i] < 0)
                velocity[i] = 0;
            velocity[i] += steps.h * (k * diff - c * velocity[i]);
            displacement[i] += steps.h * velocity[i];
            if (nonBouncing && diff * (target[i] - displacement[i]) <= 0) {
                displacement[i] = target[i];
                velocity[i] = 0;
            }
        }
    }

    const double distanceLimit = nonBouncing ? kStiffSettledDistancePoints : kSettledDistancePoints;
    const double speedLimit = nonBouncing ? kStiffSettledSpeed : kSettledSpeed;
    for (std::size_t i = 0; i < kSampleCount; ++i) {
        if (std::abs(displacement[i] - target[i]) > distanceLimit || std::abs(velocity[i]) > speedLimit)
            return true;
    }
    displacement = target;
    velocity.fill(0);
    return false;
}

} // namespace vennimo
