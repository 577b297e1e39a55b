#pragma once

#include "core/Photo.h"

#include <QSizeF>
#include <QString>

namespace vennimo {

// Pixel sizes of photos after orientation, read from their file headers and cached in memory.
// Thread-safe.
class PhotoDimensions {
public:
    static constexpr int kCacheCount = 500;

    // The photo's size, else its thumbnail's, else 4 x 3 (which is not cached, so the next call
    // reads the files again).
    static QSizeF imageSize(const Photo& photo);
    // Changes whenever one of the fields that change with the file or its thumbnail changes.
    static QString key(const Photo& photo);
    static void clearCache();
};

} // namespace vennimo
