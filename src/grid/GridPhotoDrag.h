#pragma once

#include <QRectF>
#include <Qt>

#include <functional>

class QDrag;
class QWidget;

namespace vennimo {

class PhotoDragPayload;

// Carries photos out of the grid as file copies: the payload's file URLs, with the pressed card's
// picture (or a pile of cards for several photos, over that picture) under the pointer. Runs the
// system's drag loop and answers the drop action, nothing when the drag was cancelled or no target
// took it; the picture then slides back onto the card, landing where it was lifted from.
class GridPhotoDrag {
public:
    GridPhotoDrag() = delete;

    // `picture` is where the pressed card draws its picture, in `source`'s coordinates.
    static Qt::DropAction exec(const PhotoDragPayload& payload, QWidget* source, const QRectF& picture);
    // The same with `run` in place of the system's drag loop, for tests: it answers the drop.
    using Run = std::function<Qt::DropAction(QDrag&)>;
    static Qt::DropAction execWith(const PhotoDragPayload& payload, QWidget* source, const QRectF& picture,
                                   const Run& run);
};

} // namespace vennimo
