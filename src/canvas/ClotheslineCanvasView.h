#pragma once

#include "canvas/ClotheslineDragEntry.h"
#include "canvas/ClotheslineFrameCompositor.h"
#include "canvas/ClotheslinePhotoSlot.h"
#include "canvas/ClotheslinePresentation.h"
#include "canvas/PhotoDropTarget.h"
#include "core/Photo.h"
#include "dragdrop/ClotheslineDragIntent.h"
#include "platform/DisplayLink.h"
#include "platform/X11ReleaseProbe.h"
#include "rendering/ClotheslineImagePreparation.h"
#include "rendering/PolaroidRenderer.h"
#include "rope/ClotheslinePhysics.h"
#include "rope/ClotheslineRopeGeometry.h"
#include "rope/HangingStyle.h"
#include "rope/PegContactState.h"
#include "rope/PhotoPendulum.h"
#include "rope/RopeDisplayLinkTarget.h"

#include <QElapsedTimer>
#include <QHash>
#include <QImage>
#include <QList>
#include <QMimeData>
#include <QPainterPath>
#include <QPointer>
#include <QRectF>
#include <QRegion>
#include <QSet>
#include <QWidget>

#include <array>
#include <functional>
#include <map>
#include <memory>
#include <optional>

class QDrag;
class QTimer;
class QDropEvent;
class QMenu;
class QWindow;

namespace vennimo {

class DragPictureReturn;
class GalleryModel;
class OpaquePegPreview;
class PegDragBadge;
class PegDropSurfaces;
class PegFolderDelivery;
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
    // Seconds on a steady clock; tests control it.
    using Clock = std::function<double()>;

    static constexpr QSizeF kPhotoSize = PolaroidRenderer::defaultSize;
    static constexpr double kDragImagePadding = 16;
    static constexpr double kInset = 12;
    static constexpr double kViewMargin = 16;
    static constexpr double kEmptyCanvasHeight = 62;
    static constexpr double kFullCanvasHeight = PolaroidGeometry::kDesignHeight + 160;
    static constexpr double kColumnWidth = 240;
    static constexpr double kRevealMargin = 10;
    static constexpr double kRopeDirtyMargin = 24;
    // A photo lies 4 points inside the part of its paper that hides what is below: the cells and
    // the margin a print is buried by stay within that, so a print right behind one of its shape is.
    static constexpr double kCoverCellPoints = 1.5;
    static constexpr double kBuryMarginPoints = 1;
    // Frames that come of pictures getting ready are drawn at most at a display's rate.
    static constexpr qint64 kFrameIntervalMs = 16;
    static constexpr qint64 kMovingHitAreasIntervalMs = 100;
    static constexpr double kPaintCoverCellPoints = 4;
    static constexpr qsizetype kDirtyRectsKept = 32;
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
    void setClock(Clock clock) { m_clock = std::move(clock); }
    // Wakes the canvas once `seconds` from now to ask again for prints a failed request left
    // unplaced; arming it again replaces the last wake-up. Without one, a single-shot timer; tests
    // keep the wake-up and run it when their clock has passed the pause.
    using RetryTimer = std::function<void(double seconds, std::function<void()> wake)>;
    void setPlacementRetryTimer(RetryTimer timer) { m_retryTimer = std::move(timer); }
    // The first pause before prints still unplaced after a failed placement request are asked
    // for again, and the longest it doubles to.
    static constexpr double kPlacementRetrySeconds = 1;
    static constexpr double kMaxPlacementRetrySeconds = 64;
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

