#include "core/PhotoRelocation.h"
#include "model/GalleryModel.h"
#include "model/PhotosDeletion.h"
#include "platform/FileIdentity.h"
#include "platform/FileManager1.h"
#include "platform/FreedesktopTrash.h"

#include <QDir>
#include <QFileInfo>
#include <QPointer>

#include <algorithm>
#include <mutex>

namespace vennimo {

namespace {

constexpr auto kFailureSummary = "已删除 %1 张，%2 张未能删除。\n";
constexpr auto kFailureAlertMessage = "有 %1 张照片未能删除";
constexpr auto kFailureAlertTail = "\n\n未能删除的原图与挂绳状态保持不变。";
constexpr auto kExhibitionCleanupFailed = "原图已删除，但展览记录清理失败：";
constexpr auto kMissingFromTrash = "废纸篓中已找不到这张照片";
constexpr auto kTargetTaken = "原位置已有同名文件，照片仍在废纸篓";
constexpr auto kRestoreFailedHeader = "以下照片未能从废纸篓放回：\n";
constexpr auto kRestoredLineUnsaved = "照片已放回，但晾衣绳状态未保存：";
constexpr qsizetype kSummaryTexts = 2;
constexpr qsizetype kRestoreTexts = 3;
constexpr double kUnplacedX = 0.5;

QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

QList<Photo> uniqueByRecordKey(const QList<Photo>& photos) {
    QList<Photo> unique;
    QSet<QString> seen;
    for (const Photo& photo : photos) {
        if (!seen.contains(photo.recordKey())) {
            seen.insert(photo.recordKey());
            unique.append(photo);
        }
    }
    return unique;
}

QStringList sortedTexts(const QHash<QString, QString>& failed) {
    QStringList texts = failed.values();
    std::sort(texts.begin(), texts.end());
    return texts;
}

bool pathExists(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

struct TrashSnapshot {
    bool hanging = false;
    bool exhibited = false;
    double x = kUnplacedX;
};

// What the worker hands back across threads: the Trash locations arrive before the result.
struct TrashLocations {
    std::mutex mutex;
    QHash<QString, QString> byPath;
};

// Each trashed file's identity, read on the worker's side right after the move.
QHash<QString, FileIdentity> trashedIdentities(const QHash<QString, QString>& byPath) {
    QHash<QString, FileIdentity> identities;
    for (const QString& inTrash : byPath) {
        if (const Result<FileIdentity> identity = FileIdentity::read(inTrash))
            identities.insert(inTrash, *identity);
    }
    return identities;
}

// The Trash still holds the file that went there: a regular file of the same size and
// modification date. A link, a folder or another picture put in its place is not the photo.
bool stillTrashedFile(const RopeTrashedItem& item) {
    const Result<FileIdentity> identity = FileIdentity::read(item.trashURL);
    if (!identity || !identity->isRegularFile())
        return false;
    if (item.trashedSize >= 0)
        return identity->size == item.trashedSize && identity->modified == item.trashedModified;
    return identity->size == item.photo.size && identity->modified == item.photo.modified;
}

} // namespace

void GalleryModel::installTrashDefaults() {
    m_recycleCopiedFiles = [](const QList<Photo>& photos, TrashCompletion completion) {
        recycleFilePhotos(photos, freedesktopRecycler(), {}, completion);
    };
    m_recycleDeletedPhotos = [](const QList<Photo>& photos, TrashedHandler trashed,
                                TrashCompletion completion) {
        recyclePhotos(
            photos, freedesktopRecycler(),
            [](const QList<Photo>& assets, TrashCompletion done) {
                PhotosDeletion::deletePhotos(assets, done);
            },
            trashed, completion);
    };
    m_photosAccessStatus = [] { return PhotosLibrary::shared()->authorizationStatus(); };
    m_requestPhotosAccess = [](std::function<void(PhotosAuthorization)> completion) {
        PhotosLibrary::shared()->requestAuthorization(
            [completion = std::move(completion)](PhotosAuthorization status) {
                postToMain([completion, status] {
                    if (completion)
                        completion(status);
                });
            });
    };
    // Until the shell installs its alerts, nothing that needs the user's word goes ahead.
    m_explainPhotosAccessDenied = [] {};
    m_requestTrashConfirmation = [](const QList<Photo>&) { return false; };
    m_trashFailureAlert = [](const QString&, const QString&) {};
    m_authorizeTrash = [](const QList<Photo>&) { return true; };
    m_showItemProperties = [](const QStringList& paths, const QString& startupId) {
        return FileManager1().showItemProperties(paths, startupId);
    };
    m_ropeActionSeams.restoreTrashedItems = [this](const QList<RopeTrashedItem>& items) {
        return restoreTrashedItems(items);
    };
    m_ropeActionSeams.trashSelection = [this](const QList<Photo>& photos, RopeHistoryRecording recording,
                                              std::function<void()> onNothingDeleted) {
        trashSelection(photos, recording, std::move(onNothingDeleted));
    };
}

void GalleryModel::confirmTrash(const QList<Photo>& photos) {
    const QList<Photo> unique = uniqueByRecordKey(photos);
    if (unique.isEmpty() || isBusy())
        return;
    const bool hasAsset =
        std::any_of(unique.cbegin(), unique.cend(), [](const Photo& photo) { return photo.isPhotosAsset(); });
    if (hasAsset) {
        const PhotosAuthorization status =
            m_photosAccessStatus ? m_photosAccessStatus() : PhotosAuthorization::Restricted;
        if (status == PhotosAuthorization::NotDetermined) {
            const QPointer<GalleryModel> self(this);
            if (m_requestPhotosAccess)
                m_requestPhotosAccess([self, unique](PhotosAuthorization answer) {
                    if (!self)
                        return;
                    if (photosAccessGranted(answer))
                        self->confirmTrashAfterAccess(unique);
                    else if (self->m_explainPhotosAccessDenied)
                        self->m_explainPhotosAccessDenied();
                });
            return;
        }
        if (!photosAccessGranted(status)) {
            if (m_explainPhotosAccessDenied)
                m_explainPhotosAccessDenied();
            return;
        }
    }
    confirmTrashAfterAccess(unique);
}

void GalleryModel::confirmTrashAfterAccess(const QList<Photo>& photos) {
    if (isBusy())
        return;
    if (!m_requestTrashConfirmation || !m_requestTrashConfirmation(photos))
        return;
    if (!m_authorizeTrash || !m_authorizeTrash(photos))
        return;
    trashSelection(photos, RopeHistoryRecording::record);
}

void GalleryModel::trashSelection(const QList<Photo>& photos, RopeHistoryRecording recording,
                                  std::function<void()> onNothingDeleted) {
    if (photos.isEmpty() || isBusy()) {
        if (onNothingDeleted)
            onNothingDeleted();
        return;
    }
    setDeleting(true);
    if (m_actionError)
        publish(m_actionError, std::optional<QString>(), &GalleryModel::actionErrorChanged);
    ++m_sourceGeneration;
    QHash<QString, TrashSnapshot> snapshot;
    for (const Photo& photo : photos) {
        const std::optional<ClotheslinePlacement> placement = m_placements->position(photo);
        snapshot.insert(photo.id, TrashSnapshot{hangs(photo), m_exhibition->contains(photo),
                                                placement ? placement->x : kUnplacedX});
    }
    auto locations = std::make_shared<TrashLocations>();
    const QPointer<GalleryModel> self(this);
    const RecycleDeletedPhotos worker = m_recycleDeletedPhotos;
    m_queue->async([self, worker, photos, locations, snapshot, recording, onNothingDeleted] {
        const TrashedHandler trashed = [locations](const QHash<QString, QString>& byPath) {
            std::lock_guard lock(locations->mutex);
            locations->byPath = byPath;
        };
        const TrashCompletion completion = [self, locations, snapshot, recording,
                                            onNothingDeleted](const QList<Photo>& succeeded,
                                                              const QHash<QString, QString>& failed) {
            QHash<QString, QString> byPath;
            {
                std::lock_guard lock(locations->mutex);
                byPath = locations->byPath;
            }
            const QHash<QString, FileIdentity> identities = trashedIdentities(byPath);
            postTo(self.data(),
                   [self, byPath, identities, snapshot, recording, onNothingDeleted, succeeded, failed] {
                       QList<RopeTrashedItem> items;
                       for (const Photo& photo : succeeded) {
                           const auto location = byPath.constFind(standardizedPath(photo.path));
                           const auto state = snapshot.constFind(photo.id);
                           if (location == byPath.constEnd() || state == snapshot.constEnd())
                               continue;
                           RopeTrashedItem item{photo, *location, state->hanging, state->exhibited, state->x};
                           if (const auto identity = identities.constFind(*location);
                               identity != identities.constEnd()) {
                               item.trashedSize = identity->size;
                               item.trashedModified = identity->modified;
                           }
                           items.append(item);
                       }
                       self->applyTrashResult(succeeded, failed, false);
                       if (!items.isEmpty()) {
                           if (recording != RopeHistoryRecording::untracked)
                               self->pushUndo(RopeHistoryEntry::trash(items),
                                              recording == RopeHistoryRecording::record);
                       } else if (!succeeded.isEmpty() && recording == RopeHistoryRecording::record &&
                                  !self->m_redoHistory.isEmpty()) {
                           // Photos-library deletions cannot be undone, yet they end what could be redone.
                           self->m_redoHistory.clear();
                           ++self->m_takeDownUndoGeneration;
                           Q_EMIT self->redoHistoryChanged();
                       }
                       if (succeeded.isEmpty() && onNothingDeleted)
                           onNothingDeleted();
                       self->refresh(std::nullopt, true);
                       if (!failed.isEmpty() && self->m_trashFailureAlert)
                           self->m_trashFailureAlert(text(kFailureAlertMessage).arg(failed.size()),
                                                     sortedTexts(failed).join(QStringLiteral("\n\n")) +
                                                         text(kFailureAlertTail));
                   });
        };
        if (worker)
            worker(photos, trashed, completion);
        else
            completion({}, {});
    });
}

void GalleryModel::applyTrashResult(const QList<Photo>& succeeded, const QHash<QString, QString>& failed,
                                    bool preservingHistory) {
    ++m_sourceGeneration;
    QSet<QString> deletedIDs;
    for (const Photo& photo : succeeded)
        deletedIDs.insert(photo.id);
    addPendingTrashTakeDown(succeeded);
    if (!preservingHistory)
        pruneRopeHistory(succeeded);
    if (!m_pendingTrashTakeDown.isEmpty()) {
        const Status saved = savePendingTrashTakeDown();
        const std::optional<QString> lineError =
            saved ? std::nullopt
                  : std::optional<QString>(text(kTrashTakeDownUnsavedPrefix) +
                                           saved.error().localizedDescription());
        if (lineError != m_lineError)
            publish(m_lineError, lineError, &GalleryModel::lineErrorChanged);
    }
    std::optional<QString> exhibitionError;
    if (const Status removed = m_exhibition->remove(succeeded); !removed)
        exhibitionError = text(kExhibitionCleanupFailed) + removed.error().localizedDescription();
    if (!deletedIDs.isEmpty()) {
        QList<Photo> kept;
        for (const Photo& photo : m_photos) {
            if (!deletedIDs.contains(photo.id))
                kept.append(photo);
        }
        if (kept.size() != m_photos.size())
            setPhotos(kept);
    }
    pruneSelection(m_selectedIDs - deletedIDs);
    setDeleting(false);
    std::optional<QString> actionError;
    if (!failed.isEmpty())
        actionError = text(kFailureSummary).arg(succeeded.size()).arg(failed.size()) +
                      sortedTexts(failed).mid(0, kSummaryTexts).join(u'\n');
    if (exhibitionError)
        actionError = exhibitionError;
    publish(m_actionError, actionError, &GalleryModel::actionErrorChanged);
    if (m_selectedIDs.isEmpty() && m_selectionMode)
        publish(m_selectionMode, false, &GalleryModel::selectionModeChanged);
    Q_EMIT modelChanged();
}

QList<RopeTrashedItem> GalleryModel::restoreTrashedItems(const QList<RopeTrashedItem>& items) {
    if (isBusy())
        return {};
    QList<RopeTrashedItem> restored;
    QStringList failures;
    for (const RopeTrashedItem& item : items) {
        const QString target = item.photo.path;
        std::optional<Error> error;
        if (!stillTrashedFile(item))
            error = ExhibitionStore::failure(text(kMissingFromTrash));
        else if (pathExists(target))
            error = ExhibitionStore::failure(text(kTargetTaken));
        else if (!QDir().mkpath(QFileInfo(target).absolutePath()))
            error = Error::fromErrno(EACCES, QFileInfo(target).absolutePath());
        else if (const Status moved = FreedesktopTrash::restore(item.trashURL, target); !moved)
            error = moved.error();
        Result<Photo> back = error ? Result<Photo>(*error) : relocatedPhoto(item.photo, target);
        if (!back) {
            failures.append(item.photo.name() + QStringLiteral("：") + back.error().localizedDescription());
            continue;
        }
        back->sourceRoot = item.photo.sourceRoot;
        removePendingTrashTakeDown({item.photo});
        RopeTrashedItem returned = item;
        returned.photo = *back;
        restored.append(returned);
    }
    const std::optional<QString> message =
        failures.isEmpty()
            ? std::nullopt
            : std::optional<QString>(text(kRestoreFailedHeader) + failures.mid(0, kRestoreTexts).join(u'\n'));
    if (restored.isEmpty()) {
        publish(m_actionError, message, &GalleryModel::actionErrorChanged);
        return {};
    }
    ++m_sourceGeneration;
    QList<RopeTrashedItem> plain;
    QList<RopeTrashedItem> exhibited;
    for (const RopeTrashedItem& item : restored)
        (item.wasExhibited ? exhibited : plain).append(item);
    if (!plain.isEmpty()) {
        QList<Photo> hanging;
        QList<Photo> down;
        QList<ClotheslinePlacementUpdate> unplaced;
        for (const RopeTrashedItem& item : plain) {
            (item.wasHanging ? hanging : down).append(item.photo);
            if (!m_placements->position(item.photo))
                unplaced.append(ClotheslinePlacementUpdate{item.photo, 0, item.x});
        }
        Status status = savePendingTrashTakeDown();
        if (status && !hanging.isEmpty())
            status = m_lineHistory->setUsed(hanging, false);
        if (status && !down.isEmpty())
            status = m_lineHistory->setUsed(down, true);
        if (status && !unplaced.isEmpty()) {
            const Result<bool> placed = m_placements->setPositions(unplaced);
            if (!placed)
                status = placed.error();
        }
        if (status) {
            Q_EMIT modelChanged();
            if (m_lineError)
                publish(m_lineError, std::optional<QString>(), &GalleryModel::lineErrorChanged);
        } else {
            publish(
                m_lineError,
                std::optional<QString>(text(kRestoredLineUnsaved) + status.error().localizedDescription()),
                &GalleryModel::lineErrorChanged);
        }
    }
    publish(m_actionError, message, &GalleryModel::actionErrorChanged);
    if (!exhibited.isEmpty()) {
        QStringList paths;
        for (const RopeTrashedItem& item : exhibited)
            paths.append(item.photo.path);
        const QPointer<GalleryModel> self(this);
        importExhibition(paths, exhibited.first().x, {}, false, [self, exhibited, message](bool imported) {
            if (self)
                self->finishTrashRestore(imported, exhibited, message);
        });
    } else {
        refresh(std::nullopt, true);
    }
    return restored;
}

void GalleryModel::finishTrashRestore(bool imported, const QList<RopeTrashedItem>& items,
                                      const std::optional<QString>& message) {
    if (imported) {
        QList<ClotheslinePlacementUpdate> updates;
        QList<Photo> down;
        for (const RopeTrashedItem& item : items) {
            const std::optional<Photo> live = livePhoto(item.photo);
            if (!live)
                continue;
            updates.append(ClotheslinePlacementUpdate{*live, 0, item.x});
            if (!item.wasHanging)
                down.append(*live);
        }
        if (!updates.isEmpty())
            moveClotheslinePhotos(updates);
        if (!down.isEmpty())
            setHanging(down, false, RopeHistoryRecording::untracked);
    }
    if (!message)
        return;
    publish(m_actionError,
            std::optional<QString>(m_actionError ? *m_actionError + u'\n' + *message : *message),
            &GalleryModel::actionErrorChanged);
}

} // namespace vennimo
