#pragma once

#include "core/Photo.h"

#include <QByteArray>

namespace vennimo {

// One copy of a photo made onto the rope, remembered so that undoing the copy can recycle it.
struct CopyUndoRecord {
    // The photo that was copied.
    Photo source{};
    // The copy as the exhibition holds it.
    Photo photo{};
    // SHA-256 of the copy's content when it was written; a copy that no longer has it is kept.
    QByteArray digest{};
    // An undo moved the copy to the Trash.
    bool recycled = false;

    bool operator==(const CopyUndoRecord&) const = default;
};

} // namespace vennimo