    // A print whose picture's size is still being read lays out at 4 x 3 and shows its peg, but
    // its paper and badges only once the size came, so that no paper changes its shape on screen.
    const PhotoGeometry& photoLayout(const Photo& photo);
    const QSet<QString>& sizeAwaitedIDs() const { return m_sizeAwaitedIDs; }
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
    // The layers of the prints named only: what only they changed.
    void syncPhotoLayers(const QSet<QString>& photoIDs);
    // Both of the above: the named prints only, or the whole rope with none named.
    // A pass for `motionOnly` moves the prints and asks nothing of their images.
    void syncLayersOf(const QSet<QString>* only, bool motionOnly = false);
    // Gives the prints whose photos lie wholly under the papers in front of them blank papers of
    // their shapes, and those whose photos show again their own.
    void buryCoveredPrints();
    // Takes the prints that waited longest for room to prepare their papers into the next frame.
    void askWaitingPapers();
    void invalidateFrame(bool motionOnly = false);
    void updateHitAreasUnlessMoving();
    // invalidateFrame() on the next turn, once however often it is asked for until then, and no
    // sooner than a display's frame after the last one.
    void scheduleFrame();
    // The same for the prints named only, whose papers or stand-ins came ready: their areas are
    // drawn again, nothing else.
    void schedulePhotoFrame(const QString& photoID);
    int scheduledFrameCount() const { return m_scheduledFrameCount; }
    const QHash<QString, ClotheslinePhotoSlot>& photoSlots() const { return m_photoSlots; }
    const QSet<QString>& buriedPhotoIDs() const { return m_buriedIDs; }
    bool layersInstalled() const { return m_layersInstalled; }
    QImage preparedPaper(const Photo& photo);
    // The prepared paper, or none while the picture's size is read.
    QImage paperShown(const Photo& photo);
    QImage blankPaper(const Photo& photo);
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
    // Whether a point lies on the whole rope as it hangs now, stroked as wide as the window's
    // rope-move shape.
    bool ropeStrokeContains(QPointF point) const;
    // Whether a point lies on the rope between the outermost peg places, stroked `width` wide.
    bool pegSpanStrokeContains(QPointF point, double width) const;

    // Presses (ClotheslineCanvasPresses.cpp). A press on a print that travels farther than the
    // drag threshold hands the print to the drag start; until a drag session exists it answers
    // false and the press stays, so the next move tries again.
    static constexpr double kDragThreshold = 5;
    using DragStart = std::function<bool(const Photo& leader, bool onPeg, QPointF pressPoint, QPointF point)>;
    void setDragStart(DragStart start) { m_dragStart = std::move(start); }
    const std::optional<Photo>& pressPhoto() const { return m_pressPhoto; }
    const std::optional<QPainterPath>& pressIndicatorPath() const { return m_pressIndicatorPath; }
    bool pressedPeg() const { return m_pressedPeg; }
    bool sessionInProgress() const { return m_sessionInProgress; }
    // Escape: cancels a knot resize back to the frame it started from; false when nothing was
    // cancelled, so the key goes on to the window.
    bool cancelOperation();
    const PhotoCallback& onSelect() const { return m_onSelect; }
    const PhotoCallback& onPreview() const { return m_onPreview; }

    // Drags off the rope (ClotheslineCanvasDrags.cpp). A press on a print's paper that travels
    // past the threshold carries copies of its files (or of the selection's) out with a system
    // drag; the session ends in finishDrag whatever way it ends. The drag runs through `exec`
    // (the system drag loop unless a test replaces it).
    using DragExec = std::function<Qt::DropAction(QDrag& drag)>;
    void setDragExec(DragExec exec) { m_dragExec = std::move(exec); }
    // False when no session started; the press then stays for the next move.
    bool startDragSession(const Photo& leader, bool onPeg, QPointF pressPoint, QPointF point);
    // The one end of every session; does nothing outside one.
    void finishDrag(Qt::DropAction operation, bool released);
    // Ends a running session as Escape does, for a drag cut off by the window hiding, by the
    // window losing the focus or by the pointer's button coming up where the canvas never heard
    // of it: nothing is recorded and the prints go back.
    // `reason` names the cut in the rope's diagnostic log.
    void abandonDrag(const char* reason);
    // Whether the pointer's first button is down now, wherever its release goes; nothing when
    // that cannot be known (off X11). Tests replace it.
    using LeftButtonTest = std::function<std::optional<bool>()>;
    void setLeftButtonTest(LeftButtonTest test) { m_leftButtonTest = std::move(test); }
    static constexpr int kLostReleasePollMs = 50;
    // How the prints' drag panels and the count badge show: see-through where a compositing
    // manager blends windows (and off X11), cut to their pictures' outline by the alpha where
    // nothing does. `none` makes no panels, as when they cannot be made: the system drag then
    // carries the prints' picture. Tests replace it.
    enum class PegPanels { translucent, masked, none };
    void setPegPanels(std::function<PegPanels()> test) { m_pegPanels = std::move(test); }
    PegPanels pegPanels() const;
    ClotheslineDragIntent dragIntent() const { return m_dragIntent; }
    bool dragCancelled() const { return m_dragCancelled; }
    const QList<ClotheslineDragEntry>& sessionEntries() const { return m_sessionEntries; }
    const std::optional<Photo>& leader() const { return m_leader; }
    QPointF grabOffset() const { return m_grabOffset; }
    // Paper, peg and an optional overlay on the paper, posed by `g` with that margin around.
    QImage paddedPrint(const PolaroidGeometry& g, const QImage& paper, const QImage& peg,
                       const QImage& overlay = {}) const;

