#include "core/ExhibitionJournal.h"
#include "core/PhotoIdentity.h"
#include "core/PhotoRelocation.h"
#include "dragdrop/PegFolderMove.h"
#include "model/GalleryModel.h"

#include "platform/Bookmark.h"
#include "platform/Dates.h"
#include "platform/FileDescriptor.h"
#include "platform/FileIdentity.h"
#include "platform/FileMove.h"
#include "platform/JsonFile.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>

namespace vennimo {

namespace {

constexpr auto kNotAFolder = "投放目标不是可用的文件夹。";
constexpr auto kPhotoChanged = "拖动的照片已改变，请重新拖动。";
constexpr auto kMoveFailedPrefix = "未能移动照片：";
constexpr auto kLeftInTargetHeading = "\n以下文件保留在目标位置：\n";
constexpr auto kCommittedNotAppliedPrefix = "文件已移到目标文件夹，挂绳状态尚未保存完成；请重启应用恢复。\n";
constexpr auto kUndoPendingJournal = "已有尚未完成的展览事务，请重启应用恢复";
constexpr auto kUndoFailedPrefix = "撤销移动尚未完成：";
constexpr auto kUndoFailedBlockedSuffix = "；请重启应用恢复。";

QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

QString resolvedFolder(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QDir(path).absolutePath()) : canonical;
}

struct MovedFile {
    Photo photo;
    // The name the file took in the opened folder; empty when it was already there.
    QString name;
};

// Where the opened folder lies now: it may have been renamed since it was checked, and its old
// path may lead somewhere else by now.
Result<QString> currentFolderPath(int folder, const QString& checked) {
    if (const auto now = FileMove::openedFolderPath(folder))
        return *now;
    // Where the system cannot tell, the checked path must still name it.
    const auto held = FileIdentity::readFd(folder);
    const auto named = FileIdentity::readFollowingLinks(checked);
    if (held && named && held->fileSystemNumber == named->fileSystemNumber &&
        held->fileNumber == named->fileNumber)
        return checked;
    return Error::fromErrno(ENOENT, checked);
}

// The record of a file that arrived as `name` in the opened folder, read at its current path
// and only when that path still leads to the very file in the folder.
Result<Photo> arrivedPhoto(const Photo& photo, int folder, const QString& folderPath, const QString& name) {
    const QString path = folderPath + QLatin1Char('/') + name;
    const auto held = FileIdentity::readAt(folder, QFile::encodeName(name), path);
    if (!held)
        return held.error();
    auto relocated = relocatedPhoto(photo, path);
    if (relocated && relocated->id != held->idString())
        return Error::fromErrno(ENOENT, path);
    return relocated;
}

JournalData stateJournal(const ExhibitionReferences& references, const UsageRecords& line,
                         const ClotheslinePlacementRecords& placements) {
    return {
        {QStringLiteral("clothesline-positions.json"),
         JsonFile::encode(
             toJson(ClotheslinePlacementState{ClotheslinePlacementState::kCurrentVersion, placements}))},
        {QStringLiteral("clothesline.json"),
         JsonFile::encode(toJson(UsageState{UsageState::kCurrentVersion, true, line}))},
        {QString::fromLatin1(kExhibitionFileName), encodeExhibition(references)},
    };
}

} // namespace

void GalleryModel::installPegMoveSeams() {
    m_ropeActionSeams.movePegPhotos = [this](const QList<Photo>& photos, const QString& directory,
                                             RopeHistoryRecording recording) {
        return movePegPhotos(photos, directory, recording);
    };
    m_ropeActionSeams.restorePegFolderMove = [this](const QList<PegReturnRecord>& records) {
        return restorePegFolderMove(records);
    };
}

Status GalleryModel::checkPegPhotos(const QList<Photo>& photos) const {
    QHash<QString, Photo> current;
    for (const Photo& photo : m_photos)
        current.insert(photo.id, photo);
    for (const Photo& photo : photos) {
        const auto live = current.constFind(photo.id);
        if (live == current.cend() || !sameFileBirth(live->created, photo.created) ||
            awaitsTrashTakeDown(*live) || !m_lineHistory->records().contains(live->recordKey()) ||
            !hangs(*live))
            return ExhibitionStore::failure(text(kPhotoChanged));
        if (Status s = validateOriginalIdentity(photo); !s)
            return s;
    }
    for (const std::optional<QString>* loadError :
         {&m_exhibition->loadError(), &m_lineHistory->loadError(), &m_placements->loadError()}) {
        if (*loadError)
            return ExhibitionStore::failure(**loadError);
    }
    return {};
}

