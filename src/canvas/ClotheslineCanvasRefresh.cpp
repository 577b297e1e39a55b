#include "canvas/ClotheslineCanvasView.h"

#include "model/GalleryModel.h"
#include "rendering/PhotoDimensions.h"

#include <QPointer>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace vennimo {

namespace {

struct Springs {
    double damping = 0;
    double stiffness = 0;
};

Springs springsOf(const HangingStyle& style) {
    if (style.strictlyVertical)
        return {22, 120};
    if (style.offCenter)
        return {6.5, 75};
    return {8, 95};
}

QString poseIdentity(const Photo& photo) {
    return photo.recordKey();
}

} // namespace

std::optional<ClotheslinePlacement> ClotheslineCanvasView::placement(const Photo& photo) const {
    if (!m_model)
        return std::nullopt;
    return m_model->clotheslinePlacements().position(photo);
}

ClotheslineRopeGeometry ClotheslineCanvasView::ropeGeometry() const {
    ClotheslineRopeGeometry rope;
    rope.width = width();
    rope.inset = kInset;
    if (m_physics.initialized)
        rope.displacement.assign(m_physics.displacement.begin(), m_physics.displacement.end());
    return rope;
}

std::optional<QRectF> ClotheslineCanvasView::printFrame(const Photo& photo) const {
    const auto place = placement(photo);
    if (!place)
        return std::nullopt;
    const ClotheslineRopeGeometry rope = ropeGeometry();
    const QPointF peg = rope.pointAlong(rope.supportFraction(place->x));
    return QRectF(peg - PolaroidRenderer::defaultPegAnchor, kPhotoSize);
}

void ClotheslineCanvasView::refresh(GalleryModel* model, QSizeF viewport, bool previewing, HangingStyle style,
                                    PhotoCallback onSelect, PhotoCallback onPreview) {
    m_model = model;
    m_previewing = previewing;
    m_onSelect = std::move(onSelect);
    m_onPreview = std::move(onPreview);
    const HangingStyle previousStyle = m_style;
    m_style = style;
    if (!model)
        return;

    QList<Photo> hanging;
    for (const Photo& photo : model->photos())
        if (model->hangs(photo))
            hanging.append(photo);
    m_photos = hanging;
    // A print that left the rope no longer needs the picture its peg drag carried.
    QSet<QString> hangingIDs;
    for (const Photo& photo : std::as_const(m_photos))
        hangingIDs.insert(photo.id);
    for (auto it = m_opaqueSprites.begin(); it != m_opaqueSprites.end();)
        it = hangingIDs.contains(it.key()) ? std::next(it) : m_opaqueSprites.erase(it);

    ClotheslinePresentation next;
    next.photos = m_photos;
    for (const Photo& photo : std::as_const(m_photos)) {
        next.placements.append(model->clotheslinePlacements().position(photo));
        if (!model->interactions().isUsed(photo))
            next.newIDs.insert(photo.id);
    }
    next.selectionMode = model->selectionMode();
    next.selectedIDs = model->selectedIDs();
    next.style = style;
    next.viewport = viewport;
    const bool changed = !m_presentation || *m_presentation != next;
    if (changed) {
        rebuild(next, previousStyle);
        drawPlaceholdersBeforeShowing();
    }

    resizeForViewport(viewport);
    requestPlacements(viewport);

    const int arrival = model->arrivalRevision();
    if ((!m_lastArrival || *m_lastArrival != arrival) && !model->latestArrivalIDs().isEmpty())
        m_deferredArrival = true;
    m_lastArrival = arrival;
    revealArrivals();
    revealKeyboardSelection();

    if (changed) {
        updatePhysics();
        // Prints that came with this refresh show in the next paint, not a display-link tick later.
        syncPhotoLayers();
        update();
        updateHitAreasUnlessMoving();
        announcePrintsChanged();
    }
}

