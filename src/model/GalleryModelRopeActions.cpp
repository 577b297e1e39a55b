#include "model/GalleryModel.h"

#include <algorithm>

namespace vennimo {

namespace {

QString placementFailureText(const Error& error) {
    return QString::fromUtf8(GalleryModel::kPlacementUnsavedPrefix) + error.localizedDescription();
}

} // namespace

void GalleryModel::reportPlacementFailure(const Error& error, bool compare) {
    const QString message = placementFailureText(error);
    if (compare && m_placementError == message)
        return;
    publish(m_placementError, std::optional<QString>(message), &GalleryModel::placementErrorChanged);
}

void GalleryModel::clearStalePlacementError() {
    // A debounced write still owed may yet fail, so its text stays until it is on disk.
    if (m_placementError && !m_placements->deferredWriter().needsSave())
        publish(m_placementError, std::optional<QString>(), &GalleryModel::placementErrorChanged);
}

bool GalleryModel::ensureClotheslinePositions(int columns) {
    if (m_exhibitionBlocked || m_importing)
        return false;
    QList<Photo> hanging;
    for (const Photo& photo : m_photos) {
        if (hangs(photo))
            hanging.append(photo);
    }
    return applyPlacementWrite(m_placements->ensurePositions(hanging, columns));
}

bool GalleryModel::bringClotheslinePhotoToFront(const Photo& photo) {
    if (isBusy() || !hangs(photo))
        return false;
    const std::optional<ClotheslinePlacement> own = m_placements->position(photo);
    if (!own)
        return false;
    std::optional<qint64> top;
    for (const Photo& other : m_photos) {
        if (!hangs(other))
            continue;
        if (const auto placement = m_placements->position(other))
            top = std::max(top.value_or(placement->zIndex), placement->zIndex);
    }
    if (top == own->zIndex)
        return true;
    const Status status = m_placements->bringToFront(photo);
    if (!status) {
        reportPlacementFailure(status.error(), false);
        return false;
    }
    Q_EMIT modelChanged();
    return true;
}

bool GalleryModel::moveClotheslinePhotos(const QList<ClotheslinePlacementUpdate>& updates) {
    if (isBusy())
        return false;
    for (const ClotheslinePlacementUpdate& update : updates) {
        const bool found = std::any_of(m_photos.cbegin(), m_photos.cend(), [&](const Photo& photo) {
            return isSamePhoto(photo, update.photo) && hangs(photo);
        });
        if (!found)
            return false;
    }
    return applyPlacementWrite(m_placements->setPositions(updates));
}

bool GalleryModel::applyPlacementWrite(const Result<bool>& changed) {
    if (!changed) {
        reportPlacementFailure(changed.error(), true);
        return false;
    }
    if (*changed)
        Q_EMIT modelChanged();
    clearStalePlacementError();
    return true;
}

QList<Photo> GalleryModel::dragPhotos(const Photo& photo) const {
    if (isBusy())
        return {};
    if (m_selectionMode && m_selectedIDs.contains(photo.id))
        return selectedPhotos();
    return {photo};
}

void GalleryModel::completeDrag(const QList<Photo>& photos, Qt::DropAction action) {
    // A move (a peg dropped on a folder) hands the file over rather than copying it out.
    if (action != Qt::CopyAction || photos.isEmpty())
        return;
    for (const Photo& photo : photos)
        m_usedCopyIDs.insert(photo.recordKey());
    acknowledge(photos);
}

} // namespace vennimo
