#include "core/PegReturnIntent.h"

#include "core/ExhibitionReference.h"
#include "core/PathRules.h"
#include "core/PhotoIdentity.h"
#include "core/PhotoRelocation.h"
#include "core/UsageRecord.h"
#include "platform/Bookmark.h"
#include "platform/ContentDigest.h"
#include "platform/Dates.h"
#include "platform/FileIdentity.h"
#include "platform/FileMove.h"
#include "platform/JsonFile.h"
#include "platform/VolumeUuid.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vennimo {

namespace {

const QString kExhibitionMember = QStringLiteral("exhibition.json");
const QString kLineMember = QStringLiteral("clothesline.json");
const QString kPositionsMember = QStringLiteral("clothesline-positions.json");

QString changedReason() {
    return QStringLiteral("文件已被修改或移动");
}

bool isDigestText(const QString& text) {
    if (text.size() != 64)
        return false;
    for (const QChar c : text)
        if (!((c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
              (c >= QLatin1Char('a') && c <= QLatin1Char('f'))))
            return false;
    return true;
}

bool somethingAt(const QString& path) {
    struct stat st {};
    return lstat(QFile::encodeName(path).constData(), &st) == 0;
}

// The file at `path` is the one in flight: its content hashes to the digest and it carries the
// modification date the record was delivered with.
bool matchesInFlight(const QString& path, const QString& expected, double modified) {
    const auto file = FileIdentity::read(path);
    if (!file || !file->isRegularFile() || file->modified != modified)
        return false;
    const auto digest = PegReturnIntent::digest(path);
    return digest && *digest == expected;
}

struct ReturnState {
    PegReturnIntent intent;
    ExhibitionReferences references;
    UsageState line;
    ClotheslinePlacementState positions;
};

Result<QJsonObject> memberObject(const JournalData& data, const QString& name) {
    const auto it = data.constFind(name);
    if (it == data.constEnd())
        return decodeError(name);
    return JsonFile::parse(*it);
}

Result<ReturnState> decodeState(const JournalData& data) {
    ReturnState state;
    auto intentObject = memberObject(data, QString::fromLatin1(PegReturnIntent::key));
    if (!intentObject)
        return intentObject.error();
    auto intent = pegReturnIntentFromJson(*intentObject);
    if (!intent)
        return intent.error();
    state.intent = std::move(intent).value();
    auto references = decodeExhibition(data.value(kExhibitionMember));
    if (!references)
        return references.error();
    state.references = std::move(references).value();
    auto lineObject = memberObject(data, kLineMember);
    if (!lineObject)
        return lineObject.error();
    auto line = usageStateFromJson(*lineObject);
    if (!line)
        return line.error();
    state.line = std::move(line).value();
    auto positionsObject = memberObject(data, kPositionsMember);
    if (!positionsObject)
        return positionsObject.error();
    auto positions = clotheslinePlacementStateFromJson(*positionsObject);
    if (!positions)
        return positions.error();
    state.positions = std::move(positions).value();
    return state;
}

Status storeState(JournalData& data, const ReturnState& state, const QString& journal) {
    data.insert(kExhibitionMember, encodeExhibition(state.references));
    data.insert(kLineMember, JsonFile::encode(toJson(state.line)));
    data.insert(kPositionsMember, JsonFile::encode(toJson(state.positions)));
    data.insert(QString::fromLatin1(PegReturnIntent::key), JsonFile::encode(toJson(state.intent)));
    return ExhibitionJournal::write(journal, data);
}

void notify(const JournalStepHook& hook, JournalStep step) {
    if (hook)
        hook(step);
}

// Moves the file to the return place. Between volumes the copy is made in full under a
// temporary name and linked into place before the source goes, so an interruption leaves either
// no file or a complete one at the return place, which the in-flight digest recognises.
Status moveFile(const QString& from, const QString& to, bool acrossVolumes, const JournalStepHook& hook) {
    const auto source = FileIdentity::read(from);
    const auto folder = FileIdentity::readFollowingLinks(QFileInfo(to).path());
    const bool sameFileSystem = source && folder && source->fileSystemNumber == folder->fileSystemNumber;
    if (!acrossVolumes || sameFileSystem)
        return FileMove::moveNoReplace(from, to);
    if (Status s = FileMove::copyNoReplace(from, to); !s)
        return s;
    notify(hook, JournalStep::ReturnFileCopied);
    if (unlink(QFile::encodeName(from).constData()) != 0) {
        const int err = errno;
        unlink(QFile::encodeName(to).constData());
        return Error::fromErrno(err, from);
    }
    return {};
}

// Outcome of one attempt to move a record's file back: a fatal error ends the whole run; a
// reason means the file stays where it is.
struct MoveOutcome {
    std::optional<QString> reason{};
};

Result<MoveOutcome> moveBack(const PegReturnRecord& record, Photo& current, PegReturnIntent& intent,
                             JournalData& data, const QString& journal, const JournalStepHook& hook) {
    const QString returnPath = record.original.path;
    if (const auto resolved = Bookmark::resolve(record.bookmark)) {
        Photo found = current;
        found.path = resolved->path;
        if (validateOriginalIdentity(found))
            current.path = found.path;
    }
    if (Status s = validateOriginalIdentity(current); !s)
        return MoveOutcome{s.error().localizedDescription()};
    const auto fresh = relocatedPhoto(current, current.path);
    if (!fresh)
        return MoveOutcome{fresh.error().localizedDescription()};
    if (filesystemPathKey(current.path) != filesystemPathKey(record.delivered.path) ||
        fresh->size != record.delivered.size || fresh->modified != record.delivered.modified)
        return MoveOutcome{changedReason()};
    const QString returnFolder = QFileInfo(returnPath).path();
    const auto folder = FileIdentity::readFollowingLinks(returnFolder);
    if (!folder || folder->type != FileType::Directory)
        return MoveOutcome{QStringLiteral("原始目录已不存在")};
    if (somethingAt(returnPath))
        return MoveOutcome{QStringLiteral("原位置已有同名文件")};

    const auto fileVolume = VolumeUuid::forPath(current.path);
    const auto folderVolume = VolumeUuid::forPath(returnFolder);
    if (fileVolume && folderVolume && *fileVolume == *folderVolume) {
        intent.inFlightDigest.reset();
    } else {
        const auto digest = PegReturnIntent::digest(current.path);
        if (!digest)
            return MoveOutcome{digest.error().localizedDescription()};
        intent.inFlightDigest = *digest;
    }
    data.insert(QString::fromLatin1(PegReturnIntent::key), JsonFile::encode(toJson(intent)));
    if (Status s = ExhibitionJournal::write(journal, data); !s)
        return MoveOutcome{s.error().localizedDescription()};
    notify(hook, JournalStep::ReturnJournalWritten);

    if (Status s = validateOriginalIdentity(current); !s)
        return MoveOutcome{s.error().localizedDescription()};
    const auto second = relocatedPhoto(current, current.path);
    if (!second)
        return MoveOutcome{second.error().localizedDescription()};
    if (second->size != fresh->size || second->modified != record.delivered.modified)
        return MoveOutcome{changedReason()};
    if (Status s = moveFile(current.path, returnPath, intent.inFlightDigest.has_value(), hook); !s)
        return MoveOutcome{s.error().localizedDescription()};
    notify(hook, JournalStep::ReturnFileMoved);
    auto returned = relocatedPhoto(current, returnPath);
    if (!returned)
        return returned.error();
    current = std::move(returned).value();
    return MoveOutcome{};
}

} // namespace

QJsonObject toJson(const PegReturnRecord& record) {
    QJsonObject object{
        {QLatin1String("original"), toJson(record.original)},
        {QLatin1String("delivered"), toJson(record.delivered)},
        {QLatin1String("bookmark"), QString::fromLatin1(record.bookmark.toBase64())},
    };
    if (record.placement)
        object.insert(QLatin1String("placement"), toJson(*record.placement));
    return object;
}

Result<PegReturnRecord> pegReturnRecordFromJson(const QJsonObject& object) {
    PegReturnRecord record;
    const auto original = jsonObject(object, QLatin1String("original"));
    const auto delivered = jsonObject(object, QLatin1String("delivered"));
    const auto bookmark = jsonData(object, QLatin1String("bookmark"));
    if (!original || !delivered || !bookmark)
        return decodeError(QStringLiteral("peg return record"));
    auto originalPhoto = photoFromJson(*original);
    if (!originalPhoto)
        return originalPhoto.error();
    auto deliveredPhoto = photoFromJson(*delivered);
    if (!deliveredPhoto)
        return deliveredPhoto.error();
    record.original = std::move(originalPhoto).value();
    record.delivered = std::move(deliveredPhoto).value();
    record.bookmark = *bookmark;
    if (object.contains(QLatin1String("placement"))) {
        const auto placementObject = jsonObject(object, QLatin1String("placement"));
        if (!placementObject)
            return decodeError(QStringLiteral("placement"));
        auto placement = clotheslinePlacementFromJson(*placementObject);
        if (!placement)
            return placement.error();
        record.placement = *placement;
    }
    return record;
}

QJsonObject toJson(const PegReturnIntent& intent) {
    QJsonArray pending;
    for (const PegReturnRecord& record : intent.pending)
        pending.append(toJson(record));
    QJsonObject object{
        {QLatin1String("pending"), pending},
        {QLatin1String("messages"), QJsonArray::fromStringList(intent.messages)},
    };
    if (intent.inFlightDigest)
        object.insert(QLatin1String("inFlightDigest"), *intent.inFlightDigest);
    return object;
}

Result<PegReturnIntent> pegReturnIntentFromJson(const QJsonObject& object) {
    const auto pending = jsonArray(object, QLatin1String("pending"));
    const auto messages = jsonArray(object, QLatin1String("messages"));
    if (!pending || !messages)
        return decodeError(QStringLiteral("peg return: “pending” and “messages” are required"));
    PegReturnIntent intent;
    for (const QJsonValue& value : *pending) {
        if (!value.isObject())
            return decodeError(QStringLiteral("peg return record"));
        auto record = pegReturnRecordFromJson(value.toObject());
        if (!record)
            return record.error();
        intent.pending.append(std::move(record).value());
    }
    for (const QJsonValue& value : *messages) {
        if (!value.isString())
            return decodeError(QStringLiteral("peg return message"));
        intent.messages.append(value.toString());
    }
    if (object.contains(QLatin1String("inFlightDigest"))) {
        const auto digest = jsonString(object, QLatin1String("inFlightDigest"));
        if (!digest || !isDigestText(*digest))
            return decodeError(QStringLiteral("inFlightDigest"));
        intent.inFlightDigest = *digest;
    }
    return intent;
}

PegReturnIntent PegReturnIntent::make(QList<PegReturnRecord> records) {
    PegReturnIntent intent;
    intent.pending = std::move(records);
    return intent;
}

Result<QString> PegReturnIntent::digest(const QString& path) {
    return ContentDigest::sha256HexOfFile(path);
}

Result<QStringList> PegReturnIntent::resume(JournalData& data, const QString& journal,
                                            const DidReturn& didReturn, const JournalStepHook& hook) {
    if (!data.contains(QString::fromLatin1(key)))
        return QStringList{};
    auto decoded = decodeState(data);
    if (!decoded)
        return decoded.error();
    ReturnState& state = *decoded;
    PegReturnIntent& intent = state.intent;
    // A return between volumes that a crash cut off left its hidden partial copy in the return
    // folder; the run that continues the return clears it whether or not the file goes back.
    for (const PegReturnRecord& record : std::as_const(intent.pending))
        FileMove::removeLeftoverPartials(QFileInfo(record.original.path).path());

    while (!intent.pending.isEmpty()) {
        const PegReturnRecord record = intent.pending.first();
        const QString returnPath = record.original.path;
        Photo current = record.delivered;
        Photo returnedCandidate = record.delivered;
        returnedCandidate.path = returnPath;
        std::optional<QString> reason;

        const bool deliveredThere = somethingAt(record.delivered.path);
        const bool inFlightArrived =
            intent.inFlightDigest && somethingAt(returnPath) &&
            matchesInFlight(returnPath, *intent.inFlightDigest, record.delivered.modified);
        bool alreadyBack = false;
        bool needsMove = false;
        if (validateOriginalIdentity(current)) {
            if (inFlightArrived) {
                // A cross-volume copy was completed but its source not yet removed: finish the
                // move when the source is still what was sent, otherwise keep both.
                if (matchesInFlight(record.delivered.path, *intent.inFlightDigest,
                                    record.delivered.modified)) {
                    if (unlink(QFile::encodeName(record.delivered.path).constData()) == 0)
                        alreadyBack = true;
                    else
                        reason = Error::fromErrno(errno, record.delivered.path).localizedDescription();
                } else {
                    reason = changedReason();
                }
            } else {
                needsMove = true;
            }
        } else if (validateOriginalIdentity(returnedCandidate) || (!deliveredThere && inFlightArrived)) {
            alreadyBack = true;
        } else {
            needsMove = true;
        }

        if (alreadyBack) {
            auto returned = relocatedPhoto(returnedCandidate, returnPath);
            if (!returned)
                return returned.error();
            current = std::move(returned).value();
        } else if (needsMove) {
            auto outcome = moveBack(record, current, intent, data, journal, hook);
            if (!outcome)
                return outcome.error();
            reason = outcome->reason;
        }

        if (filesystemPathKey(current.path) == filesystemPathKey(record.original.path))
            current.sourceRoot = record.original.sourceRoot;
        auto bookmark = Bookmark::create(current.path);
        const QString deliveredKey = record.delivered.recordKey();
        const QString currentKey = current.recordKey();
        state.references.remove(deliveredKey);
        state.references.insert(currentKey,
                                ExhibitionReference{current, bookmark ? *bookmark : record.bookmark});
        if (deliveredKey != currentKey) {
            state.line.records.insert(deliveredKey, UsageRecord{record.delivered.created, Clock::now()});
            state.positions.records.remove(deliveredKey);
        }
        state.line.records.insert(currentKey, UsageRecord{current.created, std::nullopt});
        if (record.placement)
            state.positions.records.insert(currentKey,
                                           ClotheslinePlacementRecord{current.created, *record.placement});
        if (reason)
            intent.messages.append(QFileInfo(record.original.path).fileName() + QStringLiteral("：") +
                                   *reason + QStringLiteral("，已保留文件并在当前位置重新挂上。"));

        intent.pending.removeFirst();
        intent.inFlightDigest.reset();
        if (Status s = storeState(data, state, journal); !s)
            return s.error();
        notify(hook, JournalStep::ReturnStateWritten);
        if (didReturn)
            didReturn(record, current);
    }
    return intent.messages;
}

} // namespace vennimo
