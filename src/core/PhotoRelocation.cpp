#include "core/PhotoRelocation.h"

#include "core/PhotoIdentity.h"
#include "platform/FileIdentity.h"

namespace vennimo {

Result<Photo> relocatedPhoto(const Photo& photo, const QString& path) {
    auto file = FileIdentity::read(path);
    if (!file)
        return file.error();
    auto identity = currentIdentity(path);
    if (!identity)
        return identity.error();
    Photo moved = photo;
    moved.id = identity->id;
    moved.usageID = identity->usageID;
    moved.path = path;
    moved.created = file->created;
    moved.modified = file->modified;
    moved.size = file->size;
    moved.sourceRoot.reset();
    return moved;
}

} // namespace vennimo
