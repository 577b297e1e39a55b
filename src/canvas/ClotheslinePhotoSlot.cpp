#include "canvas/ClotheslinePhotoSlot.h"

#include <QPainter>

namespace vennimo {

namespace {

// Antialiased edges reach a little beyond the mapped image rectangles.
constexpr double kEdgeMarginPoints = 2;

bool sameImage(const QImage& a, const QImage& b) {
    return a.isNull() == b.isNull() && (a.isNull() || a.cacheKey() == b.cacheKey());
}

QRectF mappedImageRect(const QImage& image, const QTransform& transform, QSizeF size) {
    if (image.isNull())
        return {};
    return transform.mapRect(QRectF(QPointF(0, 0), size));
}

} // namespace

QRectF ClotheslinePhotoSlot::update(const Content& content) {
    const bool same =
        m_applied && m_content.frame == content.frame && sameImage(m_content.paper, content.paper) &&
        sameImage(m_content.peg, content.peg) && sameImage(m_content.overlay, content.overlay) &&
        m_content.paperTransform == content.paperTransform && m_content.pegTransform == content.pegTransform;
    if (same)
        return {};
    const QRectF before = bounds();
    m_content = content;
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
    const QSizeF size = m_content.frame.size();
    const QRectF local = mappedImageRect(m_content.paper, m_content.paperTransform, size) |
                         mappedImageRect(m_content.peg, m_content.pegTransform, size) |
                         mappedImageRect(m_content.overlay, m_content.paperTransform, size);
    if (local.isEmpty())
        return {};
    return local.translated(m_content.frame.topLeft())
        .adjusted(-kEdgeMarginPoints, -kEdgeMarginPoints, kEdgeMarginPoints, kEdgeMarginPoints);
}

QRectF ClotheslinePhotoSlot::bounds() const {
    return m_hidden ? QRectF() : paintedBounds();
}

void ClotheslinePhotoSlot::paint(QPainter& painter) const {
    if (m_hidden || !m_applied)
        return;
    const QRectF target(QPointF(0, 0), m_content.frame.size());
    const QTransform base = painter.worldTransform();
    const QTransform origin = QTransform::fromTranslate(m_content.frame.x(), m_content.frame.y());
    if (!m_content.paper.isNull()) {
        painter.setWorldTransform(m_content.paperTransform * origin * base);
        painter.drawImage(target, m_content.paper);
    }
    if (!m_content.peg.isNull()) {
        painter.setWorldTransform(m_content.pegTransform * origin * base);
        painter.drawImage(target, m_content.peg);
    }
    if (!m_content.overlay.isNull()) {
        painter.setWorldTransform(m_content.paperTransform * origin * base);
        painter.drawImage(target, m_content.overlay);
    }
    painter.setWorldTransform(base);
}

} // namespace vennimo
