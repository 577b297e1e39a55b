#pragma once

#include <QImage>
#include <QRect>

#include <functional>

class QPainter;

namespace vennimo {

// Paints a large area in horizontal bands on threads of Qt's global pool and copies the result
// into the target painter. Qt's raster engine splits every tall fill made outside that pool into
// tasks on it and waits for each, so a frame of many tall cards would spend more time handing
// over work than drawing; a painter on a pool thread paints alone. Small areas, painters on a pool
// thread and transforms other than a whole-pixel scale paint directly.
class GridBandPainter {
public:
    // Paints the part of the area given in logical coordinates. Bands call it at the same time
    // from several threads, each with its own painter: it may only read what they share.
    using Paint = std::function<void(QPainter& painter, const QRect& band)>;

    static constexpr int kMinimumBandRows = 48;

    void paint(QPainter& target, const QRect& area, const Paint& paint);
    // Runs work(0) ... work(count - 1) on the pool and the calling thread, and returns when all ran.
    static void runParallel(int count, const std::function<void(int)>& work);

    int lastBandCount() const { return m_lastBandCount; }
    // Frees the frame buffer until the next banded paint.
    void releaseBuffer() { m_buffer = QImage(); }
    bool holdsBuffer() const { return !m_buffer.isNull(); }
    void setMaximumBands(int bands) { m_maximumBands = bands; }

private:
    QImage m_buffer;
    int m_lastBandCount = 0;
    int m_maximumBands = 0;
};

} // namespace vennimo
