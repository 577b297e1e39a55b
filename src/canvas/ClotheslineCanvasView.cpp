#include "canvas/ClotheslineCanvasView.h"

#include "canvas/ClotheslineCanvasAccessible.h"
#include "canvas/ClotheslineCoverGrid.h"
#include "canvas/OpaquePegPreview.h"
#include "canvas/PegDragBadge.h"
#include "canvas/PegDropSurfaces.h"
#include "canvas/RopeWindowPort.h"
#include "dragdrop/PegFolderDelivery.h"
#include "model/GalleryModel.h"
#include "platform/ProcessExit.h"
#include "platform/UserDefaults.h"
#include "platform/X11DropTime.h"

#include <QGuiApplication>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QVarLengthArray>
#include <QWindow>

#include <algorithm>
#include <cmath>

namespace vennimo {

ClotheslineCanvasView::ClotheslineCanvasView(QWidget* parent)
    : QWidget(parent) {
    // Before anything asks for the canvas's interface, which Qt keeps once made.
    ClotheslineCanvasAccessible::installFactory();
    setAttribute(Qt::WA_NoSystemBackground);
    setAttribute(Qt::WA_TranslucentBackground);
    setAutoFillBackground(false);
    setMouseTracking(true);
    setFocusPolicy(Qt::ClickFocus);
    setAccessibleName(QStringLiteral("晾衣绳"));
    setAccessibleDescription(QString::fromUtf8(ClotheslineCanvasAccessible::kHelp));
    // Images from other programs, and the canvas's own copy drags, can be dropped on the rope.
    setAcceptDrops(true);
    // The first drag's first position must be seen too: its time stamp reads the drag's data.
    X11DropTime::watch();
    m_physicsDriver->setCanvas(this);
    m_imagePreparation.prepareArtwork();
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, &ClotheslineCanvasView::focusWindowChanged);
}

ClotheslineCanvasView::~ClotheslineCanvasView() {
    removeDragMonitor();
    if (m_physicsTimer)
        m_physicsTimer->invalidate();
    m_physicsDriver->setCanvas(nullptr);
    m_imagePreparation.cancel();
}

void ClotheslineCanvasView::setWindowPort(RopeWindowPort* port) {
    m_port = port;
    updateHitAreas();
}

bool ClotheslineCanvasView::layerRenderingEnabled() {
    return UserDefaults::standard().clotheslineLayerRendering();
}

void ClotheslineCanvasView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    movedIntoWindow();
}

void ClotheslineCanvasView::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    // A drag whose window went away (the hot key, the tray) cannot be finished by the user.
    abandonDrag("hidden");
    leftWindow();
}

void ClotheslineCanvasView::movedIntoWindow() {
    m_layersInstalled = layerRenderingEnabled();
    m_photoSlots.clear();
    m_buriedIDs.clear();
    m_ropeDirtyRect = {};
    updatePaperScale();
    if (QWindow* handle = window()->windowHandle())
        connect(handle, &QWindow::screenChanged, this, &ClotheslineCanvasView::updatePaperScale,
                Qt::UniqueConnection);
    updatePhysics();
    // The first paint on screen shows the prints, instead of only the rope until the display
    // link's first tick.
    syncPhotoLayers();
    updateHitAreas();
}

void ClotheslineCanvasView::leftWindow() {
    stopPhysics();
    m_imagePreparation.cancel();
    m_visiblePapers.clear();
    m_visiblePaperIDs.clear();
    forgetShownLayers();
    m_layersInstalled = false;
    m_photoSlots.clear();
    m_buriedIDs.clear();
    m_compositor.releaseBuffer();
    m_ropeDirtyRect = {};
    // Gone for good: the outlines of a rope of many prints would only hold the end.
    if (!ProcessExit::announced())
        updateHitAreas();
}

void ClotheslineCanvasView::updatePaperScale() {
    const double scale = std::max(isVisible() ? devicePixelRatioF() : 2.0, 1.0);
    if (scale == m_paperScale)
        return;
    m_paperScale = scale;
    m_imagePreparation.cancel();
    m_visiblePapers.clear();
    forgetShownLayers();
    update();
}

