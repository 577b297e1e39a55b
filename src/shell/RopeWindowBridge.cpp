#include "shell/RopeWindowBridge.h"

#include "shell/GalleryWindow.h"

namespace vennimo {

RopeWindowBridge::RopeWindowBridge(GalleryWindow* window, QObject* parent)
    : QObject(parent)
    , m_window(window) {}

void RopeWindowBridge::setAreas(const QList<QRectF>& areas) {
    m_areas = areas;
    if (m_window)
        m_window->setInteractiveAreas(m_areas);
}

} // namespace vennimo