std::optional<QStringList> GalleryModel::movePegPhotos(const QList<Photo>& photos, const QString& directory,
                                                       RopeHistoryRecording recording, int folderDescriptor) {
    const QString target = folderDescriptor >= 0 ? directory : resolvedFolder(directory);
    if (photos.isEmpty() || m_deleting || m_importing || m_exhibitionBlocked)
        return std::nullopt;
    QList<std::optional<ClotheslinePlacement>> placements;
    for (const Photo& photo : photos)
        placements.append(m_placements->position(photo));

    QList<MovedFile> moved;
    // Opened once: every file goes into the folder that was checked, even when a link takes its
    // place meanwhile, and everything after the move follows that folder too.
    std::optional<FileDescriptor> opened;
    const auto fail = [this, &moved, &folderDescriptor,
                       &target](const Error& error) -> std::optional<QStringList> {
        if (ExhibitionJournal::exists(m_indexer->storage())) {
            // The change is committed; the next start applies it. Moving files back now would
            // leave the journal pointing at files that are gone.
            m_exhibitionBlocked = true;
            publish(m_actionError,
                    std::optional<QString>(text(kCommittedNotAppliedPrefix) + error.localizedDescription()),
                    &GalleryModel::actionErrorChanged);
            Q_EMIT modelChanged();
            return std::nullopt;
        }
        QStringList notes;
        const QString folder =
            moved.isEmpty() ? target : FileMove::openedFolderPath(folderDescriptor).value_or(target);
        for (auto it = moved.crbegin(); it != moved.crend(); ++it) {
            if (it->name.isEmpty())
                continue;
            if (Status back =
                    FileMove::moveNoReplaceOutOf(folderDescriptor, folder, it->name, it->photo.path);
                !back)
                notes.append(folder + QLatin1Char('/') + it->name + QStringLiteral("：") +
                             back.error().localizedDescription());
        }
        QString message = text(kMoveFailedPrefix) + error.localizedDescription();
        if (!notes.isEmpty())
            message += text(kLeftInTargetHeading) + notes.join(QLatin1Char('\n'));
        publish(m_actionError, std::optional<QString>(message), &GalleryModel::actionErrorChanged);
        return std::nullopt;
    };
    // Another transaction's journal must be applied first: nothing has moved, and a journal
    // found later must be ours.
    if (const auto refusal = journalWriteRefusal()) {
        publish(m_actionError, std::optional<QString>(text(kMoveFailedPrefix) + *refusal),
                &GalleryModel::actionErrorChanged);
        return std::nullopt;
    }
    if (Status s = flushDeferredState(); !s)
        return fail(s.error());
    // A target whose kind cannot be read (gone, a link loop, a closed parent) says why; an
    // opened one is read where it is, not where its path leads now.
    const auto folder = folderDescriptor >= 0 ? FileIdentity::readFd(folderDescriptor)
                                              : FileIdentity::readFollowingLinks(target);
    if (!folder)
        return fail(folder.error());
    if (folder->type != FileType::Directory)
        return fail(ExhibitionStore::failure(text(kNotAFolder)));
    if (folderDescriptor < 0) {
        const auto descriptor = FileMove::openFolder(target);
        if (!descriptor)
            return fail(descriptor.error());
        folderDescriptor = opened.emplace(*descriptor).get();
    }
    if (Status s = checkPegPhotos(photos); !s)
        return fail(s.error());

    for (const Photo& photo : photos) {
        const auto path = PegFolderMove::move(photo, folderDescriptor, target);
        if (!path)
            return fail(path.error());
        moved.append({photo, *path == photo.path ? QString() : QFileInfo(*path).fileName()});
    }
    const auto arrival = currentFolderPath(folderDescriptor, target);
    if (!arrival)
        return fail(arrival.error());
    QList<Photo> delivered;
    QStringList names;
    for (const MovedFile& file : std::as_const(moved)) {
        auto relocated = file.name.isEmpty()
                             ? relocatedPhoto(file.photo, file.photo.path)
                             : arrivedPhoto(file.photo, folderDescriptor, *arrival, file.name);
        if (!relocated)
            return fail(relocated.error());
        names.append(relocated->name());
        delivered.append(std::move(relocated).value());
    }
    const bool nothingMoved =
        std::all_of(moved.cbegin(), moved.cend(), [](const MovedFile& file) { return file.name.isEmpty(); });
    if (nothingMoved) {
        if (!setHanging(photos, false, recording))
            return std::nullopt;
        publish(m_actionError, std::optional<QString>(), &GalleryModel::actionErrorChanged);
        return names;
    }

    ExhibitionReferences references = m_exhibition->references();
    UsageRecords line = m_lineHistory->records();
    ClotheslinePlacementRecords positions = m_placements->records();
    const double now = Clock::now();
    for (qsizetype i = 0; i < photos.size(); ++i) {
        const Photo& original = photos[i];
        const Photo& arrived = delivered[i];
        auto bookmark = Bookmark::create(arrived.path);
        if (!bookmark)
            return fail(bookmark.error());
        references.remove(original.recordKey());
        references.insert(arrived.recordKey(), ExhibitionReference{arrived, *bookmark});
        line.insert(original.recordKey(), UsageRecord{original.created, now});
        line.insert(arrived.recordKey(), UsageRecord{arrived.created, now});
        if (const auto placed = positions.constFind(original.recordKey()); placed != positions.cend()) {
            ClotheslinePlacementRecord record = *placed;
            positions.remove(original.recordKey());
            record.created = arrived.created;
            positions.insert(arrived.recordKey(), record);
        }
    }
    const QString storage = m_indexer->storage();
    if (Status s = ExhibitionJournal::create(storage, stateJournal(references, line, positions)); !s)
        return fail(s.error());
    // Its messages belong to peg returns, which this journal has none of.
    if (const auto recovered = ExhibitionStore::recover(storage); !recovered)
        return fail(recovered.error());
    reloadExhibitionStores();

    QSet<QString> ids;
    for (const Photo& photo : photos)
        ids.insert(photo.id);
    QList<Photo> remaining;
    for (const Photo& photo : std::as_const(m_photos)) {
        if (!ids.contains(photo.id))
            remaining.append(photo);
    }
    setPhotos(m_exhibition->merged(remaining));
    pruneSelection(m_selectedIDs - ids);

    QList<PegReturnRecord> records;
    for (qsizetype i = 0; i < photos.size(); ++i) {
        const auto reference = m_exhibition->references().constFind(delivered[i].recordKey());
        // The journal just applied stores every delivered photo; without one the move cannot be
        // undone for that photo, which only leaves it where the user put it.
        if (reference == m_exhibition->references().cend())
            continue;
        records.append({photos[i], delivered[i], placements[i], reference->bookmark});
    }
    if (recording != RopeHistoryRecording::untracked && !records.isEmpty())
        pushUndo(RopeHistoryEntry::move(records, *arrival), recording == RopeHistoryRecording::record);
    publish(m_actionError, std::optional<QString>(), &GalleryModel::actionErrorChanged);
    publish(m_lineError, std::optional<QString>(), &GalleryModel::lineErrorChanged);
    Q_EMIT modelChanged();
    return names;
}