QRectF ClotheslineCanvasView::visibleRect() const {
    const QRectF bounds(QPointF(0, 0), QSizeF(size()));
    QWidget* viewport = parentWidget();
    if (!viewport || !qobject_cast<QScrollArea*>(viewport->parentWidget()))
        return bounds;
    return QRectF(QPointF(-pos()), QSizeF(viewport->size())) & bounds;
}

QSet<QString> ClotheslineCanvasView::hiddenPhotoIDs() const {
    // Prints lifted by their pegs travel with the drag once their panels show them.
    QSet<QString> hidden;
    if (m_sessionInProgress && m_dragIntent == ClotheslineDragIntent::movePeg)
        for (const ClotheslineDragEntry& entry : m_sessionEntries)
            hidden.insert(entry.photo.id);
    hidden -= m_opaqueAwaitingIDs;
    hidden |= m_finishingPreviewIDs;
    return hidden;
}

bool ClotheslineCanvasView::selected(const Photo& photo) const {
    return m_model && m_model->selectionMode() && m_model->selectedIDs().contains(photo.id);
}

bool ClotheslineCanvasView::isNew(const Photo& photo) const {
    return m_model && !m_model->interactions().isUsed(photo);
}

namespace {

QStringView badgeLayer(bool selected, bool isNew) {
    if (selected)
        return PolaroidRenderer::kSelection;
    return isNew ? PolaroidRenderer::kArrival : QStringView();
}

} // namespace

QImage ClotheslineCanvasView::overlayImage(const Photo& photo) {
    const QStringView layer = badgeLayer(selected(photo), isNew(photo));
    return layer.isEmpty() ? QImage() : PolaroidRenderer::image(photo, kPhotoSize, m_paperScale, layer);
}

ClotheslineCanvasView::ShownLayer ClotheslineCanvasView::overlayLayer(const Photo& photo) {
    const QStringView layer = badgeLayer(selected(photo), isNew(photo));
    if (layer.isEmpty()) {
        m_shownBadges.remove(photo.id);
        return {};
    }
    if (layer == PolaroidRenderer::kSelection)
        return keptLayer(
            m_shownBadges, photo, layer,
            [&] { return PolaroidRenderer::imageKey(photo, kPhotoSize, m_paperScale, layer); },
            [&] { return PolaroidRenderer::image(photo, kPhotoSize, m_paperScale, layer); }, true);
    // The arrival tag looks the same on papers of every shape and only sits at the corner: one
    // drawing serves them all, where a drawing for each shape cost the main thread a blur for each
    // of hundreds of shapes arriving at once. It moves by whole device pixels, to stay as sharp.
    const Photo usual;
    ShownLayer tag = keptLayer(
        m_shownBadges, photo, layer,
        [&] { return PolaroidRenderer::imageKey(usual, kPhotoSize, m_paperScale, layer); },
        [&] { return PolaroidRenderer::image(usual, kPhotoSize, m_paperScale, layer); }, true);
    if (tag.image.isNull())
        return tag;
    static const double usualLeft = PolaroidRenderer::geometry(usual, kPhotoSize, 0, 0).paperRect.left();
    const double shift = photoLayout(photo).geometry.paperRect.left() - usualLeft;
    if (tag.area.isEmpty())
        tag.area = QRectF(QPointF(), kPhotoSize);
    tag.area.translate(std::round(shift * m_paperScale) / m_paperScale, 0);
    return tag;
}

QImage ClotheslineCanvasView::pegImage() {
    if (m_peg.isNull() || m_pegScale != m_paperScale) {
        m_peg = PolaroidRenderer::image(Photo{}, kPhotoSize, m_paperScale, PolaroidRenderer::kPeg);
        m_pegScale = m_paperScale;
    }
    return m_peg;
}

