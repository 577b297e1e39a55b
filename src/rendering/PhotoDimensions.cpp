#include "rendering/PhotoDimensions.h"

#include "platform/Dates.h"
#include "rendering/ImageReading.h"
#include "rendering/MemoryCache.h"

namespace vennimo {

namespace {

MemoryCache<QSizeF>& cache() {
    static MemoryCache<QSizeF> instance(PhotoDimensions::kCacheCount, 0);
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

QSizeF PhotoDimensions::imageSize(const Photo& photo) {
    const QString cacheKey = key(photo);
    if (auto hit = cache().value(cacheKey))
        return *hit;
    for (const QString* path : {&photo.path, &photo.thumbnail}) {
        if (auto size = ImageReading::orientedPixelSize(*path)) {
            const QSizeF result(*size);
            cache().insert(cacheKey, result, 0);
            return result;
        }
    }
    return QSizeF(4, 3);
}

void PhotoDimensions::clearCache() {
    cache().clear();
}

} // namespace vennimo
