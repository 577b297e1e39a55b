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

QAccessibleInterface* ClotheslineAccessiblePhoto::childAt(int, int) const {
    return nullptr;
}

QAccessibleInterface* ClotheslineAccessiblePhoto::parent() const {
    return m_canvas ? QAccessible::queryAccessibleInterface(m_canvas.data()) : nullptr;
}

QAccessibleInterface* ClotheslineAccessiblePhoto::child(int) const {
    return nullptr;
}

int ClotheslineAccessiblePhoto::indexOfChild(const QAccessibleInterface*) const {
    return -1;
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

void* ClotheslineAccessiblePhoto::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::ActionInterface)
        return static_cast<QAccessibleActionInterface*>(this);
    return nullptr;
}

QStringList ClotheslineAccessiblePhoto::actionNames() const {
    return {pressAction(), QString::fromUtf8(kPreviewAction)};
}

void ClotheslineAccessiblePhoto::doAction(const QString& actionName) {
    if (!m_canvas)
        return;
    ClotheslineCanvasView::PhotoCallback callback;
    if (actionName == pressAction())
        callback = m_canvas->onSelect();
    else if (actionName == QString::fromUtf8(kPreviewAction))
        callback = m_canvas->onPreview();
    if (callback)
        callback(m_photo);
}

} // namespace vennimo
