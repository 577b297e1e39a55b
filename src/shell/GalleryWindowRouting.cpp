#include "shell/GalleryWindow.h"

#include "canvas/PanelCover.h"
#include "model/ClotheslineChrome.h"
#include "platform/ProcessExit.h"
#include "platform/X11InputShape.h"
#include "platform/X11WindowHints.h"
#include "rope/RopeDiagnostic.h"
#include "shell/GalleryWindowLayer.h"

#include <QApplication>
#include <QDynamicPropertyChangeEvent>
#include <QMouseEvent>
#include <QScopeGuard>
#include <QTimer>

#include <cmath>

namespace vennimo {

namespace {

// A path's region in whole pixels. A shape drawn with a very fine outline could make thousands
// of rectangles; its bounding box is close enough for where the window takes clicks.
constexpr int kMaxRectanglesPerPath = 2048;

QRegion regionOf(const QPainterPath& path) {
    if (path.isEmpty())
        return {};
    QRegion region(path.toFillPolygon().toPolygon(), Qt::WindingFill);
    if (region.rectCount() > kMaxRectanglesPerPath)
        region = QRegion(path.boundingRect().toAlignedRect());
    return region;
}

} // namespace

void GalleryWindow::setInteractiveAreas(QList<QRectF> areas) {
    if (areas != m_interactiveAreas) {
        ++m_pointerGeometryRevision;
        queuePointerRoute();
    }
    m_interactiveAreas = std::move(areas);
    applyInputShape();
}

// The rope publishes its areas again whenever anything on it may have moved, most often with the
// same outlines: only a change makes the input shape anew.

void GalleryWindow::setKnotResizePaths(QList<QPainterPath> paths) {
    if (paths == m_knotResizePaths)
        return;
    m_knotResizePaths = std::move(paths);
    geometryChanged();
}

void GalleryWindow::setRopeMovePath(std::optional<QPainterPath> path) {
    if (path == m_ropeMovePath)
        return;
    m_ropeMovePath = std::move(path);
    geometryChanged();
}

void GalleryWindow::setRopeDropPath(std::optional<QPainterPath> path) {
    if (path == m_ropeDropPath)
        return;
    m_ropeDropPath = std::move(path);
    geometryChanged();
}

void GalleryWindow::setCanvasPaths(QList<QPainterPath> paths) {
    if (paths == m_canvasPaths)
        return;
    // Each print's outline keeps its region while it stays where it was in the list: a frame that
    // moves a few prints of a thousand makes only theirs anew.
    QList<QRegion> regions;
    regions.reserve(paths.size());
    for (qsizetype i = 0; i < paths.size(); ++i)
        regions.append(i < m_canvasPaths.size() && i < m_canvasRegions.size() && paths[i] == m_canvasPaths[i]
                           ? m_canvasRegions[i]
                           : regionOf(paths[i]));
    m_canvasPaths = std::move(paths);
    m_canvasRegions = std::move(regions);
    geometryChanged();
}

bool GalleryWindow::takesDropAt(QPointF contentPoint) const {
    if (m_ropeDropPath && m_ropeDropPath->contains(contentPoint))
        return true;
    for (const QPainterPath& path : m_canvasPaths)
        if (path.contains(contentPoint))
            return true;
    return false;
}

void GalleryWindow::geometryChanged() {
    ++m_pointerGeometryRevision;
    // The rope publishes its kinds of areas one after another, on every frame of its motion: the
    // input shape made of all of them (every print's outline) is made and sent once, on the next
    // turn, however many changes this turn brings.
    if (!m_inputShapeQueued) {
        m_inputShapeQueued = true;
        QTimer::singleShot(0, this, [this] {
            m_inputShapeQueued = false;
            // The shape of every print, made while the process ends, would only hold the end.
            if (!ProcessExit::announced())
                applyInputShape();
        });
    }
    queuePointerRoute();
}

QRegion GalleryWindow::hitRegion() const {
    QRegion region;
    for (const QRectF& area : m_interactiveAreas)
        region += area.toAlignedRect();
    for (const QRegion& print : m_canvasRegions)
        region += print;
    for (const QPainterPath& path : m_knotResizePaths)
        region += regionOf(path);
    if (m_ropeDropPath)
        region += regionOf(*m_ropeDropPath);
    if (m_ropeMovePath)
        region += regionOf(*m_ropeMovePath);
    const QWidget* content = contentView();
    if (content != this)
        region.translate(content->mapTo(this, QPoint(0, 0)));
    return region;
}

bool GalleryWindow::pointerHits(QPointF local) const {
    for (const QRectF& area : m_interactiveAreas)
        if (area.contains(local))
            return true;
    for (const QPainterPath& path : m_canvasPaths)
        if (path.contains(local))
            return true;
    for (const QPainterPath& path : m_knotResizePaths)
        if (path.contains(local))
            return true;
    if (m_ropeDropPath && m_ropeDropPath->contains(local))
        return true;
    return m_ropeMovePath && m_ropeMovePath->contains(local);
}

void GalleryWindow::startPointerRouting() {
    m_pointerRouting = true;
    routePointer();
}

void GalleryWindow::stopPointerRouting() {
    m_pointerRouting = false;
    m_pointerTimer.stop();
    m_lastPointerHit.reset();
    setIgnoresMouseEvents(false);
}

void GalleryWindow::updatePointerPoll() {
    // Over the transparent strip the input shape already lets clicks through, and the X server
    // tells us when the pointer comes over something of ours; only a gesture, which may carry the
    // pointer anywhere, needs the pointer read on a timer.
    const bool gesture = m_moveStart || m_knotResize || m_clotheslineRepositionActive ||
                         m_clotheslineDragActive || m_ownsMouseSequence;
    const bool wanted = m_pointerRouting && (m_pointerInside || gesture);
    if (wanted && !m_pointerTimer.isActive())
        m_pointerTimer.start();
    else if (!wanted && m_pointerTimer.isActive())
        m_pointerTimer.stop();
}

void GalleryWindow::queuePointerRoute() {
    // Without the poll, new shapes or a new frame under a resting pointer are decided once, on
    // the next turn, however many changes this turn brings.
    if (!m_pointerRouting || m_pointerTimer.isActive() || m_pointerRouteQueued)
        return;
    m_pointerRouteQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_pointerRouteQueued = false;
        if (m_pointerRouting && !ProcessExit::announced())
            routePointer();
    });
}

