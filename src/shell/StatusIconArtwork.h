#pragma once

#include <QIcon>
#include <QImage>

namespace vennimo {

// The tray icon: a photo in front of a tilted card, and a dot at its upper right while photos
// arrived that the user has not seen. Drawn here for each pixel size, so strokes fall on whole
// pixels at the tray's size on ordinary and double-density screens alike.
class StatusIconArtwork {
public:
    StatusIconArtwork() = delete;

    // The design's canvas, in points: the symbol fills 16 of them, the dot sits at the corner.
    static constexpr double kCanvasPoints = 20;
    // Sizes trays ask for at scale 1 and 2.
    static constexpr int kPixelSizes[] = {16, 20, 22, 24, 32, 40, 44, 48, 64};

    static QImage render(int pixels, bool dot);
    static QIcon icon(bool dot);
};

} // namespace vennimo
