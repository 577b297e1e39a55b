#pragma once

#include "core/Photo.h"

#include <QPointer>
#include <QSize>
#include <QSizeF>
#include <QString>

#include <functional>
#include <optional>

class QObject;

namespace vennimo {

// Pixel sizes of photos after orientation, read from their file headers and cached in memory.
// The main thread never opens a file here: a header can take seconds to read (a JPEG of many
// marker segments, a file on a slow mount), so it answers what is known and has the rest learned
// on a queue of its own. Thread-safe unless a member says otherwise.
class PhotoDimensions {
public:
    static constexpr int kCacheCount = 4096;
    static constexpr int kLearnWorkers = 2;

    // The size a header read gives, nothing when unreadable; tests replace it.
    using Reader = std::function<std::optional<QSize>(const QString& path)>;

    // The photo's size, else its thumbnail's, else 4 x 3. Off the main thread the files are read
    // when the size is not known (an unreadable pair is not cached, so the next call reads them
    // again); on the main thread only a known size is answered.
    static QSizeF imageSize(const Photo& photo);
    // The size read for the photo's files as they are now; nothing before it is read or when
    // they were found unreadable.
    static std::optional<QSizeF> knownSize(const Photo& photo);
    // Whether a read of the photo's files as they are now ended, readable or not.
    static bool settled(const Photo& photo);
    // Main thread only. Reads the photo's size on the learning queue unless it is settled, and
    // then runs `learned` on the main thread, unless the receiver is gone; false when it was
    // settled already and `learned` will not run. Requests for one photo share one read.
    static bool learn(const Photo& photo, QObject* receiver, std::function<void()> learned);
    // Changes whenever one of the fields that change with the file or its thumbnail changes.
    static QString key(const Photo& photo);
    static void clearCache();
    // An empty reader restores the file reader.
    static void setReaderForTesting(Reader reader);
};

} // namespace vennimo
