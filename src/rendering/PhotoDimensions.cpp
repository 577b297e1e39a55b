#include "rendering/PhotoDimensions.h"

#include "platform/Dates.h"
#include "platform/ProcessExit.h"
#include "platform/WorkQueue.h"
#include "rendering/ImageReading.h"
#include "rendering/MemoryCache.h"
#include "rendering/PhotoSizeFile.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHash>
#include <QSet>

#include <atomic>
#include <future>
#include <mutex>
#include <vector>

namespace vennimo {

namespace {

// Sizes read from the photos' own files, by file key: a new thumbnail leaves them standing.
MemoryCache<QSizeF>& fileSizes() {
    static MemoryCache<QSizeF> instance(PhotoDimensions::kCacheCount, 0);
    return instance;
}

// Sizes of photos whose own file could not be read, by the whole key: their thumbnail's, or an
// empty size when neither could be read, so nobody asks for them again.
MemoryCache<QSizeF>& pairSizes() {
    static MemoryCache<QSizeF> instance(PhotoDimensions::kCacheCount, 0);
    return instance;
}

std::mutex& readerLock() {
    static std::mutex lock;
    return lock;
}

PhotoDimensions::Reader& readerSlot() {
    static PhotoDimensions::Reader reader;
    return reader;
}

std::optional<QSize> readSize(const QString& path) {
    PhotoDimensions::Reader reader;
    {
        std::lock_guard lock(readerLock());
        reader = readerSlot();
    }
    return reader ? reader(path) : ImageReading::orientedPixelSize(path);
}

// The sizes file of the storage folder: read once at start, written a little after sizes were
// learned, always on its own queue. Nobody waits for it but the end of the process, and that
// only for a while.
struct Stored {
    std::mutex lock;
    QString folder;
    std::optional<WorkQueue::TaskId> save;
    // Moves on when the folder is forgotten: a read of it still running leaves the caches be.
    std::atomic<quint64> generation{0};
    // Moves on when a save waiting for its delay is taken over or dropped.
    quint64 saveGeneration = 0;
    // The photos of the index, once a higher layer told them: sizes of other files are left out
    // of the next save.
    std::optional<QList<Photo>> indexed;
    // Set once whoever waited for the file's queue stopped waiting: what runs there gives up.
    std::atomic<bool> abandoned{false};
    PhotoDimensions::Loader loader;
    // Held while a read's sizes go in, so that a forgetting comes wholly before or after them.
    std::mutex restoring;
    // Last, so that it goes first: a task still running at the process's end is waited for
    // while everything it uses is still there.
    SerialQueue queue{QStringLiteral("local.vennimo.dimensions-file")};
};

Stored& stored() {
    // The caches its writes read are made first, so that they outlive it at the process's end.
    fileSizes();
    pairSizes();
    static Stored instance;
    return instance;
}

bool abandoned() {
    return stored().abandoned.load();
}

void writeStored(const QString& folder) {
    Stored& file = stored();
    std::optional<QList<Photo>> indexed;
    {
        std::lock_guard lock(file.lock);
        indexed = file.indexed;
    }
    // Sizes of the photos the index no longer holds, or of their files as they were, go.
    QSet<QString> current;
    if (indexed) {
        current.reserve(indexed->size());
        for (const Photo& photo : std::as_const(*indexed))
            current.insert(PhotoDimensions::fileKey(photo));
    }
    QList<PhotoSizeFile::Entry> entries;
    for (const auto& [key, size] : fileSizes().entries())
        if (!indexed || current.contains(key))
            entries.append({key, size.toSize()});
    PhotoSizeFile::save(folder, entries, abandoned);
}

void queueSave() {
    // Whatever is read while the process ends is not worth a write it would have to wait for.
    if (ProcessExit::announced())
        return;
    Stored& file = stored();
    std::lock_guard lock(file.lock);
    if (file.folder.isEmpty() || file.save)
        return;
    file.save = file.queue.asyncAfter(PhotoDimensions::kSaveDelay, [generation = file.saveGeneration] {
        QString folder;
        {
            Stored& file = stored();
            std::lock_guard lock(file.lock);
            if (file.saveGeneration != generation)
                return;
            file.save.reset();
            folder = file.folder;
        }
        writeStored(folder);
    });
}

void storeRead(const Photo& photo, const QString& cacheKey) {
    if (!photo.path.isEmpty()) {
        if (auto size = readSize(photo.path)) {
            fileSizes().insert(PhotoDimensions::fileKey(photo), QSizeF(*size), 0);
            queueSave();
            return;
        }
    }
    if (!photo.thumbnail.isEmpty() && photo.thumbnail != photo.path) {
        if (auto size = readSize(photo.thumbnail)) {
            pairSizes().insert(cacheKey, QSizeF(*size), 0);
            return;
        }
    }
    pairSizes().insert(cacheKey, QSizeF(), 0);
}

// What is known of the photo: a size, an empty size for unreadable files, nothing before a read.
// Sizes of the storage folder's file are known once it is read; until then they are not.
std::optional<QSizeF> lookUp(const Photo& photo, const QString& cacheKey) {
    if (auto size = fileSizes().value(PhotoDimensions::fileKey(photo)))
        return size;
    return pairSizes().value(cacheKey);
}

bool slowToRead(const QString& path) {
    // Decided by the name alone: the main thread opens no file.
    static const QStringList ordinary{QStringLiteral("jpg"),  QStringLiteral("jpeg"), QStringLiteral("jpe"),
                                      QStringLiteral("jfif"), QStringLiteral("png"),  QStringLiteral("webp"),
                                      QStringLiteral("gif"),  QStringLiteral("bmp")};
    return !ordinary.contains(QFileInfo(path).suffix().toLower());
}

struct Learning {
    // Main thread only: the callbacks waiting for each key's read.
    QHash<QString, std::vector<std::pair<QPointer<QObject>, std::function<void()>>>> waiting;
    // Keys read and not yet handed over, and whether a hand-over is on its way to the main thread.
    std::mutex readLock;
    QStringList read;
    bool handOverPosted = false;
    // Last, so that they go first: a read still running as the process ends is waited for while
    // everything it writes to is still there.
    WorkQueue queue{QStringLiteral("local.vennimo.dimensions"), PhotoDimensions::kLearnWorkers};
    WorkQueue slowQueue{QStringLiteral("local.vennimo.dimensions-slow"), PhotoDimensions::kSlowLearnWorkers};
};

Learning& learning() {
    // What a read uses is made before the queues, so that it outlives them at the process's end.
    stored();
    readerLock();
    readerSlot();
    static Learning instance;
    // A read still queued once the application is gone is dropped rather than waited for, and
    // sizes not yet written are written now.
    static const bool drainedAtExit = [] {
        qAddPostRoutine([] {
            learning().queue.cancelAll();
            learning().slowQueue.cancelAll();
            PhotoDimensions::flushStored(PhotoDimensions::kExitSaveWait);
        });
        return true;
    }();
    Q_UNUSED(drainedAtExit);
    return instance;
}

void handOver() {
    Learning& state = learning();
    QStringList keys;
    {
        std::lock_guard lock(state.readLock);
        keys.swap(state.read);
        state.handOverPosted = false;
    }
    for (const QString& key : std::as_const(keys)) {
        const auto callbacks = state.waiting.take(key);
        for (const auto& [target, callback] : callbacks)
            if (target && callback)
                callback();
    }
}

void markRead(const QString& cacheKey) {
    Learning& state = learning();
    std::lock_guard lock(state.readLock);
    state.read.append(cacheKey);
    if (state.handOverPosted)
        return;
    state.handOverPosted = true;
    postToMain(handOver);
}

} // namespace

QString PhotoDimensions::key(const Photo& photo) {
    const QChar bar = QLatin1Char('|');
    return photo.path + bar + photo.thumbnail + bar + formatUnixSeconds(unixSecondsFromDate(photo.modified)) +
           bar +
           formatUnixSeconds(photo.thumbnailModified ? unixSecondsFromDate(*photo.thumbnailModified) : 0) +
           bar + QString::number(photo.size);
}

QString PhotoDimensions::fileKey(const Photo& photo) {
    const QChar bar = QLatin1Char('|');
    return photo.path + bar + formatUnixSeconds(unixSecondsFromDate(photo.modified)) + bar +
           QString::number(photo.size);
}

std::optional<QSizeF> PhotoDimensions::knownSize(const Photo& photo) {
    const auto hit = lookUp(photo, key(photo));
    if (!hit || hit->isEmpty())
        return std::nullopt;
    return *hit;
}

bool PhotoDimensions::settled(const Photo& photo) {
    return lookUp(photo, key(photo)).has_value();
}

QSizeF PhotoDimensions::imageSize(const Photo& photo) {
    const QString cacheKey = key(photo);
    auto hit = lookUp(photo, cacheKey);
    if (!hit && !isMainThread()) {
        storeRead(photo, cacheKey);
        hit = lookUp(photo, cacheKey);
    }
    return hit && !hit->isEmpty() ? *hit : QSizeF(4, 3);
}

bool PhotoDimensions::learn(const Photo& photo, QObject* receiver, std::function<void()> learned) {
    Q_ASSERT(isMainThread());
    const QString cacheKey = key(photo);
    if (lookUp(photo, cacheKey))
        return false;
    Learning& state = learning();
    auto it = state.waiting.find(cacheKey);
    if (it != state.waiting.end()) {
        it->emplace_back(QPointer<QObject>(receiver), std::move(learned));
        return true;
    }
    state.waiting.insert(cacheKey, {{QPointer<QObject>(receiver), std::move(learned)}});
    WorkQueue& lane =
        slowToRead(photo.path.isEmpty() ? photo.thumbnail : photo.path) ? state.slowQueue : state.queue;
    lane.async([photo, cacheKey] {
        // The storage folder's file may have told the size since it was asked for.
        if (!ProcessExit::announced() && !lookUp(photo, cacheKey))
            storeRead(photo, cacheKey);
        markRead(cacheKey);
    });
    return true;
}

void PhotoDimensions::restoreFrom(const QString& storageFolder) {
    // Sizes learned later are written at the end at the latest.
    learning();
    Stored& file = stored();
    Loader loader;
    quint64 generation = 0;
    {
        std::lock_guard lock(file.lock);
        file.folder = storageFolder;
        file.abandoned = false;
        generation = file.generation.load();
        loader = file.loader;
    }
    file.queue.async([storageFolder, generation, loader] {
        Stored& file = stored();
        const auto stop = [&file, generation] {
            return ProcessExit::announced() || file.abandoned.load() || file.generation.load() != generation;
        };
        const QList<PhotoSizeFile::Entry> entries =
            loader ? loader(storageFolder) : PhotoSizeFile::load(storageFolder, stop);
        std::lock_guard lock(file.restoring);
        if (stop())
            return;
        // The most recent go in last, so that they are the last to be pushed out; what was
        // learned meanwhile stands.
        for (auto it = entries.crbegin(); it != entries.crend(); ++it)
            if (!fileSizes().contains(it->first))
                fileSizes().insert(it->first, QSizeF(it->second), 0);
    });
}

void PhotoDimensions::setIndexedPhotos(const QList<Photo>& photos) {
    Stored& file = stored();
    std::lock_guard lock(file.lock);
    file.indexed = photos;
}

bool PhotoDimensions::flushStored(std::optional<std::chrono::milliseconds> bound) {
    Stored& file = stored();
    QString folder;
    {
        std::lock_guard lock(file.lock);
        if (file.save) {
            file.queue.cancel(*file.save);
            file.save.reset();
            ++file.saveGeneration;
            folder = file.folder;
        }
    }
    if (!folder.isEmpty())
        file.queue.async([folder] { writeStored(folder); });
    // Behind whatever the queue holds: the file's read and a save under way.
    auto drained = std::make_shared<std::promise<void>>();
    std::future<void> done = drained->get_future();
    file.queue.async([drained] { drained->set_value(); });
    if (!bound) {
        done.wait();
        return true;
    }
    if (done.wait_for(*bound) == std::future_status::ready)
        return true;
    file.abandoned = true;
    return false;
}

void PhotoDimensions::clearCache() {
    Stored& file = stored();
    std::lock_guard restoring(file.restoring);
    {
        std::lock_guard lock(file.lock);
        if (file.save)
            file.queue.cancel(*file.save);
        file.save.reset();
        ++file.saveGeneration;
        ++file.generation;
        file.folder.clear();
        file.indexed.reset();
        file.abandoned = false;
    }
    fileSizes().clear();
    pairSizes().clear();
}

void PhotoDimensions::setLoaderForTesting(Loader loader) {
    Stored& file = stored();
    std::lock_guard lock(file.lock);
    file.loader = std::move(loader);
}

void PhotoDimensions::setReaderForTesting(Reader reader) {
    std::lock_guard lock(readerLock());
    readerSlot() = std::move(reader);
}

} // namespace vennimo
