#pragma once

namespace vennimo {

// Where an own copy drag stands over the rope: on the rope strand at a placement x (0 to 1), on
// the dragged print's own paper, or anywhere else.
struct PhotoDropTarget {
    enum Kind { rope, outside, source };

    Kind kind = outside;
    // Only for `rope`.
    double x = 0;

    static PhotoDropTarget onRope(double x) { return {rope, x}; }
    bool operator==(const PhotoDropTarget&) const = default;
};

} // namespace vennimo
