#pragma once

#include "core/Photo.h"
#include "rendering/PolaroidGeometry.h"

#include <QPointF>
#include <QSizeF>

namespace vennimo {

// Draws photos as polaroid prints and computes where their parts lie. Static members only.
class PolaroidRenderer {
public:
    using Geometry = PolaroidGeometry;

    static constexpr QSizeF defaultSize = PolaroidGeometry::kDefaultSize;
    static constexpr QPointF defaultPegAnchor = PolaroidGeometry::kDefaultPegAnchor;

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
};

} // namespace vennimo
