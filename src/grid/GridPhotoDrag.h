#pragma once

#include <QImage>
#include <QRectF>
#include <Qt>

#include <functional>

class QDrag;
class QWidget;

namespace vennimo {

class PhotoDragPayload;

// Carries photos out of the grid as file copies: the payload's file URLs, with a picture of the
// card (or a pile of cards for several photos) under the pointer. Runs the system's drag loop and
// answers the drop action, nothing when the drag was cancelled or no target took it; the
// picture then slides back onto the cards.
class GridPhotoDrag {
public:
    GridPhotoDrag() = delete;

    // `card` is the pressed card in `source`'s coordinates.
    static Qt::DropAction exec(const PhotoDragPayload& payload, QWidget* source, const QRectF& card);
    // The same with `run` in place of the system's drag loop, for tests: it answers the drop.
    using Run = std::function<Qt::DropAction(QDrag&)>;
    static Qt::DropAction execWith(const PhotoDragPayload& payload, QWidget* source, const QRectF& card,
                                   const Run& run);
    // Slides `picture` from `origin` on screen back to `restOrigin` in `source`, as a drag that
    // nothing took leaves it; nothing under Reduce Motion.
    static void returnPicture(const QImage& picture, QPointF origin, QWidget* source, QPointF restOrigin);
};

} // namespace vennimo
