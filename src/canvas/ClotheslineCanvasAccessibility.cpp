#include "canvas/ClotheslineCanvasView.h"

#include "model/GalleryModel.h"

#include <QAccessible>
#include <QWindow>

namespace vennimo {

QString ClotheslineCanvasView::accessibleLabel(const Photo& photo, bool isNew, bool selected) {
    QString label;
    if (isNew)
        label += QStringLiteral("新照片，");
    if (selected)
        label += QStringLiteral("已选，");
    label += QStringLiteral("在绳上，");
    return label + photo.name();
}

QList<ClotheslineCanvasView::AccessiblePrint> ClotheslineCanvasView::accessiblePrints() {
    QList<AccessiblePrint> prints;
    if (!m_model || !window()->windowHandle())
        return prints;
    const QRectF visible = visibleRect();
    for (const Photo& photo : std::as_const(m_drawingOrder)) {
        const auto frame = printFrame(photo);
        if (!frame)
            continue;
        const QRectF rect = *frame & visible;
        if (rect.isEmpty())
            continue;
        prints.append(
            {photo, rect, accessibleLabel(photo, isNew(photo), m_model->selectedIDs().contains(photo.id))});
    }
    return prints;
}

std::optional<ClotheslineCanvasView::AccessiblePrint>
ClotheslineCanvasView::accessiblePrint(const QString& id) {
    for (const AccessiblePrint& print : accessiblePrints())
        if (print.photo.id == id)
            return print;
    return std::nullopt;
}

void ClotheslineCanvasView::announcePrintsChanged() {
    if (!QAccessible::isActive())
        return;
    QAccessibleEvent event(this, QAccessible::ObjectReorder);
    QAccessible::updateAccessibility(&event);
}

} // namespace vennimo
