#pragma once

#include "canvas/RopeWindowPort.h"

#include <QPointer>
#include <QWidget>

namespace vennimo::test {

// Records what the canvas publishes, as the rope window would receive it.
class FakeRopeWindowPort : public RopeWindowPort {
public:
    explicit FakeRopeWindowPort(QWidget* content)
        : m_content(content) {}

    QWidget* contentView() const override { return m_content.data(); }
    void setKnotResizePaths(QList<QPainterPath> paths) override {
        knotResizePaths = std::move(paths);
        ++revision;
    }
    void setRopeMovePath(std::optional<QPainterPath> path) override {
        ropeMovePath = std::move(path);
        ++revision;
    }
    void setRopeDropPath(std::optional<QPainterPath> path) override {
        ropeDropPath = std::move(path);
        ++revision;
    }
    void setCanvasPaths(QList<QPainterPath> paths) override {
        canvasPaths = std::move(paths);
        ++revision;
    }
    bool knotResizeActive() const override { return knotResizing; }
    // The knot resize widens the content widget by the pointer's travel, as the window would.
    void beginKnotResize(ClotheslineKnotEdge edge, QPointF screenPoint) override {
        knotResizing = true;
        knotEdge = edge;
        knotOrigin = screenPoint;
        knotStartWidth = m_content ? m_content->width() : 0;
    }
    void updateKnotResize(QPointF screenPoint) override {
        if (!knotResizing || !m_content)
            return;
        const double travel = knotEdge == ClotheslineKnotEdge::right ? screenPoint.x() - knotOrigin.x()
                                                                     : knotOrigin.x() - screenPoint.x();
        m_content->resize(knotStartWidth + int(travel), m_content->height());
    }
    void finishKnotResize(bool cancelled) override {
        if (knotResizing && cancelled && m_content)
            m_content->resize(knotStartWidth, m_content->height());
        knotResizing = false;
        lastKnotResizeCancelled = cancelled;
        ++finishedKnotResizes;
    }
    void moveClothesline(QPointF screenPoint) override { moves.append(screenPoint); }
    bool takesDropAt(QPointF contentPoint) const override {
        if (ropeDropPath && ropeDropPath->contains(contentPoint))
            return true;
        for (const QPainterPath& path : canvasPaths)
            if (path.contains(contentPoint))
                return true;
        return false;
    }
    bool clotheslineDragActive() const override { return dragActive; }
    bool clotheslineRepositionActive() const override { return false; }
    void setClotheslineDragActive(bool active) override { dragActive = active; }
    void setClotheslineDragStarted(bool started) override { dragStarted = started; }
    void setClotheslineRepositionActive(bool) override {}
    void setClotheslineDragCallbacks(DragCallbacks callbacks) override {
        dragCallbacks = std::move(callbacks);
    }
    // As the gallery window does: the rope's reception decides where it has one.
    bool receivesClotheslineDrag(QPointF point) override {
        if (!dragActive)
            return false;
        if (dragCallbacks.reception)
            return dragCallbacks.reception(point);
        return dragCallbacks.acceptance && dragCallbacks.acceptance(point);
    }
    void routeClotheslineDrag(QPointF point) override { routed.append(point); }
    void finishClotheslineDrag() override {
        dragCallbacks = {};
        dragActive = false;
        dragStarted = false;
        ++finishedDrags;
    }

    QList<QPainterPath> knotResizePaths;
    std::optional<QPainterPath> ropeMovePath;
    std::optional<QPainterPath> ropeDropPath;
    QList<QPainterPath> canvasPaths;
    int revision = 0;
    int finishedKnotResizes = 0;
    bool knotResizing = false;
    ClotheslineKnotEdge knotEdge = ClotheslineKnotEdge::left;
    QPointF knotOrigin;
    int knotStartWidth = 0;
    bool lastKnotResizeCancelled = false;
    QList<QPointF> moves;
    // The screen points the canvas routed a system drag at.
    QList<QPointF> routed;
    bool dragActive = false;
    bool dragStarted = false;
    DragCallbacks dragCallbacks;
    int finishedDrags = 0;
    // The window level a peg drag's catchers lift it to, and how often it was given back.
    int level = 3;
    int restoredLevels = 0;
    int clotheslineWindowLevel() const override { return level; }
    void raiseClotheslineWindow(int raised) override { level = raised; }
    void restoreClotheslineWindowLevel() override {
        level = 3;
        ++restoredLevels;
    }

private:
    QPointer<QWidget> m_content;
};

} // namespace vennimo::test
