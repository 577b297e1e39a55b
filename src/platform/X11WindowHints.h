#pragma once

#include <QMargins>
#include <QPoint>

#include <optional>

class QWindow;

namespace vennimo {

// Window manager hints Qt does not offer: the workspace a window lives on, and a few reads for
// checking what the window manager made of our windows. All of them do nothing (or answer
// nothing) off X11.
class X11WindowHints {
public:
    static constexpr unsigned kAllDesktops = 0xFFFFFFFF;

    static bool isX11();

    // Shows the window on every workspace, or only the current one. Works before and after the
    // window was mapped.
    static void setOnAllDesktops(QWindow* window, bool allDesktops);

    // What the X server shows where the window has not drawn yet (a part it just grew by): clear
    // pixels, which a compositing manager blends away, or, without one, whatever was on the screen
    // there before, where clear pixels would show black.
    static void clearBackground(QWindow* window, bool clear);

    // Where the window's top-left corner really is on the screen, asked of the X server. Qt's own
    // idea can be off after a window manager reparented the window.
    static std::optional<QPoint> rootPosition(QWindow* window);
    // Where the window sits inside its X parent: the window manager's frame once it reparented it.
    static std::optional<QPoint> parentPosition(QWindow* window);
    // The frame the window manager says it gave the window (_NET_FRAME_EXTENTS); none before it
    // said. Qt learns of it only when it next asks, which can be long after the frame came.
    static std::optional<QMargins> frameExtents(QWindow* window);

    // The window the window manager says is active (_NET_ACTIVE_WINDOW).
    static std::optional<unsigned> activeWindow();
    // Asks the window manager to make another client's window active, as a pager would.
    static void activateWindow(unsigned window);
    // Asks the window manager to keep another client's window above the normal ones, as a pager
    // would.
    static void keepAbove(unsigned window);

    // Sends the requests Qt has queued for the X server. Qt writes them out only when an X event
    // wakes its loop, so a window raised in a quiet moment (from a timer, say) would otherwise
    // stay where it was until the next event, however long that takes.
    static void flush();
};

} // namespace vennimo
