#pragma once

#include <QObject>
#include <QPointer>

namespace vennimo {

class DisplayLink;

// What the rope's display link drives: the canvas implements it next to being a QObject.
class RopePhysicsCanvas {
public:
    virtual ~RopePhysicsCanvas() = default;
    virtual void physicsFrame(DisplayLink& link) = 0;
};

// The display link's target. The link keeps its target alive, and the target holds the canvas
// weakly, so a running link never keeps a closed canvas alive: once the canvas is gone its
// ticks do nothing.
class RopeDisplayLinkTarget {
public:
    RopeDisplayLinkTarget() = default;

    // `canvas` must also be a RopePhysicsCanvas; anything else receives no frames.
    void setCanvas(QObject* canvas) { m_canvas = canvas; }
    QObject* canvas() const { return m_canvas.data(); }

    void tick(DisplayLink& link);

private:
    QPointer<QObject> m_canvas;
};

} // namespace vennimo