void GalleryWindow::routePointer() {
    const auto poll = qScopeGuard([this] { updatePointerPoll(); });
    if (!isVisible() || m_clotheslineStyle != true) {
        stopPointerRouting();
        return;
    }
    // A release that never reached us (it happened over another application) still ends a move.
    if (m_moveStart && !(m_mouseButtons() & Qt::LeftButton))
        finishMove();
    if (m_knotResize || m_clotheslineRepositionActive) {
        setIgnoresMouseEvents(false);
        return;
    }
    if (m_clotheslineDragActive) {
        routeClotheslineDrag(m_pointerPosition());
        return;
    }
    if (m_ownsMouseSequence && m_mouseButtons() != Qt::NoButton)
        return;
    m_ownsMouseSequence = false;
    if (QApplication::activeModalWidget() || QApplication::activePopupWidget()) {
        setIgnoresMouseEvents(false);
        return;
    }
    // Right after showing, before the screen published anything, the whole window takes the pointer.
    if (m_interactiveAreas.isEmpty() && m_canvasPaths.isEmpty() && m_knotResizePaths.isEmpty()) {
        setIgnoresMouseEvents(false);
        return;
    }
    const QPointF point = m_pointerPosition();
    const QRectF windowFrame = frame();
    if (m_lastPointerHit && m_lastPointerHit->point == point && m_lastPointerHit->frame == windowFrame &&
        m_lastPointerHit->revision == m_pointerGeometryRevision &&
        m_lastPointerHit->ignored == m_ignoresMouseEvents)
        return;
    const bool hit = pointerHits(contentView()->mapFromGlobal(point));
    setIgnoresMouseEvents(!hit);
    m_lastPointerHit = PointerHit{point, windowFrame, m_pointerGeometryRevision, m_ignoresMouseEvents};
}

