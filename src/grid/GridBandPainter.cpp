#include "grid/GridBandPainter.h"

#include <QPainter>
#include <QThread>
#include <QThreadPool>

#include <atomic>
#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>

namespace vennimo {

namespace {

// Shared with the pool's tasks, which may start after the work is done and then find nothing.
struct Claims {
    std::atomic<int> next{0};
    int count = 0;
    std::function<void(int)> work;
    std::mutex lock;
    std::condition_variable finished;
    int done = 0;

    void run() {
        for (int i = next.fetch_add(1); i < count; i = next.fetch_add(1)) {
            work(i);
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

void GridBandPainter::runParallel(int count, const std::function<void(int)>& work) {
    if (count <= 0)
        return;
    QThreadPool* pool = QThreadPool::globalInstance();
    if (count == 1 || pool->contains(QThread::currentThread())) {
        for (int i = 0; i < count; ++i)
            work(i);
        return;
    }
    auto claims = std::make_shared<Claims>();
    claims->count = count;
    claims->work = work;
    const int helpers = std::min(count - 1, std::max(0, pool->maxThreadCount()));
    for (int i = 0; i < helpers; ++i)
        pool->start([claims] { claims->run(); });
    claims->run();
    std::unique_lock guard(claims->lock);
    claims->finished.wait(guard, [&] { return claims->done == claims->count; });
    // Late helpers only read the counter, which the shared state keeps alive; the work itself
    // may go out of scope now.
    claims->work = {};
}

void GridBandPainter::paint(QPainter& target, const QRect& area, const Paint& paint) {
    m_lastBandCount = 0;
    if (area.isEmpty())
        return;
    QThreadPool* pool = QThreadPool::globalInstance();
    const QTransform device = target.deviceTransform();
    const int maximumBands = std::min(m_maximumBands > 0 ? m_maximumBands : pool->maxThreadCount(), 32);
    const int count = std::min(maximumBands, area.height() / kMinimumBandRows);
    const bool banded = count >= 2 && device.type() <= QTransform::TxScale && device.m11() >= 1 &&
                        device.m11() == device.m22() && isWhole(device.m11()) && isWhole(device.dx()) &&
                        isWhole(device.dy()) && !pool->contains(QThread::currentThread());
    if (!banded) {
        target.save();
        target.setClipRect(area);
        paint(target, area);
        target.restore();
        return;
    }
    const int scale = int(device.m11());
    const QSize size = area.size() * scale;
    if (m_buffer.width() < size.width() || m_buffer.height() < size.height()) {
        m_buffer = QImage(std::max(m_buffer.width(), size.width()),
                          std::max(m_buffer.height(), size.height()), QImage::Format_ARGB32_Premultiplied);
        if (m_buffer.isNull()) {
            paint(target, area);
            return;
        }
    }
    uchar* bits = m_buffer.bits();
    const qsizetype bytesPerLine = m_buffer.bytesPerLine();
    runParallel(count, [&](int index) {
        // Whole logical rows per band, so no device row is painted by two bands.
        const int top = area.height() * index / count;
        const int bottom = area.height() * (index + 1) / count;
        QImage band(bits + qsizetype(top) * scale * bytesPerLine, size.width(), (bottom - top) * scale,
                    bytesPerLine, QImage::Format_ARGB32_Premultiplied);
        QPainter painter(&band);
        painter.scale(scale, scale);
        painter.translate(-area.left(), -area.top() - top);
        const QRect logical(area.left(), area.top() + top, area.width(), bottom - top);
        painter.setClipRect(logical);
        paint(painter, logical);
    });
    m_lastBandCount = count;
    target.drawImage(QRectF(area), m_buffer, QRectF(0, 0, size.width(), size.height()));
}

} // namespace vennimo
