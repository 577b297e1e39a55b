#pragma once

#include "canvas/ClotheslinePhotoSlot.h"

#include <QImage>
#include <QList>
#include <QRectF>
#include <QRegion>

#include <functional>

class QPainter;

namespace vennimo {

// Composes the dirty area of the rope canvas: clears it, paints the background (the rope and its
// tacks), then the print slots bottom to top, each inside the part of the area its region leaves
// open. A large area is cut into horizontal bands of about equal work, which threads of Qt's
// global pool paint side by side into one frame buffer; the calling thread then copies the buffer
// into its painter. The global pool matters: Qt's raster engine splits every tall fill made on
// any other thread into tasks on that pool and waits for them, and for fifty turned prints a
// frame those hand-offs cost more than the pixels; a painter on a pool thread paints alone.
class ClotheslineFrameCompositor {
public:
    struct Layer {
        const ClotheslinePhotoSlot* slot = nullptr;
        // Canvas points the slot may paint.
        QRegion open{};
    };
    // Paints the background. Bands call it at the same time from several threads, each with its
    // own painter on its own band: it may only read what they share.
    using Background = std::function<void(QPainter&)>;

    ClotheslineFrameCompositor() = default;
    ClotheslineFrameCompositor(const ClotheslineFrameCompositor&) = delete;
    ClotheslineFrameCompositor& operator=(const ClotheslineFrameCompositor&) = delete;

    // Paints `dirty` (canvas points) into the painter. `backgroundArea` (canvas points) holds
    // everything the background paints. The slots must not change until this returns.
    void paint(QPainter& painter, const QRegion& dirty, const QRectF& backgroundArea,
               const Background& background, const QList<Layer>& layers);
    // The same picture painted by the painter alone, on the calling thread.
    static void paintDirectly(QPainter& painter, const QRegion& dirty, const Background& background,
                              const QList<Layer>& layers);

    // How many bands the last paint used; 0 when it painted directly.
    int lastBandCount() const { return m_lastBandCount; }
    // At most this many bands (at least 1); the pool's thread count when not set.
    void setMaximumBands(int bands) { m_maximumBands = bands; }
    // Frees the frame buffer until the next paint.
    void releaseBuffer() { m_buffer = QImage(); }

private:
    QImage m_buffer;
    int m_lastBandCount = 0;
    int m_maximumBands = 0;
};

} // namespace vennimo
