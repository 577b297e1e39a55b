#include "core/PhotoIdentity.h"
#include "model/GalleryModel.h"

#include <QPointer>

namespace vennimo {

namespace {

constexpr auto kUndoVerb = "撤销";
constexpr auto kRedoVerb = "重做";
constexpr auto kRedoTrashReplaced = "无法重做删除：原图已移动或被替换，请重新选择照片。";

void trim(QList<RopeHistoryEntry>& history) {
    if (history.size() > GalleryModel::kRopeHistoryLimit)
        history.remove(0, history.size() - GalleryModel::kRopeHistoryLimit);
}

QList<qsizetype> recordCounts(const QList<RopeHistoryEntry>& undo, const QList<RopeHistoryEntry>& redo) {
    QList<qsizetype> counts;
    for (const auto* history : {&undo, &redo}) {
        for (const RopeHistoryEntry& entry : *history)
            counts.append(entry.recordCount());
    }
    return counts;
}

QList<RopeHistoryEntry> prunedHistory(const QList<RopeHistoryEntry>& history, bool undoSide,
                                      const std::function<bool(const Photo&)>& removing) {
    QList<RopeHistoryEntry> result;
    for (const RopeHistoryEntry& entry : history) {
        if (auto pruned = entry.pruned(undoSide, removing))
            result.append(std::move(*pruned));
    }
    return result;
}

} // namespace

bool GalleryModel::canUndoRopeAction() const {
    return !m_undoHistory.isEmpty() && !isBusy();
}

bool GalleryModel::canRedoRopeAction() const {
    return !m_redoHistory.isEmpty() && !isBusy();
}

QString GalleryModel::ropeUndoTitle() const {
    return ropeHistoryTitle(QString::fromUtf8(kUndoVerb), m_undoHistory);
}

QString GalleryModel::ropeRedoTitle() const {
    return ropeHistoryTitle(QString::fromUtf8(kRedoVerb), m_redoHistory);
}

void GalleryModel::pushUndo(const RopeHistoryEntry& entry, bool clearsRedo) {
    m_undoHistory.append(entry);
    trim(m_undoHistory);
    ++m_takeDownUndoGeneration;
    Q_EMIT undoHistoryChanged();
    if (clearsRedo && !m_redoHistory.isEmpty()) {
        m_redoHistory.clear();
        Q_EMIT redoHistoryChanged();
    }
}

void GalleryModel::pushRedo(const RopeHistoryEntry& entry) {
    m_redoHistory.append(entry);
    trim(m_redoHistory);
    ++m_takeDownUndoGeneration;
    Q_EMIT redoHistoryChanged();
}

void GalleryModel::dropNewestUndo() {
    m_undoHistory.removeLast();
    ++m_takeDownUndoGeneration;
    Q_EMIT undoHistoryChanged();
}

void GalleryModel::dropNewestRedo() {
    m_redoHistory.removeLast();
    ++m_takeDownUndoGeneration;
    Q_EMIT redoHistoryChanged();
}

std::optional<Photo> GalleryModel::livePhoto(const Photo& matching) const {
    for (const Photo& photo : m_photos) {
        if (isSamePhoto(photo, matching))
            return photo;
    }
    return std::nullopt;
}

void GalleryModel::undoRopeAction() {
    if (!canUndoRopeAction())
        return;
    // A copy: the entry may be gone by the time the visitor returns, so it works on a copy.
    const RopeHistoryEntry entry = m_undoHistory.last();
    switch (entry.kind()) {
    case RopeHistoryEntry::Kind::takeDown:
        if (setHanging(std::get<RopeHistoryEntry::TakeDown>(entry.payload()).photos, true,
                       RopeHistoryRecording::untracked)) {
            dropNewestUndo();
            pushRedo(entry);
        }
        return;
    case RopeHistoryEntry::Kind::copy:
        undoCopy(std::get<RopeHistoryEntry::Copy>(entry.payload()));
        return;
    case RopeHistoryEntry::Kind::move:
        undoMove(std::get<RopeHistoryEntry::Move>(entry.payload()));
        return;
    case RopeHistoryEntry::Kind::trash:
        undoTrash(std::get<RopeHistoryEntry::Trash>(entry.payload()));
        return;
    }
}

void GalleryModel::undoCopy(const RopeHistoryEntry::Copy& entry) {
    const QPointer<GalleryModel> self(this);
    const double x = entry.x;
    // The recycling keeps the model deleting until it completes, so no entry lands on top.
    m_ropeActionSeams.recycleUndoneCopies(entry.records, [self, x](const QList<CopyUndoRecord>& undone,
                                                                   const QList<CopyUndoRecord>& remaining) {
        if (!self || self->m_undoHistory.isEmpty() || undone.isEmpty())
            return;
        self->dropNewestUndo();
        // What is left takes the place of the entry it came from, as with a partial restore.
        if (!remaining.isEmpty()) {
            self->m_undoHistory.append(RopeHistoryEntry::copy(remaining, x));
            Q_EMIT self->undoHistoryChanged();
        }
        self->pushRedo(RopeHistoryEntry::copy(undone, x));
    });
}

void GalleryModel::undoMove(const RopeHistoryEntry::Move& entry) {
    const std::optional<QList<PegReturnRecord>> returned =
        m_ropeActionSeams.restorePegFolderMove(entry.records);
    if (!returned)
        return;
    dropNewestUndo();
    pushRedo(RopeHistoryEntry::move(*returned, entry.directory));
}

void GalleryModel::undoTrash(const RopeHistoryEntry::Trash& entry) {
    const QList<RopeTrashedItem> restored = m_ropeActionSeams.restoreTrashedItems(entry.items);
    if (restored.isEmpty())
        return;
    QSet<QString> restoredURLs;
    for (const RopeTrashedItem& item : restored)
        restoredURLs.insert(item.trashURL);
    QList<RopeTrashedItem> missing;
    for (const RopeTrashedItem& item : entry.items) {
        if (!restoredURLs.contains(item.trashURL))
            missing.append(item);
    }
    dropNewestUndo();
    // The rest replaces the entry it came from, so the history cannot outgrow its limit here.
    if (!missing.isEmpty()) {
        m_undoHistory.append(RopeHistoryEntry::trash(missing));
        Q_EMIT undoHistoryChanged();
    }
    pushRedo(RopeHistoryEntry::trash(restored));
}

void GalleryModel::redoRopeAction() {
    if (!canRedoRopeAction())
        return;
    const RopeHistoryEntry entry = m_redoHistory.last();
    switch (entry.kind()) {
    case RopeHistoryEntry::Kind::takeDown: {
        QList<Photo> live;
        for (const Photo& stored : std::get<RopeHistoryEntry::TakeDown>(entry.payload()).photos)
            live.append(livePhoto(stored).value_or(stored));
        if (setHanging(live, false, RopeHistoryRecording::replay))
            dropNewestRedo();
        return;
    }
    case RopeHistoryEntry::Kind::copy: {
        const auto& copy = std::get<RopeHistoryEntry::Copy>(entry.payload());
        m_ropeActionSeams.redoPhotoCopies(copy.records, copy.x);
        return;
    }
    case RopeHistoryEntry::Kind::move:
        redoMove(entry, std::get<RopeHistoryEntry::Move>(entry.payload()));
        return;
    case RopeHistoryEntry::Kind::trash:
        redoTrash(entry, std::get<RopeHistoryEntry::Trash>(entry.payload()));
        return;
    }
}

void GalleryModel::redoMove(const RopeHistoryEntry& entry, const RopeHistoryEntry::Move& move) {
    QList<Photo> photos;
    for (const PegReturnRecord& record : move.records)
        photos.append(livePhoto(record.original).value_or(record.original));
    dropNewestRedo();
    if (!m_ropeActionSeams.movePegPhotos(photos, move.directory, RopeHistoryRecording::replay))
        pushRedo(entry);
}

void GalleryModel::redoTrash(const RopeHistoryEntry& entry, const RopeHistoryEntry::Trash& trash) {
    QList<Photo> photos;
    for (const RopeTrashedItem& item : trash.items)
        photos.append(livePhoto(item.photo).value_or(item.photo));
    // Deleting whatever now lies at a path would not be the action that was undone.
    for (const Photo& photo : photos) {
        if (!originalIdentityMatches(photo)) {
            publish(m_actionError, std::optional<QString>(QString::fromUtf8(kRedoTrashReplaced)),
                    &GalleryModel::actionErrorChanged);
            return;
        }
    }
    if (isBusy() || !m_authorizeTrash || !m_authorizeTrash(photos))
        return;
    dropNewestRedo();
    const QPointer<GalleryModel> self(this);
    m_ropeActionSeams.trashSelection(photos, RopeHistoryRecording::replay, [self, entry] {
        if (self)
            self->pushRedo(entry);
    });
}

void GalleryModel::pruneRopeHistory(const QList<Photo>& removing) {
    if (removing.isEmpty())
        return;
    const auto removed = [&removing](const Photo& photo) {
        return std::any_of(removing.cbegin(), removing.cend(),
                           [&photo](const Photo& gone) { return isSamePhoto(gone, photo); });
    };
    QList<RopeHistoryEntry> undo = prunedHistory(m_undoHistory, true, removed);
    QList<RopeHistoryEntry> redo = prunedHistory(m_redoHistory, false, removed);
    if (recordCounts(undo, redo) == recordCounts(m_undoHistory, m_redoHistory))
        return;
    m_undoHistory = std::move(undo);
    m_redoHistory = std::move(redo);
    ++m_takeDownUndoGeneration;
    Q_EMIT undoHistoryChanged();
    Q_EMIT redoHistoryChanged();
}

void GalleryModel::remapRopeHistory(const QList<PhotoReplacement>& pairs, bool preservingExports) {
    if (pairs.isEmpty())
        return;
    if (preservingExports) {
        for (const PhotoReplacement& pair : pairs) {
            if (m_usedCopyIDs.contains(pair.oldPhoto.recordKey()))
                m_usedCopyIDs.insert(pair.newPhoto.recordKey());
        }
    }
    for (RopeHistoryEntry& entry : m_undoHistory)
        entry = entry.remapping(pairs);
    for (RopeHistoryEntry& entry : m_redoHistory)
        entry = entry.remapping(pairs);
    ++m_takeDownUndoGeneration;
    Q_EMIT undoHistoryChanged();
    Q_EMIT redoHistoryChanged();
}

} // namespace vennimo
