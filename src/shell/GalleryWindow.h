#pragma once

#include "canvas/RopeWindowPort.h"
#include "model/GalleryWindowPort.h"
#include "platform/X11CompositorWatch.h"
#include "platform/X11FrameWatch.h"

#include <QPointer>
#include <QRectF>
#include <QRegion>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <utility>

class QKeyEvent;

namespace vennimo {

class ClotheslineChrome;
class GalleryModel;
class UserDefaults;

// One screen as the window sees it: its whole frame and the part free of panels, in global
// top-left coordinates.
struct ScreenArea {
    QRectF frame;
    QRectF available;
};

// The application's one gallery window. In grid style an ordinary titled window; in rope style a
// borderless transparent strip that floats over the desktop, takes the pointer only over its rope,
// prints, knots and toolbar (everything else clicks through to the windows below), widens by its
// knots, moves by its rope and remembers where the rope hangs.
//
// All frames are in Qt's global coordinates (origin top left, y down). The rope line hangs
// `clotheslineCanvasTop()` below the window's top edge; its screen height is "ropeY".
class GalleryWindow : public QWidget, public GalleryWindowPort, public RopeWindowPort {
    Q_OBJECT

public:
    static constexpr double kRopeMinimumWidth = 760;
    static constexpr double kGridMinimumWidth = 900;
    static constexpr double kGridMinimumHeight = 520;
    static constexpr double kGridFirstHeight = 720;
    static constexpr double kHorizontalOverhang = 22;
    static constexpr double kRopeLowestAboveBottom = 100;
    static constexpr double kRopeHighestBelowTop = 60;
    static constexpr double kInitialCanvasTop = 60;
    static constexpr std::chrono::milliseconds kRoutingInterval{33};
    // How long after the window manager framed a shown window it may still place it on its own.
    static constexpr std::chrono::milliseconds kPlacementSettleTime{1000};
    // How far the cut around what the rope draws reaches out, where no compositing manager runs:
    // not at all. A widened cut shows the clear pixels around the strand and the prints as a black
    // outline, and the half-opaque pixels alone already keep an antialiased strand unbroken.
    static constexpr int kShapeSpreadPixels = 0;

    // The last routing decision, which spares the hit tests while nothing moved.
    struct PointerHit {
        QPointF point;
        QRectF frame;
        std::uint64_t revision = 0;
        bool ignored = false;
    };
    struct KnotResize {
        ClotheslineKnotEdge edge = ClotheslineKnotEdge::right;
        QPointF origin;
        QRectF frame;
        double maximumWidth = 0;
    };
    // What an undo or redo menu item shows while this window is active.
    struct MenuItemState {
        QString title;
        bool enabled = false;
        bool operator==(const MenuItemState&) const = default;
    };

    explicit GalleryWindow(QWidget* parent = nullptr);
    ~GalleryWindow() override;

    // Seams: the screens, the pointer and the defaults store. The defaults are the system's.
    void setScreensSource(std::function<QList<ScreenArea>()> screens);
    void setPointerSource(std::function<QPointF()> position, std::function<Qt::MouseButtons()> buttons);
    void setPositionDefaults(UserDefaults* defaults);
    QList<ScreenArea> screens() const;

    // The model whose rope history the undo and redo keys act on.
    void setGalleryModel(GalleryModel* model);
    void setGalleryKeyboardHandler(std::function<bool(QKeyEvent*)> handler) {
        m_galleryKeyboardHandler = std::move(handler);
    }
    // Whether the screen's key handler may see keys: no dialog is up and no text is edited.
    bool galleryKeysAllowed() const;
    void setClotheslineChrome(ClotheslineChrome* chrome);
    // The widget shown inside; it fills the window and its coordinates are the hit shapes'.
    void setContentWidget(QWidget* content);

    // Shows the window without taking the keyboard focus from the active window.
    void showWithoutActivating();

    // Styles and geometry.
    void setClotheslineStyle(bool clothesline);
    std::optional<bool> clotheslineStyle() const override { return m_clotheslineStyle; }
    void setClotheslineLayout(double height, double canvasTop) override;
    double clotheslineCanvasTop() const override { return m_clotheslineCanvasTop; }
    double clotheslineHeight() const { return m_clotheslineHeight; }
    double requestedCanvasTop() const { return m_requestedCanvasTop; }
    double topRestoration() const { return m_topRestoration; }
    std::optional<QRectF> normalFrame() const { return m_normalFrame; }
    std::optional<QRectF> compactFrame() const { return m_compactFrame; }
    bool remembersPosition() const { return m_remembersPosition; }
    bool busy() const;
    QRectF frame() const;
    void setFrame(const QRectF& frame);
    void fitClotheslineHeight();
    void restoreClotheslinePosition();
    void saveClotheslinePosition();
    QRectF clampedClotheslineFrame(const QRectF& frame) const;