void ClotheslineCanvasView::rebuild(const ClotheslinePresentation& next, const HangingStyle& previousStyle) {
    ++m_rebuildCount;
    QHash<QString, Photo> current;
    for (const Photo& photo : next.photos)
        current.insert(photo.id, photo);

    for (auto it = m_photoGeometry.begin(); it != m_photoGeometry.end();) {
        const auto found = current.constFind(it.key());
        const bool keep = found != current.constEnd() && *found == it->photo && it->style == next.style;
        it = keep ? std::next(it) : m_photoGeometry.erase(it);
    }

    QHash<QString, Photo> previous;
    QHash<QString, std::optional<ClotheslinePlacement>> previousPlaces;
    if (m_presentation) {
        for (qsizetype i = 0; i < m_presentation->photos.size(); ++i) {
            const Photo& photo = m_presentation->photos[i];
            previous.insert(photo.id, photo);
            previousPlaces.insert(photo.id, m_presentation->placements.value(i));
        }
    }
    for (auto it = m_visiblePapers.begin(); it != m_visiblePapers.end();) {
        const auto now = current.constFind(it.key());
        const auto before = previous.constFind(it.key());
        const bool keep = now != current.constEnd() && before != previous.constEnd() && *now == *before;
        it = keep ? std::next(it) : m_visiblePapers.erase(it);
    }
    for (auto it = m_pendulums.begin(); it != m_pendulums.end();)
        it = current.contains(it->first) ? std::next(it) : m_pendulums.erase(it);

    const Springs springs = springsOf(next.style);
    const bool styleChanged = next.style != previousStyle;
    for (qsizetype i = 0; i < next.photos.size(); ++i) {
        const Photo& photo = next.photos[i];
        const std::optional<ClotheslinePlacement>& place = next.placements[i];
        const QSizeF imageSize = photoLayout(photo).imageSize;
        const HangingStyle::Pose target = next.style.pose(poseIdentity(photo), imageSize);
        const auto before = previousPlaces.constFind(photo.id);
        if (styleChanged && !previousPlaces.isEmpty() && before != previousPlaces.constEnd()) {
            PhotoPendulum pendulum;
            if (const auto it = m_pendulums.find(photo.id); it != m_pendulums.end()) {
                pendulum = it->second;
            } else {
                const HangingStyle::Pose old = previousStyle.pose(poseIdentity(photo), imageSize);
                pendulum.angle = old.angle;
                pendulum.offset = old.offset;
            }
            pendulum.targetAngle = target.angle;
            pendulum.targetOffset = target.offset;
            pendulum.damping = springs.damping;
            pendulum.stiffness = springs.stiffness;
            m_pendulums[photo.id] = pendulum;
            continue;
        }
        if (!place)
            continue;
        if (before != previousPlaces.constEnd() && before->has_value() && (*before)->x == place->x)
            continue;
        const double kick =
            next.style.strictlyVertical ? 0 : (target.angle >= 0 ? kSwingKickDegrees : -kSwingKickDegrees);
        PhotoPendulum pendulum;
        pendulum.angle = target.angle + kick;
        pendulum.offset = target.offset;
        pendulum.targetAngle = target.angle;
        pendulum.targetOffset = target.offset;
        pendulum.damping = springs.damping;
        pendulum.stiffness = springs.stiffness;
        m_pendulums[photo.id] = pendulum;
    }

    m_presentation = next;
    // Sorted as positions with their depths beside them: a thousand prints sorted as records, each
    // comparison looking up two depths by name, held the main thread at every arrival.
    std::vector<std::pair<qint64, qsizetype>> order;
    order.reserve(size_t(next.photos.size()));
    for (qsizetype i = 0; i < next.photos.size(); ++i)
        order.emplace_back(next.placements[i] ? next.placements[i]->zIndex : 0, i);
    std::sort(order.begin(), order.end(), [&next](const auto& a, const auto& b) {
        return a.first != b.first ? a.first < b.first : next.photos[a.second].id < next.photos[b.second].id;
    });
    m_drawingOrder.clear();
    m_drawingOrder.reserve(next.photos.size());
    for (const auto& [depth, index] : order)
        m_drawingOrder.append(next.photos[index]);
}

