#pragma once

#include "core/Photo.h"
#include "platform/WorkQueue.h"
#include "rendering/PhotoPreviewImageLoader.h"

#include <QList>
#include <QRectF>
#include <QString>

#include <atomic>
#include <cstdint>
#include <memory>

namespace vennimo {

// Decodes up to three photos ahead of time into the preview cache, after a short pause, at the
// size the preview will ask for on a screen. Main thread only.
class PhotoPreviewPreloader {
public:
    static constexpr int kMaxPhotos = 3;

    explicit PhotoPreviewPreloader(PhotoPreviewImageLoader::Decode decode = {});
    ~PhotoPreviewPreloader();
    PhotoPreviewPreloader(const PhotoPreviewPreloader&) = delete;
    PhotoPreviewPreloader& operator=(const PhotoPreviewPreloader&) = delete;

    // An identical plan is ignored; a different one replaces the current plan.
    void schedule(const QList<Photo>& photos, const QRectF& visibleFrame, double backingScale,
                  double delaySeconds = PhotoPreviewImageLoader::kPreloadDelaySeconds);
    // Forgets the plan, so the same photos can be planned again.
    void cancel();
    const QString& planKey() const { return m_planKey; }

private:
    void run(const QList<Photo>& photos, const QRectF& visibleFrame, double backingScale,
             const std::shared_ptr<std::atomic<bool>>& cancelled);

    PhotoPreviewImageLoader::Decode m_decode;
    QString m_planKey;
    std::uint64_t m_scheduled = 0;
    std::shared_ptr<std::atomic<bool>> m_cancelled;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    SerialQueue m_queue{QStringLiteral("local.vennimo.preload")};
};

} // namespace vennimo
