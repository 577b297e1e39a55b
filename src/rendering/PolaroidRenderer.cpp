#include "rendering/PolaroidRenderer.h"

#include "rendering/PhotoDimensions.h"

namespace vennimo {

PolaroidRenderer::Geometry PolaroidRenderer::geometry(const Photo& photo, QSizeF size, double angle,
                                                      double offset) {
    return PolaroidGeometry::make(size, imageSize(photo), angle, offset);
}

QSizeF PolaroidRenderer::imageSize(const Photo& photo) {
    return PhotoDimensions::imageSize(photo);
}

} // namespace vennimo
