#pragma once

#include <QPoint>
#include <QRegion>
#include <QRgb>
#include <QString>

#include <xcb/xcb.h>

namespace vennimo::test {

// Helpers for tests of the rope window cut to what it draws, as it is without a compositing
// manager, over the plain backdrop.

// The plain backdrop's blue, as the X server shows it.
bool backdropBlue(QRgb pixel);
// Whether the X server cuts the window to a bounding shape of its own.
bool boundingShaped(const QString& windowId);
// The input shape of one X window, read back from the server, in the window's own coordinates.
QRegion inputShape(xcb_connection_t* c, xcb_window_t window);
// Whether the X server gives a press at this point of the screen to the window, as far as its
// input shape decides.
bool inputShapeHolds(const QString& windowId, QPoint screen);

} // namespace vennimo::test