    // Undo and redo: the text field being edited has its own, the rope history answers otherwise.
    void undo();
    void redo();
    MenuItemState undoMenuItem() const;
    MenuItemState redoMenuItem() const;

    // Rope gestures (RopeWindowPort), points in global coordinates.
    bool knotResizeActive() const override { return m_knotResize.has_value(); }
    std::optional<KnotResize> knotResize() const { return m_knotResize; }
    void beginKnotResize(ClotheslineKnotEdge edge, QPointF screenPoint) override;
    void updateKnotResize(QPointF screenPoint) override;
    void finishKnotResize(bool cancelled) override;
    void moveClothesline(QPointF screenPoint) override;
    bool movingClothesline() const { return m_moveStart.has_value(); }

    // Hit shapes, in the content widget's coordinates.
    QWidget* contentView() const override;
    void setInteractiveAreas(QList<QRectF> areas);
    void setKnotResizePaths(QList<QPainterPath> paths) override;
    void setRopeMovePath(std::optional<QPainterPath> path) override;
    void setRopeDropPath(std::optional<QPainterPath> path) override;
    void setCanvasPaths(QList<QPainterPath> paths) override;
    bool takesDropAt(QPointF contentPoint) const override;
    std::uint64_t pointerGeometryRevision() const { return m_pointerGeometryRevision; }

    // Pointer routing: the window ignores the pointer wherever nothing of its own lies under it.
    void startPointerRouting();
    void stopPointerRouting();
    bool pointerRoutingActive() const { return m_pointerRouting; }
    // Whether the routing pass also runs on a timer: only while the pointer is over the window or
    // a gesture runs. Elsewhere the input shape passes clicks through and the window sleeps.
    bool pointerPollActive() const { return m_pointerTimer.isActive(); }
    void routePointer();
    bool ignoresMouseEvents() const { return m_ignoresMouseEvents; }
    bool ownsMouseSequence() const { return m_ownsMouseSequence; }
    std::optional<PointerHit> lastPointerHit() const { return m_lastPointerHit; }
    // Where the window takes the pointer while it ignores it elsewhere: the published shapes.
    QRegion hitRegion() const;

    // Drag routing while a drag from the rope runs (RopeWindowPort).
    bool clotheslineDragActive() const override { return m_clotheslineDragActive; }
    bool clotheslineRepositionActive() const override { return m_clotheslineRepositionActive; }
    bool clotheslineDragStarted() const { return m_clotheslineDragStarted; }
    void setClotheslineDragActive(bool active) override;
    void setClotheslineDragStarted(bool started) override { m_clotheslineDragStarted = started; }
    void setClotheslineRepositionActive(bool active) override { m_clotheslineRepositionActive = active; }
    void setClotheslineDragCallbacks(DragCallbacks callbacks) override {
        m_dragCallbacks = std::move(callbacks);
    }
    bool receivesClotheslineDrag(QPointF screenPoint) override;
    void routeClotheslineDrag(QPointF screenPoint) override;
    void finishClotheslineDrag() override;
    int clotheslineWindowLevel() const override;
    void raiseClotheslineWindow(int level) override;
    void restoreClotheslineWindowLevel() override;

    // What of the window shows, in device pixels, while no compositing manager runs; none while
    // it shows whole.
    std::optional<QRegion> boundingShape() const { return m_boundingShape; }

