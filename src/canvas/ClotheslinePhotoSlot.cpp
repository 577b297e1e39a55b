#include "canvas/ClotheslinePhotoSlot.h"

#include <QHash>
#include <QPainter>

#include <algorithm>

namespace vennimo {

namespace {

// Antialiased edges reach a little beyond the mapped image rectangles.
constexpr double kEdgeMarginPoints = 2;
constexpr qsizetype kPaintedPixelsTableSize = 1024;
// Rounded paper corners and the smoothed edge of a turned paper stay out of its covered area.
constexpr double kPaperCornerPoints = 4;

// Premultiplied pixels are clear exactly where all their bits are zero, so a row is tested in
// blocks whose OR the compiler can vectorize; the pixel by pixel search only runs in the blocks
// at a row's painted ends. Papers are painted from edge to edge and badges in a corner, so most
// rows cost a block or two, or one pass of plain ORs.
QRect premultipliedPaintedPixels(const QImage& image) {
    constexpr int kBlock = 16;
    const int width = image.width();
    int top = -1;
    int bottom = -1;
    int left = width;
    int right = -1;
    for (int y = 0; y < image.height(); ++y) {
        const auto* line = reinterpret_cast<const quint32*>(image.constScanLine(y));
        const auto clearBlock = [line, width](int start) {
            quint32 bits = 0;
            const int end = std::min(width, start + kBlock);
            for (int x = start; x < end; ++x)
                bits |= line[x];
            return bits == 0;
        };
        int first = 0;
        while (first < width && clearBlock(first))
            first += kBlock;
        if (first >= width)
            continue;
        while (line[first] == 0)
            ++first;
        int last = (width - 1) / kBlock * kBlock;
        while (clearBlock(last))
            last -= kBlock;
        last = std::min(width, last + kBlock) - 1;
        while (line[last] == 0)
            --last;
        if (top < 0)
            top = y;
        bottom = y;
        left = std::min(left, first);
        right = std::max(right, last);
    }
    return top < 0 ? QRect() : QRect(QPoint(left, top), QPoint(right, bottom));
}

// Whether the paper image is opaque at the corners and the centre of the paper rectangle: a real
// paper is, the transparent stand-in shown while one renders is not.
bool opaquePaper(const QImage& image, const QRectF& paperRect, QSizeF size) {
    if (image.isNull() || paperRect.isEmpty() || size.isEmpty())
        return false;
    const double sx = image.width() / size.width();
    const double sy = image.height() / size.height();
    const QRectF inner =
        paperRect.adjusted(kPaperCornerPoints, kPaperCornerPoints, -kPaperCornerPoints, -kPaperCornerPoints);
    for (const QPointF p :
         {inner.topLeft(), inner.topRight(), inner.bottomLeft(), inner.bottomRight(), inner.center()}) {
        const QPoint pixel(int(p.x() * sx), int(p.y() * sy));
        if (!image.valid(pixel) || qAlpha(image.pixel(pixel)) != 255)
            return false;
    }
    return true;
}

bool sameImage(const QImage& a, const QImage& b) {
    return a.isNull() == b.isNull() && (a.isNull() || a.cacheKey() == b.cacheKey());
}

} // namespace

// Peg and badge layers fill a whole print canvas but paint a small corner of it, so drawing only
// that part saves most of their per-frame work. Layer images are shared and long-lived; the table
// stays small.
QRect ClotheslinePhotoSlot::paintedPixels(const QImage& image) {
    static QHash<qint64, QRect> known;
    if (const auto it = known.constFind(image.cacheKey()); it != known.constEnd())
        return *it;
    QRect found;
    if (image.format() == QImage::Format_ARGB32_Premultiplied) {
        found = premultipliedPaintedPixels(image);
    } else if (image.format() == QImage::Format_ARGB32) {
        int top = image.height();
        int bottom = -1;
        int left = image.width();
        int right = -1;
        for (int y = 0; y < image.height(); ++y) {
            const auto* line = reinterpret_cast<const QRgb*>(image.constScanLine(y));
            for (int x = 0; x < image.width(); ++x) {
                if (qAlpha(line[x]) == 0)
                    continue;
                top = std::min(top, y);
                bottom = y;
                left = std::min(left, x);
                right = std::max(right, x);
            }
        }
        if (bottom >= 0)
            found = QRect(QPoint(left, top), QPoint(right, bottom));
    } else {
        found = image.rect();
    }
    if (known.size() >= kPaintedPixelsTableSize)
        known.clear();
    known.insert(image.cacheKey(), found);
    return found;
}

QRectF ClotheslinePhotoSlot::update(const Content& content) {
    const bool samePaper = m_applied && sameImage(m_content.paper, content.paper);
    const bool samePeg = m_applied && sameImage(m_content.peg, content.peg);
    const bool sameOverlay = m_applied && sameImage(m_content.overlay, content.overlay);
    const bool same = samePaper && samePeg && sameOverlay && m_content.frame == content.frame &&
                      m_content.paperTransform == content.paperTransform &&
                      m_content.pegTransform == content.pegTransform &&
                      m_content.paperRect == content.paperRect &&
                      m_content.overlayArea == content.overlayArea;
    if (same)
        return {};
    const QRectF before = bounds();
    if (!samePaper || m_content.paperRect != content.paperRect ||
        m_content.frame.size() != content.frame.size())
        m_paperOpaque = opaquePaper(content.paper, content.paperRect, content.frame.size());
    m_content = content;
    const QSizeF size = content.frame.size();
    const QImage* images[] = {&m_content.paper, &m_content.peg, &m_content.overlay};
    const bool sameImages[] = {samePaper, samePeg, sameOverlay};
    for (int i = 0; i < 3; ++i) {
        // A swinging rope moves every print at every frame; the images stay, and so do the pixels
        // they paint, which would cost a scan of each image again once the table is full.
        if (!sameImages[i]) {
            m_pixels[i] = images[i]->isNull() ? QRect() : paintedPixels(*images[i]);
        }
        const QRect pixels = m_pixels[i];
        if (pixels.isEmpty()) {
            m_parts[i] = {};
            continue;
        }
        const QRectF area =
            i == 2 && !content.overlayArea.isEmpty() ? content.overlayArea : QRectF(QPointF(), size);
        const double sx = area.width() / images[i]->width();
        const double sy = area.height() / images[i]->height();
        m_parts[i] = {QRectF(area.x() + pixels.x() * sx, area.y() + pixels.y() * sy, pixels.width() * sx,
                             pixels.height() * sy),
                      QRectF(pixels)};
    }
    m_applied = true;
    ++m_writes;
    return before | bounds();
}

QRectF ClotheslinePhotoSlot::setHidden(bool hidden) {
    if (m_hidden == hidden)
        return {};
    const QRectF area = paintedBounds();
    m_hidden = hidden;
    return area;
}

QRectF ClotheslinePhotoSlot::setZ(int z) {
    if (m_z == z)
        return {};
    m_z = z;
    return bounds();
}

QRectF ClotheslinePhotoSlot::paintedBounds() const {
    if (!m_applied)
        return {};
    const QTransform* transforms[] = {&m_content.paperTransform, &m_content.pegTransform,
                                      &m_content.paperTransform};
    QRectF local;
    for (int i = 0; i < 3; ++i)
        if (!m_parts[i].target.isEmpty())
            local |= transforms[i]->mapRect(m_parts[i].target);
    if (local.isEmpty())
        return {};
    return local.translated(m_content.frame.topLeft())
        .adjusted(-kEdgeMarginPoints, -kEdgeMarginPoints, kEdgeMarginPoints, kEdgeMarginPoints);
}

QRectF ClotheslinePhotoSlot::bounds() const {
    return m_hidden ? QRectF() : paintedBounds();
}

QRectF ClotheslinePhotoSlot::coveredRect() const {
    if (m_hidden || !m_applied || !m_paperOpaque)
        return {};
    const QRectF inner = m_content.paperRect.adjusted(kPaperCornerPoints, kPaperCornerPoints,
                                                      -kPaperCornerPoints, -kPaperCornerPoints);
    const QTransform& t = m_content.paperTransform;
    const QPointF tl = t.map(inner.topLeft());
    const QPointF tr = t.map(inner.topRight());
    const QPointF bl = t.map(inner.bottomLeft());
    const QPointF br = t.map(inner.bottomRight());
    // For a paper turned by less than a quarter turn, the box between its inner edges lies
    // inside it.
    const double left = std::max(tl.x(), bl.x());
    const double right = std::min(tr.x(), br.x());
    const double top = std::max(tl.y(), tr.y());
    const double bottom = std::min(bl.y(), br.y());
    if (right <= left || bottom <= top)
        return {};
    return QRectF(QPointF(left, top), QPointF(right, bottom)).translated(m_content.frame.topLeft());
}

void ClotheslinePhotoSlot::paint(QPainter& painter) const {
    if (m_hidden || !m_applied)
        return;
    const QTransform base = painter.worldTransform();
    const QTransform origin = QTransform::fromTranslate(m_content.frame.x(), m_content.frame.y());
    const QImage* images[] = {&m_content.paper, &m_content.peg, &m_content.overlay};
    const QTransform* transforms[] = {&m_content.paperTransform, &m_content.pegTransform,
                                      &m_content.paperTransform};
    for (int i = 0; i < 3; ++i) {
        if (m_parts[i].target.isEmpty())
            continue;
        painter.setWorldTransform(*transforms[i] * origin * base);
        painter.drawImage(m_parts[i].target, *images[i], m_parts[i].source);
    }
    painter.setWorldTransform(base);
}

} // namespace vennimo