void ClotheslineCanvasView::requestPlacements(QSizeF viewport) {
    if (kPhotoSize.width() > viewport.width() || !m_model)
        return;
    QSet<QString> unplaced;
    for (const Photo& photo : std::as_const(m_photos)) {
        const auto place = placement(photo);
        if (!place || place->row != 0)
            unplaced.insert(photo.id);
    }
    if (unplaced.isEmpty()) {
        m_requestedUnplaced.reset();
        m_placementRetryAt.reset();
        m_placementRetryDelay = kPlacementRetrySeconds;
        if (m_placementRetryTimer)
            m_placementRetryTimer->stop();
        return;
    }
    if (m_pendingPositions)
        return;
    if (m_requestedUnplaced == unplaced) {
        // The same prints were really asked for and are still unplaced. A request that failed is
        // asked again whether its error still shows, was closed, or another write worked since:
        // none of that says the store is well again. It waits out a pause that doubles with each
        // attempt, so a store broken for good is not hammered, and the pause's end asks by itself,
        // since an idle rope may not refresh again. A request that neither placed nor failed would
        // not fare better a second time.
        if (!m_placementRetryAt)
            return;
        const double wait = *m_placementRetryAt - m_clock();
        if (wait > 0) {
            armPlacementRetry(wait);
            return;
        }
    }
    if (m_placementRetryTimer)
        m_placementRetryTimer->stop();
    m_pendingPositions = true;
    const int count = columns();
    QPointer<ClotheslineCanvasView> self(this);
    QPointer<GalleryModel> model(m_model);
    QTimer::singleShot(0, this, [self, model, count, unplaced] {
        if (!self || !model)
            return;
        self->m_pendingPositions = false;
        // A model that is importing or blocked refuses without trying: the same prints are asked
        // for again on a later refresh.
        const bool attempt = !model->importing() && !model->exhibitionBlocked();
        if (self->m_placementRequest)
            self->m_placementRequest(*model, count);
        else
            model->ensureClotheslinePositions(count);
        if (!self || !model || !attempt)
            return;
        self->m_requestedUnplaced = unplaced;
        self->m_placementRetryAt.reset();
        // The model shows a failed placement write at once.
        if (model->placementError()) {
            const double pause = self->m_placementRetryDelay;
            self->m_placementRetryAt = self->m_clock() + pause;
            self->m_placementRetryDelay = std::min(pause * 2, kMaxPlacementRetrySeconds);
            // A failure that repeats the shown error changes nothing on screen, so no refresh may
            // ever come to ask again: the pause's end asks by itself.
            self->armPlacementRetry(pause);
        }
    });
}

void ClotheslineCanvasView::armPlacementRetry(double seconds) {
    // A wake-up that comes late or after the prints were placed only asks whether anything is
    // still unplaced and its pause over.
    QPointer<ClotheslineCanvasView> self(this);
    const auto wake = [self] {
        if (self && self->m_presentation)
            self->requestPlacements(self->m_presentation->viewport);
    };
    if (m_retryTimer) {
        m_retryTimer(seconds, wake);
        return;
    }
    if (!m_placementRetryTimer) {
        m_placementRetryTimer = new QTimer(this);
        m_placementRetryTimer->setSingleShot(true);
        connect(m_placementRetryTimer, &QTimer::timeout, this, wake);
    }
    m_placementRetryTimer->start(std::chrono::milliseconds(qint64(std::ceil(seconds * 1000))));
}

void ClotheslineCanvasView::scrollToVisible(const QRectF& rect) {
    QWidget* viewport = parentWidget();
    auto* scroll = viewport ? qobject_cast<QScrollArea*>(viewport->parentWidget()) : nullptr;
    if (!scroll)
        return;
    const QPointF centre = rect.center();
    scroll->ensureVisible(int(std::lround(centre.x())), int(std::lround(centre.y())),
                          int(std::ceil(rect.width() / 2)), int(std::ceil(rect.height() / 2)));
}

