#include "canvas/AlphaShapeRegion.h"

#include <QRect>

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

namespace vennimo {

namespace {

// Half-open spans [first, second) of one row.
using Span = std::pair<int, int>;

// Appends `span` to sorted, disjoint spans, merging it with the last one where they touch.
void appendSpan(std::vector<Span>& spans, Span span) {
    if (!spans.empty() && span.first <= spans.back().second)
        spans.back().second = std::max(spans.back().second, span.second);
    else
        spans.push_back(span);
}

// The cut of the rows' spans, each row taking the spans of its neighbours within `spread`, in
// square blocks of `block` pixels that show whole where any of their pixels shows; none when it
// would take more than `limit` rectangles. Equal rows in a row make one band, which keeps the
// region (and the X request) small.
std::optional<std::vector<QRect>> banded(const std::vector<Span>& spans, const std::vector<size_t>& starts,
                                         int width, int height, int spread, int block, size_t limit) {
    std::vector<QRect> rects;
    std::vector<Span> band;
    std::vector<Span> row;
    std::vector<Span> gathered;
    int bandTop = 0;
    const auto flush = [&](int bottom) {
        for (const Span& s : band)
            rects.emplace_back(s.first, bandTop, s.second - s.first, bottom - bandTop);
        return rects.size() <= limit;
    };
    // Blocks as large as the frame leave one rectangle at most: the last try always fits.
    const bool last = block >= std::max(width, height);
    for (int top = 0; top < height; top += block) {
        const int bottom = std::min(top + block, height);
        gathered.clear();
        const int from = std::max(top - spread, 0);
        const int to = std::min(bottom - 1 + spread, height - 1);
        for (int r = from; r <= to; ++r)
            gathered.insert(gathered.end(), spans.begin() + std::ptrdiff_t(starts[size_t(r)]),
                            spans.begin() + std::ptrdiff_t(starts[size_t(r) + 1]));
        if (to > from)
            std::sort(gathered.begin(), gathered.end());
        row.clear();
        for (const Span& s : gathered)
            appendSpan(row, block == 1 ? s
                                       : Span{s.first / block * block,
                                              std::min((s.second + block - 1) / block * block, width)});
        if (row != band) {
            if (!flush(top) && !last)
                return std::nullopt;
            band.swap(row);
            bandTop = top;
        }
    }
    if (!flush(height) && !last)
        return std::nullopt;
    return rects;
}

} // namespace

QRegion AlphaShapeRegion::of(const QImage& frame, int spread, int maximumRectangles) {
    if (frame.isNull())
        return {};
    if (!frame.hasAlphaChannel())
        return QRegion(frame.rect());
    spread = std::clamp(spread, 0, kMaximumSpread);
    const QImage argb = frame.format() == QImage::Format_ARGB32_Premultiplied
                            ? frame
                            : frame.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int width = argb.width();
    const int height = argb.height();
    // Alpha sits in the top byte: most pixels of a frame are clear or opaque, one unsigned
    // compare each; only the translucent ones are looked at closer.
    constexpr quint32 kOpaqueFrom = quint32(kMinimumAlpha) << 24;
    const auto shows = [](quint32 pixel) {
        return pixel >= 0xff000000u || (pixel >= kOpaqueFrom && AlphaShapeRegion::shows(pixel));
    };
    // Under 16 in every channel: the X server shows it black.
    const auto dark = [](quint32 pixel) { return (pixel & 0x00f0f0f0u) == 0; };
    const auto at = [&argb](int x, int y) {
        return reinterpret_cast<const quint32*>(argb.constScanLine(y))[x];
    };
    // Under a pile of prints the shadows add up to opaque or nearly, and the faint lower edge of a
    // paper over them makes a row that is near black and yet shows. A run of such pixels no taller
    // than kMaximumFringe between a light pixel above and nothing below is that edge: it is cut
    // away. A black that is drawn is taller, or ends in something drawn. Each column remembers the
    // run it is in, so every pixel is looked at a bounded number of times.
    std::vector<int> runEnds(size_t(width), -1);
    std::vector<char> runIsFringe(size_t(width), 0);
    const auto keeps = [&](quint32 pixel, int x, int y) {
        if (!shows(pixel))
            return false;
        if (!dark(pixel))
            return true;
        const auto column = size_t(x);
        if (runEnds[column] < y) {
            int rows = 1;
            while (rows <= kMaximumFringe && y + rows < height && shows(at(x, y + rows)) &&
                   dark(at(x, y + rows)))
                ++rows;
            const bool lightAbove = y > 0 && shows(at(x, y - 1)) && !dark(at(x, y - 1));
            const bool nothingBelow = y + rows == height || !shows(at(x, y + rows));
            runIsFringe[column] = rows <= kMaximumFringe && lightAbove && nothingBelow;
            runEnds[column] = y + rows - 1;
        }
        return runIsFringe[column] == 0;
    };

    // The opaque spans of every row, widened sideways; `starts[y]` indexes row y's first span.
    std::vector<Span> spans;
    std::vector<size_t> starts(size_t(height) + 1, 0);
    for (int y = 0; y < height; ++y) {
        starts[size_t(y)] = spans.size();
        const auto* line = reinterpret_cast<const quint32*>(argb.constScanLine(y));
        const size_t rowStart = spans.size();
        int x = 0;
        while (x < width) {
            while (x < width && !keeps(line[x], x, y))
                ++x;
            if (x == width)
                break;
            const int first = x;
            while (x < width && keeps(line[x], x, y))
                ++x;
            const Span widened{std::max(first - spread, 0), std::min(x + spread, width)};
            if (spans.size() > rowStart)
                appendSpan(spans, widened);
            else
                spans.push_back(widened);
        }
    }
    starts[size_t(height)] = spans.size();

    // A frame whose alpha alternates finely can take millions of rectangles, more than the X
    // server takes in one request: it then closes the connection. Such a frame is cut coarser, in
    // square blocks that show whole where any of their pixels shows, the blocks growing until the
    // cut fits; it never shows fewer pixels than drawn.
    const size_t limit = size_t(std::max(maximumRectangles, 1));
    for (int block = 1;; block *= 2) {
        std::optional<std::vector<QRect>> rects = banded(spans, starts, width, height, spread, block, limit);
        if (!rects)
            continue;
        QRegion region;
        // Y-X sorted bands of equal height with no spans touching: the form setRects takes as is.
        if (!rects->empty())
            region.setRects(rects->data(), int(rects->size()));
        return region;
    }
}

} // namespace vennimo
