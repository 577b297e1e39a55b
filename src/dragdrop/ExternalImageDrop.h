#pragma once

#include "core/Photo.h"
#include "dragdrop/DropDataReader.h"
#include "dragdrop/FilePromiseReceiver.h"
#include "platform/LeftoverTemporaries.h"
#include "platform/PhotosLibrary.h"
#include "platform/Result.h"

#include <QByteArray>
#include <QHash>
#include <QImage>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>

class QMimeData;

namespace vennimo {

class PromisedImage;

// Set from another thread (a quit, the session's end) to stop a drop's waits and downloads.
using DropCancellation = std::shared_ptr<const std::atomic<bool>>;

struct DropDownloadOptions {
    // Silence that fails a request, the whole transfer's limit, and how long the caller waits.
    std::chrono::milliseconds requestTimeout{20'000};
    std::chrono::milliseconds resourceTimeout{25'000};
    std::chrono::milliseconds wait{27'000};
    DropCancellation cancelled{};
};

struct DropImportOptions {
    std::chrono::milliseconds promiseWait{30'000};
    DropDownloadOptions download{};
    // Every download and promise of one drop ends this long after the import began, however many
    // items wait their turn: the ones left fail with the download time-out.
    std::chrono::milliseconds dropDeadline{60'000};
    // Once set, what has not been saved yet fails and nothing more is fetched or waited for.
    DropCancellation cancelled{};
    // Test seam: runs on the saving thread each time saving an item looks whether the drop was
    // cancelled, which checking a picture does at every read of its bytes.
    std::function<void()> cancelLook{};
    // Above 0: a saved JPEG or SVG is checked by drawing it bounded to this many pixels, and the
    // picture is kept in the result, so that its thumbnail needs no second decode.
    int thumbnailPixels = 0;
};

// Images dropped in from other programs: which drags to accept, the snapshot of a drop taken in
// the drop handler, and turning a snapshot into files of the storage folder. Everything read here
// comes from other programs or the network and is bounded and checked before use.
class ExternalImageDrop {
public:
    ExternalImageDrop() = delete;

    static constexpr qint64 kMaxImageBytes = 67'108'864;
    static constexpr qint64 kMaxPixels = 100'000'000;
    // One drop as a whole: what does not fit is counted as failed items.
    static constexpr qint64 kMaxDropBytes = 268'435'456;
    static constexpr int kMaxDropItems = 1000;
    // Items of one drop saved at the same time. Checking a camera picture is mostly decoding it,
    // one core's work that cannot be split: with more items under way than a desktop has cores,
    // the last pictures of a drop share all the cores instead of leaving some idle. Memory for
    // bytes and pixels is bounded apart from it.
    static constexpr int kSaveWidth = 32;
    static constexpr qsizetype kMaxDataUrlChars = qsizetype(1) << 27;
    static constexpr int kDecodeTestPixels = 32;
    // Pictures a drop keeps for thumbnails, in all; beyond it they are drawn again from the files.
    static constexpr qint64 kMaxKeptThumbnailBytes = 67'108'864;
    static constexpr double kMaxPdfScale = 2.0;
    static constexpr double kMaxPdfSidePixels = 4096.0;
    // The drag type of a file promise under the X Direct Save protocol.
    static constexpr auto kDirectSaveType = "XdndDirectSave0";
    // A read of drop data through Qt that comes back empty after this long was the platform's
    // selection time-out, a source that stopped answering: the drop's other types are not asked
    // for then.
    static constexpr int kStalledReadMs = 1000;
    // All reads of one drop's data together, inside the drop handler on the main thread: a source
    // that answers slowly, or offers many types, holds the application no longer than this. What
    // was not read by then is not asked for.
    static constexpr int kDropReadMs = 2000;
    // The URI list read while a drag moves over the rope: the source's position messages wait
    // meanwhile, and a drag whose list has not come by then is taken as readable.
    static constexpr int kHoverReadMs = 250;
    // How often a blocked wait looks whether the drop was cancelled.
    static constexpr int kCancelPollMs = 100;

    // One way of obtaining the image of one dropped item.
    struct Source {
        enum class Kind { File, Bytes, Promise, Remote };
        Kind kind = Kind::Bytes;
        QString path{};    // File
        bool copy = false; // File: read the bytes and save them, else use the file where it is
        QByteArray bytes{};
        std::shared_ptr<PromisedImage> promise{};
        QUrl url{}; // Remote: http, https or data

        static Source file(QString path, bool copy);
        static Source fromBytes(QByteArray bytes);
        static Source fromPromise(std::shared_ptr<PromisedImage> promise);
        static Source remote(QUrl url);
        bool operator==(const Source&) const = default;
    };

    struct Snapshot {
        // One list of alternatives per dropped item in preference order, then one item per
        // promise no item claimed. A list may be empty.
        QList<QList<Source>> items{};
        QMap<int, PhotosOrigin> origins{};
        // Items beyond the per-drop limit, counted as failures by the import.
        int droppedItems = 0;
        // Items whose offered image data gave no picture before the time for reading ran out:
        // the import calls them unreadable rather than empty.
        QList<int> unreadItems{};

        bool isEmpty() const { return items.isEmpty() && droppedItems == 0; }
        // Whether any item has a way to its picture: a drop without one brought nothing.
        bool hasSource() const {
            return std::any_of(items.begin(), items.end(),
                               [](const QList<Source>& item) { return !item.isEmpty(); });
        }
    };

    struct Result {
        QStringList paths{};
        int failures = 0;
        std::optional<QString> detail{};
        QMap<QString, PhotosOrigin> origins{};
        // What ImportOptions::thumbnailPixels asked for, by standardized path of a saved file.
        QHash<QString, QImage> thumbnails{};
    };

    using DownloadOptions = DropDownloadOptions;
    using ImportOptions = DropImportOptions;

    // The promise receivers of a drop, in the order the source offers them.
    using PromiseReceivers = std::function<QList<std::shared_ptr<FilePromiseReceiver>>(const QMimeData&)>;

    // Whether a bitmap of this size may be saved: at least one pixel each way, kMaxPixels in all.
    static bool withinPixelLimit(qint64 width, qint64 height);
    // The six byte types tried first, in preference order.
    static QStringList imageTypes();
    // Whether the import can make a picture of bytes of this type; a drop's other types are never
    // read.
    static bool importableImageType(const QString& type);
    // Every drag type the rope accepts drops of.
    static QStringList registeredTypes();
    // Looks at the types and the file URLs only, never at other contents. Main thread; within one
    // drag over the same data it answers from what it found first. `fetch` reads in place of the
    // platform (tests).
    static bool canRead(const QMimeData& data, const DropDataFetch& fetch = {});
    // What canRead would answer without asking the source: from the types, or from what it found
    // earlier in this drag; nothing while only the source's URI list can tell.
    static std::optional<bool> readableWithoutAsking(const QMimeData& data);
    // A drop target calls this when a drag enters it: canRead looks at the data afresh, even when
    // the platform hands over the same data object for every drag.
    static void beginDrag();
    // Main thread, inside the drop handler: promises start receiving here. Without `promises`
    // the X Direct Save receiver is used where the source offers it. All reads within
    // kDropReadMs; from another program on X11 over a connection of their own, so that no read
    // waits beyond that time. The URL list first (with half the time when bytes are offered
    // too), then image types in preference order, each with its share of the time left, until one
    // passes the import's check, then the Photos reference. `fetch` reads in place of the platform
    // (tests).
    static Snapshot snapshot(const QMimeData& data, const PromiseReceivers& promises = {},
                             const DropDataFetch& fetch = {});
    static std::optional<PhotosOrigin> readPhotosOrigin(const std::optional<QString>& filePath,
                                                        const std::optional<PhotosAssetReference>& reference,
                                                        bool hasReferenceType, bool hasPhotosType);
    // Whether a dropped plain file lies in a temporary folder, whence it must be copied.
    static bool isInTemporaryFolder(const QString& path);
    // "/tmp/", "/var/tmp/", "/var/folders/", "/dev/shm/", $XDG_RUNTIME_DIR and Qt's temporary folder,
    // links resolved, each ending in "/".
    static QStringList temporaryFolders();
    // Tests run inside a temporary folder themselves; nothing restores the real list.
    static void overrideTemporaryFolders(std::optional<QStringList> folders);

    // Off the main thread (it stops the program there). Never fails as a whole: failed items are
    // counted and the last one's message kept.
    // Every file it creates goes into `record` first.
    static Result materialize(const Snapshot& snapshot, const QString& storage,
                              const ImportOptions& options = {},
                              LeftoverTemporaries::Record* record = nullptr);
    // Saves image bytes as base/"imported-images"/"导入图片-<sha256>.<ext>"; answers its path. A
    // file it creates goes into `record` first.
    static vennimo::Result<QString> save(const QByteArray& data, const QString& base,
                                         LeftoverTemporaries::Record* record = nullptr);
    // A regular file (no symbolic link) of 1 byte to 64 MiB, read through one descriptor.
    static vennimo::Result<QByteArray> readImage(const QString& path);
    // A promised file, only when the path it resolves to lies in `directory`.
    static vennimo::Result<QByteArray> readPromisedFile(const QString& path, const QString& directory);

    // Test seam of `duplicate`: runs after each copy was written and before it is checked.
    using CopyHook = std::function<void(int index, const QString& partialPath)>;
    // Private copies "照片副本-<UUID>" of the photos' files in storage/"imported-images": all or
    // nothing. Each copy goes into `record` before it gets its name.
    static vennimo::Result<QStringList> duplicate(const QList<Photo>& photos, const QString& storage,
                                                  const CopyHook& afterCopy = {},
                                                  LeftoverTemporaries::Record* record = nullptr);

    // Removes the hidden ".*.partial" files an interrupted save or copy left in the import folders
    // below `storage`, never one that another running instance is writing; answers how many went.
    // Run at start.
    static int removeLeftoverPartials(
        const QString& storage,
        LeftoverTemporaries::Clock::time_point changedBefore = LeftoverTemporaries::processStart());
    // Every folder below `storage` that imports and copies save into.
    static QStringList importFolders(const QString& storage);
    // The one of them that belongs to `base`: base/"imported-images".
    static QString importFolder(const QString& base);

    // The bytes behind an http, https or data URL, within the size limits and time-outs.
    static vennimo::Result<QByteArray> download(const QUrl& url, const DownloadOptions& options = {});
    static vennimo::Result<QByteArray> decodeDataUrl(const QByteArray& url);
    // "下载图片超时。": a download, or the drop's time for all of them, ran out.
    static Error timedOutError();
    // An item the drop was cancelled before it could be saved.
    static Error cancelledError();
};

// Whether a path names a regular file, not a link to one, with an image file name (the
// exhibition's image rule).
bool isImageFile(const QString& path);

} // namespace vennimo
