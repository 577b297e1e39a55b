#include "widgets/ClotheslineToolbarGeometry.h"

#include <algorithm>

namespace vennimo {

std::array<QRectF, 6> ClotheslineToolbarGeometry::frames(const QRectF& bar) const {
    const double a = leftOptionalWidth;
    const double b = rightOptionalWidth;
    const double c = anchorWidth;
    const double d = trailingWidth;
    const double l = leadingWidth;
    const double centred = bar.center().x() - (c + d + capsuleExtra()) / 2 + anchorOffset();
    const double x3 = std::max(centred, bar.left() + std::max(a, kLeftRoom) + capsuleExtra());
    const double x2 = x3 - kItemSpacing - a;
    const double x1 = x3 - kItemSpacing - l - (a > 0 ? a + kItemSpacing : 0);
    const double x4 = x3 + c + kItemSpacing;
    const double x5 = x3 + c + kItemSpacing + (b > 0 ? b + kItemSpacing : 0);
    const auto item = [&bar](double x, double width) { return QRectF(x, bar.top(), width, bar.height()); };
    return {item(x1 - kCapsulePadding, x5 + d + kCapsulePadding - (x1 - kCapsulePadding)),
            item(x1, l),
            item(x2, a),
            item(x3, c),
            item(x4, b),
            item(x5, d)};
}

} // namespace vennimo
