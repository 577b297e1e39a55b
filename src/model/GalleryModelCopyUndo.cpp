#include "core/PhotoIdentity.h"
#include "dragdrop/ExternalImageDrop.h"
#include "model/GalleryModel.h"
#include "platform/ContentDigest.h"
#include "platform/FileIdentity.h"

#include <QFile>
#include <QPointer>

#include <cmath>

namespace vennimo {

namespace {

constexpr auto kCopyFailedPrefix = "未能创建副本：";
constexpr auto kRecordsIncomplete = "副本已创建，但撤销记录不完整；本次复制无法撤销。";
constexpr auto kKeptCopies = "已取下副本；%1 张已改动或已使用，已保留文件和记录。";
constexpr auto kRedoKeptMoved = "无法重做复制：保留的副本已移动或被替换，请先找回副本。";
constexpr auto kRedoUnmatched = "副本已创建，但无法完整对应原来的副本；后续历史未重新指向。";
constexpr auto kRedoRemadeKeptMoved = "已补建回收的副本，但保留的副本已移动或被替换，请先找回副本。";

QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

// The raw digest, as the records keep it.
Result<QByteArray> sha256(const QString& path) {
    const auto hex = ContentDigest::sha256HexOfFile(path);
    if (!hex)
        return hex.error();
    return QByteArray::fromHex(hex->toLatin1());
}

void removeFiles(const QStringList& paths) {
    for (const QString& path : paths)
        QFile::remove(path);
}

// Whether undoing may recycle the copy: nobody took it out of the program, and it is still the
// very file the copy step wrote, down to its content.
bool untouched(const CopyUndoRecord& record, const QSet<QString>& used) {
    const Photo& copy = record.photo;
    if (used.contains(copy.recordKey()) || !validateOriginalIdentity(copy))
        return false;
    const auto file = FileIdentity::read(copy.path);
    if (!file || file->modified != copy.modified || file->size != copy.size)
        return false;
    const auto digest = sha256(copy.path);
    if (!digest || *digest != record.digest)
        return false;
    return bool(validateOriginalIdentity(copy));
}

QList<Photo> copiesOf(const QList<CopyUndoRecord>& records) {
    QList<Photo> photos;
    for (const CopyUndoRecord& record : records)
        photos.append(record.photo);
    return photos;
}

} // namespace

void GalleryModel::installCopySeams() {
    m_ropeActionSeams.recycleUndoneCopies = [this](const QList<CopyUndoRecord>& records,
                                                   RopeActionSeams::CopiesRecycled completion) {
        recycleUndoneCopies(records, std::move(completion));
    };
    m_ropeActionSeams.redoPhotoCopies = [this](const QList<CopyUndoRecord>& records, double x) {
        redoPhotoCopies(records, x);
    };
}

void GalleryModel::confirmPhotoCopies(const QList<Photo>& photos, double x, RopeHistoryRecording recording,
                                      std::function<void(bool)> completion) {
    createPhotoCopies(photos, x, recording,
                      [completion = std::move(completion)](bool ok, const QList<CopyUndoRecord>&) {
                          if (completion)
                              completion(ok);
                      });
}

void GalleryModel::createPhotoCopies(const QList<Photo>& photos, double x, RopeHistoryRecording recording,
                                     CopiesCreated completion) {
    QList<Photo> unique;
    QSet<QString> ids;
    for (const Photo& photo : photos) {
        if (!ids.contains(photo.id)) {
            ids.insert(photo.id);
            unique.append(photo);
        }
    }
    const auto refuse = [&completion] {
        if (completion)
            completion(false, {});
    };
    if (isBusy() || unique.isEmpty() || !std::isfinite(x))
        return refuse();
    if (m_requestPhotoCopyConfirmation && !m_requestPhotoCopyConfirmation(unique))
        return refuse();
    // The answer may have taken a while.
    if (isBusy())
        return refuse();
    setImporting(true);
    publish(m_actionError, std::optional<QString>(), &GalleryModel::actionErrorChanged);
    const auto record = importRecord();
    if (!record) {
        finishDuplicates(unique, {}, {}, record.error(), x, recording, completion);
        return;
    }

    const QPointer<GalleryModel> self(this);
    m_queue->async(
        [self, unique, x, recording, completion, storage = m_indexer->storage(), record = *record] {
            auto copies = ExternalImageDrop::duplicate(unique, storage, {}, record.get());
            QList<QByteArray> digests;
            std::optional<Error> error;
            if (!copies) {
                error = copies.error();
            } else {
                for (const QString& path : *copies) {
                    auto digest = sha256(path);
                    if (!digest) {
                        error = digest.error();
                        break;
                    }
                    digests.append(*digest);
                }
            }
            const QStringList paths = copies ? *copies : QStringList();
            postTo(self.data(), [self, unique, paths, digests, error, x, recording, completion] {
                self->finishDuplicates(unique, paths, digests, error, x, recording, completion);
            });
        });
}

void GalleryModel::finishDuplicates(const QList<Photo>& sources, const QStringList& paths,
                                    const QList<QByteArray>& digests, const std::optional<Error>& error,
                                    double x, RopeHistoryRecording recording,
                                    const CopiesCreated& completion) {
    setImporting(false);
    if (error || isBusy() || paths.isEmpty())
        endImportRecord(false);
    if (error) {
        publish(m_actionError,
                std::optional<QString>(text(kCopyFailedPrefix) + error->localizedDescription()),
                &GalleryModel::actionErrorChanged);
        if (completion)
            completion(false, {});
        return;
    }
    if (isBusy() || paths.isEmpty()) {
        if (!m_exhibitionBlocked)
            removeFiles(paths);
        if (completion)
            completion(false, {});
        return;
    }
    const QPointer<GalleryModel> self(this);
    importExhibition(paths, x, {}, true, [self, sources, paths, digests, x, recording, completion](bool ok) {
        if (!self)
            return;
        QList<CopyUndoRecord> records;
        if (!ok) {
            self->endImportRecord(false);
            if (!self->m_exhibitionBlocked)
                removeFiles(paths);
        } else {
            QHash<QString, Photo> byPath;
            for (const ExhibitionReference& reference : self->m_exhibition->references())
                byPath.insert(copyPathKey(reference.photo.path), reference.photo);
            records = copyUndoRecords(sources, paths, digests, byPath);
            if (records.isEmpty()) {
                self->publish(self->m_actionError, std::optional<QString>(text(kRecordsIncomplete)),
                              &GalleryModel::actionErrorChanged);
                if (recording == RopeHistoryRecording::record && !self->m_redoHistory.isEmpty()) {
                    self->m_redoHistory.clear();
                    ++self->m_takeDownUndoGeneration;
                    Q_EMIT self->redoHistoryChanged();
                }
            } else if (recording != RopeHistoryRecording::untracked) {
                self->pushUndo(RopeHistoryEntry::copy(records, x), recording == RopeHistoryRecording::record);
            }
        }
        self->setImporting(false);
        if (completion)
            completion(ok, records);
    });
}

void GalleryModel::recycleUndoneCopies(const QList<CopyUndoRecord>& records,
                                       RopeActionSeams::CopiesRecycled completion) {
    const QSet<QString> used = m_usedCopyIDs;
    if (!setHanging(copiesOf(records), false, RopeHistoryRecording::untracked))
        return;
    setDeleting(true);
    ++m_sourceGeneration;
    publish(m_actionError, std::optional<QString>(), &GalleryModel::actionErrorChanged);

    const QPointer<GalleryModel> self(this);
    m_queue->async([self, records, used, completion, recycle = m_recycleCopiedFiles] {
        QList<Photo> recycling;
        for (const CopyUndoRecord& record : records) {
            if (untouched(record, used))
                recycling.append(record.photo);
        }
        recycle(recycling, [self, records, recycling, completion](const QList<Photo>& succeeded,
                                                                  const QHash<QString, QString>& failed) {
            postTo(self.data(), [self, records, recycling, completion, succeeded, failed] {
                self->finishCopyRecycling(records, recycling, succeeded, failed, completion);
            });
        });
    });
}

void GalleryModel::finishCopyRecycling(const QList<CopyUndoRecord>& records, const QList<Photo>& recycling,
                                       const QList<Photo>& succeeded, const QHash<QString, QString>& failed,
                                       const RopeActionSeams::CopiesRecycled& completion) {
    applyTrashResult(succeeded, failed, true);
    const qsizetype kept = records.size() - recycling.size();
    if (kept > 0) {
        QString message = text(kKeptCopies).arg(kept);
        if (m_actionError)
            message += QLatin1Char('\n') + *m_actionError;
        publish(m_actionError, std::optional<QString>(message), &GalleryModel::actionErrorChanged);
    }
    const auto among = [](const QList<Photo>& photos, const Photo& copy) {
        return std::any_of(photos.cbegin(), photos.cend(),
                           [&copy](const Photo& photo) { return isSamePhoto(photo, copy); });
    };
    // A copy the Trash refused is still the program's own untouched file: its undo did not
    // happen, so it hangs again and stays undoable. Moved to the redo side it would be lost to
    // every history with the next copy, its file left behind in the storage folder.
    QList<CopyUndoRecord> undone;
    QList<CopyUndoRecord> remaining;
    QList<Photo> hangAgain;
    for (CopyUndoRecord record : records) {
        record.recycled = among(succeeded, record.photo);
        if (!record.recycled && among(recycling, record.photo)) {
            remaining.append(record);
            hangAgain.append(record.photo);
        } else {
            undone.append(record);
        }
    }
    if (!hangAgain.isEmpty())
        setHanging(hangAgain, true, RopeHistoryRecording::untracked);
    if (completion)
        completion(undone, remaining);
    refresh(std::nullopt, true);
}

bool GalleryModel::keptCopiesIntact(const QList<CopyUndoRecord>& kept) const {
    return std::all_of(kept.cbegin(), kept.cend(), [this](const CopyUndoRecord& record) {
        return originalIdentityMatches(record.photo) && m_exhibition->contains(record.photo);
    });
}

void GalleryModel::redoPhotoCopies(const QList<CopyUndoRecord>& records, double x) {
    QList<CopyUndoRecord> kept;
    QList<Photo> sources;
    for (const CopyUndoRecord& record : records) {
        if (!record.recycled)
            kept.append(record);
        else
            sources.append(livePhoto(record.source).value_or(record.source));
    }
    if (!keptCopiesIntact(kept)) {
        publish(m_actionError, std::optional<QString>(text(kRedoKeptMoved)),
                &GalleryModel::actionErrorChanged);
        return;
    }
    if (sources.isEmpty()) {
        if (!setHanging(copiesOf(kept), true, RopeHistoryRecording::untracked))
            return;
        dropNewestRedo();
        pushUndo(RopeHistoryEntry::copy(kept, x), false);
        publish(m_actionError, std::optional<QString>(), &GalleryModel::actionErrorChanged);
        return;
    }
    dropNewestRedo();
    const QPointer<GalleryModel> self(this);
    createPhotoCopies(sources, x, RopeHistoryRecording::untracked,
                      [self, records, kept, x](bool ok, const QList<CopyUndoRecord>& created) {
                          if (self)
                              self->finishCopyRedo(records, kept, x, ok, created);
                      });
}

void GalleryModel::finishCopyRedo(const QList<CopyUndoRecord>& records, const QList<CopyUndoRecord>& kept,
                                  double x, bool ok, const QList<CopyUndoRecord>& created) {
    if (!ok) {
        pushRedo(RopeHistoryEntry::copy(records, x));
        return;
    }
    if (created.isEmpty()) {
        if (!kept.isEmpty())
            pushRedo(RopeHistoryEntry::copy(kept, x));
        return;
    }
    const auto replayed = replayedCopyRecords(records, created);
    if (!replayed) {
        // The new copies cannot stand in for the old ones, so they become an action of their own
        // that one undo takes back; redoing the old entry again would only make more of them.
        pushUndo(RopeHistoryEntry::copy(created, x), false);
        if (!kept.isEmpty())
            pushRedo(RopeHistoryEntry::copy(kept, x));
        publish(m_actionError, std::optional<QString>(text(kRedoUnmatched)),
                &GalleryModel::actionErrorChanged);
        return;
    }
    const bool intact = keptCopiesIntact(kept);
    if (intact && setHanging(copiesOf(kept), true, RopeHistoryRecording::untracked)) {
        pushUndo(RopeHistoryEntry::copy(replayed->records, x), false);
        remapRopeHistory(replayed->replacements, false);
        return;
    }
    pushUndo(RopeHistoryEntry::copy(created, x), false);
    if (!kept.isEmpty())
        pushRedo(RopeHistoryEntry::copy(kept, x));
    if (!intact)
        publish(m_actionError, std::optional<QString>(text(kRedoRemadeKeptMoved)),
                &GalleryModel::actionErrorChanged);
    remapRopeHistory(replayed->replacements, false);
}

} // namespace vennimo