    // Peg drags (ClotheslineCanvasPegs.cpp). Prints lifted by their pegs stay with the canvas
    // while the rope can take them back or no file manager lies under the pointer: released on the
    // rope they slide along it as a group, released elsewhere they come down as one undoable step.
    static constexpr double kReceptionStrokeWidth = 96;
    // Whether a file manager or the desktop would take a drop at a screen point; until the shell
    // installs the real test, nothing does and the drag stays with the canvas.
    using NativeDestination = std::function<bool(QPointF screenPoint)>;
    void setNativeDestination(NativeDestination test) { m_nativeDestination = std::move(test); }
    bool receivesPegDrag(QPointF point);
    bool updateContact(QPointF point, const QString& source);
    bool pegTouchesRope(QPointF point);
    // The placement offset the whole carried group takes when the leader's peg goes to `point`;
    // clamped so that no print leaves the rope.
    double offsetForReposition(QPointF point) const;
    bool commitReposition(QPointF point);
    bool commitTakeDownDrop();
    bool localPegDragActive() const { return m_localPeg && m_sessionInProgress; }
    const std::optional<QPointF>& dragPoint() const { return m_dragPoint; }
    double pullProgress() const { return m_pullProgress; }
    bool smoothPegMotion() const { return m_smoothPegMotion; }
    const PegContactState& pegContact() const { return m_pegContact; }
    OpaquePegPreview* opaquePreview() const { return m_opaquePreview.get(); }
    OpaquePegPreview* finishingPreview() const { return m_finishingPreview.get(); }
    // The picture of a copy drag that nothing took, while it slides back onto its prints.
    OpaquePegPreview* copyPictureReturn() const { return m_copyPictureReturn.get(); }
    // The picture of a print as the rope shows it now, for its drag panel; kept while its pose,
    // its images and its badge stay the same.
    QImage opaqueSprite(const Photo& photo);
    // The prints whose drag pictures are kept.
    QStringList opaqueSpriteIDs() const { return m_opaqueSprites.keys(); }
    // Whether the rope rests with the prints' final pictures, so returning panels may go.
    bool opaqueSourceSettled(const QList<Photo>& photos) const;
    // The system drag a peg drag became over a file manager (ClotheslineCanvasHandOver.cpp):
    // its folder delivery and count badge while it runs.
    static constexpr int kPegRoutingMs = 80;
    const std::shared_ptr<PegFolderDelivery>& sessionFolderDelivery() const {
        return m_sessionFolderDelivery;
    }
    PegDragBadge* pegDragBadge() const { return m_pegDragBadge.get(); }
    // Diagnostics of the picture a system peg drag shows: sampled every 1/30 s while it runs, and
    // at each update the canvas gets as its destination (`sender`).
    static constexpr int kDragVisualSampleMs = 33;
    void recordDragVisual(const QString& source, const QDropEvent* sender = nullptr);
    PegDropSurfaces* pegDropSurfaces() const { return m_pegDropSurfaces.get(); }

    // Drops onto the rope (ClotheslineCanvasDrops.cpp).
    PhotoDropTarget photoDropTarget(QPointF point);
    const std::optional<PhotoDropTarget>& pendingPhotoDrop() const { return m_pendingPhotoDrop; }
    // The rope shows its drop highlight.
    bool externalDrop() const { return m_externalDrop; }
    bool internalDrop() const { return m_internalDrop; }
    // The placement x under a canvas point, not clamped.
    double ropeFraction(QPointF point) const;