void GalleryWindow::setClotheslineDragActive(bool active) {
    if (active && !m_clotheslineDragActive)
        m_lastClotheslineRoutePoint.reset();
    m_clotheslineDragActive = active;
    updatePointerPoll();
}

bool GalleryWindow::receivesClotheslineDrag(QPointF screenPoint) {
    if (!m_clotheslineDragActive)
        return false;
    if (m_dragCallbacks.pointer)
        screenPoint = m_dragCallbacks.pointer();
    if (m_dragCallbacks.reception)
        return m_dragCallbacks.reception(screenPoint);
    if (m_dragCallbacks.acceptance)
        return m_dragCallbacks.acceptance(screenPoint);
    return false;
}

void GalleryWindow::routeClotheslineDrag(QPointF screenPoint) {
    if (m_dragCallbacks.pointer)
        screenPoint = m_dragCallbacks.pointer();
    if (!m_clotheslineDragActive || !m_clotheslineDragStarted || m_lastClotheslineRoutePoint == screenPoint)
        return;
    m_lastClotheslineRoutePoint = screenPoint;
    const bool receives = receivesClotheslineDrag(screenPoint);
    if (m_ignoresMouseEvents == receives)
        RopeDiagnostic::event("WindowRouting",
                              QStringLiteral("ignored=%1 x=%2 y=%3")
                                  .arg(receives ? u"false" : u"true", RopeDiagnostic::number(screenPoint.x()),
                                       RopeDiagnostic::number(screenPoint.y())));
    // The drag decides alone: where it does not want to come back, nothing of the window catches it.
    setIgnoresMouseEvents(!receives, true);
}

void GalleryWindow::finishClotheslineDrag() {
    m_lastClotheslineRoutePoint.reset();
    m_dragCallbacks = {};
    m_clotheslineDragActive = false;
    m_clotheslineDragStarted = false;
    m_clotheslineRepositionActive = false;
    m_ownsMouseSequence = false;
    setIgnoresMouseEvents(false);
    if (m_clotheslineStyle != true)
        return;
    if (m_clotheslineChrome)
        m_clotheslineChrome->resume();
    fitClotheslineHeight();
    // The canvas publishes where the prints now hang only after this returns. Routed now, by where
    // the drag left them, the window would take a print that just landed for bare strip, and a
    // press on it, the print taken up again as it settles, would reach the desktop until the next
    // turn sent the new shape. Until the route on that turn the whole window takes the pointer.
    updatePointerPoll();
    queuePointerRoute();
}

void GalleryWindow::setIgnoresMouseEvents(bool ignored, bool wholeWindow) {
    m_ignoresMouseEvents = ignored;
    m_wholeWindowIgnored = ignored && wholeWindow;
    applyInputShape();
}

void GalleryWindow::applyInputShape(bool force) {
    // While the window ignores the pointer it still takes it over its published shapes, so a
    // click that comes before the next routing pass lands where the user aimed.
    const AppliedShape wanted{m_ignoresMouseEvents, m_wholeWindowIgnored,
                              m_ignoresMouseEvents && !m_wholeWindowIgnored ? m_pointerGeometryRevision : 0};
    if (!force && m_appliedShape == wanted)
        return;
    // A hidden window takes its shape when it shows again. Reshaped while it goes, it has the
    // window manager reshape its frame right before dropping it, and a compositing manager that
    // repaints for that reshape asks the X server about a frame that is gone.
    if (!windowHandle() || !isVisible() || !X11InputShape::available())
        return;
    m_appliedShape = wanted;
    if (!wanted.ignored)
        X11InputShape::apply(windowHandle(), std::nullopt);
    else if (wanted.wholeWindow)
        X11InputShape::apply(windowHandle(), QRegion());
    else
        X11InputShape::apply(windowHandle(), hitRegion());
}

