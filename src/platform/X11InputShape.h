#pragma once

#include <QRegion>

#include <functional>
#include <optional>

class QWindow;

namespace vennimo {

// Where an X11 window takes the pointer, and where it shows at all. Clicks outside the input
// shape fall through to whatever lies below, while drawing is untouched (unlike QWindow::setMask).
// The bounding shape cuts what shows, for desktops where no compositing manager blends a window's
// alpha. Window managers that wrap the window in a frame of their own get the same shapes on the
// frame, or the frame would catch the clicks our window lets through.
class X11InputShape {
public:
    // True when the native window can be shaped: an xcb platform with the shape extension. Without
    // the extension a warning is logged once and windows keep taking input everywhere.
    static bool available();

    // Sets the input shape in device-independent window coordinates: nothing = the whole window
    // (and it follows resizes), an empty region = no input at all. Does nothing off X11 or
    // before the native window exists.
    static void apply(QWindow* window, const std::optional<QRegion>& region);
    // Sets the bounding shape, what of the window shows at all, in device pixels: nothing = the
    // whole window. X takes input only where both shapes hold.
    // `redraw`, when given, runs right after, with every other client of the X server held off until
    // it is done: what the shape newly shows is drawn before anyone can see it.
    static void applyBounding(QWindow* window, const std::optional<QRegion>& devicePixels,
                              const std::function<void()>& redraw = {});

    // The most rectangles one shape request carries, whatever the server would take: the shapes
    // of our windows are made coarser beyond that.
    static constexpr int kMaximumRectangles = 16384;
    // A region of at most `maximumRectangles` rectangles that holds all of `region`: the region
    // itself when it is small enough, else each band's spans joined, and then neighbouring bands.
    static QRegion bounded(const QRegion& region, int maximumRectangles);
};

} // namespace vennimo
