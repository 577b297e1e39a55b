#pragma once

#include <QPainterPath>
#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QTransform>

namespace vennimo {

// Where paper, photo window and peg of one print lie on its canvas. Lengths are in units of the
// requested canvas, origin top-left, y down. Both paths use the non-zero winding rule; copying
// the record shares them.
struct PolaroidGeometry {
    static constexpr double kDesignWidth = 290;
    static constexpr double kDesignHeight = 292;
    static constexpr QSizeF kDefaultSize{kDesignWidth, kDesignHeight};
    static constexpr QPointF kDefaultPegAnchor{145, 20};
    static constexpr QSizeF kDefaultImageSize{210, 190};

    QRectF canvas{};
    QRectF paperRect{};
    QRectF imageRect{};
    QRectF pegRect{};
    QPointF pegAnchor{};
    QTransform paperTransform{};
    QTransform pegTransform{};
    QPainterPath paperPath{};
    QPainterPath pegPath{};

    // angle in degrees; offset moves the paper sideways by that fraction of its own width.
    static PolaroidGeometry make(QSizeF size = kDefaultSize, QSizeF imageSize = kDefaultImageSize,
                                 double angle = 0, double offset = 0);

    // Union of the exact bounds of paper and peg.
    QRectF visibleBounds() const;
    bool contains(QPointF point) const;
    // The selection circle (selected) or the new-arrival tag, turned with the paper.
    QPainterPath indicatorPath(bool selected) const;
    // The design unit in canvas units, min(sx, sy).
    double unit() const;

    bool operator==(const PolaroidGeometry&) const = default;
};

} // namespace vennimo
