#pragma once

#include "platform/X11WindowStack.h"

#include <QPointF>
#include <QString>

namespace vennimo {

// Where a drag of prints lifted by their pegs may leave the rope for the system: only over a
// file manager that takes an X Direct Save drop (or the desktop such a program draws), since no
// other program may receive a peg.
class PegDropSurfaces {
public:
    // True when the window under a screen point belongs to a file manager that answers a direct
    // save; a bare root window (no desktop program) or any other program's window is not one.
    static bool yieldsToNativeDestination(QPointF screenPoint);
    // The rule for one hit window, by its WM_CLASS.
    static bool takesDirectSave(const X11WindowStack::Hit& hit);
};

} // namespace vennimo
