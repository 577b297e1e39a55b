#pragma once

#include "rendering/AlphaMaskedPicture.h"

#include <QImage>
#include <QRegion>

namespace vennimo {

// Where a translucent window shows on a desktop without a compositing manager: its alpha is then
// ignored and a clear pixel shows black, so the window is cut to the pixels of its frame that show
// (at least half opaque and no shadow's, AlphaMaskedPicture::shows), like AlphaMaskedPicture cuts
// a panel. The cut can be widened by a few
// pixels on every side, for pictures whose thin lines are fainter than half.
class AlphaShapeRegion {
public:
    // The same cut as a panel's, so the rope and the prints carried off it show alike.
    static constexpr int kMinimumAlpha = AlphaMaskedPicture::kMinimumAlpha;
    static constexpr int kMaximumSpread = 16;
    // The most rectangles a cut holds. A real rope takes a few hundred; a shape request of this
    // many stays far below what any X server takes in one request.
    static constexpr int kMaximumRectangles = 4096;

    AlphaShapeRegion() = delete;

    // The region in the frame's own (device) pixels, widened by `spread` pixels (at most
    // kMaximumSpread) in every direction and clipped to the frame. A frame without an alpha
    // channel shows whole; a null one not at all. A cut that would take more than
    // `maximumRectangles` is made coarser until it fits, never showing fewer pixels.
    static QRegion of(const QImage& frame, int spread, int maximumRectangles = kMaximumRectangles);
};

} // namespace vennimo