ClotheslineCanvasView::ShownLayer ClotheslineCanvasView::keptLayer(QHash<QString, ShownLayer>& kept,
                                                                   const Photo& photo, QStringView layer,
                                                                   const std::function<QString()>& key,
                                                                   const std::function<QImage()>& draw,
                                                                   bool cut) {
    // The badges and blank papers follow the shape the print is laid out with.
    const QSizeF imageSize = photoLayout(photo).imageSize;
    if (const auto it = kept.constFind(photo.id); it != kept.constEnd() && it->layer == layer &&
                                                  it->imageSize == imageSize && it->scale == m_paperScale)
        return *it;
    ShownLayer shown{layer, imageSize, m_paperScale, {}, {}};
    const QString sharedKey = key();
    if (const auto shared = m_sharedLayers.constFind(sharedKey); shared != m_sharedLayers.constEnd()) {
        shown.image = shared->image;
        shown.area = shared->area;
    } else {
        shown.image = draw();
        const QRect painted =
            cut && !shown.image.isNull() ? ClotheslinePhotoSlot::paintedPixels(shown.image) : QRect();
        if (!painted.isEmpty() && painted != shown.image.rect()) {
            const double sx = kPhotoSize.width() / shown.image.width();
            const double sy = kPhotoSize.height() / shown.image.height();
            shown.area =
                QRectF(painted.x() * sx, painted.y() * sy, painted.width() * sx, painted.height() * sy);
            shown.image = shown.image.copy(painted);
        }
    }
    // The empty stand-in of a blank paper still drawing is asked for again.
    if (shown.image.isNull() || shown.image.cacheKey() == PolaroidRenderer::emptyPaper().cacheKey()) {
        kept.remove(photo.id);
    } else {
        kept.insert(photo.id, shown);
        m_sharedLayers.insert(sharedKey, shown);
    }
    return shown;
}

void ClotheslineCanvasView::askWaitingPapers() {
    for (int asked = 0; asked < ClotheslineImagePreparation::kMaxPending && !m_paperWaiting.isEmpty();
         ++asked) {
        const QString next = m_paperWaiting.takeFirst();
        m_paperWaitingIDs.remove(next);
        schedulePhotoFrame(next);
    }
}

void ClotheslineCanvasView::forgetShownLayers() {
    m_paperRequests.clear();
    m_paperWaiting.clear();
    m_paperWaitingIDs.clear();
    m_shownBadges.clear();
    m_shownPlaceholders.clear();
    m_sharedLayers.clear();
    m_peg = QImage();
}

void ClotheslineCanvasView::markDirty(const QRectF& rect) {
    if (!rect.isEmpty())
        update(rect.toAlignedRect());
}

void ClotheslineCanvasView::syncPhotoLayers() {
    syncLayersOf(nullptr);
}

void ClotheslineCanvasView::syncPhotoLayers(const QSet<QString>& photoIDs) {
    syncLayersOf(&photoIDs);
}

void ClotheslineCanvasView::syncLayersOf(const QSet<QString>* only, bool motionOnly) {
    if (!m_layersInstalled || !m_model)
        return;
    const QSet<QString> hidden = hiddenPhotoIDs();
    const QRectF visible = visibleRect();
    const ClotheslineRopeGeometry rope = ropeGeometry();
    const QImage peg = pegImage();
    QSet<QString> kept;
    if (!only)
        kept.reserve(m_drawingOrder.size());
    // Each area handed to the widget one by one would cost a union with all before it, thousands
    // of times in a frame of a moving rope: past a few, their bounds stand for them.
    QVarLengthArray<QRectF, kDirtyRectsKept> dirty;
    QRectF dirtyBounds;
    const auto changedArea = [&](const QRectF& area) {
        if (area.isEmpty())
            return false;
        dirtyBounds |= area;
        if (dirty.size() <= kDirtyRectsKept)
            dirty.append(area);
        return true;
    };
    bool changed = false;
    for (qsizetype i = 0; i < m_drawingOrder.size(); ++i) {
        const Photo& photo = m_drawingOrder[i];
        if (only && !only->contains(photo.id))
            continue;
        const auto place = placement(photo);
        if (!place)
            continue;
        if (!only)
            kept.insert(photo.id);
        ClotheslinePhotoSlot& slot = m_photoSlots[photo.id];
        const QPointF pegPoint = rope.pointAlong(rope.supportFraction(place->x));
        const QRectF frame(pegPoint - PolaroidRenderer::defaultPegAnchor, kPhotoSize);
        const QRectF grown = frame.adjusted(-kViewMargin, -kViewMargin, kViewMargin, kViewMargin);
        const bool onScreen = grown.intersects(visible);
        const bool shownOrHidden = changedArea(slot.setHidden(hidden.contains(photo.id) || !onScreen));
        changed = changedArea(slot.setZ(int(i))) || shownOrHidden || changed;
        if (!onScreen)
            continue;
        const PolaroidGeometry g = geometry(photo);
        ClotheslinePhotoSlot::Content content = slot.content();
        // A frame of motion moves the prints; their images change by frames of their own.
        const bool moving =
            motionOnly && !shownOrHidden && !content.peg.isNull() && content.peg.cacheKey() == peg.cacheKey();
        if (!moving) {
            content.paper = paperShown(photo);
            // A buried print keeps what it shows until its blank paper is drawn: the empty
            // stand-in would uncover the prints below it.
            if (m_buriedIDs.contains(photo.id) &&
                content.paper.cacheKey() == PolaroidRenderer::emptyPaper().cacheKey() &&
                !slot.content().paper.isNull())
                content.paper = slot.content().paper;
            content.peg = peg;
            const ShownLayer badge = m_sizeAwaitedIDs.contains(photo.id) ? ShownLayer() : overlayLayer(photo);
            content.overlay = badge.image;
            content.overlayArea = badge.area;
        }
        content.frame = frame;
        content.paperTransform = g.paperTransform;
        content.pegTransform = g.pegTransform;
        content.paperRect = g.paperRect;
        changed = changedArea(slot.update(content)) || changed;
    }
    // Only a pass over the whole rope knows which prints left it.
    if (!only) {
        for (auto it = m_photoSlots.begin(); it != m_photoSlots.end();) {
            if (kept.contains(it.key())) {
                ++it;
                continue;
            }
            changedArea(it->bounds());
            it = m_photoSlots.erase(it);
            changed = true;
        }
    }
    if (dirty.size() > kDirtyRectsKept)
        markDirty(dirtyBounds);
    else
        for (const QRectF& area : std::as_const(dirty))
            markDirty(area);
    if (changed && !m_burying)
        buryCoveredPrints();
}

