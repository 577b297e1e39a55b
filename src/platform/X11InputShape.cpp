#include "platform/X11InputShape.h"

#include "platform/X11Connection.h"

#include "platform/Logging.h"

#include <QWindow>

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

namespace vennimo {

namespace {

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using Reply = std::unique_ptr<T, FreeDeleter>;

bool shapePresent(xcb_connection_t* c) {
    static const bool present = [c] {
        const xcb_query_extension_reply_t* data = xcb_get_extension_data(c, &xcb_shape_id);
        const bool ok = data && data->present;
        if (!ok)
            qCWarning(lcApp) << "The X server has no shape extension: the rope window takes every click";
        return ok;
    }();
    return present;
}

// The ancestor a reparenting window manager put around the window (a child of the root), or
// nothing when the window sits on the root itself.
std::optional<xcb_window_t> frameOf(xcb_connection_t* c, xcb_window_t window) {
    xcb_window_t current = window;
    // A handful of levels is all any window manager uses; the bound guards against loops.
    for (int depth = 0; depth < 16; ++depth) {
        Reply<xcb_query_tree_reply_t> tree{xcb_query_tree_reply(c, xcb_query_tree(c, current), nullptr)};
        if (!tree)
            return std::nullopt;
        if (tree->parent == tree->root || tree->parent == XCB_WINDOW_NONE)
            return current == window ? std::nullopt : std::optional<xcb_window_t>(current);
        current = tree->parent;
    }
    return std::nullopt;
}

std::vector<xcb_rectangle_t> deviceRectangles(const QRegion& region, qreal ratio) {
    std::vector<xcb_rectangle_t> rects;
    rects.reserve(size_t(region.rectCount()));
    for (const QRect& r : region) {
        const auto x0 = qint64(std::floor(r.x() * ratio)), y0 = qint64(std::floor(r.y() * ratio));
        const auto x1 = qint64(std::ceil((r.x() + r.width()) * ratio));
        const auto y1 = qint64(std::ceil((r.y() + r.height()) * ratio));
        if (x1 <= x0 || y1 <= y0)
            continue;
        constexpr qint64 lowest = INT16_MIN, highest = INT16_MAX, widest = UINT16_MAX;
        rects.push_back(xcb_rectangle_t{
            int16_t(std::clamp(x0, lowest, highest)), int16_t(std::clamp(y0, lowest, highest)),
            uint16_t(std::min(x1 - x0, widest)), uint16_t(std::min(y1 - y0, widest))});
    }
    return rects;
}

// How many rectangles one shape request may carry on this connection: a request larger than the
// server's maximum makes xcb close the connection, and the application with it.
int rectangleLimit(xcb_connection_t* c) {
    // In four-byte units; the request's own fields take four, each rectangle two.
    const quint64 units = xcb_get_maximum_request_length(c);
    const quint64 fits = units > 4 ? (units - 4) / 2 : 0;
    return int(std::min<quint64>(fits, X11InputShape::kMaximumRectangles));
}

// Sets one shape of the window, and of the frame a window manager put around it: nothing = the
// whole window again. `region` is in device independent pixels scaled by `ratio`.
void shape(QWindow* window, xcb_shape_kind_t kind, const std::optional<QRegion>& region, qreal ratio,
           const std::function<void()>& redraw = {}) {
    xcb_connection_t* c = X11Connection::get();
    if (!c || !window->handle() || !shapePresent(c))
        return;
    std::optional<std::vector<xcb_rectangle_t>> rects;
    if (region)
        rects = deviceRectangles(X11InputShape::bounded(*region, rectangleLimit(c)), ratio);
    const auto id = xcb_window_t(window->winId());
    // The frame and its offset are asked for before any grab: a round trip inside one would hold
    // every other client of the server for as long as this one waits for the processor.
    const std::optional<xcb_window_t> frame = frameOf(c, id);
    std::optional<QPoint> offset;
    if (rects && frame) {
        Reply<xcb_translate_coordinates_reply_t> at{
            xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, id, *frame, 0, 0), nullptr)};
        if (at)
            offset = QPoint(at->dst_x, at->dst_y);
    }
    // Another client's request (a screen grab, a repaint beneath) taken between the shape and the
    // redraw would see the newly shown area as the X server fills it, black in a framed window.
    if (redraw)
        xcb_grab_server(c);
    if (!rects) {
        // The window first: its frame never holds more than the window, or the frame would show.
        xcb_shape_mask(c, XCB_SHAPE_SO_SET, kind, id, 0, 0, XCB_PIXMAP_NONE);
        if (frame)
            xcb_shape_mask(c, XCB_SHAPE_SO_SET, kind, *frame, 0, 0, XCB_PIXMAP_NONE);
    } else {
        // Wherever the frame's cut holds more than the window's, the frame shows, black for a
        // window with an alpha channel. So the frame gives up what the window gives up before the
        // window does, and takes in what it takes in after; the three requests go out together,
        // the round trips that find the frame's offset before them, so no other client's request
        // (a screen grab) is served between them while this one waits.
        if (offset)
            xcb_shape_rectangles(c, XCB_SHAPE_SO_INTERSECT, kind, XCB_CLIP_ORDERING_UNSORTED, *frame,
                                 int16_t(offset->x()), int16_t(offset->y()), uint32_t(rects->size()),
                                 rects->data());
        xcb_shape_rectangles(c, XCB_SHAPE_SO_SET, kind, XCB_CLIP_ORDERING_UNSORTED, id, 0, 0,
                             uint32_t(rects->size()), rects->data());
        if (offset)
            xcb_shape_combine(c, XCB_SHAPE_SO_SET, kind, kind, *frame, int16_t(offset->x()),
                              int16_t(offset->y()), id);
    }
    if (redraw) {
        redraw();
        xcb_ungrab_server(c);
    }
    xcb_flush(c);
}

} // namespace

bool X11InputShape::available() {
    xcb_connection_t* c = X11Connection::get();
    return c && shapePresent(c);
}

void X11InputShape::apply(QWindow* window, const std::optional<QRegion>& region) {
    if (window)
        shape(window, XCB_SHAPE_SK_INPUT, region, window->devicePixelRatio());
}

void X11InputShape::applyBounding(QWindow* window, const std::optional<QRegion>& devicePixels,
                                  const std::function<void()>& redraw) {
    if (window)
        shape(window, XCB_SHAPE_SK_BOUNDING, devicePixels, 1, redraw);
}

QRegion X11InputShape::bounded(const QRegion& region, int maximumRectangles) {
    const int limit = std::max(maximumRectangles, 1);
    if (region.rectCount() <= limit)
        return region;
    // A region's rectangles come in bands of equal top and height, sorted from the top: each band
    // becomes the one rectangle from its first span's left to its last span's right.
    std::vector<QRect> bands;
    for (const QRect& r : region) {
        if (!bands.empty() && bands.back().top() == r.top() && bands.back().height() == r.height())
            bands.back() |= r;
        else
            bands.push_back(r);
    }
    // Still too many: neighbouring bands are joined in runs of equal length.
    const size_t run = (bands.size() + size_t(limit) - 1) / size_t(limit);
    std::vector<QRect> runs;
    for (size_t i = 0; i < bands.size(); i += run) {
        QRect united;
        for (size_t j = i; j < std::min(i + run, bands.size()); ++j)
            united |= bands[j];
        runs.push_back(united);
    }
    // One rectangle to a band, the bands apart and sorted: the form setRects takes as is.
    QRegion joined;
    joined.setRects(runs.data(), int(runs.size()));
    return joined;
}

} // namespace vennimo
