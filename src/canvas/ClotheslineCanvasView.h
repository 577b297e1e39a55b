#pragma once

#include "canvas/ClotheslineFrameCompositor.h"
#include "canvas/ClotheslinePhotoSlot.h"
#include "canvas/ClotheslinePresentation.h"
#include "core/Photo.h"
#include "platform/DisplayLink.h"
#include "rendering/ClotheslineImagePreparation.h"
#include "rendering/PolaroidRenderer.h"
#include "rope/ClotheslinePhysics.h"
#include "rope/ClotheslineRopeGeometry.h"
#include "rope/HangingStyle.h"
#include "rope/PhotoPendulum.h"
#include "rope/RopeDisplayLinkTarget.h"

#include <QHash>
#include <QImage>
#include <QList>
#include <QPainterPath>
#include <QPointer>
#include <QRectF>
#include <QRegion>
#include <QSet>
#include <QWidget>

#include <functional>
#include <map>
#include <memory>
#include <optional>

class QMenu;

namespace vennimo {

class GalleryModel;
class RopeWindowPort;

// The rope: draws the strand and the prints hanging from it, swings the prints and sags the rope
// on a display link that runs only while something moves, and tells the rope window which of its
// shapes take the pointer. It lives in a scroll view without scroll bars (ClotheslineScrollView)
// that keeps it as wide as the window and at least as tall as a hanging print.
class ClotheslineCanvasView : public QWidget, public RopePhysicsCanvas {
    Q_OBJECT

public:
    using PhotoCallback = std::function<void(const Photo&)>;
    // Stands in for the model's ensureClotheslinePositions (tests count or stub it); without
    // one, the model places the prints.
    using PlacementRequest = std::function<void(GalleryModel& model, int columns)>;

    static constexpr QSizeF kPhotoSize = PolaroidRenderer::defaultSize;
    static constexpr double kDragImagePadding = 16;
    static constexpr double kInset = 12;
    static constexpr double kViewMargin = 16;
    static constexpr double kEmptyCanvasHeight = 62;
    static constexpr double kFullCanvasHeight = PolaroidGeometry::kDesignHeight + 160;
    static constexpr double kColumnWidth = 240;
    static constexpr double kRevealMargin = 10;
    static constexpr double kRopeDirtyMargin = 24;
    static constexpr double kRopeMoveStrokeWidth = 14.6;
    static constexpr double kRopeDropStrokeWidth = 8;
    static constexpr double kHighlightWidth = 5;
    static constexpr double kSwingKickDegrees = 3.2;
    static constexpr double kMaxPullFrameSeconds = 0.05;
    static constexpr double kPullSeconds = 0.15;

    explicit ClotheslineCanvasView(QWidget* parent = nullptr);
    ~ClotheslineCanvasView() override;

    // Host wiring.
    void setWindowPort(RopeWindowPort* port);
    RopeWindowPort* windowPort() const { return m_port; }
    void setPlacementRequest(PlacementRequest request) { m_placementRequest = std::move(request); }
    void setOnOpenSettings(std::function<void()> callback) { m_onOpenSettings = std::move(callback); }
    void setOnSwitchToNormal(std::function<void()> callback) { m_onSwitchToNormal = std::move(callback); }

    // The user default "ClotheslineLayerRendering" (true unless it holds false).
    static bool layerRenderingEnabled();

    // Scene.
    void refresh(GalleryModel* model, QSizeF viewport, bool previewing, HangingStyle style,
                 PhotoCallback onSelect, PhotoCallback onPreview);
    const QList<Photo>& photos() const { return m_photos; }
    const QList<Photo>& drawingOrder() const { return m_drawingOrder; }
    const std::optional<ClotheslinePresentation>& presentation() const { return m_presentation; }
    const std::map<QString, PhotoPendulum>& pendulums() const { return m_pendulums; }
    const ClotheslinePhysics& physics() const { return m_physics; }
    const HangingStyle& style() const { return m_style; }
    bool previewing() const { return m_previewing; }
    bool pendingPositions() const { return m_pendingPositions; }
    // How many times the scene was rebuilt from a changed presentation.
    int rebuildCount() const { return m_rebuildCount; }
    double paperScale() const { return m_paperScale; }