    bool eventFilter(QObject* watched, QEvent* event) override;

protected:
    bool event(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    std::optional<ScreenArea> screenContaining(QPointF point, bool byFrame) const;
    std::optional<ScreenArea> windowScreen() const;
    // Switches the native window's kind; `placeWindow` gives it the new style's limits and frame
    // before it shows again.
    void applyStyleAppearance(bool clothesline, const std::function<void()>& placeWindow);
    // Sets the frame and fixes the height limits without a resize of their own in between.
    void setFrameWithHeight(const QRectF& target, int minimumHeight, int maximumHeight);
    // After a move or a resize of the rope window, which the window saves.
    void resumeAfterGesture();
    void finishMove();
    void handleMoveEvent(QPointF global);
    void geometryChanged();
    void setIgnoresMouseEvents(bool ignored, bool wholeWindow = false);
    void applyInputShape(bool force = false);
    void syncNativePosition();
    // The window manager framed the window: where it put it and what its frame covers are known.
    void handleFramed();
    bool pointerHits(QPointF local) const;
    void updatePointerPoll();
    void queuePointerRoute();
    bool wantsBoundingShape() const;
    void checkCompositor();
    void queueBoundingShape();
    void cutAwayUntilDrawn();
    void forgetShapeOfGoneWindow();
    void applyBoundingShape();
    // Reads what the frame in the backing store draws into m_drawnShape; false without a frame.
    bool readDrawnShape();
    void cutBeforeFlush();
    QRegion coveredByPanels() const;
    void applyCombinedShape();

    QPointer<GalleryModel> m_galleryModel;
    std::function<bool(QKeyEvent*)> m_galleryKeyboardHandler;
    QList<QRectF> m_interactiveAreas;
    QList<QPainterPath> m_canvasPaths;
    // The region of each of m_canvasPaths, in whole pixels.
    QList<QRegion> m_canvasRegions;
    QList<QPainterPath> m_knotResizePaths;
    std::optional<KnotResize> m_knotResize;
    bool m_clotheslineDragActive = false;
    bool m_clotheslineRepositionActive = false;
    std::optional<QPainterPath> m_ropeMovePath;
    std::optional<QPainterPath> m_ropeDropPath;
    std::uint64_t m_pointerGeometryRevision = 0;
    std::optional<PointerHit> m_lastPointerHit;
    DragCallbacks m_dragCallbacks;
    bool m_clotheslineDragStarted = false;
    bool m_ownsMouseSequence = false;
    double m_clotheslineHeight;
    std::optional<QRectF> m_normalFrame;
    std::optional<QRectF> m_compactFrame;
    // Where the switch to the rope style put the window, until the window manager has had its say:
    // the switch maps a new native window, which the window manager may place on its own.
    std::optional<QPointF> m_placement;
    std::uint64_t m_placementCount = 0;
    double m_compactCanvasTop = kInitialCanvasTop;
    double m_clotheslineCanvasTop = kInitialCanvasTop;
    double m_requestedCanvasTop = kInitialCanvasTop;
    double m_topRestoration = 0;
    QPointer<ClotheslineChrome> m_clotheslineChrome;
    UserDefaults* m_positionDefaults;
    bool m_remembersPosition = false;
    std::optional<bool> m_clotheslineStyle;
    // Where the titled window was last moved to bring its title bar on the screen, and where the X
    // server had its client area then.
    std::optional<std::pair<QPoint, std::optional<QPoint>>> m_titleMove;
    QTimer m_pointerTimer;
    bool m_pointerRouting = false;
    bool m_pointerInside = false;
    bool m_pointerRouteQueued = false;
    bool m_inputShapeQueued = false;
    std::optional<QPointF> m_lastClotheslineRoutePoint;
    std::optional<QPointF> m_moveStart;
    QPointF m_moveOrigin;
    QPointer<QWidget> m_content;
    std::function<QList<ScreenArea>()> m_screens;
    std::function<QPointF()> m_pointerPosition;
    std::function<Qt::MouseButtons()> m_mouseButtons;
    bool m_ignoresMouseEvents = false;
    // What the native input shape was last set to: the whole window, nothing, or the hit region
    // of one geometry revision.
    struct AppliedShape {
        bool ignored = false;
        bool wholeWindow = false;
        std::uint64_t revision = 0;
        bool operator==(const AppliedShape&) const = default;
    };
    std::optional<AppliedShape> m_appliedShape;
    bool m_wholeWindowIgnored = false;
    // Heard of at once, so an idle rope need not ask the X server.
    X11CompositorWatch m_compositorWatch;
    X11FrameWatch m_frameWatch;
    std::optional<bool> m_compositorRunning;
    bool m_boundingShapeQueued = false;
    std::optional<QRegion> m_boundingShape;
    // The native window the cut was set on.
    WId m_boundingShapeWindow = 0;
    // What the last frame draws, in device pixels.
    QRegion m_drawnShape;
    // m_drawnShape was read from the frame last painted, before it was flushed.
    bool m_drawnShapeCurrent = false;
    // The native window whose backing store holds a painted frame. A native window made anew has a
    // backing store with no frame until its first paint, and at a device pixel ratio other than 1
    // Qt's backing store does not survive being asked for that frame.
    WId m_framePaintedWindow = 0;
};

} // namespace vennimo
