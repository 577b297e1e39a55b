#pragma once

#include <QRectF>
#include <Qt>

class QWidget;

namespace vennimo {

class PhotoDragPayload;

// Carries photos out of the grid as file copies: the payload's file URLs, with a picture of the
// card (or a pile of cards for several photos) under the pointer. Runs the system's drag loop and
// answers the drop action, nothing when the drag was cancelled or no target took it.
class GridPhotoDrag {
public:
    GridPhotoDrag() = delete;

    // `card` is the pressed card in `source`'s coordinates.
    static Qt::DropAction exec(const PhotoDragPayload& payload, QWidget* source, const QRectF& card);
};

} // namespace vennimo
