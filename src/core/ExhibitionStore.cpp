#include "core/ExhibitionStore.h"

#include "core/ImageFileRule.h"
#include "core/PathRules.h"
#include "core/PhotoIdentity.h"
#include "platform/Bookmark.h"
#include "platform/Dates.h"
#include "platform/FileIdentity.h"
#include "platform/ImageDecoder.h"
#include "platform/JsonFile.h"
#include "platform/ProcessExit.h"
#include "platform/VolumeUuid.h"
#include "platform/WorkQueue.h"
#include "platform/WorkingRoom.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <unistd.h>
#include <vector>

namespace vennimo {

namespace {

const QString kExhibitionSource = QStringLiteral("展览");
const QString kPhotosAppSource = QStringLiteral("照片.app");
// New prints of one commit stand at most this far apart along the rope.
constexpr double kCommitSpacing = 0.12;

QString standardizedPath(const QString& path) {
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

} // namespace

ExhibitionStore::ExhibitionStore(QString storage)
    : m_storage(std::move(storage)) {
    load();
}

ExhibitionStore::~ExhibitionStore() {
    for (const QString& path : std::as_const(m_scopes))
        Bookmark::stopAccessing(path);
}

Error ExhibitionStore::failure(const QString& message) {
    return Error::failure(message);
}

bool ExhibitionStore::isImageFile(const QString& path) {
    if (path.isEmpty() || !isImageFileName(path))
        return false;
    const auto identity = FileIdentity::read(path);
    return identity && identity->isRegularFile();
}

void ExhibitionStore::load() {
    const QString file = m_storage + QLatin1Char('/') + QLatin1String(kExhibitionFileName);
    auto bytes = DeferredStateWriter::readStateFile(file);
    if (!bytes && bytes.error().sysErrno == ENOENT)
        return;
    auto decoded = bytes ? decodeExhibition(*bytes) : Result<ExhibitionReferences>(bytes.error());
    if (!decoded) {
        m_loadError = QStringLiteral("展览记录无法读取：") + decoded.error().localizedDescription();
        return;
    }
    m_references = std::move(decoded).value();
    for (auto it = m_references.begin(); it != m_references.end(); ++it) {
        const auto resolved = Bookmark::resolve(it->bookmark);
        if (!resolved)
            continue;
        if (Bookmark::startAccessing(resolved->path))
            m_scopes.append(resolved->path);
        Photo moved = it->photo;
        moved.path = resolved->path;
        if (validateOriginalIdentity(moved))
            it->photo = std::move(moved);
    }
}

bool ExhibitionStore::contains(const Photo& photo) const {
    const auto it = m_references.constFind(photo.recordKey());
    return it != m_references.constEnd() && sameFileBirth(it->photo.created, photo.created);
}

QList<Photo> ExhibitionStore::merged(const QList<Photo>& indexed) const {
    const auto newestFirst = [](const Photo& a, const Photo& b) {
        if (a.added != b.added)
            return a.added > b.added;
        return a.path < b.path;
    };
    // Every refresh of a large library comes through here, already in order from the scan.
    if (m_references.isEmpty() && std::is_sorted(indexed.cbegin(), indexed.cend(), newestFirst))
        return indexed;
    QList<Photo> exhibited;
    exhibited.reserve(m_references.size());
    QSet<QString> exhibitedKeys;
    for (const ExhibitionReference& reference : m_references) {
        exhibited.append(reference.photo);
        exhibitedKeys.insert(reference.photo.recordKey());
    }
    QList<Photo> remaining;
    QSet<QString> remainingPaths;
    for (const Photo& photo : indexed) {
        if (exhibitedKeys.contains(photo.recordKey()))
            continue;
        remaining.append(photo);
        remainingPaths.insert(filesystemPathKey(photo.path));
    }
    // An exhibition photo hides an indexed one at the same path only while it still is that file.
    QSet<QString> hiddenPaths;
    for (const Photo& photo : std::as_const(exhibited)) {
        const QString key = filesystemPathKey(photo.path);
        if (remainingPaths.contains(key) && validateOriginalIdentity(photo))
            hiddenPaths.insert(key);
    }
    QList<Photo> result = exhibited;
    for (const Photo& photo : std::as_const(remaining))
        if (!hiddenPaths.contains(filesystemPathKey(photo.path)))
            result.append(photo);
    std::stable_sort(result.begin(), result.end(), [](const Photo& a, const Photo& b) {
        if (a.added != b.added)
            return a.added > b.added;
        return a.path < b.path;
    });
    return result;
}

Status ExhibitionStore::remove(const QList<Photo>& photos) {
    ExhibitionReferences copy = m_references;
    bool removed = false;
    for (const Photo& photo : photos) {
        const auto it = copy.constFind(photo.recordKey());
        if (it != copy.constEnd() && sameFileBirth(it->photo.created, photo.created)) {
            copy.erase(it);
            removed = true;
        }
    }
    if (!removed)
        return {};
    if (m_loadError)
        return failure(*m_loadError);
    if (Status s = JsonFile::writeAtomically(
            m_storage + QLatin1Char('/') + QLatin1String(kExhibitionFileName), encodeExhibition(copy));
        !s)
        return s;
    m_references = std::move(copy);
    return {};
}

QList<ExhibitionReference>
ExhibitionStore::prepare(const QString& storage, const ExhibitionReferences& existing,
                         const QStringList& paths, const ThumbnailMaker& makeThumbnail,
                         const QHash<QString, PhotosOrigin>& origins, LeftoverTemporaries::Record* record,
                         const std::function<bool(const QString&)>& leaveOut) {
    struct Candidate {
        QString path;
        QString id;
        FileIdentity identity;
        QString thumbnail;
    };
    // Access is held from the checks to the bookmark, so that no file is judged through one
    // grant and bookmarked through another.
    QStringList accessed;
    QList<Candidate> candidates;
    QSet<QString> preparedIds;
    const QString thumbnailFolder = storage + QLatin1Char('/') + QLatin1String(kExhibitionThumbnailFolder);
    const auto leftOut = [&leaveOut](const QString& path) { return leaveOut && leaveOut(path); };
    for (const QString& given : paths) {
        if (given.isEmpty())
            continue;
        const QString path = standardizedPath(given);
        if (leftOut(path))
            continue;
        if (Bookmark::startAccessing(path))
            accessed.append(path);
        if (!isImageFile(path) || access(QFile::encodeName(path).constData(), R_OK) != 0)
            continue;
        const auto identity = FileIdentity::read(path);
        if (!identity || !identity->isRegularFile())
            continue;
        const auto volume = VolumeUuid::forPath(path);
        const QString id = (volume ? *volume : QString::number(identity->fileSystemNumber)) +
                           QLatin1Char('-') + QString::number(identity->fileNumber);
        if (preparedIds.contains(id))
            continue;
        preparedIds.insert(id);
        if (!QDir().mkpath(thumbnailFolder))
            continue;
        const QString thumbnail = thumbnailFolder + QLatin1Char('/') + id + QStringLiteral(".jpg");
        if (record && !record->add(thumbnail))
            continue;
        candidates.append({path, id, *identity, thumbnail});
    }

    // Drawing thumbnails is most of the work for camera pictures: they are drawn side by side.
    // A file is asked about once more before its drawing begins; one begun is finished and
    // prepared. Each drawing marks only its own entry.
    std::vector<std::uint8_t> begun(size_t(candidates.size()), makeThumbnail ? 0 : 1);
    const auto draw = [&](qsizetype index) {
        if (leftOut(candidates[index].path))
            return;
        begun[size_t(index)] = 1;
        makeThumbnail(candidates[index].path, candidates[index].thumbnail);
        // A drawing the cancel cut short leaves the file out, as one never begun.
        if (leftOut(candidates[index].path) && !QFileInfo::exists(candidates[index].thumbnail))
            begun[size_t(index)] = 0;
    };
    if (makeThumbnail && candidates.size() == 1) {
        draw(0);
    } else if (makeThumbnail && !candidates.isEmpty()) {
        const int width = int(std::clamp<qsizetype>(QThread::idealThreadCount(), 1, candidates.size()));
        WorkQueue drawing(QStringLiteral("local.vennimo.exhibition-thumbnails"), width);
        for (qsizetype index = 0; index < candidates.size(); ++index)
            drawing.async([&draw, index] { draw(index); });
        drawing.waitUntilIdle();
    }

    QList<ExhibitionReference> result;
    for (qsizetype index = 0; index < candidates.size(); ++index) {
        const Candidate& candidate = candidates[index];
        // Its thumbnail was never made: the entry in `record` names nothing and costs no sync.
        if (!begun[size_t(index)])
            continue;
        const auto earlier = existing.constFind(candidate.id);
        const bool hasExisting = earlier != existing.constEnd();
        Photo photo;
        photo.id = candidate.id;
        photo.usageID = candidate.id;
        photo.path = candidate.path;
        photo.source = kExhibitionSource;
        photo.added = hasExisting ? earlier->photo.added : Clock::now();
        photo.modified = candidate.identity.modified;
        photo.size = candidate.identity.size;
        photo.thumbnail = candidate.thumbnail;
        photo.created = candidate.identity.created;
        photo.baselineImported = false;
        if (const auto origin = origins.constFind(candidate.path); origin != origins.constEnd())
            photo.photosOrigin = *origin;
        else if (hasExisting)
            photo.photosOrigin = earlier->photo.photosOrigin;
        if (photo.photosOrigin || PhotosOrigin::libraryRoot(candidate.path))
            photo.source = kPhotosAppSource;
        auto bookmark = Bookmark::create(candidate.path);
        if (bookmark)
            result.append(ExhibitionReference{std::move(photo), std::move(bookmark).value()});
    }
    for (const QString& path : std::as_const(accessed))
        Bookmark::stopAccessing(path);
    return result;
}

ExhibitionStore::ThumbnailMaker
ExhibitionStore::thumbnailMaker(const Indexer& indexer, const std::function<bool(const QString&)>& leaveOut) {
    if (const Indexer::ThumbnailRenderer& renderer = indexer.thumbnailRenderer())
        return renderer;
    return [leaveOut](const QString& source, const QString& destination) {
        const auto abandoned = [&] { return ProcessExit::announced() || (leaveOut && leaveOut(source)); };
        // Thumbnails are drawn side by side: what their decodings keep (a HEIC decoded whole, a
        // progressive JPEG's coefficients) takes the room the drop's checks take, and a picture
        // given up stops waiting for it.
        const auto room = WorkingRoom::take(ImageDecoder::workingBytesOf(source), abandoned);
        if (!room)
            return;
        Indexer::makeThumbnail(source, destination, {}, abandoned);
    };
}

QList<ExhibitionReference> ExhibitionStore::prepare(const QStringList& paths,
                                                    const ThumbnailMaker& makeThumbnail,
                                                    const QHash<QString, PhotosOrigin>& origins) const {
    return prepare(m_storage, m_references, paths, makeThumbnail, origins);
}

QList<ExhibitionReference> ExhibitionStore::prepare(const QStringList& paths, const Indexer& indexer,
                                                    const QHash<QString, PhotosOrigin>& origins) const {
    return prepare(m_storage, m_references, paths, thumbnailMaker(indexer), origins);
}

Status ExhibitionStore::commit(const QList<ExhibitionReference>& references, double at, UsageHistory& line,
                               ClotheslinePlacementStore& positions, const JournalStepHook& hook) {
    if (ExhibitionJournal::exists(m_storage))
        return ExhibitionJournal::pendingError();
    if (Status s = positions.deferredWriter().flush(); !s)
        return s;
    if (Status s = line.deferredWriter().flush(); !s)
        return s;
    for (const std::optional<QString>* loadError :
         {&std::as_const(m_loadError), &line.loadError(), &positions.loadError()})
        if (*loadError)
            return failure(**loadError);
    if (!std::isfinite(at) || references.isEmpty())
        return failure(QStringLiteral("没有可挂上的照片。"));

    const qint64 count = references.size();
    qint64 deepest = -1;
    for (const ClotheslinePlacementRecord& record : positions.records())
        deepest = std::max(deepest, record.placement.zIndex);
    if (deepest >= std::numeric_limits<qint64>::max() - 1 - count)
        return failure(QStringLiteral("照片层级已满，请先调整绳上照片。"));

    const double step = std::min(1.0 / static_cast<double>(count), kCommitSpacing);
    const double last = 1.0 - step * static_cast<double>(count - 1);
    const double start = std::clamp(at, 0.0, last);

    ExhibitionReferences exhibition = m_references;
    UsageState lineState{UsageState::kCurrentVersion, true, line.records()};
    ClotheslinePlacementState placementState{ClotheslinePlacementState::kCurrentVersion, positions.records()};
    for (qint64 i = 0; i < count; ++i) {
        const ExhibitionReference& reference = references[i];
        const QString key = reference.photo.recordKey();
        exhibition.insert(key, reference);
        lineState.records.insert(key, UsageRecord{reference.photo.created, std::nullopt});
        placementState.records.insert(
            key, ClotheslinePlacementRecord{
                     reference.photo.created,
                     ClotheslinePlacement{0, start + step * static_cast<double>(i), deepest + 1 + i}});
    }
    const JournalData journal{
        {QStringLiteral("clothesline-positions.json"), JsonFile::encode(toJson(placementState))},
        {QStringLiteral("clothesline.json"), JsonFile::encode(toJson(lineState))},
        {QString::fromLatin1(kExhibitionFileName), encodeExhibition(exhibition)},
    };
    std::error_code folderError;
    std::filesystem::create_directories(QFile::encodeName(m_storage).toStdString(), folderError);
    if (folderError)
        return Error::fromErrno(folderError.value(), m_storage);
    if (Status s = ExhibitionJournal::create(m_storage, journal); !s)
        return s;
    if (hook)
        hook(JournalStep::CommitJournalWritten);
    auto recovered = recover(m_storage, {}, hook);
    if (!recovered)
        return recovered.error();
    return {};
}

Result<QStringList> ExhibitionStore::recover(const QString& storage,
                                             const PegReturnIntent::DidReturn& didReturn,
                                             const JournalStepHook& hook) {
    const QString journalPath = ExhibitionJournal::path(storage);
    auto bytes = DeferredStateWriter::readStateFile(journalPath);
    if (!bytes && bytes.error().sysErrno == ENOENT)
        return QStringList{};
    if (!bytes)
        return bytes.error();
    auto decoded = ExhibitionJournal::decode(*bytes);
    if (!decoded)
        return decoded.error();
    JournalData data = std::move(decoded).value();

    QStringList names = data.keys();
    names.removeOne(QString::fromLatin1(PegReturnIntent::key));
    if (names != files())
        return failure(QStringLiteral("展览保存记录格式不受支持。"));

    // Only the shapes are checked here; versions and ranges are the stores' to judge on load.
    if (auto exhibition = decodeExhibition(data.value(QString::fromLatin1(kExhibitionFileName))); !exhibition)
        return exhibition.error();
    auto lineObject = JsonFile::parse(data.value(QStringLiteral("clothesline.json")));
    if (!lineObject)
        return lineObject.error();
    if (auto lineState = usageStateFromJson(*lineObject); !lineState)
        return lineState.error();
    auto positionsObject = JsonFile::parse(data.value(QStringLiteral("clothesline-positions.json")));
    if (!positionsObject)
        return positionsObject.error();
    if (auto positionsState = clotheslinePlacementStateFromJson(*positionsObject); !positionsState)
        return positionsState.error();

    auto messages = PegReturnIntent::resume(data, journalPath, didReturn, hook);
    if (!messages)
        return messages.error();
    for (const QString& name : files()) {
        if (Status s = JsonFile::writeAtomically(storage + QLatin1Char('/') + name, data.value(name)); !s)
            return s.error();
        if (hook)
            hook(JournalStep::StateFileWritten);
    }
    if (unlink(QFile::encodeName(journalPath).constData()) != 0)
        return Error::fromErrno(errno, journalPath);
    return messages;
}

} // namespace vennimo
