#pragma once

#include "core/Photo.h"
#include "platform/WorkQueue.h"

#include <QImage>
#include <QList>
#include <QRectF>
#include <QSizeF>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

class QScreen;

namespace vennimo {

class PhotoPreviewPreloader;

// Loads the preview panel's image of one photo at the pixel size the panel needs, through a
// process-wide cache of preview decodes, and drops results whose file changed meanwhile. One
// loader per panel; requests, cancels and completions belong to the main thread.
class PhotoPreviewImageLoader {
public:
    // A null image means nothing could be decoded.
    using Decode = std::function<QImage(const Photo&, int maxPixels)>;
    using Completion = std::function<void(const QImage&)>;

    static constexpr int kPreviewCount = 12;
    static constexpr std::int64_t kPreviewCostBytes = 96 * 1024 * 1024;
    static constexpr int kThumbnailCount = 48;
    static constexpr std::int64_t kThumbnailCostBytes = 24 * 1024 * 1024;
    static constexpr int kQuickImagePixels = 720;
    static constexpr int kPixelStep = 128;
    static constexpr int kMinTargetPixels = 256;
    static constexpr int kMaxTargetPixels = 4096;
    static constexpr double kPreloadDelaySeconds = 0.12;

    explicit PhotoPreviewImageLoader(Decode decode = {});
    ~PhotoPreviewImageLoader();
    PhotoPreviewImageLoader(const PhotoPreviewImageLoader&) = delete;
    PhotoPreviewImageLoader& operator=(const PhotoPreviewImageLoader&) = delete;

    // Replaces the previous request. The completion runs at once for a cached decode of at least
    // maxPixels, else later on the main thread with the decode, or a null image when the photo's
    // version no longer equals `version`. A superseded or cancelled request never completes.
    void request(const Photo& photo, const QString& version, int maxPixels, Completion completion);
    void cancel();
    std::uint64_t generation() const { return m_generation; }

    // Fingerprint of the photo record and of its two files; equal exactly when none changed.
    static QString version(const Photo& photo);
    static std::optional<QImage> cachedImage(const QString& version, int minPixels = 0);
    // The quick image from the thumbnail file, at most 720 pixels; none when the thumbnail is
    // the image file itself.
    static std::optional<QImage> thumbnail(const Photo& photo, const QString& version);
    // Device pixels of the image's longer side as shown in the bounds, in steps of 128 from 256
    // to 4096.
    static int targetPixels(QSizeF imageSize, QSizeF imageBounds, double backingScale);
    static QImage decodeOriginal(const Photo& photo, int maxPixels);
    static QImage decodeFile(const QString& path, int maxPixels);
    // Keeps the decode unless a decode of at least as many pixels is cached for the version.
    static void store(const QImage& image, const QString& version, int maxPixels);
    static void clearCaches();

    // Main thread: decodes the photos ahead for a screen (default the primary screen).
    static void prepare(const QList<Photo>& photos, QScreen* screen = nullptr,
                        double delaySeconds = kPreloadDelaySeconds);
    static void cancelPreparation();
    static PhotoPreviewPreloader& preloader();

private:
    using Flag = std::shared_ptr<std::atomic<bool>>;

    Decode m_decode;
    std::uint64_t m_generation = 0;
    std::vector<Flag> m_running;
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    WorkQueue m_queue{QStringLiteral("local.vennimo.preview"), 2};
};

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
