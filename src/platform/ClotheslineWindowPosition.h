#pragma once

namespace vennimo {

// Where the rope window hung when it was last saved: its left edge, the screen height of the
// rope line and its width, in the coordinates the gallery window stores them in.
struct ClotheslineWindowPosition {
    static constexpr double kMinimumWidthPoints = 760;

    double x = 0;
    double ropeY = 0;
    double width = 0;

    bool operator==(const ClotheslineWindowPosition&) const = default;
};

} // namespace vennimo
