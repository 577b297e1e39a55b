#include "rendering/PolaroidPreviewGeometry.h"

#include <algorithm>

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

} // namespace vennimo
