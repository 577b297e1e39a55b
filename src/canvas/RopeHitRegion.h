#pragma once

#include <QList>
#include <QRectF>

namespace vennimo {

// One rectangle of the rope screen that takes the pointer through the click-through window, in
// the rope screen's coordinates; `photo` marks a region that belongs to a print.
struct RopeHitRegion {
    QRectF rect;
    bool photo = false;

    bool operator==(const RopeHitRegion&) const = default;
};

inline QList<QRectF> rectsOf(const QList<RopeHitRegion>& regions) {
    QList<QRectF> rects;
    rects.reserve(regions.size());
    for (const RopeHitRegion& region : regions)
        rects.append(region.rect);
    return rects;
}

} // namespace vennimo
