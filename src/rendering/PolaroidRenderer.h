#pragma once

#include "core/Photo.h"
#include "rendering/PolaroidGeometry.h"

#include <QImage>
#include <QPointF>
#include <QSizeF>
#include <QString>
#include <QStringView>

#include <cstdint>
#include <functional>
#include <optional>

namespace vennimo {

// Draws photos as polaroid prints, one layer at a time, into cached bitmaps, and computes where
// the parts of a print lie. Static members only; every member may be called from any thread
// unless it says otherwise.
class PolaroidRenderer {
public:
    using Geometry = PolaroidGeometry;

    static constexpr QSizeF defaultSize = PolaroidGeometry::kDefaultSize;
    static constexpr QPointF defaultPegAnchor = PolaroidGeometry::kDefaultPegAnchor;

    // Layer names.
    static constexpr QStringView kComplete = u"complete";
    static constexpr QStringView kPaper = u"paper";
    static constexpr QStringView kPeg = u"peg";
    static constexpr QStringView kSelection = u"selection";
    static constexpr QStringView kArrival = u"arrival";

    static constexpr int kCacheCount = 180;
    static constexpr std::int64_t kCacheCostBytes = 64 * 1024 * 1024;
    // Pegs and badges, apart from the papers so that a rope of many papers never pushes them out.
    static constexpr int kMarkCount = 64;
    static constexpr std::int64_t kMarkCostBytes = 48 * 1024 * 1024;
    static constexpr int kPaperBaseCount = 32;
    static constexpr std::int64_t kPaperBaseCostBytes = 32 * 1024 * 1024;
    static constexpr int kPlaceholderCount = 32;
    static constexpr std::int64_t kPlaceholderCostBytes = 32 * 1024 * 1024;
    static constexpr double kDefaultScale = 2;
    // Larger prints are refused rather than allocated.
    static constexpr double kMaxBitmapSidePixels = 16384;

    // The peg picture drawn on prints; `refined` artwork is narrowed to its own aspect and casts
    // no separate contact shadow.
    struct PegMaterial {
        QImage image{};
        bool refined = false;
    };

    PolaroidRenderer() = delete;

    static Geometry geometry(QSizeF size = defaultSize,
                             QSizeF imageSize = PolaroidGeometry::kDefaultImageSize, double angle = 0,
                             double offset = 0) {
        return PolaroidGeometry::make(size, imageSize, angle, offset);
    }
    static Geometry geometry(const Photo& photo, QSizeF size = defaultSize, double angle = 0,
                             double offset = 0);
    // Pixel size of the photo's image after orientation; 4 x 3 when unreadable.
    static QSizeF imageSize(const Photo& photo);

    // One layer of the print, size (at least 1 x 1) in points, with a bitmap of the scale (at
    // least 1) as its device pixel ratio. Without memory for a bitmap it gives a transparent
    // image of the size at ratio 1, and for a bitmap side beyond kMaxBitmapSidePixels a null
    // image; neither is cached. Once `stop` answers true (asked while the photo is read) the
    // drawing is given up and answers a null image.
    static QImage image(const Photo& photo, QSizeF size = defaultSize, double scale = kDefaultScale,
                        QStringView layer = kComplete, bool placeholder = false, bool cacheResult = true,
                        bool sharedPaper = true, const std::function<bool()>& stop = {});
    static std::optional<QImage> cachedImage(const Photo& photo, QSizeF size = defaultSize,
                                             double scale = kDefaultScale, QStringView layer = kComplete);
    static QString imageKey(const Photo& photo, QSizeF size = defaultSize, double scale = kDefaultScale,
                            QStringView layer = kComplete);
    static QString placeholderKey(const Photo& photo, QSizeF size, double scale, QStringView layer);
    static QString paperBaseKey(const Photo& photo, QSizeF size, double scale);
    // Keeps a "paper" image rendered elsewhere under the photo's default-size key.
    static void storePrepared(const QImage& image, const Photo& photo, double scale = kDefaultScale);

    // Main thread only. The placeholder "paper" print for the photo's aspect when it is ready,
    // else an empty paper while it renders in the background; `ready` then runs on the main
    // thread once it is cached. Requests for the same placeholder share one render.
    static QImage placeholder(const Photo& photo, double scale, std::function<void()> ready);
    // Main thread only. Whether that placeholder is cached, without asking for it.
    static bool placeholderReady(const Photo& photo, double scale);
    // A transparent print-sized image.
    static QImage emptyPaper();

    // The photo's picture for a print: its thumbnail file, else its image file; none once `stop`
    // answers true.
    static QImage thumbnail(const Photo& photo, int maxPixelSize, const std::function<bool()>& stop = {});

    // Diagnostics.
    static int baseRenderCount();
    // Bitmaps drawn by image(), that is every ask the caches did not answer.
    static int renderCount();
    static int placeholderMainRenderCount();
    static int cachedImageCount();
    static std::int64_t cachedImageCost();

    // The peg artwork, loaded once; replacing it is for tests and previews of the fallback peg.
    static std::optional<PegMaterial> pegMaterial();
    static void setPegMaterial(std::optional<PegMaterial> material);
    static void clearCaches();
};

} // namespace vennimo
