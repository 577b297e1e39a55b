#pragma once

#include "core/Photo.h"

#include <QImage>
#include <QList>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QUrl>

#include <memory>

class QMimeData;

namespace vennimo {

// What a copy drag carries out of the application: the original files of its photos as file
// URLs, with a picture of each. The rope and the grid both build their copy drags from it.
class PhotoDragPayload {
public:
    // Several photos show as a pile of cards, each a little further right and up than the one
    // before, the fourth and later ones at the last step.
    static constexpr QSizeF kPileCardSize{150, 110};
    static constexpr double kPileStep = 5;
    static constexpr int kPileSteps = 3;
    // A thumbnail file is read at most this large, on the main thread.
    static constexpr int kMaxFileImagePixels = 512;

    struct Item {
        Photo photo;
        QUrl url;
        QImage image;
        // In the coordinates of the rectangle the items were made for.
        QRectF frame;
    };

    // One picture of several items, for a drag that shows a single image: `origin` is where its
    // top left lies in the items' coordinates.
    struct Picture {
        QImage image;
        QPointF origin;
    };

    // Keeps, in order, each photo whose id was not kept before, whose file is still the one the
    // photo names and is readable. A gone, replaced or unreadable file is left out silently.
    explicit PhotoDragPayload(const QList<Photo>& photos);

    const QList<Photo>& photos() const { return m_photos; }
    bool isEmpty() const { return m_photos.isEmpty(); }

    // One item per kept photo for a drag from `rect`: a single photo fills it, several lie in a
    // pile around its centre; each picture keeps its print's aspect, centred in its card.
    // `scale` is the device pixel ratio of the screen the drag starts from, whose pictures the
    // items reuse.
    QList<Item> makeItems(const QRectF& rect, double scale = 2) const;
    // The kept photos' files as "text/uri-list", one CRLF-ended line each.
    std::unique_ptr<QMimeData> makeMimeData() const;

    // What the screen shows of the photo at `scale` already (the grid card's picture, else the
    // print's), else the thumbnail file's image, else a drawn stand-in. The photo's own file is
    // never read: a drag starts on the main thread, and the file is anything a folder was given.
    static QImage itemImage(const Photo& photo, double scale = 2);
    // A rectangle of `content`'s aspect, as large as fits in `frame`, centred in it.
    static QRectF fitted(QSizeF content, const QRectF& frame);
    // The items drawn in order over the union of their frames at the device pixel ratio.
    static Picture picture(const QList<Item>& items, double devicePixelRatio);

private:
    QList<Photo> m_photos;
};

} // namespace vennimo
