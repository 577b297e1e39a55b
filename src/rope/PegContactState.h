#pragma once

#include "rope/ClotheslineRopeGeometry.h"

#include <QPainterPath>
#include <QPointF>

#include <optional>

namespace vennimo {

// Whether a dragged peg touches the rope, with hysteresis: contact begins within 16 points of
// the rope given and ends only beyond 28 points of the rope as it was when contact began, so
// the rope bending toward the peg cannot make the contact flicker. Lives for one peg drag.
struct PegContactState {
    std::optional<QPointF> point{};
    bool touching = false;
    std::optional<ClotheslineRopeGeometry> lockedRope{};

    bool operator==(const PegContactState&) const = default;

    // `peg` is the dragged peg's outline at `at`, in canvas coordinates. A repeated point
    // answers the last result without testing again.
    bool evaluate(QPointF at, const QPainterPath& peg, const ClotheslineRopeGeometry& rope);
};

// The canvas's last answer whether the rope receives a dragged peg at a point.
struct PegReceptionState {
    std::optional<QPointF> point{};
    bool receiving = false;

    bool operator==(const PegReceptionState&) const = default;
};

} // namespace vennimo