    PhotoGeometry photoLayout(const Photo& photo);
    PolaroidGeometry geometry(const Photo& photo);
    std::optional<Photo> photo(QPointF point);
    std::optional<QPainterPath> indicatorPath(const Photo& photo, const PolaroidGeometry& geometry) const;
    int columns() const;
    void resizeForViewport(QSizeF viewport);
    // The rope as it hangs now, for a canvas of the current width.
    ClotheslineRopeGeometry ropeGeometry() const;
    // The frame of a placed print on the current rope; nothing without a placement.
    std::optional<QRectF> printFrame(const Photo& photo) const;
    std::optional<ClotheslinePlacement> placement(const Photo& photo) const;

    // Slots and drawing.
    QSet<QString> hiddenPhotoIDs() const;
    void syncPhotoLayers();
    void invalidateFrame();
    const QHash<QString, ClotheslinePhotoSlot>& photoSlots() const { return m_photoSlots; }
    bool layersInstalled() const { return m_layersInstalled; }
    QImage preparedPaper(const Photo& photo);
    // Paints the canvas area `dirty` (canvas coordinates) into the painter.
    void drawContent(QPainter& painter, const QRegion& dirty);
    void updatePaperScale();

    // Physics.
    void updatePhysics();
    void physicsFrame(DisplayLink& link) override;
    bool physicsRunning() const { return m_physicsTimer && m_physicsTimer->isRunning(); }
    DisplayLink* physicsTimer() const { return m_physicsTimer.get(); }
    int physicsFrameCount() const { return m_physicsFrameCount; }
    void stopPhysics();

    // Hit areas, cursor and the blank-rope menu.
    void updateHitAreas();
    void updateCursor(QPointF point);
    bool pegContains(const Photo& photo, QPointF point) const;
    bool canUseRopeGesture() const;
    bool canSwitchToNormal() const;
    std::unique_ptr<QMenu> ropeContextMenu();
    bool switchToNormalContext();
    bool openSettingsContext();
    // The visible part of the canvas: the scroll view's viewport, else the whole canvas.
    QRectF visibleRect() const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    void movedIntoWindow();
    void leftWindow();
    void rebuild(const ClotheslinePresentation& next, const HangingStyle& previousStyle);
    void requestPlacements(QSizeF viewport);
    void revealArrivals();
    void revealKeyboardSelection();
    void scrollToVisible(const QRectF& rect);
    QImage overlayImage(const Photo& photo) const;
    bool selected(const Photo& photo) const;
    bool isNew(const Photo& photo) const;
    void markDirty(const QRectF& rect);

    // Host wiring.
    QPointer<GalleryModel> m_model;
    RopeWindowPort* m_port = nullptr;
    PhotoCallback m_onSelect;
    PhotoCallback m_onPreview;
    std::function<void()> m_onOpenSettings;
    std::function<void()> m_onSwitchToNormal;
    PlacementRequest m_placementRequest;
    bool m_previewing = false;

    // Physics and motion.
    ClotheslinePhysics m_physics;
    std::optional<QString> m_revealedKeyboardID;
    std::map<QString, PhotoPendulum> m_pendulums;
    HangingStyle m_style;
    std::unique_ptr<DisplayLink> m_physicsTimer;
    std::shared_ptr<RopeDisplayLinkTarget> m_physicsDriver = std::make_shared<RopeDisplayLinkTarget>();
    bool m_smoothPegMotion = false;
    double m_pullProgress = 1;
    double m_physicsTime = 0;
    int m_physicsFrameCount = 0;

    // Scene.
    QList<Photo> m_photos;
    std::optional<ClotheslinePresentation> m_presentation;
    QList<Photo> m_drawingOrder;
    ClotheslineImagePreparation m_imagePreparation;
    QHash<QString, QImage> m_visiblePapers;
    QSet<QString> m_visiblePaperIDs;
    double m_paperScale = 2;
    QHash<QString, PhotoGeometry> m_photoGeometry;
    bool m_layersInstalled = false;
    QHash<QString, ClotheslinePhotoSlot> m_photoSlots;
    ClotheslineFrameCompositor m_compositor;
    QRectF m_ropeDirtyRect;
    int m_rebuildCount = 0;

    // Session state that the drag Parts drive; at rest here.
    bool m_sessionInProgress = false;
    bool m_externalDrop = false;
    bool m_internalDrop = false;
    QSet<QString> m_opaqueAwaitingIDs;
    QSet<QString> m_finishingPreviewIDs;

    // Refresh bookkeeping.
    bool m_pendingPositions = false;
    // The unplaced prints of the last placement request; the same set is not asked for again,
    // so a placement that keeps failing does not loop through refreshes.
    std::optional<QSet<QString>> m_requestedUnplaced;
    std::optional<int> m_lastArrival;
    bool m_deferredArrival = false;
};

} // namespace vennimo