void ClotheslineCanvasView::revealArrivals() {
    if (!m_deferredArrival || m_sessionInProgress || m_previewing || !m_model)
        return;
    const QSet<QString>& arrivals = m_model->latestArrivalIDs();
    QList<QRectF> frames;
    for (const Photo& photo : std::as_const(m_photos)) {
        if (!arrivals.contains(photo.id))
            continue;
        if (const auto frame = printFrame(photo))
            frames.append(frame->adjusted(-kRevealMargin, -kRevealMargin, kRevealMargin, kRevealMargin));
    }
    if (frames.isEmpty())
        return;
    QRectF all;
    for (const QRectF& frame : std::as_const(frames))
        all |= frame;
    const QSizeF viewport = visibleRect().size();
    scrollToVisible(all.width() <= viewport.width() && all.height() <= viewport.height() ? all
                                                                                         : frames.first());
    m_deferredArrival = false;
}

void ClotheslineCanvasView::revealKeyboardSelection() {
    if (!m_model)
        return;
    const std::optional<QString>& reveal = m_model->keyboardRevealID();
    if (reveal == m_revealedKeyboardID || m_sessionInProgress || m_previewing)
        return;
    m_revealedKeyboardID = reveal;
    if (!reveal)
        return;
    for (const Photo& photo : std::as_const(m_photos)) {
        if (photo.id != *reveal)
            continue;
        if (const auto frame = printFrame(photo))
            scrollToVisible(frame->adjusted(-kRevealMargin, -kRevealMargin, kRevealMargin, kRevealMargin));
        break;
    }
}

const PhotoGeometry& ClotheslineCanvasView::photoLayout(const Photo& photo) {
    return *layoutEntry(photo);
}

QHash<QString, PhotoGeometry>::iterator ClotheslineCanvasView::layoutEntry(const Photo& photo) {
    // Asked for several times for every print in every pass over the rope: the kept layout is
    // handed out in place, not copied with its record and outlines.
    if (const auto it = m_photoGeometry.find(photo.id);
        it != m_photoGeometry.end() && it->photo == photo && it->style == m_style)
        return it;
    PhotoGeometry layout;
    layout.photo = photo;
    layout.style = m_style;
    layout.imageSize = PolaroidRenderer::imageSize(photo);
    layout.target = m_style.pose(poseIdentity(photo), layout.imageSize);
    layout.angle = layout.target.angle;
    layout.offset = layout.target.offset;
    layout.geometry = PolaroidRenderer::geometry(kPhotoSize, layout.imageSize, layout.angle, layout.offset);
    const auto entry = m_photoGeometry.insert(photo.id, std::move(layout));
    QPointer<ClotheslineCanvasView> self(this);
    const bool learning = PhotoDimensions::learn(photo, this, [self, photo] {
        if (self)
            self->imageSizeLearned(photo);
    });
    if (learning)
        m_sizeAwaitedIDs.insert(photo.id);
    else
        m_sizeAwaitedIDs.remove(photo.id);
    return entry;
}

void ClotheslineCanvasView::drawPlaceholdersBeforeShowing() {
    // The prints of a start are known before the rope window maps: their blank papers, one for
    // each shape, are drawn off the main thread meanwhile, so that the first frame shows them
    // instead of bare pegs. Once shown, every frame asks for what it lacks itself.
    if (isVisible() || !m_model)
        return;
    const QScreen* display = screen();
    const double scale = std::max(display ? display->devicePixelRatio() : 1.0, 1.0);
    QPointer<ClotheslineCanvasView> self(this);
    QSet<QString> shapes;
    for (const Photo& photo : std::as_const(m_photos)) {
        if (m_sizeAwaitedIDs.contains(photo.id) || !m_model->clotheslinePlacements().position(photo))
            continue;
        const QSizeF size = photoLayout(photo).imageSize;
        const QString shape = QStringLiteral("%1x%2").arg(size.width()).arg(size.height());
        if (shapes.contains(shape))
            continue;
        shapes.insert(shape);
        PolaroidRenderer::placeholder(photo, scale, [self] {
            if (self)
                self->scheduleFrame();
        });
    }
}

void ClotheslineCanvasView::imageSizeLearned(const Photo& photo) {
    // Sizes come in bursts, hundreds at a time when a folder fills or the rope starts: every pass
    // over the rope (its layers, its hit areas with their round trips to the X server) is made
    // once for all that came in the same turn.
    m_learnedSizes.append(photo);
    if (m_learnedSizesQueued)
        return;
    m_learnedSizesQueued = true;
    QTimer::singleShot(0, this, &ClotheslineCanvasView::applyLearnedSizes);
}

