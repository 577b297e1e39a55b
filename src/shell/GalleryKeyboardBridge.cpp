#include "shell/GalleryKeyboardBridge.h"

#include "model/GalleryModel.h"
#include "platform/UserDefaults.h"
#include "shell/GalleryKeyboard.h"
#include "shell/GalleryWindow.h"

namespace vennimo {

GalleryKeyboardBridge::GalleryKeyboardBridge(GalleryModel& model, GalleryWindow* window, bool rope,
                                             std::function<QList<Photo>()> photos,
                                             std::function<void(const Photo&)> preview, QObject* parent)
    : QObject(parent)
    , m_model(&model)
    , m_window(window)
    , m_rope(rope)
    , m_photos(std::move(photos))
    , m_preview(std::move(preview))
    , m_defaults(&UserDefaults::standard()) {
    connect(&model, &GalleryModel::clotheslineModeChanged, this, &GalleryKeyboardBridge::update);
    update();
}

bool GalleryKeyboardBridge::isActive() const {
    return m_model && m_model->clotheslineMode() == m_rope;
}

void GalleryKeyboardBridge::update() {
    if (!isActive() || !m_window)
        return;
    QPointer<GalleryKeyboardBridge> self(this);
    m_window->setGalleryKeyboardHandler([self](QKeyEvent* event) { return self && self->handle(event); });
}

bool GalleryKeyboardBridge::handle(QKeyEvent* event) {
    if (!isActive())
        return false;
    const QList<Photo> photos =
        m_rope ? m_model->orderedRopePhotos() : (m_photos ? m_photos() : QList<Photo>());
    const SpaceKeyOpener opener = SpaceKeyOpener::load(*m_defaults);
    return GalleryKeyboard::handle(*event, *m_model, photos, m_rope, opener, m_preview);
}

} // namespace vennimo
