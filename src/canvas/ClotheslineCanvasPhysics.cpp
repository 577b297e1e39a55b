#include "canvas/ClotheslineCanvasView.h"

#include "model/GalleryModel.h"
#include "platform/ReduceMotion.h"

#include <algorithm>
#include <vector>

namespace vennimo {

namespace {

void snapToTarget(ClotheslinePhysics& physics) {
    physics.displacement = physics.target;
    physics.velocity.fill(0);
}

} // namespace

void ClotheslineCanvasView::updatePhysics() {
    // Prints carried off their pegs by a drag neither load nor pull the rope until the drag
    // Parts hand them back, so only resting prints load it here.
    std::vector<double> loads;
    const ClotheslineRopeGeometry rope = ropeGeometry();
    if (m_model) {
        loads.reserve(std::size_t(m_photos.size()));
        for (const Photo& photo : std::as_const(m_photos))
            if (const auto place = placement(photo))
                loads.push_back(rope.supportFraction(place->x));
    }
    m_physics.target =
        ClotheslinePhysics::equilibrium(loads, rope.usableSpan() + 2 * ClotheslineRopeGeometry::kEndOverhang);
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
    invalidateFrame();
    updateHitAreas();
    if (moving || m_pullProgress < 1)
        return;
    if (!m_sessionInProgress)
        m_smoothPegMotion = false;
    stopPhysics();
}

} // namespace vennimo
