#pragma once

namespace vennimo {

// The swing of one hanging print: a damped spring on its tilt (degrees) and a fixed spring on
// the sideways offset of its peg (fraction of the print's width), both pulled toward the rest
// pose of the hanging style.
struct PhotoPendulum {
    double angle = 0;
    double velocity = 0;
    double offset = 0;
    double offsetVelocity = 0;
    double targetAngle = 0;
    double targetOffset = 0;
    double damping = 0;
    double stiffness = 0;

    bool operator==(const PhotoPendulum&) const = default;

    // Advances by `dt` seconds; answers whether the print still moves. Once settled it rests
    // exactly at its target pose with no velocity.
    bool step(double dt);
};

} // namespace vennimo
