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

} // namespace vennimo::test