    // Menus (ClotheslineCanvasMenus.cpp). The presenter shows a menu at a global point and
    // returns when it closed; the file actions open a file with the default application and show
    // it in the file manager. Tests replace them.
    using MenuPresenter = std::function<void(QMenu& menu, QPoint globalPos)>;
    using OpenFile = std::function<bool(const QString& path)>;
    using RevealFile = std::function<void(const QString& path)>;
    void setMenuPresenter(MenuPresenter presenter) { m_menuPresenter = std::move(presenter); }
    void setOpenFile(OpenFile open) { m_openFile = std::move(open); }
    void setRevealFile(RevealFile reveal) { m_revealFile = std::move(reveal); }
    // The menu of one print, its items enabled by the model's state now.
    std::unique_ptr<QMenu> photoContextMenu();
    const std::optional<Photo>& contextPhoto() const { return m_contextPhoto; }
    void previewContext();
    void propertiesContext();
    void copyContext();
    void takeDownContext();
    void openContext();
    void revealContext();

    // Accessibility (ClotheslineCanvasAccessibility.cpp): one element per print that can be seen,
    // bottom to top, with its visible part in canvas coordinates and its spoken label.
    struct AccessiblePrint {
        Photo photo;
        QRectF rect;
        QString label;
    };
    QList<AccessiblePrint> accessiblePrints();
    std::optional<AccessiblePrint> accessiblePrint(const QString& id);
    static QString accessibleLabel(const Photo& photo, bool isNew, bool selected);

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dragLeaveEvent(QDragLeaveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void movedIntoWindow();
    void leftWindow();
    void rebuild(const ClotheslinePresentation& next, const HangingStyle& previousStyle);
    void requestPlacements(QSizeF viewport);
    void armPlacementRetry(double seconds);
    void revealArrivals();
    void revealKeyboardSelection();
    void imageSizeLearned(const Photo& photo);
    void applyLearnedSizes();
    void drawPlaceholdersBeforeShowing();
    void scrollToVisible(const QRectF& rect);
    // The selection or arrival badge the print shows, if any.
    QImage overlayImage(const Photo& photo);
    // The peg every print shows at the current scale.
    QImage pegImage();
    // A layer image a print showed, with what it was drawn for: a frame asks the renderer again
    // only when one of those changed, so an unchanged print costs no key and no cache look-up,
    // however many shapes the rope holds and however small the caches are for them.
    struct ShownLayer {
        QStringView layer{};
        QSizeF imageSize{};
        double scale = 0;
        QImage image{};
        // Where a layer cut to the part it paints lies on the print canvas; empty when uncut.
        QRectF area{};
    };
    // `cut` keeps only the part the layer paints: a badge is a corner of a print's canvas.
    // `key` (the renderer's, built only when the print's kept layer no longer fits) finds the layer
    // another print of the shape keeps.
    ShownLayer keptLayer(QHash<QString, ShownLayer>& kept, const Photo& photo, QStringView layer,
                         const std::function<QString()>& key, const std::function<QImage()>& draw,
                         bool cut = false);
    // The badge a print shows on the rope, cut to what it paints.
    ShownLayer overlayLayer(const Photo& photo);
    // The kept layout of a print, made anew when its record or the style changed.
    QHash<QString, PhotoGeometry>::iterator layoutEntry(const Photo& photo);
    void forgetShownLayers();
    bool selected(const Photo& photo) const;
    bool isNew(const Photo& photo) const;
    void markDirty(const QRectF& rect);
    void press(QMouseEvent* event, int clickCount);
    void clearPress();
    void presentMenu(QMenu& menu, QPoint globalPos);
    // Tells assistive technologies that the canvas's prints changed.
    void announcePrintsChanged();
    // Drags and drops.
    void runCopyDrag(QPointF point);
    // What takes the drag's picture over should nothing take the drop: `restOrigin` is where the
    // picture lies over the prints, in the canvas, as they hung when the drag began; `images` are
    // the entries' pictures in it.
    std::unique_ptr<DragPictureReturn> returnCopyPicture(QDrag& drag, const QImage& picture, QPoint hotSpot,
                                                         QPointF restOrigin,
                                                         const QList<ClotheslineDragEntry>& entries,
                                                         const QList<QImage>& images);
    void installDragMonitor();
    void removeDragMonitor();
    bool isOwnDrag(const QDropEvent& event) const;
    bool isOwnPhotoDrag(const QDropEvent& event) const;
    // While another program's drag moves, one whose URI list is still to be read counts as
    // readable; the list is read once the source has that answer. The drop waits for the list.
    Qt::DropAction externalOperation(const QDropEvent& event, bool dropping = false);
    bool externalReadable(const QDropEvent& event, bool dropping);
    Qt::DropAction dropOperation(const QDropEvent& event);
    void beginPegSession(QPointF point);
    void updateLocalPegDrag(QPointF point);
    void releaseLocalPegDrag(QPointF point);
    void movePegPreview(QPointF screenPoint);
    void handOverPegDrag(QPointF screenPoint);
    void routeSystemPegDrag();
    bool isOwnPegDrag(const QDropEvent& event) const;
    // An own system peg drag that the window takes back at the event's point, and the operation
    // the canvas answers it with.
    bool acceptsPegDrag(const QDropEvent& event);
    Qt::DropAction pegDragOperation(const QDropEvent& event);
    void startDragVisualSampler();
    void watchForCutOffDrag();
    void focusWindowChanged(QWindow* focus);
    // Logs each new point a system drag moved to.
    void recordDragPointer(QPointF screenPoint);
    bool yieldsToNativeDestination(QPointF screenPoint) const;
    // The point a peg drag is judged at: where the pointer really is, whichever event came.
    QPointF livePegPoint(QPointF point) const;
    // The group offset the physics uses while the pegs are carried.
    double carriedOffset() const;
    void pullTowardCarriedPegs(double offset);
    void prepareOpaqueDrag(QPointF point);
    void finishOpaqueDrag(const QList<Photo>& photos);
    void setExternalDrop(bool on);
    void markRopeDirty();

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
    // Prints in view whose photos lie wholly under the papers in front of them.
    QSet<QString> m_buriedIDs;
    bool m_burying = false;
    // Prints whose paper is being prepared: they wait for it without asking again.
    QSet<QString> m_paperRequests;
    // Prints whose paper the preparation had no room for yet, in the order they asked: each paper
    // that comes makes room for the next of them.
    QList<QString> m_paperWaiting;
    QSet<QString> m_paperWaitingIDs;
    QHash<QString, ShownLayer> m_shownBadges;
    QHash<QString, ShownLayer> m_shownPlaceholders;
    // The outlines each print last gave the window to take presses, with where and how it hung.
    struct PublishedPrint {
        QPointF origin{};
        QRectF paperRect{};
        QTransform paperTransform{};
        QTransform pegTransform{};
        int badge = 0;
        QRectF visible{};
        QTransform toContent{};
        QList<QPainterPath> paths{};
        bool sameAs(const PublishedPrint& other) const;
    };
    QHash<QString, PublishedPrint> m_publishedPrints;
    // The badges and blank papers the prints above keep, by the renderer's key: prints of one
    // shape share one image, however many shapes outgrow the renderer's own cache.
    QHash<QString, ShownLayer> m_sharedLayers;
    QImage m_peg;
    double m_pegScale = 0;
    double m_paperScale = 2;
    QHash<QString, PhotoGeometry> m_photoGeometry;
    QSet<QString> m_sizeAwaitedIDs;
    QList<Photo> m_learnedSizes;
    bool m_learnedSizesQueued = false;
    bool m_layersInstalled = false;
    bool m_framePending = false;
    // What the pending frame takes in: the whole rope, or only the prints named.
    bool m_wholeFramePending = false;
    QSet<QString> m_framePhotoIDs;
    QElapsedTimer m_sinceFrame;
    // Since the areas that take presses were last made during a motion of the rope.
    QElapsedTimer m_sinceMovingHitAreas;
    qint64 m_movingHitAreasCostMs = 0;
    int m_scheduledFrameCount = 0;
    QHash<QString, ClotheslinePhotoSlot> m_photoSlots;
    ClotheslineFrameCompositor m_compositor;
    QRectF m_ropeDirtyRect;
    int m_rebuildCount = 0;

    // Press and menu.
    std::optional<Photo> m_pressPhoto;
    std::optional<QPainterPath> m_pressIndicatorPath;
    std::optional<QPointF> m_pressPoint;
    int m_pressClickCount = 0;
    bool m_pressedPeg = false;
    std::optional<Photo> m_contextPhoto;
    DragStart m_dragStart;
    MenuPresenter m_menuPresenter;
    OpenFile m_openFile;
    RevealFile m_revealFile;

    // Session state that the drag Parts drive; at rest here.
    bool m_sessionInProgress = false;
    bool m_externalDrop = false;
    bool m_internalDrop = false;
    ClotheslineDragIntent m_dragIntent = ClotheslineDragIntent::copyPhoto;
    bool m_dragCancelled = false;
    std::unique_ptr<QObject> m_dragEventMonitor;
    QList<ClotheslineDragEntry> m_sessionEntries;
    std::optional<Photo> m_leader;
    QPointF m_grabOffset;
    std::optional<PhotoDropTarget> m_pendingPhotoDrop;
    DragExec m_dragExec;
    // The data of the running drag: a drop that carries it is this canvas's own.
    QPointer<const QMimeData> m_dragMimeData;
    // Peg drags.
    NativeDestination m_nativeDestination;
    std::optional<ClotheslineRopeGeometry> m_dragContactRope;
    PegContactState m_pegContact;
    PegReceptionState m_pegReception;
    std::optional<QPointF> m_dragPoint;
    bool m_localPeg = false;
    QPointF m_localPegStartPoint;
    std::optional<QPointF> m_localPegPoint;
    std::unique_ptr<OpaquePegPreview> m_opaquePreview;
    std::unique_ptr<OpaquePegPreview> m_finishingPreview;
    std::unique_ptr<OpaquePegPreview> m_copyPictureReturn;
    std::unique_ptr<PegDragBadge> m_pegDragBadge;
    std::shared_ptr<PegFolderDelivery> m_sessionFolderDelivery;
    std::unique_ptr<QTimer> m_pegRoutingTimer;
    std::unique_ptr<PegDropSurfaces> m_pegDropSurfaces;
    // The system drag while it runs, the last point it moved to, and its picture's sampler.
    QPointer<QDrag> m_systemDrag;
    std::optional<QPointF> m_sessionPoint;
    std::unique_ptr<QTimer> m_visualDiagnosticTimer;
    // A local peg drag whose release went elsewhere: the button was seen up this many polls.
    std::unique_ptr<QTimer> m_lostReleaseTimer;
    int m_releasedPolls = 0;
    // Whether a release seen up by the server is still on its way here (X11 only).
    std::unique_ptr<X11ReleaseProbe> m_releaseProbe;
    LeftButtonTest m_leftButtonTest;
    bool m_sessionHadFocus = false;
    std::function<PegPanels()> m_pegPanels;
    struct OpaqueSprite {
        Photo photo;
        qint64 paperKey = 0;
        qint64 pegKey = 0;
        qint64 overlayKey = 0;
        std::array<double, 13> transform{};
        QImage sprite;
    };
    QHash<QString, OpaqueSprite> m_opaqueSprites;
    QSet<QString> m_opaqueAwaitingIDs;
    QSet<QString> m_finishingPreviewIDs;

    // Refresh bookkeeping.
    bool m_pendingPositions = false;
    // The unplaced prints of the last placement request, and when they may be asked for again:
    // never when that request did not fail, else once a pause that grows with each attempt has
    // passed, so a placement that keeps failing does not loop through refreshes.
    std::optional<QSet<QString>> m_requestedUnplaced;
    std::optional<double> m_placementRetryAt;
    double m_placementRetryDelay = kPlacementRetrySeconds;
    QTimer* m_placementRetryTimer = nullptr;
    RetryTimer m_retryTimer;
    Clock m_clock = &DisplayLink::now;
    std::optional<int> m_lastArrival;
    bool m_deferredArrival = false;
};

} // namespace vennimo
