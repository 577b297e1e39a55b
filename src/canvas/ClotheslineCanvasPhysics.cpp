#include "canvas/ClotheslineCanvasView.h"

#include "model/GalleryModel.h"
#include "platform/ReduceMotion.h"

#include <QHash>

#include <algorithm>
#include <cmath>
#include <vector>

namespace vennimo {

namespace {

void snapToTarget(ClotheslinePhysics& physics) {
    physics.displacement = physics.target;
    physics.velocity.fill(0);
}

} // namespace

void ClotheslineCanvasView::updatePhysics() {
    // Prints carried by their pegs load the rope only while the peg touches it, at the place the
    // group would take there; carried off the rope they load nothing.
    QHash<QString, const ClotheslineDragEntry*> carried;
    const bool pegDrag = m_sessionInProgress && m_dragIntent == ClotheslineDragIntent::movePeg;
    if (pegDrag)
        for (const ClotheslineDragEntry& entry : std::as_const(m_sessionEntries))
            carried.insert(entry.photo.id, &entry);
    const double offset = pegDrag ? carriedOffset() : 0;
    std::vector<double> loads;
    const ClotheslineRopeGeometry rope = ropeGeometry();
    if (m_model) {
        loads.reserve(std::size_t(m_photos.size()));
        for (const Photo& photo : std::as_const(m_photos)) {
            const auto place = placement(photo);
            if (!place)
                continue;
            if (!carried.contains(photo.id)) {
                loads.push_back(rope.supportFraction(place->x));
                continue;
            }
            const double x = offset + carried.value(photo.id)->placement.x;
            if (m_internalDrop && x >= 0 && x <= 1)
                loads.push_back(rope.supportFraction(x));
        }
    }
    m_physics.target =
        ClotheslinePhysics::equilibrium(loads, rope.usableSpan() + 2 * ClotheslineRopeGeometry::kEndOverhang);
    pullTowardCarriedPegs(offset);
    if (!m_physics.initialized) {
        snapToTarget(m_physics);
        m_physics.initialized = true;
    }
    if (ReduceMotion::isOn()) {
        snapToTarget(m_physics);
        m_pendulums.clear();
    }
    update();
    if (isVisible() && !physicsRunning()) {
        m_physicsTime = 0;
        m_physicsDriver->setCanvas(this);
        if (!m_physicsTimer) {
            std::weak_ptr<RopeDisplayLinkTarget> driver = m_physicsDriver;
            m_physicsTimer = std::make_unique<DisplayLink>([driver](DisplayLink& link) {
                if (const auto target = driver.lock())
                    target->tick(link);
            });
        }
        m_physicsTimer->start();
    }
}

void ClotheslineCanvasView::pullTowardCarriedPegs(double offset) {
    if (!m_sessionInProgress || m_dragIntent != ClotheslineDragIntent::movePeg || !m_internalDrop ||
        !m_dragPoint || !m_leader)
        return;
    const auto leader =
        std::find_if(m_sessionEntries.cbegin(), m_sessionEntries.cend(),
                     [this](const ClotheslineDragEntry& entry) { return entry.photo.id == m_leader->id; });
    if (leader == m_sessionEntries.cend())
        return;
    const ClotheslineRopeGeometry rope = ropeGeometry();
    // Eases in as the peg comes onto the rope, so the rope does not jump up to it.
    const double easing = std::pow(1 - m_pullProgress, 3);
    const double base = m_dragPoint->y() - m_grabOffset.y();
    std::vector<RopePullPoint> points;
    for (const ClotheslineDragEntry& entry : std::as_const(m_sessionEntries)) {
        const double x = offset + entry.placement.x;
        if (x < 0 || x > 1)
            continue;
        const double f = rope.supportFraction(x);
        const double resting =
            ClotheslineRopeGeometry::kEndY + ClotheslineRopeGeometry::kRestingSagFactor * f * (1 - f);
        points.push_back({f, base + (entry.frame.top() - leader->frame.top()) - resting});
    }
    if (!points.empty())
        m_physics.pull(points, 1 - easing);
}

void ClotheslineCanvasView::stopPhysics() {
    if (m_physicsTimer)
        m_physicsTimer->invalidate();
}

void ClotheslineCanvasView::physicsFrame(DisplayLink& link) {
    ++m_physicsFrameCount;
    if (!isVisible()) {
        snapToTarget(m_physics);
        stopPhysics();
        return;
    }
    const double now = link.targetTimestamp();
    double dt = m_physicsTime == 0 ? link.targetTimestamp() - link.timestamp() : now - m_physicsTime;
    dt = std::max(dt, 0.0);
    m_physicsTime = now;

    if (m_pullProgress < 1) {
        m_pullProgress = std::min(1.0, m_pullProgress + std::min(dt, kMaxPullFrameSeconds) / kPullSeconds);
        updatePhysics();
    }
    bool moving = m_physics.step(dt, m_smoothPegMotion);
    if (ReduceMotion::isOn()) {
        snapToTarget(m_physics);
        m_pendulums.clear();
        m_pullProgress = 1;
        moving = false;
    }
    for (auto it = m_pendulums.begin(); it != m_pendulums.end();) {
        if (it->second.step(dt)) {
            moving = true;
            ++it;
        } else {
            it = m_pendulums.erase(it);
        }
    }
    invalidateFrame(true);
    // The outline of every print of a rope of thousands, made anew at every frame, held the frames
    // back: while the rope moves the areas that take presses follow it a few times a second, and
    // exactly once it rests, and at most a fifth of the time however long they take.
    const bool rests = !moving && m_pullProgress >= 1;
    if (rests || !m_sinceMovingHitAreas.isValid() ||
        m_sinceMovingHitAreas.elapsed() >= std::max(kMovingHitAreasIntervalMs, 4 * m_movingHitAreasCostMs)) {
        m_sinceMovingHitAreas.start();
        updateHitAreas();
        m_movingHitAreasCostMs = m_sinceMovingHitAreas.elapsed();
    }
    if (!rests)
        return;
    if (!m_sessionInProgress)
        m_smoothPegMotion = false;
    stopPhysics();
}

} // namespace vennimo
