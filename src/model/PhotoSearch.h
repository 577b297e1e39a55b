#pragma once

#include "core/Photo.h"

#include <QString>

namespace vennimo {

// Whether a photo matches the search field's query: every whitespace-separated word occurs,
// ignoring case and the composition of accented letters, in the photo's name, source or
// format. An empty query matches every photo.
bool matchesSearch(const Photo& photo, const QString& query);

} // namespace vennimo
