#pragma once

#include <QRectF>

namespace vennimo {

// Where the cards of the photo grid lie: as many columns of 200 to 300 points as fit the width,
// 14 points apart, rows 18 points apart, 24 points of padding around them, the columns centred
// when they cannot grow wider. Every query is constant time, so a grid of any size lays out
// only what it shows.
struct PhotoGridLayout {
    static constexpr double kMinColumnWidth = 200;
    static constexpr double kMaxColumnWidth = 300;
    static constexpr double kColumnGap = 14;
    static constexpr double kRowGap = 18;
    static constexpr double kPadding = 24;

    int columns = 1;
    double columnWidth = kMinColumnWidth;
    double cardHeight = 0;
    double left = kPadding;
    int count = 0;

    PhotoGridLayout() = default;
    PhotoGridLayout(double width, double cardHeight, int count);

    int rows() const { return count == 0 ? 0 : (count + columns - 1) / columns; }
    double contentHeight() const;
    double rowTop(int row) const { return kPadding + row * (cardHeight + kRowGap); }
    QRectF cardRect(int index) const;
    // The card under a point of the content, or -1 in a gap or beyond the last card.
    int indexAt(QPointF point) const;
    // The first and one past the last card that reach into the content's rows from top to bottom.
    std::pair<int, int> range(double top, double bottom) const;
};

} // namespace vennimo
