#pragma once

#include "core/Photo.h"
#include "platform/WorkQueue.h"
#include "rendering/CancellationToken.h"
#include "rendering/MemoryCache.h"

#include <QImage>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

namespace vennimo {

// The result of one grid thumbnail load.
struct GridThumbnailOutcome {
    enum class Kind { Image, Failed, Changed, Cancelled };
    Kind kind = Kind::Failed;
    QImage image{};

    static GridThumbnailOutcome fromImage(QImage image) { return {Kind::Image, std::move(image)}; }
    static GridThumbnailOutcome failed() { return {Kind::Failed, {}}; }
    static GridThumbnailOutcome changed() { return {Kind::Changed, {}}; }
    static GridThumbnailOutcome cancelled() { return {Kind::Cancelled, {}}; }

    bool operator==(const GridThumbnailOutcome&) const = default;
};

// Decodes the grid cards' thumbnails from the photos' thumbnail files in the background, keeps
// them in memory, and reports a decode whose photo changed meanwhile as changed.
class GalleryThumbnailLoader {
public:
    // Answers true once the decode's result would be thrown away.
    using Stop = std::function<bool()>;
    // A null image means the decode failed.
    using Decode = std::function<QImage(const Photo&, int pixelSize, const Stop& stop)>;
    // Runs exactly once, on the thread that settles the load: the caller's own thread for a
    // cache hit or an early cancel, a worker for a decode, the cancelling thread for a cancel.
    using Completion = std::function<void(const GridThumbnailOutcome&)>;

    static constexpr int kCacheCount = 512;
    static constexpr std::int64_t kCacheCostBytes = 64 * 1024 * 1024;
    static constexpr int kWorkers = 2;

    explicit GalleryThumbnailLoader(Decode decode = {});
    ~GalleryThumbnailLoader();
    GalleryThumbnailLoader(const GalleryThumbnailLoader&) = delete;
    GalleryThumbnailLoader& operator=(const GalleryThumbnailLoader&) = delete;

    // The process-wide loader with the default decoder.
    static GalleryThumbnailLoader& shared();

    // 290 points at the scale (raised to 1), rounded up.
    static int pixelSize(double scale);
    static QString key(const Photo& photo, double scale = 2);

    std::optional<QImage> cachedImage(const Photo& photo, double scale = 2);
    // Cancelling the token settles the load at once with `cancelled`; a queued decode then never
    // runs and a running one stops at its next read. The loader going away stops them too.
    void load(const Photo& photo, double scale, const std::shared_ptr<CancellationToken>& token,
              Completion completion);
    // The image of an image outcome, nothing for any other.
    void image(const Photo& photo, double scale, const std::shared_ptr<CancellationToken>& token,
               std::function<void(const std::optional<QImage>&)> completion);

    static QImage decodeThumbnail(const Photo& photo, int pixelSize, const Stop& stop = {});

private:
    struct Request;
    GridThumbnailOutcome read(const Photo& photo, const QString& key, int pixelSize, const Stop& stop);

    Decode m_decode;
    MemoryCache<QImage> m_cache{kCacheCount, kCacheCostBytes};
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    std::shared_ptr<std::atomic<bool>> m_stopped = std::make_shared<std::atomic<bool>>(false);
    WorkQueue m_queue{QStringLiteral("local.vennimo.grid-thumbnail"), kWorkers};
};

} // namespace vennimo
