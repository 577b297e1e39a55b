#pragma once

#include "core/Photo.h"
#include "rendering/PhotoSizeFile.h"

#include <QPointer>
#include <QSize>
#include <QSizeF>
#include <QString>

#include <chrono>
#include <functional>
#include <optional>

class QObject;

namespace vennimo {

// Pixel sizes of photos after orientation, read from their file headers and cached in memory.
// The main thread never opens a file here: a header can take seconds to read (a JPEG of many
// marker segments, a file on a slow mount), so it answers what is known and has the rest learned
// on queues of their own. Sizes read from the photos' own files are kept in the storage folder
// too, so that a start knows the shapes of the prints it hangs without reading any header.
// Thread-safe unless a member says otherwise.
class PhotoDimensions {
public:
    static constexpr int kCacheCount = 20'000;
    static constexpr int kLearnWorkers = 2;
    // Pictures whose header is read by a helper process or a library of its own (SVG, camera
    // RAW, HEIF) are learned on a lane of their own, so that they hold up no ordinary photo.
    static constexpr int kSlowLearnWorkers = 2;
    // Learned sizes are written this long after the first one that is not in the file yet.
    static constexpr std::chrono::milliseconds kSaveDelay{2000};
    // How long the end of the process waits for the sizes not yet written; a save still under
    // way then gives up, the file staying as it was.
    static constexpr std::chrono::milliseconds kExitSaveWait{100};

    // The size a header read gives, nothing when unreadable; tests replace it.
    using Reader = std::function<std::optional<QSize>(const QString& path)>;
    // The entries of the sizes file of a storage folder; tests hold it up.
    using Loader = std::function<QList<PhotoSizeFile::Entry>(const QString& storageFolder)>;

    // The photo's size, else its thumbnail's, else 4 x 3. Off the main thread the files are read
    // when nothing is known of them yet; on the main thread only a known size is answered.
    static QSizeF imageSize(const Photo& photo);
    // The size read for the photo's files as they are now; nothing before it is read or when
    // they were found unreadable.
    static std::optional<QSizeF> knownSize(const Photo& photo);
    // Whether a read of the photo's files as they are now ended, readable or not. A size read
    // from the photo's own file stays settled when only its thumbnail changes.
    static bool settled(const Photo& photo);
    // Main thread only. Reads the photo's size on a learning queue unless it is settled, and
    // then runs `learned` on the main thread, unless the receiver is gone; false when it was
    // settled already and `learned` will not run. Requests for one photo share one read, and
    // sizes learned together are handed over in one turn of the event loop.
    static bool learn(const Photo& photo, QObject* receiver, std::function<void()> learned);
    // Changes whenever one of the fields that change with the file or its thumbnail changes.
    static QString key(const Photo& photo);
    // Changes whenever the photo's own file changes.
    static QString fileKey(const Photo& photo);

    // Takes in the sizes kept in the storage folder, read on a queue; until they are in, they are
    // not known, as sizes still being read are not. From then on learned sizes are written back
    // there, off the main thread.
    static void restoreFrom(const QString& storageFolder);
    // The photos the index holds now: sizes of any other file are left out of the next save.
    // Until it is first told, every size learned is kept.
    static void setIndexedPhotos(const QList<Photo>& photos);
    // Writes a save that waits now, on the file's queue, and waits for that queue to finish what
    // it holds, at most `bound` (the application's end): past it, what runs there gives up.
    // False when the bound passed first.
    static bool flushStored(std::optional<std::chrono::milliseconds> bound = std::nullopt);
    // Forgets every size, the storage folder and the index's photos.
    static void clearCache();
    // An empty reader restores the file reader.
    static void setReaderForTesting(Reader reader);
    // An empty loader restores the file's own.
    static void setLoaderForTesting(Loader loader);
};

} // namespace vennimo