void GalleryWindow::syncNativePosition() {
    if (!isVisible())
        return;
    const auto real = X11WindowHints::rootPosition(windowHandle());
    if (m_clotheslineStyle == true && m_placement) {
        // The rope goes where the switch put it, wherever the window manager mapped it.
        if (real && *real != m_placement->toPoint())
            move(m_placement->toPoint());
        return;
    }
    if (m_clotheslineStyle != false) {
        // The borderless rope's idea is wrong only when Qt took its place inside the window
        // manager's frame for its place on the screen. An idea that merely runs ahead of the server
        // after a move of our own is right: going by the server then would put the window back
        // where the window manager has not yet moved it from.
        const auto inFrame = X11WindowHints::parentPosition(windowHandle());
        if (real && inFrame && *inFrame != *real && pos() == *inFrame)
            move(*real);
        return;
    }
    // A window manager puts its frame together before it places it: a titled window just shown
    // may stand in a frame at the screen's corner for a while, and taking that place for the one
    // it was given would send it there for good. The frame is in place once the window shows.
    if (!m_frameWatch.shown())
        return;
    // The server reports where the client area is; a titled window's frame sits above and left of
    // it, and moving the frame to the client's place would chase it to the screen's corner.
    // The move below that brings the title bar down is not undone while the server has not got to
    // it yet: going back by the server then, the next check would bring the title down again, a
    // tug of war with the window manager that a busy machine keeps going for good.
    const bool ownMovePending = m_titleMove && m_titleMove->first == pos() && m_titleMove->second == real;
    if (real && *real != geometry().topLeft() && !ownMovePending)
        move(*real - (geometry().topLeft() - pos()));
    // A titled window keeps its title bar where the user can take hold of it: the rope it came
    // from may hang at the very top of the screen, with no room above for a title. Qt may not yet
    // know of a frame the window manager has already put round the window, and would take the
    // title bar for on the screen; what the window manager said of the frame counts too, unless
    // the server has yet to get to a move of our own.
    int frameTop = frameGeometry().top();
    if (real && !ownMovePending)
        if (const auto extents = X11WindowHints::frameExtents(windowHandle()))
            frameTop = std::min(frameTop, real->y() - extents->top());
    if (const auto screen = windowScreen(); screen && frameTop < screen->available.top()) {
        move(pos() + QPoint(0, int(std::ceil(screen->available.top())) - frameTop));
        m_titleMove = {pos(), real};
    }
}

void GalleryWindow::handleFramed() {
    if (!isVisible())
        return;
    // A reparenting window manager frames the window only after it was shown, as late as it likes
    // on a busy machine, and keeps the client area where it was: a title bar can then lie above
    // the screen with nothing else to bring it down.
    syncNativePosition();
    // The frame takes on the window's input shape as it was when it was framed.
    applyInputShape(true);
    // The window manager has placed the window; from a little later on the rope is where it is.
    if (m_placement)
        QTimer::singleShot(kPlacementSettleTime, this, [this, placement = ++m_placementCount] {
            if (placement == m_placementCount)
                m_placement.reset();
        });
}

