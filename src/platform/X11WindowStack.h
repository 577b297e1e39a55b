#pragma once

#include <QPoint>
#include <QString>

#include <optional>

namespace vennimo {

// Reads of the X window stack and of the desktop's compositor, for deciding during a drag which
// program's window lies under the pointer. All of them answer nothing (or false) off X11.
class X11WindowStack {
public:
    struct Hit {
        unsigned window = 0;
        // The two halves of WM_CLASS.
        QString instance;
        QString className;
    };

    // The topmost client window of another program that shows at a root point, by the window
    // manager's stacking list; windows of this program never count.
    static std::optional<Hit> topClientAt(QPoint rootPoint);
    // Whether a compositing manager runs for the screen (it owns _NET_WM_CM_S<screen>).
    static bool compositorRunning(int screen = 0);
};

} // namespace vennimo
