#pragma once

#include <QImage>
#include <QRectF>
#include <QTransform>

class QPainter;

namespace vennimo {

// One print as the canvas composes it: its paper, peg and badge images with their transforms,
// placed at its frame. Every value is compared before it is stored, and images by identity, so
// a frame in which only the swing changed rewrites the transforms alone, and the canvas learns
// exactly which area has to be painted again.
class ClotheslinePhotoSlot {
public:
    struct Content {
        QRectF frame{};
        QImage paper{};
        QImage peg{};
        QImage overlay{};
        QTransform paperTransform{};
        QTransform pegTransform{};
        // Where the paper lies on the print canvas before its transform; the canvas skips what
        // this opaque paper hides of the prints below.
        QRectF paperRect{};
        // Where the overlay image lies on the print canvas, in points, when it is cut to the part
        // it paints; empty when it fills the canvas as the other images do.
        QRectF overlayArea{};
    };
    // The part of an image that is not fully transparent, in its pixels. Main thread only.
    static QRect paintedPixels(const QImage& image);

    // Applies a print's state; answers the canvas area whose look changed (old and new place),
    // empty when nothing did.
    QRectF update(const Content& content);
    QRectF setHidden(bool hidden);
    QRectF setZ(int z);

    bool hidden() const { return m_hidden; }
    int z() const { return m_z; }
    const Content& content() const { return m_content; }
    // Where the slot paints, in canvas coordinates; empty while hidden or before the first update.
    QRectF bounds() const;
    // An axis-aligned rectangle (canvas coordinates) that the paper covers with opaque pixels;
    // empty while hidden or while the paper is a transparent stand-in.
    QRectF coveredRect() const;
    // How many updates changed anything; a repeated identical update leaves it alone.
    int writes() const { return m_writes; }

    // Reads only the slot's own state, so several threads may paint one slot at once (each with
    // its own painter) while nothing updates it.
    void paint(QPainter& painter) const;

private:
    // The painted part of one layer image: where it lies on the print canvas, in points, and the
    // pixels it comes from.
    struct Part {
        QRectF target{};
        QRectF source{};
    };

    QRectF paintedBounds() const;

    Content m_content{};
    // Paper, peg and overlay, found when their images are applied.
    Part m_parts[3]{};
    // The painted pixels of each image, kept while the slot keeps the image.
    QRect m_pixels[3]{};
    bool m_paperOpaque = false;
    bool m_hidden = false;
    bool m_applied = false;
    int m_z = 0;
    int m_writes = 0;
};

} // namespace vennimo
