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
    // Answers true once the decode's result would be thrown away.
    using Stop = std::function<bool()>;
    // A null image means nothing could be decoded.
    using Decode = std::function<QImage(const Photo&, int maxPixels, const Stop& stop)>;
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
    // version no longer equals `version`. A superseded or cancelled request never completes; its
    // decode stops at its next read, as do those under way when the loader goes away.
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
    static QImage decodeOriginal(const Photo& photo, int maxPixels, const Stop& stop = {});
    static QImage decodeFile(const QString& path, int maxPixels, const Stop& stop = {});
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

} // namespace vennimo
