#pragma once

#include "rope/ClotheslineRopeGeometry.h"

#include <QList>
#include <QPainterPath>
#include <QPointF>

#include <functional>
#include <optional>

class QWidget;

namespace vennimo {

// What the clothesline canvas needs of the rope window that hosts it. The window lives in the
// shell, above the canvas, so it implements this port and hands it to the canvas; the canvas
// publishes its hit shapes here, starts the rope gestures the window tracks itself, and installs
// the callbacks that decide where the window takes a drag from the rope.
class RopeWindowPort {
public:
    virtual ~RopeWindowPort() = default;

    // The widget whose coordinates the hit shapes use (top left origin, y down).
    virtual QWidget* contentView() const = 0;

    // Hit shapes. Every call advances the window's pointer-geometry revision, so the next routing
    // pass tests the pointer again.
    virtual void setKnotResizePaths(QList<QPainterPath> paths) = 0;
    virtual void setRopeMovePath(std::optional<QPainterPath> path) = 0;
    virtual void setRopeDropPath(std::optional<QPainterPath> path) = 0;
    virtual void setCanvasPaths(QList<QPainterPath> paths) = 0;
    // Whether a drop from another program may land at a point of the content view: on the rope's
    // drop shape or on one of the canvas shapes. Nothing is taken until the window answers.
    virtual bool takesDropAt(QPointF /*contentPoint*/) const { return false; }

    // Gestures the window tracks itself; points are in global screen coordinates.
    virtual bool knotResizeActive() const = 0;
    virtual void beginKnotResize(ClotheslineKnotEdge edge, QPointF screenPoint) = 0;
    virtual void updateKnotResize(QPointF screenPoint) = 0;
    virtual void finishKnotResize(bool cancelled) = 0;
    virtual void moveClothesline(QPointF screenPoint) = 0;

    // Drag routing while a drag from the rope runs. The callbacks take and answer screen points.
    struct DragCallbacks {
        std::function<bool(QPointF)> acceptance;
        std::function<bool(QPointF)> reception;
        std::function<QPointF()> pointer;
    };
    virtual bool clotheslineDragActive() const = 0;
    virtual bool clotheslineRepositionActive() const = 0;
    virtual void setClotheslineDragActive(bool active) = 0;
    virtual void setClotheslineDragStarted(bool started) = 0;
    virtual void setClotheslineRepositionActive(bool active) = 0;
    virtual void setClotheslineDragCallbacks(DragCallbacks callbacks) = 0;
    virtual bool receivesClotheslineDrag(QPointF screenPoint) = 0;
    virtual void routeClotheslineDrag(QPointF screenPoint) = 0;
    virtual void finishClotheslineDrag() = 0;
};

} // namespace vennimo
