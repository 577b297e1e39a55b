#pragma once

#include "core/Photo.h"

#include <QList>

namespace vennimo {

// What makes two photos of two lists the same one.
enum class PhotoMatch {
    // The same id: the photo was already listed.
    id,
    // The same id, file birth and usage identity: whatever the histories know of it still holds.
    identity,
};

// The photos of `after` that `before` does not hold, in the order of `after`. Lists that differ by
// a few photos are compared in one pass without hashing every id, which keeps one new file cheap
// on a large library; lists in another order cost a lookup per moved photo.
QList<Photo> photosNotIn(const QList<Photo>& before, const QList<Photo>& after, PhotoMatch match);

} // namespace vennimo
