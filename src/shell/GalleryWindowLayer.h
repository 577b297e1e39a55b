#pragma once

#include <QPointer>
#include <QWidget>

namespace vennimo {

// The one place that knows which of our windows float above other applications on every workspace
// while "GalleryAlwaysOnTop" is on. X11 has only "normal" and "above", so the levels are kept as
// numbers for the rest of the shell (updater windows must end up over floating ones) and turned
// into the above state and the all-workspaces hint on the native window.
class GalleryWindowLayer {
public:
    static constexpr int kNormalLevel = 0;
    static constexpr int kFloatingLevel = 3;
    static constexpr int kAuxiliaryLevel = 4;
    // Dialogs, alerts and panels while they wait for an answer: above everything else of ours.
    static constexpr int kModalLevel = 8;

    GalleryWindowLayer() = delete;

    // The setting, true when absent or not a Bool.
    static bool enabled();

    // Records the window (once; its auxiliary flag never changes afterwards) and applies the layer.
    static void registerWindow(QWidget* window, bool auxiliary);
    // Applies the layer again to every recorded window that still exists, top-level windows first.
    static void refresh();

    static bool isRegistered(const QWidget* window);
    // The level last applied to the window, 0 for windows nobody placed.
    static int level(const QWidget* window);
    static bool onAllWorkspaces(const QWidget* window);
    // Puts a window at a level: above others for any level over 0, and on all workspaces or not.
    // Also used for windows outside the registry (updater windows).
    static void applyLevel(QWidget* window, int level, bool allWorkspaces);

    // Raises the window, then every shown window of a higher level over it, lowest level first:
    // X11 keeps no order inside "above", so a floating window raised on its own would cover them.
    static void raise(QWidget* window);
    // Raises every shown window whose level is above `level`, lowest level first.
    static void raiseAbove(int level);
    // The shown recorded window of the highest level, the active one (then an auxiliary one) among
    // equals; none when nothing of ours shows.
    static QWidget* topmostShown();

private:
    static void apply(QWidget* window, bool auxiliary);
};

} // namespace vennimo
