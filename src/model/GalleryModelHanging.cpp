#include "model/GalleryModel.h"

namespace vennimo {

namespace {

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

} // namespace

bool GalleryModel::setHanging(const QList<Photo>& photos, bool hanging, RopeHistoryRecording recording) {
    if (isBusy())
        return false;
    QList<Photo> changing;
    QSet<QString> seenKeys;
    for (const Photo& photo : photos) {
        if (seenKeys.contains(photo.recordKey()) || hangs(photo) == hanging)
            continue;
        seenKeys.insert(photo.recordKey());
        changing.append(photo);
    }
    if (changing.isEmpty())
        return true;
    Status status = savePendingTrashTakeDown();
    if (status)
        status = m_lineHistory->setUsed(changing, !hanging);
    if (!status) {
        publish(m_lineError,
                std::optional<QString>(QString::fromUtf8(kLineUnsavedPrefix) +
                                       status.error().localizedDescription()),
                &GalleryModel::lineErrorChanged);
        return false;
    }
    Q_EMIT modelChanged();
    if (m_lineError)
        publish(m_lineError, std::optional<QString>(), &GalleryModel::lineErrorChanged);
    if (hanging)
        return true;
    if (recording != RopeHistoryRecording::untracked)
        pushUndo(RopeHistoryEntry::takeDown(changing), recording == RopeHistoryRecording::record);
    QSet<QString> remaining = m_selectedIDs;
    for (const Photo& photo : changing)
        remaining.remove(photo.id);
    pruneSelection(remaining);
    return true;
}

void GalleryModel::takeDownSelection() {
    QList<Photo> hanging;
    for (const Photo& photo : selectedPhotos()) {
        if (hangs(photo))
            hanging.append(photo);
    }
    if (hanging.isEmpty())
        return;
    if (setHanging(hanging, false, RopeHistoryRecording::record) && m_selectedIDs.isEmpty() &&
        m_selectionMode)
        publish(m_selectionMode, false, &GalleryModel::selectionModeChanged);
}

void GalleryModel::markExported(const Photo& photo) {
    if (m_exhibitionBlocked)
        return;
    m_usedCopyIDs.insert(photo.recordKey());
    acknowledge({photo});
}

QList<Photo> GalleryModel::lastTakenDown() const {
    if (m_undoHistory.isEmpty())
        return {};
    return std::visit(Overloaded{
                          [](const RopeHistoryEntry::TakeDown& entry) { return entry.photos; },
                          [](const RopeHistoryEntry::Move& entry) {
                              QList<Photo> delivered;
                              for (const PegReturnRecord& record : entry.records)
                                  delivered.append(record.delivered);
                              return delivered;
                          },
                          [](const auto&) { return QList<Photo>(); },
                      },
                      m_undoHistory.last().payload());
}

bool GalleryModel::canUndoTakeDown() const {
    return !isBusy() && !lastTakenDown().isEmpty();
}

} // namespace vennimo
