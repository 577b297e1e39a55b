#include "canvas/ClotheslineAccessiblePhoto.h"

#include "canvas/ClotheslineCanvasView.h"

#include <QWindow>

namespace vennimo {

ClotheslineAccessiblePhoto::ClotheslineAccessiblePhoto(ClotheslineCanvasView* canvas, const Photo& photo)
    : m_canvas(canvas)
    , m_photo(photo) {}

bool ClotheslineAccessiblePhoto::isValid() const {
    return !m_canvas.isNull();
}

QWindow* ClotheslineAccessiblePhoto::window() const {
    return m_canvas ? m_canvas->window()->windowHandle() : nullptr;
}

QAccessibleInterface* ClotheslineAccessiblePhoto::parent() const {
    return m_canvas ? QAccessible::queryAccessibleInterface(m_canvas.data()) : nullptr;
}

QString ClotheslineAccessiblePhoto::text(QAccessible::Text t) const {
    switch (t) {
    case QAccessible::Name: {
        if (!m_canvas)
            return {};
        const auto print = m_canvas->accessiblePrint(m_photo.id);
        return print ? print->label : ClotheslineCanvasView::accessibleLabel(m_photo, false, false);
    }
    // AT-SPI reads the description; Qt's own help text is there for the rest.
    case QAccessible::Help:
    case QAccessible::Description:
        return QString::fromUtf8(kHelp);
    default:
        return {};
    }
}

QRect ClotheslineAccessiblePhoto::rect() const {
    if (!m_canvas)
        return {};
    const auto print = m_canvas->accessiblePrint(m_photo.id);
    if (!print)
        return {};
    return QRectF(m_canvas->mapToGlobal(print->rect.topLeft()), print->rect.size()).toAlignedRect();
}

QAccessible::State ClotheslineAccessiblePhoto::state() const {
    QAccessible::State state;
    state.invisible = !m_canvas || !m_canvas->accessiblePrint(m_photo.id);
    return state;
}

void ClotheslineAccessiblePhoto::perform(Action action) {
    if (!m_canvas)
        return;
    const ClotheslineCanvasView::PhotoCallback callback =
        action == Action::press ? m_canvas->onSelect() : m_canvas->onPreview();
    if (callback)
        callback(m_photo);
}

} // namespace vennimo
