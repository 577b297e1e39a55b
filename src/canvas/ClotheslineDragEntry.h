#pragma once

#include "core/ClotheslinePlacement.h"
#include "core/Photo.h"

#include <QRectF>

namespace vennimo {

// One print carried by a drag off the rope, as it hung when the drag began: its place on the
// rope and its frame in canvas coordinates.
struct ClotheslineDragEntry {
    Photo photo;
    ClotheslinePlacement placement;
    QRectF frame;

    bool operator==(const ClotheslineDragEntry&) const = default;
};

} // namespace vennimo
