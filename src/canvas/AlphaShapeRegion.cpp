#include "canvas/AlphaShapeRegion.h"

#include <QRect>

#include <algorithm>
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

} // namespace

QRegion AlphaShapeRegion::of(const QImage& frame, int spread) {
    if (frame.isNull())
        return {};
    if (!frame.hasAlphaChannel())
        return QRegion(frame.rect());
    spread = std::clamp(spread, 0, kMaximumSpread);
    const QImage argb =
        frame.format() == QImage::Format_ARGB32_Premultiplied || frame.format() == QImage::Format_ARGB32
            ? frame
            : frame.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    const int width = argb.width();
    const int height = argb.height();
    // Alpha sits in the top byte, so "at least half opaque" is one unsigned compare.
    constexpr quint32 kOpaqueFrom = quint32(kMinimumAlpha) << 24;

    // The opaque spans of every row, widened sideways; `starts[y]` indexes row y's first span.
    std::vector<Span> spans;
    std::vector<size_t> starts(size_t(height) + 1, 0);
    for (int y = 0; y < height; ++y) {
        starts[size_t(y)] = spans.size();
        const auto* line = reinterpret_cast<const quint32*>(argb.constScanLine(y));
        const size_t rowStart = spans.size();
        int x = 0;
        while (x < width) {
            while (x < width && line[x] < kOpaqueFrom)
                ++x;
            if (x == width)
                break;
            const int first = x;
            while (x < width && line[x] >= kOpaqueFrom)
                ++x;
            const Span widened{std::max(first - spread, 0), std::min(x + spread, width)};
            if (spans.size() > rowStart)
                appendSpan(spans, widened);
            else
                spans.push_back(widened);
        }
    }
    starts[size_t(height)] = spans.size();

    // Each row takes the spans of its neighbours within `spread`; equal rows in a row make one
    // band, which keeps the region (and the X request) small.
    std::vector<QRect> rects;
    std::vector<Span> band;
    std::vector<Span> row;
    std::vector<Span> gathered;
    int bandTop = 0;
    const auto flush = [&](int bottom) {
        for (const Span& s : band)
            rects.emplace_back(s.first, bandTop, s.second - s.first, bottom - bandTop);
    };
    for (int y = 0; y < height; ++y) {
        gathered.clear();
        const int from = std::max(y - spread, 0);
        const int to = std::min(y + spread, height - 1);
        for (int r = from; r <= to; ++r)
            gathered.insert(gathered.end(), spans.begin() + std::ptrdiff_t(starts[size_t(r)]),
                            spans.begin() + std::ptrdiff_t(starts[size_t(r) + 1]));
        if (to > from)
            std::sort(gathered.begin(), gathered.end());
        row.clear();
        for (const Span& s : gathered)
            appendSpan(row, s);
        if (row != band) {
            flush(y);
            band.swap(row);
            bandTop = y;
        }
    }
    flush(height);

    QRegion region;
    // Y-X sorted bands of equal height with no spans touching: the form setRects takes as is.
    if (!rects.empty())
        region.setRects(rects.data(), int(rects.size()));
    return region;
}

} // namespace vennimo
