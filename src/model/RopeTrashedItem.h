#pragma once

#include "core/Photo.h"

#include <QString>

#include <cstdint>

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
    // The file as it went into the Trash. Only a regular file of this size and modification date
    // is taken back from there, never whatever came to lie under its name since; a size below 0
    // stands for the photo's own record.
    std::int64_t trashedSize = -1;
    double trashedModified = 0;

    bool operator==(const RopeTrashedItem&) const = default;
};

} // namespace vennimo
