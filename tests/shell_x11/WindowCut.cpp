#include "WindowCut.h"

#include <xcb/shape.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>

namespace vennimo::test {

bool backdropBlue(QRgb pixel) {
    return std::abs(qRed(pixel) - 0x6a) <= 4 && std::abs(qGreen(pixel) - 0x86) <= 4 &&
           std::abs(qBlue(pixel) - 0xa4) <= 4;
}

bool boundingShaped(const QString& windowId) {
    const std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> c{xcb_connect(nullptr, nullptr),
                                                                         &xcb_disconnect};
    const std::unique_ptr<xcb_shape_query_extents_reply_t, decltype(&std::free)> extents{
        xcb_shape_query_extents_reply(
            c.get(), xcb_shape_query_extents(c.get(), xcb_window_t(windowId.toULong())), nullptr),
        &std::free};
    return extents && extents->bounding_shaped;
}

QRegion inputShape(xcb_connection_t* c, xcb_window_t window) {
    const std::unique_ptr<xcb_shape_get_rectangles_reply_t, decltype(&std::free)> reply{
        xcb_shape_get_rectangles_reply(c, xcb_shape_get_rectangles(c, window, XCB_SHAPE_SK_INPUT), nullptr),
        &std::free};
    QRegion region;
    if (!reply)
        return region;
    const xcb_rectangle_t* rects = xcb_shape_get_rectangles_rectangles(reply.get());
    for (int i = 0; i < xcb_shape_get_rectangles_rectangles_length(reply.get()); ++i)
        region += QRect(rects[i].x, rects[i].y, rects[i].width, rects[i].height);
    return region;
}

bool inputShapeHolds(const QString& windowId, QPoint screen) {
    const std::unique_ptr<xcb_connection_t, decltype(&xcb_disconnect)> c{xcb_connect(nullptr, nullptr),
                                                                         &xcb_disconnect};
    if (xcb_connection_has_error(c.get()) != 0)
        return false;
    const auto window = xcb_window_t(windowId.toULong());
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c.get())).data->root;
    const std::unique_ptr<xcb_translate_coordinates_reply_t, decltype(&std::free)> at{
        xcb_translate_coordinates_reply(
            c.get(),
            xcb_translate_coordinates(c.get(), root, window, int16_t(screen.x()), int16_t(screen.y())),
            nullptr),
        &std::free};
    return at && inputShape(c.get(), window).contains(QPoint(at->dst_x, at->dst_y));
}

} // namespace vennimo::test
