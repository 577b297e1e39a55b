#include "model/GalleryModel.h"

#include <algorithm>
#include <vector>

namespace vennimo {

namespace {

// Where a print without a placement is taken to hang.
constexpr double kUnplacedRopeX = 0.5;

} // namespace

void GalleryModel::toggleAllSelection(const QList<Photo>& photos) {
    if (isBusy())
        return;
    const bool allSelected =
        !photos.isEmpty() && std::all_of(photos.cbegin(), photos.cend(),
                                         [this](const Photo& p) { return m_selectedIDs.contains(p.id); });
    if (allSelected)
        endSelection();
    else
        setSelection(photos);
}

void GalleryModel::moveKeyboardSelection(const QList<Photo>& photos, int direction, bool extend) {
    if (isBusy() || photos.isEmpty())
        return;
    std::optional<qsizetype> current;
    if (m_selectionAnchorID && m_selectedIDs.contains(*m_selectionAnchorID)) {
        const auto it = std::find_if(photos.cbegin(), photos.cend(),
                                     [this](const Photo& p) { return p.id == *m_selectionAnchorID; });
        if (it != photos.cend())
            current = it - photos.cbegin();
    }
    if (!current) {
        const auto it = std::find_if(photos.cbegin(), photos.cend(),
                                     [this](const Photo& p) { return m_selectedIDs.contains(p.id); });
        if (it != photos.cend())
            current = it - photos.cbegin();
    }
    qsizetype target = 0;
    if (!current)
        target = direction < 0 ? photos.size() - 1 : 0;
    else
        target = std::clamp<qsizetype>(*current + direction, 0, photos.size() - 1);
    const Photo& chosen = photos.at(target);
    QList<Photo> selection;
    if (extend) {
        for (const Photo& photo : photos) {
            if (photo.id == chosen.id || m_selectedIDs.contains(photo.id))
                selection.append(photo);
        }
    } else {
        selection.append(chosen);
    }
    setSelection(selection);
    m_selectionAnchorID = chosen.id;
    setKeyboardRevealID(chosen.id);
}

QList<Photo> GalleryModel::orderedRopePhotos() const {
    // Sorting positions rather than whole records keeps the sort cheap on a long rope.
    struct Placed {
        double x;
        qsizetype index;
    };
    std::vector<Placed> placed;
    for (qsizetype i = 0; i < m_photos.size(); ++i) {
        const Photo& photo = m_photos[i];
        if (!hangs(photo))
            continue;
        const auto placement = m_placements->position(photo);
        placed.push_back({placement ? placement->x : kUnplacedRopeX, i});
    }
    std::stable_sort(placed.begin(), placed.end(), [this](const Placed& a, const Placed& b) {
        return a.x != b.x ? a.x < b.x : m_photos[a.index].id < m_photos[b.index].id;
    });
    QList<Photo> ordered;
    ordered.reserve(qsizetype(placed.size()));
    for (const Placed& entry : placed)
        ordered.append(m_photos[entry.index]);
    return ordered;
}

bool GalleryModel::ropeOrderPrecedes(const Photo& a, const Photo& b) const {
    const auto placeOf = [this](const Photo& photo) {
        const auto placement = m_placements->position(photo);
        return placement ? placement->x : kUnplacedRopeX;
    };
    const double ax = placeOf(a);
    const double bx = placeOf(b);
    return ax != bx ? ax < bx : a.id < b.id;
}

void GalleryModel::setClotheslineMode(bool clothesline) {
    if (m_clotheslineMode != clothesline)
        publish(m_clotheslineMode, clothesline, &GalleryModel::clotheslineModeChanged);
}

} // namespace vennimo
