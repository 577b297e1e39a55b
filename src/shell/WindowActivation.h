#pragma once

class QWidget;

namespace vennimo {

// Gives a window the keyboard on the user's behalf: raised with whatever floats above it, made
// active through the window manager as a pager asks (focus-stealing prevention lets that pass),
// and, for a window the window manager has not taken yet, only once it is mapped, since it drops
// a request for a window it does not manage.
class WindowActivation {
public:
    WindowActivation() = delete;

    static void activate(QWidget* window);
};

} // namespace vennimo
