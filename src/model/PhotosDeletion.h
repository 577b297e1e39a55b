#pragma once

#include "model/TrashWorkers.h"
#include "platform/PhotosLibrary.h"

#include <memory>

namespace vennimo {

// Deleting photos that are assets of the Photos library: the library puts them into its
// recently-deleted album, never the Trash. No state beyond one call.
class PhotosDeletion {
public:
    // Checks each photo's asset against the library it was imported from and deletes the verified
    // assets in one request, each asset once. The completion runs once: on the calling thread when
    // nothing is deletable or access is settled, otherwise on a thread of the library.
    static void deletePhotos(const QList<Photo>& photos, TrashCompletion completion,
                             std::shared_ptr<PhotosLibrary> library = PhotosLibrary::shared());
    // "Vennimo.Photos" code 1 with the message.
    static Error failure(const QString& message);

private:
    static void validateAndDelete(const QList<Photo>& photos, PhotosLibrary& library,
                                  const QHash<QString, QString>& earlyFailures,
                                  const TrashCompletion& completion);
};

} // namespace vennimo
