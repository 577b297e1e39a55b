#include "rendering/PhotoDimensions.h"

#include "platform/Dates.h"
#include "platform/ProcessExit.h"
#include "platform/WorkQueue.h"
#include "rendering/ImageReading.h"
#include "rendering/MemoryCache.h"

#include <QCoreApplication>
#include <QHash>

#include <mutex>
#include <vector>

namespace vennimo {

namespace {

// An empty size marks files found unreadable, so the main thread does not ask for them again.
MemoryCache<QSizeF>& cache() {
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

std::optional<QSizeF> readAndCache(const Photo& photo, const QString& cacheKey) {
    for (const QString* path : {&photo.path, &photo.thumbnail}) {
        if (path->isEmpty())
            continue;
        if (auto size = readSize(*path)) {
            const QSizeF result(*size);
            cache().insert(cacheKey, result, 0);
            return result;
        }
    }
    return std::nullopt;
}

struct Learning {
    WorkQueue queue{QStringLiteral("local.vennimo.dimensions"), PhotoDimensions::kLearnWorkers};
    // Main thread only: the callbacks waiting for each key's read.
    QHash<QString, std::vector<std::pair<QPointer<QObject>, std::function<void()>>>> waiting;
};

Learning& learning() {
    static Learning instance;
    // A read still queued once the application is gone is dropped rather than waited for.
    static const bool drainedAtExit = [] {
        qAddPostRoutine([] { learning().queue.cancelAll(); });
        return true;
    }();
    Q_UNUSED(drainedAtExit);
    return instance;
}

} // namespace

QString PhotoDimensions::key(const Photo& photo) {
    const QChar bar = QLatin1Char('|');
    return photo.path + bar + photo.thumbnail + bar + formatUnixSeconds(unixSecondsFromDate(photo.modified)) +
           bar +
           formatUnixSeconds(photo.thumbnailModified ? unixSecondsFromDate(*photo.thumbnailModified) : 0) +
           bar + QString::number(photo.size);
}

std::optional<QSizeF> PhotoDimensions::knownSize(const Photo& photo) {
    const auto hit = cache().value(key(photo));
    if (!hit || hit->isEmpty())
        return std::nullopt;
    return *hit;
}

bool PhotoDimensions::settled(const Photo& photo) {
    return cache().contains(key(photo));
}

QSizeF PhotoDimensions::imageSize(const Photo& photo) {
    const QString cacheKey = key(photo);
    const auto hit = cache().value(cacheKey);
    if (hit && !hit->isEmpty())
        return *hit;
    if (!isMainThread())
        if (auto size = readAndCache(photo, cacheKey))
            return *size;
    return QSizeF(4, 3);
}

bool PhotoDimensions::learn(const Photo& photo, QObject* receiver, std::function<void()> learned) {
    Q_ASSERT(isMainThread());
    const QString cacheKey = key(photo);
    if (cache().contains(cacheKey))
        return false;
    Learning& state = learning();
    auto it = state.waiting.find(cacheKey);
    if (it != state.waiting.end()) {
        it->emplace_back(QPointer<QObject>(receiver), std::move(learned));
        return true;
    }
    state.waiting.insert(cacheKey, {{QPointer<QObject>(receiver), std::move(learned)}});
    state.queue.async([photo, cacheKey] {
        if (!ProcessExit::announced() && !readAndCache(photo, cacheKey))
            cache().insert(cacheKey, QSizeF(), 0);
        postToMain([cacheKey] {
            const auto callbacks = learning().waiting.take(cacheKey);
            for (const auto& [target, callback] : callbacks)
                if (target && callback)
                    callback();
        });
    });
    return true;
}

void PhotoDimensions::clearCache() {
    cache().clear();
}

void PhotoDimensions::setReaderForTesting(Reader reader) {
    std::lock_guard lock(readerLock());
    readerSlot() = std::move(reader);
}

} // namespace vennimo
