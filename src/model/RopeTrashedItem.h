#pragma once

#include "core/Photo.h"

#include <QString>

namespace vennimo {

// One photo moved to the Trash by a rope action, with what it takes to put it back.
struct RopeTrashedItem {
    // The photo as it was when it was deleted.
    Photo photo{};
    // Where its file lies in the Trash; items are matched by it.
    QString trashURL{};
    bool wasHanging = false;
    bool wasExhibited = false;
    // Its place along the rope, 0 to 1.
    double x = 0;

    bool operator==(const RopeTrashedItem&) const = default;
};

} // namespace vennimo
