#include "rope/RopeDisplayLinkTarget.h"

namespace vennimo {

void RopeDisplayLinkTarget::tick(DisplayLink& link) {
    QObject* object = m_canvas.data();
    if (!object)
        return;
    if (auto* canvas = dynamic_cast<RopePhysicsCanvas*>(object))
        canvas->physicsFrame(link);
}

} // namespace vennimo
