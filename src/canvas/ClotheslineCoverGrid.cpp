#include "canvas/ClotheslineCoverGrid.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace vennimo {

namespace {

// Cell counts stay small whatever a caller passes: a frame walks the grid for every print.
constexpr double kMaximumCells = 1 << 20;

// A cell index from a distance in cells, kept within [-1, limit + 1] before it becomes an int.
int cellAt(double cells, int limit) {
    return std::isnan(cells) ? -1 : int(std::clamp(cells, -1.0, double(limit) + 1));
}

} // namespace

ClotheslineCoverGrid::ClotheslineCoverGrid(const QRectF& area, double cellPoints)
    : m_area(area) {
    if (area.isEmpty() || !std::isfinite(area.width()) || !std::isfinite(area.height()))
        return;
    m_cell = std::max({cellPoints, 1.0, std::sqrt(area.width() * area.height() / kMaximumCells)});
    m_columns = int(std::ceil(area.width() / m_cell));
    m_rows = int(std::ceil(area.height() / m_cell));
    m_cells.assign(std::size_t(m_columns) * std::size_t(m_rows), 0);
}

bool ClotheslineCoverGrid::covers(const QRectF& bounds) const {
    if (m_cells.empty())
        return false;
    const QRectF seen = bounds & m_area;
    if (seen.isEmpty())
        return !bounds.isEmpty();
    // Every cell the bounds touch, however little.
    const int left =
        std::clamp(cellAt(std::floor((seen.left() - m_area.left()) / m_cell), m_columns), 0, m_columns - 1);
    const int right = std::clamp(cellAt(std::ceil((seen.right() - m_area.left()) / m_cell), m_columns),
                                 left + 1, m_columns);
    const int top =
        std::clamp(cellAt(std::floor((seen.top() - m_area.top()) / m_cell), m_rows), 0, m_rows - 1);
    const int bottom =
        std::clamp(cellAt(std::ceil((seen.bottom() - m_area.top()) / m_cell), m_rows), top + 1, m_rows);
    for (int row = top; row < bottom; ++row) {
        const unsigned char* cells = m_cells.data() + std::size_t(row) * std::size_t(m_columns);
        if (std::memchr(cells + left, 0, std::size_t(right - left)))
            return false;
    }
    return true;
}

void ClotheslineCoverGrid::cover(const QRectF& opaque) {
    if (m_cells.empty() || opaque.isEmpty())
        return;
    // Only the cells lying wholly inside.
    const int left = std::max(0, cellAt(std::ceil((opaque.left() - m_area.left()) / m_cell), m_columns));
    const int right =
        std::min(m_columns, cellAt(std::floor((opaque.right() - m_area.left()) / m_cell), m_columns));
    const int top = std::max(0, cellAt(std::ceil((opaque.top() - m_area.top()) / m_cell), m_rows));
    const int bottom =
        std::min(m_rows, cellAt(std::floor((opaque.bottom() - m_area.top()) / m_cell), m_rows));
    if (left >= right || top >= bottom)
        return;
    for (int row = top; row < bottom; ++row)
        std::memset(m_cells.data() + std::size_t(row) * std::size_t(m_columns) + left, 1,
                    std::size_t(right - left));
}

QRegion ClotheslineCoverGrid::open(const QRect& bounds) const {
    const bool whole = m_cell == std::floor(m_cell) && m_area.left() == std::floor(m_area.left()) &&
                       m_area.top() == std::floor(m_area.top());
    if (m_cells.empty() || !whole || bounds.isEmpty())
        return QRegion(bounds);
    const int cell = int(m_cell);
    const QPoint origin(int(m_area.left()), int(m_area.top()));
    const auto first = [cell](int from, int limit) { return std::clamp(from / cell, 0, limit); };
    const auto past = [cell](int to, int limit) { return std::clamp((to + cell - 1) / cell, 0, limit); };
    const QRect seen = bounds.translated(-origin) & QRect(0, 0, m_columns * cell, m_rows * cell);
    if (seen.isEmpty())
        return QRegion(bounds);
    const int left = first(seen.left(), m_columns);
    const int right = past(seen.right() + 1, m_columns);
    const int top = first(seen.top(), m_rows);
    const int bottom = past(seen.bottom() + 1, m_rows);
    // Runs of covered cells row by row, left to right; a row whose runs are those of the row above
    // lengthens that band, so that a paper's many rows make a few rectangles.
    std::vector<QRect> covered;
    std::vector<std::pair<int, int>> runs;
    std::vector<std::pair<int, int>> above;
    std::size_t band = 0;
    for (int row = top; row < bottom; ++row) {
        const unsigned char* cells = m_cells.data() + std::size_t(row) * std::size_t(m_columns);
        const unsigned char* end = cells + right;
        runs.clear();
        for (const unsigned char* at = cells + left; at < end;) {
            const auto* start = static_cast<const unsigned char*>(std::memchr(at, 1, std::size_t(end - at)));
            if (!start)
                break;
            const auto* stop =
                static_cast<const unsigned char*>(std::memchr(start, 0, std::size_t(end - start)));
            at = stop ? stop : end;
            const int x0 = std::max(int(start - cells) * cell, seen.left());
            const int x1 = std::min(int(at - cells) * cell, seen.right() + 1);
            if (x1 > x0)
                runs.emplace_back(x0, x1);
        }
        const int y0 = std::max(row * cell, seen.top());
        const int y1 = std::min((row + 1) * cell, seen.bottom() + 1);
        if (y1 <= y0 || runs.empty()) {
            above.clear();
            continue;
        }
        if (runs == above && band < covered.size()) {
            for (std::size_t i = band; i < covered.size(); ++i)
                covered[i].setBottom(y1 - 1 + origin.y());
            continue;
        }
        band = covered.size();
        for (const auto& [x0, x1] : runs)
            covered.emplace_back(QPoint(x0, y0) + origin, QPoint(x1 - 1, y1 - 1) + origin);
        above.swap(runs);
    }
    if (covered.empty())
        return QRegion(bounds);
    QRegion taken;
    taken.setRects(covered.data(), int(covered.size()));
    return QRegion(bounds) - taken;
}

} // namespace vennimo
