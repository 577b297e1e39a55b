#include "widgets/AccessiblePhotoElement.h"

namespace vennimo {

void* AccessiblePhotoElement::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::ActionInterface)
        return static_cast<QAccessibleActionInterface*>(this);
    return nullptr;
}

QStringList AccessiblePhotoElement::actionNames() const {
    return {pressAction(), QString::fromUtf8(kPreviewAction)};
}

void AccessiblePhotoElement::doAction(const QString& actionName) {
    if (actionName == pressAction())
        perform(Action::press);
    else if (actionName == QString::fromUtf8(kPreviewAction))
        perform(Action::preview);
}

} // namespace vennimo
