#pragma once

class QWindow;

namespace vennimo {

// Keeps a window from ever being the target of a drag on X11: Qt marks each of its windows as a
// drop target when it makes the native window (and makes it again at times of its own choosing),
// so a drag looking for its target under a window that follows the pointer would stop there.
class X11DropRefusal {
public:
    // Takes the mark off now and whenever the native window is made again.
    static void install(QWindow* window);
};

} // namespace vennimo