bool GalleryWindow::event(QEvent* event) {
    switch (event->type()) {
    case QEvent::WinIdChange:
        applyInputShape(true);
        // A change of style hands the same native window back, still cut; the cut follows the
        // style from the next turn on.
        queueBoundingShape();
        break;
    case QEvent::Enter:
    case QEvent::Leave:
        m_pointerInside = event->type() == QEvent::Enter;
        if (m_pointerRouting)
            routePointer();
        break;
    case QEvent::Hide:
        // A window that shows again hears of the pointer anew from the X server.
        m_pointerInside = false;
        updatePointerPoll();
        break;
    case QEvent::Resize:
        queuePointerRoute();
        break;
    case QEvent::Show:
        applyInputShape(true);
        checkCompositor();
        cutAwayUntilDrawn();
        // However the window came to be shown, the rope style routes the pointer while visible.
        if (m_clotheslineStyle == true && !m_pointerRouting)
            QTimer::singleShot(0, this, [this] {
                if (isVisible() && m_clotheslineStyle == true && !m_pointerRouting)
                    startPointerRouting();
            });
        // Without an X server nothing frames the window, and nothing places it but us.
        if (!X11WindowHints::isX11())
            QTimer::singleShot(kPlacementSettleTime, this, [this, placement = ++m_placementCount] {
                if (placement == m_placementCount)
                    m_placement.reset();
            });
        break;
    case QEvent::Move:
        // Qt takes the position inside the frame for the screen position when a window manager
        // reparents the window; put its idea right before anything measures with it.
        if (isVisible())
            QTimer::singleShot(0, this, &GalleryWindow::syncNativePosition);
        queuePointerRoute();
        break;
    default:
        break;
    }
    return QWidget::event(event);
}

bool GalleryWindow::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (type == QEvent::Paint) {
        // Whatever of ours repaints changes the frame the cut follows.
        if (m_compositorRunning == false && m_clotheslineStyle == true)
            if (auto* widget = qobject_cast<QWidget*>(watched); widget && widget->window() == this)
                queueBoundingShape();
        return false;
    }
    const bool coverChange =
        type == QEvent::DynamicPropertyChange &&
        static_cast<QDynamicPropertyChangeEvent*>(event)->propertyName() == PanelCover::kProperty;
    if (type == QEvent::Move || type == QEvent::Show || type == QEvent::Hide || coverChange) {
        // At once, so the X server gets the rope's new cut next to the panel's move: what a panel
        // is about to leave is given up before it goes, what it comes to cover is kept once it
        // covers it.
        if (m_boundingShape && watched != this)
            if (auto* panel = qobject_cast<QWidget*>(watched);
                panel && panel->isWindow() && panel->windowFlags().testFlag(Qt::WindowTransparentForInput))
                applyCombinedShape();
        return false;
    }
    if (type != QEvent::MouseMove && type != QEvent::MouseButtonPress && type != QEvent::MouseButtonRelease)
        return false;
    // Mouse events reach the native window first and the widget after; look at each once.
    auto* widget = qobject_cast<QWidget*>(watched);
    if (!widget)
        return false;
    auto* mouse = static_cast<QMouseEvent*>(event);
    if (m_moveStart) {
        if (type == QEvent::MouseMove) {
            handleMoveEvent(mouse->globalPosition());
        } else if (type == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton) {
            handleMoveEvent(mouse->globalPosition());
            finishMove();
        }
        return false;
    }
    if (!m_pointerRouting)
        return false;
    if (type == QEvent::MouseButtonPress && mouse->button() == Qt::LeftButton)
        m_ownsMouseSequence = widget->window() == this;
    else if (type == QEvent::MouseButtonRelease && mouse->button() == Qt::LeftButton)
        m_ownsMouseSequence = false;
    routePointer();
    return false;
}

int GalleryWindow::clotheslineWindowLevel() const {
    return GalleryWindowLayer::level(this);
}

void GalleryWindow::raiseClotheslineWindow(int level) {
    GalleryWindowLayer::applyLevel(this, level, GalleryWindowLayer::onAllWorkspaces(this));
    GalleryWindowLayer::raise(this);
}

void GalleryWindow::restoreClotheslineWindowLevel() {
    GalleryWindowLayer::registerWindow(this, false);
}

} // namespace vennimo
