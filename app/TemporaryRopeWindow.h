#pragma once

#include "canvas/RopeWindowPort.h"

#include <QWidget>

namespace vennimo {

class ClotheslineCanvas;
class GalleryModel;

// A stand-in for the rope window until the gallery window takes its place: a frameless,
// translucent strip at the top of the screen that hosts the canvas. It keeps the shapes the
// canvas publishes but routes no pointer through them, and runs no rope gestures or drags.
class TemporaryRopeWindow : public QWidget, public RopeWindowPort {
    Q_OBJECT

public:
    static constexpr int kWidth = 980;
    static constexpr int kHeight = 466;
    static constexpr int kCanvasTop = 8;
    static constexpr int kScreenTop = 40;

    explicit TemporaryRopeWindow(GalleryModel& model);
    ~TemporaryRopeWindow() override;

    QWidget* contentView() const override { return const_cast<TemporaryRopeWindow*>(this); }
    void setKnotResizePaths(QList<QPainterPath> paths) override { m_knotResizePaths = std::move(paths); }
    void setRopeMovePath(std::optional<QPainterPath> path) override { m_ropeMovePath = std::move(path); }
    void setRopeDropPath(std::optional<QPainterPath> path) override { m_ropeDropPath = std::move(path); }
    void setCanvasPaths(QList<QPainterPath> paths) override { m_canvasPaths = std::move(paths); }
    bool knotResizeActive() const override { return false; }
    void beginKnotResize(ClotheslineKnotEdge, QPointF) override {}
    void updateKnotResize(QPointF) override {}
    void finishKnotResize(bool) override {}
    void moveClothesline(QPointF) override {}
    bool clotheslineDragActive() const override { return false; }
    bool clotheslineRepositionActive() const override { return false; }
    void setClotheslineDragActive(bool) override {}
    void setClotheslineDragStarted(bool) override {}
    void setClotheslineRepositionActive(bool) override {}
    void setClotheslineDragCallbacks(DragCallbacks) override {}
    bool receivesClotheslineDrag(QPointF) override { return false; }
    void routeClotheslineDrag(QPointF) override {}
    void finishClotheslineDrag() override {}

    void showOnTop();

private:
    ClotheslineCanvas* m_canvas = nullptr;
    QList<QPainterPath> m_knotResizePaths;
    std::optional<QPainterPath> m_ropeMovePath;
    std::optional<QPainterPath> m_ropeDropPath;
    QList<QPainterPath> m_canvasPaths;
};

} // namespace vennimo
