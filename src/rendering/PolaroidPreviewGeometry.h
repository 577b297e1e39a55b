#pragma once

#include <QPointF>
#include <QRectF>
#include <QRegion>
#include <QSizeF>

namespace vennimo {

// The large polaroid of the preview panel: the panel's size and where paper, photo and control
// row lie in it (origin top-left, y down), for a photo's pixel size on a screen's visible frame.
struct PolaroidPreviewGeometry {
    static constexpr double sideBorder = 24;
    static constexpr double bottomBorder = 96;
    static constexpr double controlsInset = 20;
    static constexpr double kMargin = 16;

    QSizeF size{};
    QRectF paper{};
    QRectF image{};
    double controlsY = 0;

    // showsNavigation is accepted for panels with paging controls; the layout is the same.
    static PolaroidPreviewGeometry layout(QSizeF imageSize, const QRectF& visibleFrame,
                                          bool showsNavigation = true);
    // The panel's frame centred on `around` where it fits, pushed inside `bounds` where it does
    // not, and aligned to the bounds' minimum edges when it is larger than them.
    static QRectF fittedFrame(QSizeF size, QPointF around, const QRectF& bounds);
    // The whole pixels whose centres lie inside a rounded rectangle: where an antialiased fill of
    // it is at least half opaque, worked out from its outline instead of drawn and scanned.
    static QRegion roundedCut(const QRectF& rect, double radius);

    bool operator==(const PolaroidPreviewGeometry&) const = default;
};

} // namespace vennimo
