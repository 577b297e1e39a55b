#include "rendering/PhotoPreviewImageLoader.h"

#include "platform/Dates.h"
#include "platform/FileIdentity.h"
#include "rendering/ImageReading.h"
#include "rendering/MemoryCache.h"
#include "rendering/PhotoPreviewPreloader.h"

#include <QGuiApplication>
#include <QScreen>

#include <algorithm>
#include <cmath>
#include <mutex>

namespace vennimo {

namespace {

struct CachedImage {
    QImage image;
    int pixelLimit = 0;
};

// Marks an absent value; no number or stamp is ever written this way.
const QString kAbsent = QStringLiteral("nil");
constexpr QRectF kFallbackScreen(0, 0, 1440, 900);
constexpr double kFallbackScale = 2.0;

struct Caches {
    MemoryCache<CachedImage> previews{PhotoPreviewImageLoader::kPreviewCount,
                                      PhotoPreviewImageLoader::kPreviewCostBytes};
    MemoryCache<CachedImage> thumbnails{PhotoPreviewImageLoader::kThumbnailCount,
                                        PhotoPreviewImageLoader::kThumbnailCostBytes};
    // Reading and replacing a preview entry is one step, so a smaller decode never wins a race.
    std::mutex cacheLock;
};

Caches& caches() {
    static Caches instance;
    return instance;
}

QString dateText(std::optional<double> date) {
    return date ? formatUnixSeconds(unixSecondsFromDate(*date)) : kAbsent;
}

QString fileStamp(const QString& path) {
    auto identity = FileIdentity::read(path);
    if (!identity)
        return QStringLiteral("missing");
    const QChar bar = QLatin1Char('|');
    return QString::number(identity->size) + bar + dateText(identity->modified) + bar +
           dateText(identity->created) + bar + QString::number(identity->fileNumber);
}

std::int64_t costOf(const QImage& image) {
    return std::int64_t(image.bytesPerLine()) * image.height();
}

} // namespace

PhotoPreviewImageLoader::PhotoPreviewImageLoader(Decode decode)
    : m_decode(decode ? std::move(decode) : Decode(&PhotoPreviewImageLoader::decodeOriginal)) {}

PhotoPreviewImageLoader::~PhotoPreviewImageLoader() {
    for (const Flag& flag : m_running)
        flag->store(true);
    m_queue.cancelAll();
}

QString PhotoPreviewImageLoader::version(const Photo& photo) {
    const QStringList parts{
        photo.id,
        photo.usageID.value_or(photo.id),
        photo.path,
        dateText(photo.created),
        dateText(photo.modified),
        QString::number(photo.size),
        fileStamp(photo.path),
        photo.thumbnail,
        dateText(photo.thumbnailModified),
        fileStamp(photo.thumbnail),
    };
    return parts.join(QChar(0));
}

std::optional<QImage> PhotoPreviewImageLoader::cachedImage(const QString& version, int minPixels) {
    Caches& c = caches();
    std::lock_guard lock(c.cacheLock);
    auto entry = c.previews.value(version);
    if (!entry || entry->pixelLimit < minPixels)
        return std::nullopt;
    return entry->image;
}

void PhotoPreviewImageLoader::store(const QImage& image, const QString& version, int maxPixels) {
    if (image.isNull())
        return;
    Caches& c = caches();
    std::lock_guard lock(c.cacheLock);
    const auto current = c.previews.value(version);
    if ((current ? current->pixelLimit : 0) < maxPixels)
        c.previews.insert(version, CachedImage{image, maxPixels}, costOf(image));
}

std::optional<QImage> PhotoPreviewImageLoader::thumbnail(const Photo& photo, const QString& version) {
    Caches& c = caches();
    if (auto hit = c.thumbnails.value(version))
        return hit->image;
    if (photo.thumbnail == photo.path)
        return std::nullopt;
    QImage image = decodeFile(photo.thumbnail, kQuickImagePixels);
    if (image.isNull())
        return std::nullopt;
    c.thumbnails.insert(version, CachedImage{image, kQuickImagePixels}, costOf(image));
    return image;
}

int PhotoPreviewImageLoader::targetPixels(QSizeF imageSize, QSizeF imageBounds, double backingScale) {
    const double w = std::max(imageSize.width(), 1.0);
    const double h = std::max(imageSize.height(), 1.0);
    const double fit = std::max(std::min(imageBounds.width() / w, imageBounds.height() / h), 0.0);
    const double shown = std::max(backingScale, 1.0) * std::max(w, h) * fit;
    const double stepped = std::ceil(shown / kPixelStep) * kPixelStep;
    if (!std::isfinite(stepped))
        return kMaxTargetPixels;
    return int(std::clamp(stepped, double(kMinTargetPixels), double(kMaxTargetPixels)));
}

QImage PhotoPreviewImageLoader::decodeOriginal(const Photo& photo, int maxPixels, const Stop& stop) {
    return decodeFile(photo.path, maxPixels, stop);
}

QImage PhotoPreviewImageLoader::decodeFile(const QString& path, int maxPixels, const Stop& stop) {
    return ImageReading::decodeScaled(path, maxPixels, stop);
}

void PhotoPreviewImageLoader::clearCaches() {
    Caches& c = caches();
    c.thumbnails.clear();
    std::lock_guard lock(c.cacheLock);
    c.previews.clear();
}

void PhotoPreviewImageLoader::request(const Photo& photo, const QString& version, int maxPixels,
                                      Completion completion) {
    cancel();
    const std::uint64_t generation = m_generation;
    if (auto cached = cachedImage(version, maxPixels)) {
        if (completion)
            completion(*cached);
        return;
    }
    auto cancelled = std::make_shared<std::atomic<bool>>(false);
    m_running.push_back(cancelled);
    std::weak_ptr<int> alive = m_alive;
    m_queue.async([this, alive, cancelled, generation, photo, version, maxPixels, decode = m_decode,
                   completion = std::move(completion)] {
        if (alive.expired() || cancelled->load())
            return;
        QImage image = decode(photo, maxPixels, [cancelled] { return cancelled->load(); });
        if (cancelled->load())
            return;
        const bool same = PhotoPreviewImageLoader::version(photo) == version;
        if (cancelled->load())
            return;
        if (same && !image.isNull())
            store(image, version, maxPixels);
        const QImage delivered = same ? image : QImage();
        postToMain([this, alive, cancelled, generation, delivered, completion] {
            if (alive.expired() || m_generation != generation || cancelled->load())
                return;
            if (completion)
                completion(delivered);
        });
    });
}

void PhotoPreviewImageLoader::cancel() {
    ++m_generation;
    for (const Flag& flag : m_running)
        flag->store(true);
    m_running.clear();
    m_queue.cancelAll();
}

PhotoPreviewPreloader& PhotoPreviewImageLoader::preloader() {
    static PhotoPreviewPreloader instance;
    return instance;
}

void PhotoPreviewImageLoader::prepare(const QList<Photo>& photos, QScreen* screen, double delaySeconds) {
    if (screen == nullptr)
        screen = QGuiApplication::primaryScreen();
    if (screen == nullptr) {
        preloader().schedule(photos, kFallbackScreen, kFallbackScale, delaySeconds);
        return;
    }
    preloader().schedule(photos, screen->availableGeometry(), screen->devicePixelRatio(), delaySeconds);
}

void PhotoPreviewImageLoader::cancelPreparation() {
    preloader().cancel();
}

} // namespace vennimo
