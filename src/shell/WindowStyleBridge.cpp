#include "shell/WindowStyleBridge.h"

#include "model/ClotheslineChrome.h"
#include "shell/GalleryWindow.h"

#include <QTimer>

namespace vennimo {

WindowStyleBridge::WindowStyleBridge(GalleryWindow* window, ClotheslineChrome& chrome, QObject* parent)
    : QObject(parent)
    , m_window(window)
    , m_chrome(&chrome) {}

void WindowStyleBridge::apply(const Values& values) {
    m_values = values;
    if (!m_window || !m_chrome)
        return;
    m_window->setClotheslineStyle(values.clothesline);
    if (m_chrome->window() != static_cast<GalleryWindowPort*>(m_window.data())) {
        m_chrome->setWindow(m_window.data(), m_window.data());
        m_window->setClotheslineChrome(m_chrome.data());
    }
    if (m_requestPending)
        return;
    m_requestPending = true;
    QTimer::singleShot(0, this, [this] {
        m_requestPending = false;
        if (m_chrome)
            m_chrome->request(m_values.hasPhotos, m_values.expanded, m_values.reduceMotion);
    });
}

} // namespace vennimo