void ClotheslineCanvasView::invalidateFrame(bool motionOnly) {
    if (!m_layersInstalled) {
        update();
        return;
    }
    const ClotheslineRopeGeometry rope = ropeGeometry();
    QRectF area = rope.strand(0, 1).boundingRect() |
                  rope.strand(rope.supportFraction(0), rope.supportFraction(1)).boundingRect();
    for (const QRectF& knot : rope.knotRects())
        area |= knot;
    for (const QRectF& tack : rope.tackRects())
        area |= tack;
    area.adjust(-kRopeDirtyMargin, -kRopeDirtyMargin, kRopeDirtyMargin, kRopeDirtyMargin);
    markDirty(area | m_ropeDirtyRect);
    m_ropeDirtyRect = area;
    syncLayersOf(nullptr, motionOnly);
}

QImage ClotheslineCanvasView::preparedPaper(const Photo& photo) {
    if (const auto it = m_visiblePapers.constFind(photo.id); it != m_visiblePapers.constEnd())
        return *it;
    const double scale = m_paperScale;
    QPointer<ClotheslineCanvasView> self(this);
    // A print waiting for room is asked for again when room comes; until then a pass over the rope
    // would build its keys twice for nothing.
    if (!m_paperRequests.contains(photo.id) && !m_paperWaitingIDs.contains(photo.id)) {
        if (auto cached = PolaroidRenderer::cachedImage(photo, kPhotoSize, scale, PolaroidRenderer::kPaper)) {
            m_visiblePapers.insert(photo.id, *cached);
            m_shownPlaceholders.remove(photo.id);
            return *cached;
        }
        const bool requested =
            m_imagePreparation.request(photo, scale, [self, photo, scale](const QImage& image) {
                if (!self)
                    return;
                self->m_paperRequests.remove(photo.id);
                // The room this request leaves goes to the prints that waited longest.
                self->askWaitingPapers();
                if (!image.isNull() && self->m_paperScale == scale && self->m_photos.contains(photo)) {
                    PolaroidRenderer::storePrepared(image, photo, scale);
                    // Kept by the print that shows it, so that papers of other prints never push
                    // it out of the renderer's cache before its frame takes it in; the next paint
                    // lets it go if the print is out of view by then.
                    if (!self->m_buriedIDs.contains(photo.id))
                        self->m_visiblePapers.insert(photo.id, image);
                    self->m_shownPlaceholders.remove(photo.id);
                }
                self->schedulePhotoFrame(photo.id);
            });
        if (requested) {
            m_paperRequests.insert(photo.id);
        } else {
            m_paperWaiting.append(photo.id);
            m_paperWaitingIDs.insert(photo.id);
        }
    }
    return blankPaper(photo);
}

