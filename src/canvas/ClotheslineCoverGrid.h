#pragma once

#include <QRectF>
#include <QRegion>

#include <vector>

namespace vennimo {

// Which prints of a pile lie wholly under the opaque papers in front of them. The visible area is
// cut into square cells; walked from the top print down, each print first asks whether every cell
// it touches is covered already, then covers the cells lying wholly inside its opaque paper. Cells
// round both ways against the print asking, so a print said to be covered is.
class ClotheslineCoverGrid {
public:
    ClotheslineCoverGrid(const QRectF& area, double cellPoints);

    // Whether all of `bounds` inside the area is covered; what lies outside the area is not seen.
    bool covers(const QRectF& bounds) const;
    void cover(const QRectF& opaque);
    // The part of `bounds` that no covered cell takes, in whole points; all of it where the cells
    // do not lie on whole points.
    QRegion open(const QRect& bounds) const;

private:
    QRectF m_area;
    double m_cell = 1;
    int m_columns = 0;
    int m_rows = 0;
    std::vector<unsigned char> m_cells;
};

} // namespace vennimo
