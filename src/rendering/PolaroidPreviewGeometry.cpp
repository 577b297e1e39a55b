#include "rendering/PolaroidPreviewGeometry.h"

#include <QVector>

#include <algorithm>
#include <cmath>

namespace vennimo {

namespace {

constexpr double kScreenSideRoom = 80;
constexpr double kScreenVerticalRoom = 64;
constexpr double kMinPanel = 260;
constexpr double kMaxPanelWidth = 1200;
constexpr double kMaxPanelHeight = 1040;
constexpr double kMinPaperWidth = 420;

} // namespace

PolaroidPreviewGeometry PolaroidPreviewGeometry::layout(QSizeF imageSize, const QRectF& visibleFrame,
                                                        bool /*showsNavigation*/) {
    const double maxPaperWidth =
        std::min(std::max(visibleFrame.width() - kScreenSideRoom, kMinPanel), kMaxPanelWidth) - 2 * kMargin;
    const double maxPaperHeight =
        std::min(std::max(visibleFrame.height() - kScreenVerticalRoom, kMinPanel), kMaxPanelHeight) -
        2 * kMargin;
    const double roomWidth = std::max(maxPaperWidth - 2 * sideBorder, 1.0);
    const double roomHeight = std::max(maxPaperHeight - sideBorder - bottomBorder, 1.0);

    const double imageWidth = std::max(imageSize.width(), 1.0);
    const double imageHeight = std::max(imageSize.height(), 1.0);
    const double scale = std::min(roomWidth / imageWidth, roomHeight / imageHeight);
    const double photoWidth = imageWidth * scale;
    const double photoHeight = imageHeight * scale;

    const double paperWidth = std::min(std::max(photoWidth + 2 * sideBorder, kMinPaperWidth), maxPaperWidth);
    const double paperHeight = std::min(photoHeight + sideBorder + bottomBorder, maxPaperHeight);

    PolaroidPreviewGeometry g;
    g.paper = QRectF(kMargin, kMargin, paperWidth, paperHeight);
    g.image = QRectF((paperWidth - photoWidth) / 2 + kMargin, kMargin + sideBorder, photoWidth, photoHeight);
    g.controlsY = g.image.bottom() + controlsInset;
    g.size = QSizeF(paperWidth + 2 * kMargin, paperHeight + 2 * kMargin);
    return g;
}

QRectF PolaroidPreviewGeometry::fittedFrame(QSizeF size, QPointF around, const QRectF& bounds) {
    const double w = size.width();
    const double h = size.height();
    const double x =
        std::min(std::max(bounds.left(), bounds.right() - w), std::max(bounds.left(), around.x() - w / 2));
    const double y =
        std::min(std::max(bounds.top(), bounds.bottom() - h), std::max(bounds.top(), around.y() - h / 2));
    return QRectF(x, y, w, h);
}

QRegion PolaroidPreviewGeometry::roundedCut(const QRectF& rect, double radius) {
    if (rect.isEmpty())
        return {};
    radius = std::clamp(radius, 0.0, std::min(rect.width(), rect.height()) / 2);
    // Rows whose centres lie within the corners' reach are drawn narrower; the rows between them
    // are all alike and make one band.
    QVector<QRect> rects;
    const int top = int(std::ceil(rect.top() - 0.5));
    const int bottom = int(std::floor(rect.bottom() - 0.5));
    QRect band;
    for (int y = top; y <= bottom; ++y) {
        const double centre = y + 0.5;
        const double fromEdge = std::min(centre - rect.top(), rect.bottom() - centre);
        double inset = 0;
        if (fromEdge < radius) {
            const double dy = radius - fromEdge;
            inset = radius - std::sqrt(radius * radius - dy * dy);
        }
        const int left = int(std::ceil(rect.left() + inset - 0.5));
        const int right = int(std::floor(rect.right() - inset - 0.5));
        if (right < left) {
            continue;
        }
        if (band.isValid() && band.left() == left && band.right() == right && band.bottom() == y - 1) {
            band.setBottom(y);
            continue;
        }
        if (band.isValid())
            rects.append(band);
        band = QRect(QPoint(left, y), QPoint(right, y));
    }
    if (band.isValid())
        rects.append(band);
    QRegion region;
    region.setRects(rects.constData(), int(rects.size()));
    return region;
}

} // namespace vennimo