QImage ClotheslineCanvasView::blankPaper(const Photo& photo) {
    const double scale = m_paperScale;
    QPointer<ClotheslineCanvasView> self(this);
    return keptLayer(
               m_shownPlaceholders, photo, PolaroidRenderer::kPaper,
               [&] {
                   return PolaroidRenderer::placeholderKey(photo, kPhotoSize, scale,
                                                           PolaroidRenderer::kPaper);
               },
               [&] {
                   return PolaroidRenderer::placeholder(photo, scale, [self, id = photo.id] {
                       if (self)
                           self->schedulePhotoFrame(id);
                   });
               })
        .image;
}

QImage ClotheslineCanvasView::paperShown(const Photo& photo) {
    // The peg hangs where it will; the paper waits for the shape its picture's size gives.
    if (m_sizeAwaitedIDs.contains(photo.id))
        return PolaroidRenderer::emptyPaper();
    // Where no part of the photo shows, its blank paper of the same shape looks the same, and
    // prints of a shape share one.
    return m_buriedIDs.contains(photo.id) ? blankPaper(photo) : preparedPaper(photo);
}

void ClotheslineCanvasView::scheduleFrame() {
    m_wholeFramePending = true;
    schedulePhotoFrame({});
}

void ClotheslineCanvasView::schedulePhotoFrame(const QString& photoID) {
    // Papers and placeholders come ready in bursts, a thousand when a folder fills: one frame takes
    // in all that came by then, and a picture that comes ready draws its print's area again, not
    // the rope.
    if (!photoID.isEmpty())
        m_framePhotoIDs.insert(photoID);
    if (m_framePending)
        return;
    m_framePending = true;
    const qint64 since = m_sinceFrame.isValid() ? m_sinceFrame.elapsed() : kFrameIntervalMs;
    QTimer::singleShot(int(std::max<qint64>(0, kFrameIntervalMs - since)), this, [this] {
        m_framePending = false;
        if (ProcessExit::announced())
            return;
        ++m_scheduledFrameCount;
        m_sinceFrame.start();
        const QSet<QString> photoIDs = std::exchange(m_framePhotoIDs, {});
        if (std::exchange(m_wholeFramePending, false) || !m_layersInstalled)
            invalidateFrame();
        else
            syncPhotoLayers(photoIDs);
        // Prints that wait for room while none is being used (those asked for had gone from view)
        // would otherwise wait for the next pass over the whole rope.
        if (m_paperRequests.isEmpty() && !m_paperWaiting.isEmpty())
            askWaitingPapers();
    });
}

void ClotheslineCanvasView::paintEvent(QPaintEvent* event) {
    // A frame of the process's last moments is never seen.
    if (ProcessExit::announced())
        return;
    QPainter painter(this);
    drawContent(painter, event->region());
}

