#include "canvas/ClotheslineFrameCompositor.h"

#include <QPainter>
#include <QThread>
#include <QThreadPool>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace vennimo {

namespace {

// Work estimates per canvas point of a row: clearing is a plain fill, a print layer a smoothed,
// turned image blended over what lies below.
constexpr qint64 kClearWeight = 1;
constexpr qint64 kLayerWeight = 4;
// Below this much work a band costs more to hand over than to paint: some 10000 points of
// print, about a tenth of a millisecond.
constexpr qint64 kBandWork = 40000;
constexpr int kMinimumBandRows = 4;

void paintArea(QPainter& painter, const QRegion& dirty,
               const ClotheslineFrameCompositor::Background* background,
               const QList<ClotheslineFrameCompositor::Layer>& layers, const QRect& limit) {
    painter.setClipRegion(dirty);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    for (const QRect& rect : dirty)
        painter.fillRect(rect, Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    if (background && *background)
        (*background)(painter);
    // Print images carry their own soft edges; smoothing their pixels is enough, and the
    // antialiased path fill of a turned image would cost several times as much.
    painter.setRenderHint(QPainter::Antialiasing, false);
    for (const ClotheslineFrameCompositor::Layer& layer : layers) {
        if (!layer.slot)
            continue;
        const QRegion open = limit.isNull() ? layer.open : layer.open & limit;
        if (open.isEmpty())
            continue;
        painter.setClipRegion(open);
        layer.slot->paint(painter);
    }
    painter.setClipRegion(dirty);
}

// One frame cut into bands, shared by the threads that paint it. The calling thread keeps it
// alive until every claimed band is done; a pool task that starts later finds nothing to claim
// and never reads the frame.
struct BandFrame {
    struct Band {
        int top = 0;    // buffer rows
        int bottom = 0; // exclusive
        QRect limit{};  // canvas points that hold the band's rows
    };

    uchar* bits = nullptr;
    qsizetype bytesPerLine = 0;
    int width = 0;
    // Canvas points to device pixels of the target, and where the buffer starts in them.
    QTransform device{};
    QPoint origin{};
    const QRegion* dirty = nullptr;
    QRectF backgroundArea{};
    const ClotheslineFrameCompositor::Background* background = nullptr;
    const QList<ClotheslineFrameCompositor::Layer>* layers = nullptr;
    std::vector<Band> bands;

    void paintBand(const Band& band) const {
        QImage image(bits + band.top * bytesPerLine, width, band.bottom - band.top, bytesPerLine,
                     QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&image);
        // The target's own transform shifted by whole pixels, so every sample lands where it would
        // on the target.
        painter.setWorldTransform(device * QTransform::fromTranslate(-origin.x(), -origin.y() - band.top));
        const bool drawsBackground = band.limit.intersects(backgroundArea.toAlignedRect());
        paintArea(painter, *dirty & band.limit, drawsBackground ? background : nullptr, *layers, band.limit);
    }
};

struct BandClaims {
    std::atomic<int> next{0};
    int count = 0;
    const BandFrame* frame = nullptr;
    std::mutex lock;
    std::condition_variable finished;
    int done = 0;

    void run() {
        for (int i = next.fetch_add(1); i < count; i = next.fetch_add(1)) {
            frame->paintBand(frame->bands[std::size_t(i)]);
            std::lock_guard guard(lock);
            if (++done == count)
                finished.notify_all();
        }
    }
};

bool isWhole(double value) {
    return std::isfinite(value) && value == std::round(value);
}

} // namespace

void ClotheslineFrameCompositor::paintDirectly(QPainter& painter, const QRegion& dirty,
                                               const Background& background, const QList<Layer>& layers) {
    paintArea(painter, dirty, &background, layers, QRect());
}

void ClotheslineFrameCompositor::paint(QPainter& painter, const QRegion& dirty, const QRectF& backgroundArea,
                                       const Background& background, const QList<Layer>& layers) {
    m_lastBandCount = 0;
    QThreadPool* pool = QThreadPool::globalInstance();
    const int maximumBands = std::min(m_maximumBands > 0 ? m_maximumBands : pool->maxThreadCount(), 64);
    const QTransform device = painter.deviceTransform();
    // Bands need whole device pixels under whole canvas points; another scale, or a painter on a
    // pool thread (which would wait for its own pool), paints directly.
    const bool banded = !dirty.isEmpty() && maximumBands >= 1 && device.type() <= QTransform::TxScale &&
                        device.m11() >= 1 && device.m11() == device.m22() && isWhole(device.m11()) &&
                        isWhole(device.dx()) && isWhole(device.dy()) &&
                        !pool->contains(QThread::currentThread());
    if (!banded) {
        paintDirectly(painter, dirty, background, layers);
        return;
    }

    // The work of each canvas row, from the area to clear and the open parts of the layers.
    const QRect bounds = dirty.boundingRect();
    std::vector<qint64> rows(std::size_t(bounds.height()) + 1, 0);
    const auto add = [&](const QRegion& region, qint64 weight) {
        for (const QRect& rect : region) {
            const QRect part = rect & bounds;
            if (part.isEmpty())
                continue;
            rows[std::size_t(part.top() - bounds.top())] += weight * part.width();
            rows[std::size_t(part.bottom() + 1 - bounds.top())] -= weight * part.width();
        }
    };
    add(dirty, kClearWeight);
    for (const Layer& layer : layers)
        add(layer.open, kLayerWeight);
    qint64 total = 0;
    qint64 running = 0;
    for (qint64& row : rows) {
        running += row;
        row = running;
        total += running;
    }
    const int count =
        int(std::min<qint64>({total / kBandWork, maximumBands, bounds.height() / kMinimumBandRows}));
    if (count < 1) {
        paintDirectly(painter, dirty, background, layers);
        return;
    }

    const int scale = int(device.m11());
    const QPoint origin(bounds.left() * scale + int(device.dx()), bounds.top() * scale + int(device.dy()));
    const QSize size = bounds.size() * scale;
    if (m_buffer.width() < size.width() || m_buffer.height() < size.height()) {
        m_buffer = QImage(std::max(m_buffer.width(), size.width()),
                          std::max(m_buffer.height(), size.height()), QImage::Format_ARGB32_Premultiplied);
        if (m_buffer.isNull()) {
            paintDirectly(painter, dirty, background, layers);
            return;
        }
    }

    BandFrame frame;
    frame.bits = m_buffer.bits();
    frame.bytesPerLine = m_buffer.bytesPerLine();
    frame.width = size.width();
    frame.device = device;
    frame.origin = origin;
    frame.dirty = &dirty;
    frame.backgroundArea = backgroundArea;
    frame.background = &background;
    frame.layers = &layers;
    // Cut where the running work crosses each equal share.
    int top = 0;
    qint64 done = 0;
    for (int row = 0, band = 1; row < bounds.height(); ++row) {
        done += rows[std::size_t(row)];
        const bool last = row + 1 == bounds.height();
        if (!last && (done * count < total * band || row + 1 - top < kMinimumBandRows))
            continue;
        frame.bands.push_back({top * scale, (row + 1) * scale,
                               QRect(bounds.left(), bounds.top() + top, bounds.width(), row + 1 - top)});
        top = row + 1;
        ++band;
    }

    auto claims = std::make_shared<BandClaims>();
    claims->count = int(frame.bands.size());
    claims->frame = &frame;
    for (int i = 0; i < claims->count; ++i)
        pool->start([claims] { claims->run(); });
    {
        std::unique_lock guard(claims->lock);
        claims->finished.wait(guard, [&] { return claims->done == claims->count; });
    }
    m_lastBandCount = claims->count;

    // Rectangle by rectangle without a clip, so the raster engine copies rows straight across.
    painter.save();
    const QTransform deviceMatrix = painter.worldTransform().inverted() * device;
    painter.setWorldTransform(QTransform::fromTranslate(origin.x(), origin.y()) * deviceMatrix.inverted());
    painter.setClipping(false);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    const QImage buffer(m_buffer.constBits(), size.width(), size.height(), m_buffer.bytesPerLine(),
                        QImage::Format_ARGB32_Premultiplied);
    for (const QRect& rect : dirty) {
        const QRect pixels((rect.left() - bounds.left()) * scale, (rect.top() - bounds.top()) * scale,
                           rect.width() * scale, rect.height() * scale);
        painter.drawImage(pixels.topLeft(), buffer, pixels);
    }
    painter.restore();
}

} // namespace vennimo
