#pragma once

#include "platform/Result.h"

#include <QString>

namespace vennimo {

// The application's storage folder (normally ~/.local/share/VennimoGallery) that every store
// is handed.
class StorageLocation {
public:
    static QString path();
    // Creates the folder (and the data location above it) when missing.
    static Result<QString> ensure();
};

} // namespace vennimo
