#pragma once

#include "platform/X11WindowStack.h"

#include <QList>
#include <QPointF>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

namespace vennimo {

class ClotheslineCanvasView;
class PegTakeDownView;
class RopeWindowPort;

// While prints lifted by their pegs travel as a system drag, a peg may land in three places: the
// rope (it slides or comes down there), a file manager (the originals move into its folder), or
// anywhere else, where a catcher covering the screen takes it and the prints come down; no other
// program ever receives a peg. The catchers show wherever no file manager lies under the pointer
// and the rope window is lifted above them meanwhile. They need a compositor to stay unseen:
// without one nothing covers the screens, and a peg let go elsewhere simply returns.
class PegDropSurfaces {
public:
    static constexpr int kCatcherLevel = 3;
    static constexpr int kRaisedLevel = 4;

    // One catcher per screen when `compositing`; none are shown until the first route.
    PegDropSurfaces(ClotheslineCanvasView* source, RopeWindowPort* gallery, bool compositing);
    ~PegDropSurfaces();
    PegDropSurfaces(const PegDropSurfaces&) = delete;
    PegDropSurfaces& operator=(const PegDropSurfaces&) = delete;

    // The pointer at a screen point: whether the rope receives it and whether a file manager
    // lies under it. An unchanged point routes nothing.
    void route(QPointF point, bool receiving, bool native);
    void close();

    bool closed() const { return m_closed; }
    bool raisedGallery() const { return m_raisedGallery; }
    QList<PegTakeDownView*> catchers() const;
    int catchersShown() const;

    // True when the window under a screen point belongs to a file manager that answers a direct
    // save; a bare root window (no desktop program) or any other program's window is not one.
    static bool yieldsToNativeDestination(QPointF screenPoint);
    // The rule for one hit window, by its WM_CLASS.
    static bool takesDirectSave(const X11WindowStack::Hit& hit);

private:
    void applyNativeRoute(bool native);

    RopeWindowPort* m_gallery = nullptr;
    QList<QPointer<PegTakeDownView>> m_windows;
    std::optional<bool> m_lastNative;
    std::optional<QPointF> m_lastPoint;
    bool m_raisedGallery = false;
    bool m_closed = false;
};

} // namespace vennimo
