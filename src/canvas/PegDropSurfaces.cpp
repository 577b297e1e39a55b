#include "canvas/PegDropSurfaces.h"

#include <QStringList>

namespace vennimo {

namespace {

// The file managers known to answer a direct save with the folder they show (and their desktops).
const QStringList& directSaveClasses() {
    static const QStringList classes{QStringLiteral("thunar"), QStringLiteral("pcmanfm"),
                                     QStringLiteral("pcmanfm-qt"), QStringLiteral("xfdesktop")};
    return classes;
}

} // namespace

bool PegDropSurfaces::takesDirectSave(const X11WindowStack::Hit& hit) {
    const QStringList& classes = directSaveClasses();
    return classes.contains(hit.instance.toLower()) || classes.contains(hit.className.toLower());
}

bool PegDropSurfaces::yieldsToNativeDestination(QPointF screenPoint) {
    const std::optional<X11WindowStack::Hit> hit = X11WindowStack::topClientAt(screenPoint.toPoint());
    return hit && takesDirectSave(*hit);
}

} // namespace vennimo
