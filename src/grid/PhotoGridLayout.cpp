#include "grid/PhotoGridLayout.h"

#include <algorithm>
#include <cmath>

namespace vennimo {

PhotoGridLayout::PhotoGridLayout(double width, double height, int cards)
    : cardHeight(height)
    , count(std::max(cards, 0)) {
    const double available = std::max(width - 2 * kPadding, kMinColumnWidth);
    columns = std::max(1, int(std::floor((available + kColumnGap) / (kMinColumnWidth + kColumnGap))));
    columnWidth =
        std::clamp((available - (columns - 1) * kColumnGap) / columns, kMinColumnWidth, kMaxColumnWidth);
    const double used = columns * columnWidth + (columns - 1) * kColumnGap;
    left = kPadding + std::max(0.0, (available - used) / 2);
}

double PhotoGridLayout::contentHeight() const {
    const int r = rows();
    if (r == 0)
        return 2 * kPadding;
    return 2 * kPadding + r * cardHeight + (r - 1) * kRowGap;
}

QRectF PhotoGridLayout::cardRect(int index) const {
    const int row = index / columns;
    const int column = index % columns;
    return {left + column * (columnWidth + kColumnGap), rowTop(row), columnWidth, cardHeight};
}

int PhotoGridLayout::indexAt(QPointF point) const {
    if (count == 0 || point.x() < left || point.y() < kPadding)
        return -1;
    const int column = int((point.x() - left) / (columnWidth + kColumnGap));
    const int row = int((point.y() - kPadding) / (cardHeight + kRowGap));
    if (column >= columns)
        return -1;
    const int index = row * columns + column;
    if (index >= count || !cardRect(index).contains(point))
        return -1;
    return index;
}

std::pair<int, int> PhotoGridLayout::range(double top, double bottom) const {
    if (count == 0 || bottom < top)
        return {0, 0};
    const double pitch = cardHeight + kRowGap;
    const int first = std::max(0, int(std::floor((top - kPadding - cardHeight) / pitch)) + 1);
    const int last = std::max(0, int(std::floor((bottom - kPadding) / pitch)));
    const int begin = std::min(count, first * columns);
    const int end = std::min(count, (last + 1) * columns);
    return {begin, std::max(begin, end)};
}

} // namespace vennimo
