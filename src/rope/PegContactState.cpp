#include "rope/PegContactState.h"

namespace vennimo {

bool PegContactState::evaluate(QPointF at, const QPainterPath& peg, const ClotheslineRopeGeometry& rope) {
    if (point && *point == at)
        return touching;
    point = at;
    if (touching && lockedRope)
        touching = lockedRope->touches(peg, ClotheslineRopeGeometry::kLockedContactTolerance);
    else
        touching = rope.touches(peg, ClotheslineRopeGeometry::kContactTolerance);
    if (!touching)
        lockedRope.reset();
    else if (!lockedRope)
        lockedRope = rope;
    return touching;
}

} // namespace vennimo
