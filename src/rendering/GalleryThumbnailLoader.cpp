#include "rendering/GalleryThumbnailLoader.h"

#include "platform/Logging.h"
#include "rendering/ImageReading.h"
#include "rendering/PhotoPreviewImageLoader.h"
#include "rendering/PolaroidRenderer.h"

#include <algorithm>
#include <cmath>
#include <mutex>

namespace vennimo {

namespace {

constexpr double kCardWidthPoints = 290;
constexpr QStringView kGridLayer = u"grid";
// Keeps the decode size a sane pixel count whatever scale a caller passes.
constexpr double kMaxScale = 16;

} // namespace

// One load that missed the cache: whichever of the decode and the cancel comes first settles it.
struct GalleryThumbnailLoader::Request {
    std::mutex lock;
    Completion completion;
    std::optional<WorkQueue::TaskId> operation;
    WorkQueue* queue = nullptr;
    std::weak_ptr<int> queueAlive;
    bool finished = false;

    void finish(const GridThumbnailOutcome& outcome) {
        Completion taken;
        std::optional<WorkQueue::TaskId> pending;
        {
            std::lock_guard guard(lock);
            if (finished)
                return;
            finished = true;
            taken = std::move(completion);
            completion = nullptr;
            pending = operation;
            operation.reset();
        }
        if (pending && queue && !queueAlive.expired())
            queue->cancel(*pending);
        if (taken)
            taken(outcome);
    }
};

GalleryThumbnailLoader::GalleryThumbnailLoader(Decode decode)
    : m_decode(decode ? std::move(decode) : Decode(&GalleryThumbnailLoader::decodeThumbnail)) {}

GalleryThumbnailLoader::~GalleryThumbnailLoader() {
    // The workers are waited for; what they decode is thrown away.
    m_stopped->store(true);
    m_alive.reset();
    m_queue.cancelAll();
}

GalleryThumbnailLoader& GalleryThumbnailLoader::shared() {
    static GalleryThumbnailLoader instance;
    return instance;
}

int GalleryThumbnailLoader::pixelSize(double scale) {
    return int(std::ceil(std::min(PolaroidGeometry::atLeastOne(scale), kMaxScale) * kCardWidthPoints));
}

QString GalleryThumbnailLoader::key(const Photo& photo, double scale) {
    return PolaroidRenderer::imageKey(photo, PolaroidRenderer::defaultSize, 1, kGridLayer) +
           QLatin1Char('-') + QString::number(pixelSize(scale));
}

std::optional<QImage> GalleryThumbnailLoader::cachedImage(const Photo& photo, double scale) {
    return m_cache.value(key(photo, scale));
}

QImage GalleryThumbnailLoader::decodeThumbnail(const Photo& photo, int pixelSize, const Stop& stop) {
    return ImageReading::decodeScaled(photo.thumbnail, pixelSize, stop);
}

GridThumbnailOutcome GalleryThumbnailLoader::read(const Photo& photo, const QString& cacheKey, int size,
                                                  const Stop& stop) {
    if (auto hit = m_cache.value(cacheKey))
        return GridThumbnailOutcome::fromImage(*hit);
    const QString before = PhotoPreviewImageLoader::version(photo);
    QImage image;
    {
        Signpost signpost("GridThumbnailDecode");
        image = m_decode(photo, size, stop);
    }
    if (stop())
        return GridThumbnailOutcome::cancelled();
    if (PhotoPreviewImageLoader::version(photo) != before)
        return GridThumbnailOutcome::changed();
    if (image.isNull())
        return GridThumbnailOutcome::failed();
    m_cache.insert(cacheKey, image, std::int64_t(image.bytesPerLine()) * image.height());
    return GridThumbnailOutcome::fromImage(image);
}

void GalleryThumbnailLoader::load(const Photo& photo, double scale,
                                  const std::shared_ptr<CancellationToken>& token, Completion completion) {
    const QString cacheKey = key(photo, scale);
    const int size = pixelSize(scale);
    if (token && token->isCancelled()) {
        if (completion)
            completion(GridThumbnailOutcome::cancelled());
        return;
    }
    if (auto hit = m_cache.value(cacheKey)) {
        if (completion)
            completion(GridThumbnailOutcome::fromImage(*hit));
        return;
    }
    auto request = std::make_shared<Request>();
    request->completion = std::move(completion);
    request->queue = &m_queue;
    request->queueAlive = m_alive;
    {
        // Held while queueing, so the operation cannot settle before it is recorded.
        std::lock_guard guard(request->lock);
        request->operation = m_queue.async([this, request, photo, cacheKey, size, stopped = m_stopped] {
            const auto stop = [request, stopped] {
                std::lock_guard check(request->lock);
                return request->finished || stopped->load();
            };
            if (stop())
                return;
            request->finish(read(photo, cacheKey, size, stop));
        });
    }
    if (token)
        token->onCancel([request] { request->finish(GridThumbnailOutcome::cancelled()); });
}

void GalleryThumbnailLoader::image(const Photo& photo, double scale,
                                   const std::shared_ptr<CancellationToken>& token,
                                   std::function<void(const std::optional<QImage>&)> completion) {
    load(photo, scale, token, [completion = std::move(completion)](const GridThumbnailOutcome& outcome) {
        if (!completion)
            return;
        if (outcome.kind == GridThumbnailOutcome::Kind::Image)
            completion(outcome.image);
        else
            completion(std::nullopt);
    });
}

} // namespace vennimo
