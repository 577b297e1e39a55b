#pragma once

#include <QRectF>

#include <array>

namespace vennimo {

// Where the rope toolbar's capsule and its five items lie within the bar. The anchor item keeps
// its place when the optional items beside it come and go: they grow the capsule outward on
// their side, and the leading item moves left with the left one.
struct ClotheslineToolbarGeometry {
    static constexpr double kItemSpacing = 6;
    static constexpr double kCapsulePadding = 15;
    static constexpr double kLeadingWidth = 175;
    static constexpr double kLeftRoom = 240;

    // Measured widths; 0 means the optional item is absent.
    double leftOptionalWidth = 0;
    double rightOptionalWidth = 0;
    double anchorWidth = 0;
    double trailingWidth = 0;
    // 175 unless what the leading item shows needs more (ClotheslineToolbarLayout decides); the
    // capsule then grows by the difference and stays centred, and the room kept on its left
    // grows with it.
    double leadingWidth = kLeadingWidth;

    // How far the centred capsule's anchor lies right of its middle: the leading item, the
    // spacing after it and the capsule's left padding.
    double anchorOffset() const { return leadingWidth + kItemSpacing + kCapsulePadding; }
    // The capsule's width beyond the anchor and trailing items: the leading item, two spacings
    // and both paddings.
    double capsuleExtra() const { return leadingWidth + 2 * (kItemSpacing + kCapsulePadding); }

    // Frame 0 is the capsule, frames 1 to 5 the leading, left optional, anchor, right optional
    // and trailing items; all have the bar's top and height.
    std::array<QRectF, 6> frames(const QRectF& bar) const;

    bool operator==(const ClotheslineToolbarGeometry&) const = default;
};

} // namespace vennimo
