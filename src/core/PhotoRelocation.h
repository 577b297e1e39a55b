#pragma once

#include "core/Photo.h"
#include "platform/Result.h"

namespace vennimo {

// The record of a photo's file at a new place: the id and usage identity a scan would give that
// file there, its dates and size re-read, no source root; everything else kept.
Result<Photo> relocatedPhoto(const Photo& photo, const QString& path);

} // namespace vennimo
