#include "grid/PhotoGridAccessible.h"

#include "grid/PhotoCard.h"
#include "grid/PhotoCardAccessible.h"
#include "grid/PhotoGridView.h"
#include "model/GalleryModel.h"

#include <QApplication>

namespace vennimo {

namespace {

QAccessibleInterface* gridFactory(const QString&, QObject* object) {
    if (auto* grid = qobject_cast<PhotoGridView*>(object))
        return new PhotoGridAccessible(grid);
    return nullptr;
}

PhotoGridAccessible::Announcer& currentAnnouncer() {
    static PhotoGridAccessible::Announcer current;
    return current;
}

QList<QString> idsOf(const QList<Photo>& photos) {
    QList<QString> ids;
    ids.reserve(photos.size());
    for (const Photo& photo : photos)
        ids.append(photo.id);
    return ids;
}

} // namespace

PhotoGridAccessible::PhotoGridAccessible(PhotoGridView* grid)
    : QAccessibleWidget(grid, QAccessible::List)
    , m_shownIDs(idsOf(grid->photos()))
    , m_selected(grid->model().selectedIDs())
    , m_focused(focusWithin(*grid) ? grid->currentPhotoID() : std::nullopt) {
    m_refresh.setSingleShot(true);
    m_refresh.setInterval(0);
    // The timer is the receiver of every connection, so none outlives this interface.
    QObject::connect(&m_refresh, &QTimer::timeout, &m_refresh, [this] { refresh(); });
    QObject::connect(grid, &PhotoGridView::photosReplaced, &m_refresh, [this] { photosReplaced(); });
    GalleryModel* model = &grid->model();
    for (auto signal : {&GalleryModel::selectedIDsChanged, &GalleryModel::selectionModeChanged,
                        &GalleryModel::keyboardRevealIDChanged})
        QObject::connect(model, signal, &m_refresh, qOverload<>(&QTimer::start));
    QObject::connect(qApp, &QApplication::focusChanged, &m_refresh, qOverload<>(&QTimer::start));
}

PhotoGridAccessible::~PhotoGridAccessible() {
    for (const Element& element : std::as_const(m_elements))
        QAccessible::deleteAccessibleInterface(element.id);
    for (const QAccessible::Id id : std::as_const(m_gone))
        QAccessible::deleteAccessibleInterface(id);
}

void PhotoGridAccessible::installFactory() {
    static const bool installed = [] {
        QAccessible::installFactory(gridFactory);
        return true;
    }();
    Q_UNUSED(installed);
}

void PhotoGridAccessible::setAnnouncer(Announcer announcer) {
    currentAnnouncer() = std::move(announcer);
}

void PhotoGridAccessible::announce(QAccessibleEvent& event) {
    if (currentAnnouncer())
        currentAnnouncer()(&event);
    else
        QAccessible::updateAccessibility(&event);
}

bool PhotoGridAccessible::focusWithin(const PhotoGridView& grid) {
    const QWidget* focus = QApplication::focusWidget();
    return focus && grid.isVisible() &&
           (focus == &grid || focus->isAncestorOf(&grid) || grid.isAncestorOf(focus));
}

PhotoGridView* PhotoGridAccessible::grid() const {
    return static_cast<PhotoGridView*>(widget());
}

int PhotoGridAccessible::childCount() const {
    return int(grid()->photos().size());
}

QAccessibleInterface* PhotoGridAccessible::child(int index) const {
    const QList<Photo>& photos = grid()->photos();
    if (index < 0 || index >= photos.size())
        return nullptr;
    return element(photos.at(index).id);
}

PhotoCardAccessible* PhotoGridAccessible::element(const QString& photoID) const {
    if (const auto it = m_elements.constFind(photoID); it != m_elements.constEnd()) {
        if (QAccessibleInterface* existing = QAccessible::accessibleInterface(it->id))
            return static_cast<PhotoCardAccessible*>(existing);
    }
    auto* made = new PhotoCardAccessible(grid(), photoID);
    const QAccessible::Id id = QAccessible::registerAccessibleInterface(made);
    m_elements.insert(photoID, {id, bool(made->state().selected), made->text(QAccessible::Name)});
    return made;
}

int PhotoGridAccessible::indexOfChild(const QAccessibleInterface* child) const {
    if (!child || child->role() != QAccessible::ListItem || child->parent() != this)
        return -1;
    return grid()->indexOfPhoto(static_cast<const PhotoCardAccessible*>(child)->photoID());
}

QAccessibleInterface* PhotoGridAccessible::childAt(int x, int y) const {
    const std::optional<Photo> photo = grid()->photoAt(grid()->viewport()->mapFromGlobal(QPoint(x, y)));
    return photo ? element(photo->id) : nullptr;
}

QAccessibleInterface* PhotoGridAccessible::focusChild() const {
    if (const std::optional<QString> current = grid()->currentPhotoID(); current && focusWithin(*grid()))
        return element(*current);
    return QAccessibleWidget::focusChild();
}

QAccessible::State PhotoGridAccessible::state() const {
    QAccessible::State state = QAccessibleWidget::state();
    state.multiSelectable = true;
    return state;
}

void PhotoGridAccessible::send(QAccessibleInterface* target, QAccessible::Event type) {
    QAccessibleEvent event(target, type);
    announce(event);
}

void PhotoGridAccessible::photosReplaced() {
    QList<QString> shown = idsOf(grid()->photos());
    if (shown == m_shownIDs)
        return;
    m_shownIDs = std::move(shown);
    for (const QAccessible::Id id : std::as_const(m_gone))
        QAccessible::deleteAccessibleInterface(id);
    m_gone.clear();
    for (auto it = m_elements.begin(); it != m_elements.end();) {
        if (grid()->indexOfPhoto(it.key()) >= 0) {
            ++it;
            continue;
        }
        m_gone.append(it->id);
        it = m_elements.erase(it);
    }
    QAccessibleTableModelChangeEvent reset(this, QAccessibleTableModelChangeEvent::ModelReset);
    announce(reset);
    if (m_shownIDs.size() <= kReorderAnnounceLimit)
        send(this, QAccessible::ObjectReorder);
    // Hidden photos may leave the selection, and the current card with them.
    m_refresh.start();
}

void PhotoGridAccessible::refresh() {
    const GalleryModel& model = grid()->model();
    const QSet<QString>& selected = model.selectedIDs();
    for (auto it = m_elements.begin(); it != m_elements.end(); ++it) {
        QAccessibleInterface* card = QAccessible::accessibleInterface(it->id);
        if (!card)
            continue;
        const bool isSelected = selected.contains(it.key());
        if (isSelected != it->selected) {
            it->selected = isSelected;
            send(card, isSelected ? QAccessible::SelectionAdd : QAccessible::SelectionRemove);
        }
        // The label carries the selection while selection mode is on.
        QString name = card->text(QAccessible::Name);
        if (name != it->name) {
            it->name = std::move(name);
            send(card, QAccessible::NameChanged);
        }
    }
    if (selected != m_selected) {
        m_selected = selected;
        send(this, QAccessible::SelectionWithin);
    }
    const std::optional<QString> focused = focusWithin(*grid()) ? grid()->currentPhotoID() : std::nullopt;
    if (focused != m_focused) {
        m_focused = focused;
        if (focused)
            send(element(*focused), QAccessible::Focus);
    }
}

} // namespace vennimo