std::optional<QList<PegReturnRecord>>
GalleryModel::restorePegFolderMove(const QList<PegReturnRecord>& records) {
    const QString storage = m_indexer->storage();
    QList<PegReturnRecord> redo;
    QList<PhotoReplacement> replacements;
    const auto fail = [this, &storage](const Error& error) -> std::optional<QList<PegReturnRecord>> {
        m_exhibitionBlocked = ExhibitionJournal::exists(storage);
        QString message = text(kUndoFailedPrefix) + error.localizedDescription();
        if (m_exhibitionBlocked)
            message += text(kUndoFailedBlockedSuffix);
        publish(m_actionError, std::optional<QString>(message), &GalleryModel::actionErrorChanged);
        Q_EMIT modelChanged();
        return std::nullopt;
    };
    if (Status s = flushDeferredState(); !s)
        return fail(s.error());
    if (ExhibitionJournal::exists(storage))
        return fail(ExhibitionStore::failure(text(kUndoPendingJournal)));
    for (const std::optional<QString>* loadError :
         {&m_exhibition->loadError(), &m_lineHistory->loadError(), &m_placements->loadError()}) {
        if (*loadError)
            return fail(ExhibitionStore::failure(**loadError));
    }
    JournalData journal =
        stateJournal(m_exhibition->references(), m_lineHistory->records(), m_placements->records());
    journal.insert(QString::fromLatin1(PegReturnIntent::key),
                   JsonFile::encode(toJson(PegReturnIntent::make(records))));
    if (Status s = ExhibitionJournal::create(storage, journal); !s)
        return fail(s.error());
    const auto messages = ExhibitionStore::recover(
        storage, [&redo, &replacements](const PegReturnRecord& record, const Photo& returned) {
            recordReturnedMove(record, returned, redo, replacements);
        });
    if (!messages)
        return fail(messages.error());

    reloadExhibitionStores();
    QSet<QString> ids;
    for (const PegReturnRecord& record : records)
        ids.insert(record.delivered.id);
    QList<Photo> remaining;
    for (const Photo& photo : std::as_const(m_photos)) {
        if (!ids.contains(photo.id))
            remaining.append(photo);
    }
    setPhotos(m_exhibition->merged(remaining));
    pruneSelection(m_selectedIDs - ids);
    remapRopeHistory(replacements, true);
    publish(m_actionError,
            messages->isEmpty() ? std::optional<QString>()
                                : std::optional<QString>(messages->join(QLatin1Char('\n'))),
            &GalleryModel::actionErrorChanged);
    publish(m_lineError, std::optional<QString>(), &GalleryModel::lineErrorChanged);
    Q_EMIT modelChanged();
    return redo;
}

void GalleryModel::reportPegDeliveryFailure(const QString& message) {
    if (message.isEmpty())
        return;
    publish(m_actionError, std::optional<QString>(message), &GalleryModel::actionErrorChanged);
}

} // namespace vennimo
