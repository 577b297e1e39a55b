#include "rope/PhotoPendulum.h"

#include "rope/ClotheslinePhysics.h"

#include <cmath>

namespace vennimo {

namespace {

constexpr double kOffsetStiffness = 140;
constexpr double kOffsetDamping = 22;

constexpr double kSettledAngleDegrees = 0.012;
constexpr double kSettledAngleSpeed = 0.035;
constexpr double kSettledOffset = 0.0001;
constexpr double kSettledOffsetSpeed = 0.0003;

} // namespace

bool PhotoPendulum::step(double dt) {
    const PhysicsSubsteps steps = physicsSubsteps(dt);
    for (int n = 0; n < steps.count; ++n) {
        velocity += steps.h * (stiffness * (targetAngle - angle) - damping * velocity);
        angle += steps.h * velocity;
        offsetVelocity +=
            steps.h * (kOffsetStiffness * (targetOffset - offset) - kOffsetDamping * offsetVelocity);
        offset += steps.h * offsetVelocity;
    }
    // A swing that went non-finite would never settle and keep the display link running.
    const bool broken = !std::isfinite(angle) || !std::isfinite(velocity) || !std::isfinite(offset) ||
                        !std::isfinite(offsetVelocity);
    const bool atRest =
        std::abs(angle - targetAngle) < kSettledAngleDegrees && std::abs(velocity) < kSettledAngleSpeed &&
        std::abs(offset - targetOffset) < kSettledOffset && std::abs(offsetVelocity) < kSettledOffsetSpeed;
    const bool settled = broken || atRest;
    if (!settled)
        return true;
    angle = targetAngle;
    offset = targetOffset;
    velocity = 0;
    offsetVelocity = 0;
    return false;
}

} // namespace vennimo
