#pragma once

#include "core/Photo.h"

#include <QList>

#include <optional>

namespace vennimo {

// Same id, same record key and same file birth: the list's copy is the photo the preview shows.
bool isSameLivePhoto(const Photo& a, const Photo& b);
// The list's own copy of the photo, with its current fields, or none.
std::optional<Photo> livePreviewPhoto(const Photo& photo, const QList<Photo>& photos);

// The photos the preview pages through, as they were when the sequence was made; their current
// copies are always looked up again in the model's list.
struct PhotoPreviewSequence {
    QList<Photo> photos{};

    QList<Photo> livePhotos(const QList<Photo>& current) const;
    // What to show instead of a photo that vanished: the nearest earlier photo that still
    // exists, else the nearest later one, else none.
    std::optional<Photo> replacement(const Photo& vanished, const QList<Photo>& current) const;
    // The first photo that is the same entry (record key and file birth) as the given one.
    bool containsEntry(const Photo& photo) const;

    bool operator==(const PhotoPreviewSequence&) const = default;
};

} // namespace vennimo
