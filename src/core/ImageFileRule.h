#pragma once

#include <QString>

namespace vennimo {

// Whether a file name names an image: its extension (any letter case) is one of the 24 image
// extensions the system knows, or maps to a MIME type that inherits image/*. Looks at the name
// only; callers that need a regular file test that themselves.
bool isImageFileName(const QString& pathOrName);

} // namespace vennimo
