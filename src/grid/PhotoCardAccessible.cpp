#include "grid/PhotoCardAccessible.h"

#include "grid/PhotoCard.h"
#include "grid/PhotoGridAccessible.h"
#include "grid/PhotoGridView.h"
#include "model/GalleryModel.h"

#include <QWindow>

namespace vennimo {

PhotoCardAccessible::PhotoCardAccessible(PhotoGridView* grid, const QString& photoID)
    : m_grid(grid)
    , m_photoID(photoID) {}

int PhotoCardAccessible::index() const {
    return m_grid ? m_grid->indexOfPhoto(m_photoID) : -1;
}

bool PhotoCardAccessible::isValid() const {
    return index() >= 0;
}

QWindow* PhotoCardAccessible::window() const {
    return m_grid ? m_grid->window()->windowHandle() : nullptr;
}

QAccessibleInterface* PhotoCardAccessible::parent() const {
    return m_grid ? QAccessible::queryAccessibleInterface(m_grid.data()) : nullptr;
}

QString PhotoCardAccessible::text(QAccessible::Text t) const {
    const int at = index();
    if (t != QAccessible::Name || at < 0)
        return {};
    const GalleryModel& model = m_grid->model();
    const Photo& photo = m_grid->photos().at(at);
    return PhotoCard::accessibilityLabel(photo,
                                         {model.selectedIDs().contains(photo.id), model.selectionMode()});
}

QRect PhotoCardAccessible::rect() const {
    const int at = index();
    return at < 0 ? QRect() : m_grid->cardRectOnScreen(at);
}

QAccessible::State PhotoCardAccessible::state() const {
    QAccessible::State state;
    const int at = index();
    if (at < 0) {
        state.invisible = true;
        return state;
    }
    state.selectable = true;
    state.focusable = true;
    state.selected = m_grid->model().selectedIDs().contains(m_photoID);
    state.focused = m_grid->currentPhotoID() == m_photoID && PhotoGridAccessible::focusWithin(*m_grid);
    const QRect view(m_grid->viewport()->mapToGlobal(QPoint(0, 0)), m_grid->viewport()->size());
    state.invisible = !m_grid->isVisible() || !view.intersects(m_grid->cardRectOnScreen(at));
    return state;
}

void PhotoCardAccessible::perform(Action action) {
    const int at = index();
    if (at < 0)
        return;
    // The action may change the grid: it works on its own copy of the photo.
    const Photo photo = m_grid->photos().at(at);
    const PhotoGridView::Callbacks& callbacks = m_grid->callbacks();
    const auto& callback = action == Action::press ? callbacks.select : callbacks.preview;
    if (callback)
        callback(photo);
}

} // namespace vennimo
