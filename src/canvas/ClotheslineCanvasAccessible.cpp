#include "canvas/ClotheslineCanvasAccessible.h"

#include "canvas/ClotheslineAccessiblePhoto.h"
#include "canvas/ClotheslineCanvasView.h"

#include <QSet>

namespace vennimo {

namespace {

QAccessibleInterface* canvasFactory(const QString&, QObject* object) {
    if (auto* canvas = qobject_cast<ClotheslineCanvasView*>(object))
        return new ClotheslineCanvasAccessible(canvas);
    return nullptr;
}

} // namespace

ClotheslineCanvasAccessible::ClotheslineCanvasAccessible(ClotheslineCanvasView* canvas)
    : QAccessibleWidget(canvas, QAccessible::Grouping) {}

ClotheslineCanvasAccessible::~ClotheslineCanvasAccessible() {
    for (const QAccessible::Id id : std::as_const(m_elements))
        QAccessible::deleteAccessibleInterface(id);
}

void ClotheslineCanvasAccessible::installFactory() {
    static const bool installed = [] {
        QAccessible::installFactory(canvasFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

ClotheslineCanvasView* ClotheslineCanvasAccessible::canvas() const {
    return static_cast<ClotheslineCanvasView*>(widget());
}

int ClotheslineCanvasAccessible::childCount() const {
    const QList<ClotheslineCanvasView::AccessiblePrint> prints = canvas()->accessiblePrints();
    // Elements of prints that left the rope go; those of prints scrolled away stay for their return.
    QSet<QString> hanging;
    for (const Photo& photo : canvas()->photos())
        hanging.insert(photo.id);
    for (auto it = m_elements.begin(); it != m_elements.end();) {
        if (hanging.contains(it.key())) {
            ++it;
            continue;
        }
        QAccessible::deleteAccessibleInterface(*it);
        it = m_elements.erase(it);
    }
    return int(prints.size());
}

QAccessibleInterface* ClotheslineCanvasAccessible::child(int index) const {
    return element(index);
}

QAccessibleInterface* ClotheslineCanvasAccessible::element(qsizetype index) const {
    const QList<ClotheslineCanvasView::AccessiblePrint> prints = canvas()->accessiblePrints();
    if (index < 0 || index >= prints.size())
        return nullptr;
    const Photo& photo = prints[index].photo;
    if (const auto it = m_elements.constFind(photo.id); it != m_elements.constEnd()) {
        if (QAccessibleInterface* existing = QAccessible::accessibleInterface(*it)) {
            static_cast<ClotheslineAccessiblePhoto*>(existing)->setPhoto(photo);
            return existing;
        }
    }
    auto* made = new ClotheslineAccessiblePhoto(canvas(), photo);
    m_elements.insert(photo.id, QAccessible::registerAccessibleInterface(made));
    return made;
}

int ClotheslineCanvasAccessible::indexOfChild(const QAccessibleInterface* child) const {
    if (!child)
        return -1;
    const QAccessible::Id id = QAccessible::uniqueId(const_cast<QAccessibleInterface*>(child));
    const QString photoID = m_elements.key(id);
    if (photoID.isEmpty())
        return -1;
    const QList<ClotheslineCanvasView::AccessiblePrint> prints = canvas()->accessiblePrints();
    for (qsizetype i = 0; i < prints.size(); ++i)
        if (prints[i].photo.id == photoID)
            return int(i);
    return -1;
}

QAccessibleInterface* ClotheslineCanvasAccessible::childAt(int x, int y) const {
    const QList<ClotheslineCanvasView::AccessiblePrint> prints = canvas()->accessiblePrints();
    const QPointF local = canvas()->mapFromGlobal(QPointF(x, y));
    // The topmost print under the point is the last one drawn.
    for (qsizetype i = prints.size() - 1; i >= 0; --i)
        if (prints[i].rect.contains(local))
            return element(i);
    return nullptr;
}

QString ClotheslineCanvasAccessible::text(QAccessible::Text t) const {
    if (t == QAccessible::Help)
        return QString::fromUtf8(kHelp);
    return QAccessibleWidget::text(t);
}

QStringList ClotheslineCanvasAccessible::actionNames() const {
    return QAccessibleWidget::actionNames()
           << QString::fromUtf8(kSwitchToNormalAction) << QString::fromUtf8(kOpenSettingsAction);
}

void ClotheslineCanvasAccessible::doAction(const QString& actionName) {
    if (actionName == QString::fromUtf8(kSwitchToNormalAction))
        canvas()->switchToNormalContext();
    else if (actionName == QString::fromUtf8(kOpenSettingsAction))
        canvas()->openSettingsContext();
    else
        QAccessibleWidget::doAction(actionName);
}

} // namespace vennimo
