#pragma once

#include "rendering/AlphaMaskedPicture.h"

#include <QImage>
#include <QRegion>

namespace vennimo {

// Where a translucent window shows on a desktop without a compositing manager: its alpha is then
// ignored and a clear pixel shows black, so the window is cut to the pixels of its frame that show
// (shows()), like AlphaMaskedPicture cuts a panel. The cut can be widened by a few
// pixels on every side, for pictures whose thin lines are fainter than half.
class AlphaShapeRegion {
public:
    // The same cut as a panel's, so the rope and the prints carried off it show alike.
    static constexpr int kMinimumAlpha = AlphaMaskedPicture::kMinimumAlpha;
    static constexpr int kMaximumSpread = 16;
    // The most rectangles a cut holds. A real rope takes a few hundred; a shape request of this
    // many stays far below what any X server takes in one request.
    static constexpr int kMaximumRectangles = 4096;
    // The tallest run of near-black pixels under a light one and over nothing that is taken for
    // the edge of a paper over shadows rather than something drawn black (of()).
    static constexpr int kMaximumFringe = 2;

    AlphaShapeRegion() = delete;

    // Whether a premultiplied pixel shows: at least half opaque, and not a shadow's. The X server
    // shows what is kept as it stands, without its alpha, so the shadows of a pile of prints, black
    // and adding up beyond half along its lower edge, would show as a black line. A translucent
    // pixel that is black all but a sixteenth of the way, its alpha taken out, is a shadow's: what
    // is drawn in colour shows.
    static constexpr bool shows(quint32 premultiplied) {
        const quint32 alpha = premultiplied >> 24;
        if (alpha < quint32(kMinimumAlpha))
            return false;
        if (alpha == 255)
            return true;
        const quint32 red = (premultiplied >> 16) & 0xff;
        const quint32 green = (premultiplied >> 8) & 0xff;
        const quint32 blue = premultiplied & 0xff;
        const quint32 brightest = red > green ? (red > blue ? red : blue) : (green > blue ? green : blue);
        return brightest * 16 >= alpha;
    }

    // The region in the frame's own (device) pixels that show, less the near-black lower edges of
    // papers over shadows, widened by `spread` pixels (at most kMaximumSpread) in every direction
    // and clipped to the frame. A frame without an alpha
    // channel shows whole; a null one not at all. A cut that would take more than
    // `maximumRectangles` is made coarser until it fits, never showing fewer pixels.
    static QRegion of(const QImage& frame, int spread, int maximumRectangles = kMaximumRectangles);
};

} // namespace vennimo