void ClotheslineCanvasView::drawContent(QPainter& painter, const QRegion& dirty) {
    const QRectF visible = visibleRect();
    m_visiblePaperIDs.clear();
    if (m_model) {
        for (const Photo& photo : std::as_const(m_photos)) {
            const auto frame = printFrame(photo);
            if (frame &&
                frame->adjusted(-kViewMargin, -kViewMargin, kViewMargin, kViewMargin).intersects(visible))
                m_visiblePaperIDs.insert(photo.id);
        }
    }
    // A print that shows keeps its paper, which its slot holds anyway: only the frames of the
    // prints whose pictures changed take anything in, and a paper let go here would be drawn again
    // at the next pass over the whole rope.
    for (auto it = m_visiblePapers.begin(); it != m_visiblePapers.end();) {
        const auto slot = m_photoSlots.constFind(it.key());
        const bool shown = slot != m_photoSlots.constEnd() && !slot->hidden();
        const bool keep = (m_visiblePaperIDs.contains(it.key()) || shown) && !m_buriedIDs.contains(it.key());
        it = keep ? std::next(it) : m_visiblePapers.erase(it);
    }
    for (QHash<QString, ShownLayer>* kept : {&m_shownBadges, &m_shownPlaceholders})
        kept->removeIf([this](QHash<QString, ShownLayer>::iterator it) {
            return !m_visiblePaperIDs.contains(it.key());
        });
    // Kept on only while a print or the renderer's own cache holds it too.
    m_sharedLayers.removeIf([](QHash<QString, ShownLayer>::iterator it) { return it->image.isDetached(); });

    // The rope is painted by several threads at once when the frame is banded: the lambda reads
    // only its own copies.
    const ClotheslineRopeGeometry rope = ropeGeometry();
    const bool highlighted = m_externalDrop || m_internalDrop;
    const QColor highlight = palette().color(QPalette::Highlight);
    const ClotheslineFrameCompositor::Background background = [rope, highlighted, highlight](QPainter& p) {
        ClotheslineRopeGeometry::drawStrand(p, rope.strand(0, 1));
        if (highlighted) {
            QPen pen(highlight, kHighlightWidth, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
            p.strokePath(rope.strand(rope.supportFraction(0), rope.supportFraction(1)), pen);
        }
        const QImage& tack = ClotheslineRopeGeometry::brassTack();
        for (const QRectF& rect : rope.tackRects())
            p.drawImage(rect, tack);
    };

    const QRectF dirtyBounds = dirty.boundingRect();
    if (m_layersInstalled) {
        QList<const ClotheslinePhotoSlot*> slots;
        slots.reserve(m_photoSlots.size());
        for (const ClotheslinePhotoSlot& slot : std::as_const(m_photoSlots))
            if (!slot.hidden() && slot.bounds().intersects(dirtyBounds))
                slots.append(&slot);
        std::sort(
            slots.begin(), slots.end(),
            [](const ClotheslinePhotoSlot* a, const ClotheslinePhotoSlot* b) { return a->z() < b->z(); });
        // From the top down, each print gets only the part of the dirty area that the opaque papers
        // above it leave open, cell by cell, and a print wholly under them none: with many
        // overlapping prints most pixels are then painted once. The papers above cut exactly, as one
        // region, cost more than the painting they saved once a rope held hundreds of prints.
        ClotheslineCoverGrid grid(dirtyBounds, kPaintCoverCellPoints);
        QList<ClotheslineFrameCompositor::Layer> layers;
        layers.reserve(slots.size());
        for (qsizetype i = slots.size() - 1; i >= 0; --i) {
            const QRectF bounds = slots[i]->bounds();
            if (!grid.covers(bounds)) {
                QRegion open = dirty & grid.open(bounds.toAlignedRect());
                if (!open.isEmpty())
                    layers.append({slots[i], std::move(open)});
            }
            grid.cover(slots[i]->coveredRect());
        }
        std::reverse(layers.begin(), layers.end());
        // The tack image is made once, before any band thread asks for it.
        ClotheslineRopeGeometry::brassTack();
        QRectF ropeArea = rope.strand(0, 1).boundingRect();
        for (const QRectF& tack : rope.tackRects())
            ropeArea |= tack;
        ropeArea.adjust(-kRopeDirtyMargin, -kRopeDirtyMargin, kRopeDirtyMargin, kRopeDirtyMargin);
        m_compositor.paint(painter, dirty, ropeArea, background, layers);
        return;
    }
    ClotheslineFrameCompositor::paintDirectly(painter, dirty, background, {});
    if (!m_model)
        return;
    const QSet<QString> hidden = hiddenPhotoIDs();
    for (const Photo& photo : std::as_const(m_drawingOrder)) {
        if (hidden.contains(photo.id) || !m_visiblePaperIDs.contains(photo.id))
            continue;
        const auto frame = printFrame(photo);
        if (!frame || !frame->intersects(dirtyBounds))
            continue;
        const PolaroidGeometry g = geometry(photo);
        ClotheslinePhotoSlot print;
        ClotheslinePhotoSlot::Content content;
        content.frame = *frame;
        content.paper = paperShown(photo);
        content.peg = pegImage();
        const ShownLayer badge = m_sizeAwaitedIDs.contains(photo.id) ? ShownLayer() : overlayLayer(photo);
        content.overlay = badge.image;
        content.overlayArea = badge.area;
        content.paperTransform = g.paperTransform;
        content.pegTransform = g.pegTransform;
        print.update(content);
        print.paint(painter);
    }
}

} // namespace vennimo