void ClotheslineCanvasView::applyLearnedSizes() {
    m_learnedSizesQueued = false;
    const QList<Photo> learned = std::exchange(m_learnedSizes, {});
    QHash<QString, const Photo*> current;
    for (const Photo& photo : std::as_const(m_photos))
        current.insert(photo.id, &photo);
    bool reshaped = false;
    bool shown = false;
    QSet<QString> changed;
    for (const Photo& photo : learned) {
        // A newer record of the photo asked for its own size.
        const Photo* now = current.value(photo.id);
        if (!now || *now != photo)
            continue;
        if (m_sizeAwaitedIDs.remove(photo.id)) {
            shown = true;
            changed.insert(photo.id);
        }
        const auto it = m_photoGeometry.constFind(photo.id);
        if (it == m_photoGeometry.constEnd() || it->photo != photo ||
            it->imageSize == PolaroidRenderer::imageSize(photo))
            continue;
        m_photoGeometry.erase(it);
        const PhotoGeometry layout = photoLayout(photo);
        // The print swings to the rest its real shape gives, from wherever it is now.
        if (const auto pendulum = m_pendulums.find(photo.id); pendulum != m_pendulums.end()) {
            pendulum->second.targetAngle = layout.target.angle;
            pendulum->second.targetOffset = layout.target.offset;
        }
        reshaped = true;
        changed.insert(photo.id);
    }
    if (!reshaped && !shown)
        return;
    if (reshaped)
        updatePhysics();
    // The others keep their looks; the rope's frames move them.
    syncPhotoLayers(changed);
    update();
    updateHitAreasUnlessMoving();
}

void ClotheslineCanvasView::updateHitAreasUnlessMoving() {
    // The frames of a moving rope make them, as often as they can afford.
    if (!physicsRunning())
        updateHitAreas();
}

PolaroidGeometry ClotheslineCanvasView::geometry(const Photo& photo) {
    PhotoGeometry& layout = *layoutEntry(photo);
    double angle = layout.target.angle;
    double offset = layout.target.offset;
    if (const auto it = m_pendulums.find(photo.id); it != m_pendulums.end()) {
        angle = it->second.angle;
        offset = it->second.offset;
    }
    if (angle != layout.angle || offset != layout.offset) {
        layout.angle = angle;
        layout.offset = offset;
        layout.geometry = PolaroidRenderer::geometry(kPhotoSize, layout.imageSize, angle, offset);
    }
    return layout.geometry;
}

std::optional<QPainterPath> ClotheslineCanvasView::indicatorPath(const Photo& photo,
                                                                 const PolaroidGeometry& geometry) const {
    if (selected(photo))
        return geometry.indicatorPath(true);
    if (isNew(photo))
        return geometry.indicatorPath(false);
    return std::nullopt;
}

std::optional<Photo> ClotheslineCanvasView::photo(QPointF point) {
    for (auto it = m_drawingOrder.crbegin(); it != m_drawingOrder.crend(); ++it) {
        const auto frame = printFrame(*it);
        if (!frame || m_sizeAwaitedIDs.contains(it->id))
            continue;
        const QPointF local = point - frame->topLeft();
        const PolaroidGeometry g = geometry(*it);
        if (g.contains(local))
            return *it;
        if (const auto indicator = indicatorPath(*it, g); indicator && indicator->contains(local))
            return *it;
    }
    return std::nullopt;
}

int ClotheslineCanvasView::columns() const {
    const double w = width();
    return std::max(int(std::floor(std::max(w - 2 * kInset, 1.0) / kColumnWidth)), 1);
}

void ClotheslineCanvasView::resizeForViewport(QSizeF viewport) {
    const double base = m_photos.isEmpty() ? kEmptyCanvasHeight : kFullCanvasHeight;
    const QSize wanted(int(std::lround(viewport.width())), int(std::ceil(std::max(base, viewport.height()))));
    if (wanted == size())
        return;
    resize(wanted);
    updatePhysics();
    update();
    updateHitAreas();
}

} // namespace vennimo
