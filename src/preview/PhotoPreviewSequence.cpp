#include "preview/PhotoPreviewSequence.h"

#include "model/RopeHistoryEntry.h"

namespace vennimo {

bool isSameLivePhoto(const Photo& a, const Photo& b) {
    return a.id == b.id && isSamePhoto(a, b);
}

std::optional<Photo> livePreviewPhoto(const Photo& photo, const QList<Photo>& photos) {
    for (const Photo& candidate : photos) {
        if (isSameLivePhoto(candidate, photo))
            return candidate;
    }
    return std::nullopt;
}

QList<Photo> PhotoPreviewSequence::livePhotos(const QList<Photo>& current) const {
    QList<Photo> live;
    live.reserve(photos.size());
    for (const Photo& photo : photos) {
        if (auto copy = livePreviewPhoto(photo, current))
            live.append(*copy);
    }
    return live;
}

std::optional<Photo> PhotoPreviewSequence::replacement(const Photo& vanished,
                                                       const QList<Photo>& current) const {
    qsizetype index = -1;
    for (qsizetype i = 0; i < photos.size(); ++i) {
        if (photos[i].id == vanished.id) {
            index = i;
            break;
        }
    }
    if (index < 0)
        return std::nullopt;
    // An earlier neighbour wins over a later one at any distance: paging back is what a user
    // who just deleted the photo in front of them expects to see.
    for (qsizetype i = index - 1; i >= 0; --i) {
        if (auto copy = livePreviewPhoto(photos[i], current))
            return copy;
    }
    for (qsizetype i = index + 1; i < photos.size(); ++i) {
        if (auto copy = livePreviewPhoto(photos[i], current))
            return copy;
    }
    return std::nullopt;
}

bool PhotoPreviewSequence::containsEntry(const Photo& photo) const {
    for (const Photo& candidate : photos) {
        if (isSamePhoto(candidate, photo))
            return true;
    }
    return false;
}

} // namespace vennimo
