#include "core/UsageHistory.h"

#include "platform/Dates.h"
#include "platform/FileIdentity.h"
#include "platform/JsonFile.h"
#include "platform/VolumeUuid.h"

#include <cerrno>

namespace vennimo {

namespace {

const QString& loadErrorPrefix() {
    static const QString prefix = QStringLiteral("使用记录无法读取：");
    return prefix;
}

DeferredStateWriter::Operation writeOperation(const DeferredStateWriter& writer, const QString& path,
                                              const UsageState& state) {
    // The write holds its own copy of the state (shared until the history changes it) and encodes
    // it on the writer's queue.
    return [fileWriter = writer.fileWriter(), path, state] { return fileWriter(toJson(state), path); };
}

} // namespace

UsageHistory::UsageHistory(const QString& storage, const QString& fileName,
                           DeferredStateWriter::Options writerOptions)
    : m_file(storage + QLatin1Char('/') + fileName)
    , m_deferredWriter(std::make_unique<DeferredStateWriter>(std::move(writerOptions))) {
    auto bytes = DeferredStateWriter::readStateFile(m_file);
    if (!bytes) {
        if (bytes.error().sysErrno != ENOENT)
            m_loadError = loadErrorPrefix() + bytes.error().localizedDescription();
        return;
    }
    if (auto state = decodeUsageState(*bytes)) {
        m_records = std::move(state->records);
        m_initialized = state->initialized;
        return;
    }
    auto parsed = JsonFile::parse(*bytes);
    if (!parsed) {
        m_loadError = loadErrorPrefix() + parsed.error().localizedDescription();
        return;
    }
    const QJsonObject& object = *parsed;
    if (auto state = usageStateFromJson(object)) {
        m_records = std::move(state->records);
        m_initialized = state->initialized;
        return;
    }
    auto older = usageRecordsFromJson(object);
    if (!older) {
        m_loadError = loadErrorPrefix() + older.error().localizedDescription();
        return;
    }
    m_records = std::move(*older);
}

QString UsageHistory::key(const Photo& photo) const {
    if (photo.usageID)
        return *photo.usageID;
    return m_legacyIdentities.value(photo.id, photo.id);
}

bool UsageHistory::isUsed(const Photo& photo) const {
    const auto it = m_records.constFind(key(photo));
    return it != m_records.constEnd() && sameFileBirth(it->created, photo.created) && it->usedAt.has_value();
}

bool UsageHistory::hasRecord(const Photo& photo) const {
    const auto it = m_records.constFind(key(photo));
    return it != m_records.constEnd() && sameFileBirth(it->created, photo.created);
}

bool UsageHistory::usedOnArrival(const Photo& photo) {
    return photo.baselineImported.value_or(false);
}

// Observations collect only what they add: a library of many photos must not copy or compare
// every record for each new file.
Status UsageHistory::observe(const QList<Photo>& photos, UsageWriteMode mode) {
    prepareIdentities(photos);
    UsageRecords added;
    for (const Photo& photo : photos) {
        const QString k = key(photo);
        if (!m_initialized) {
            added.insert(k, record(photo, true));
            continue;
        }
        const UsageRecord* existing = observedRecord(added, m_records, k);
        if (existing != nullptr && sameFileBirth(existing->created, photo.created))
            continue;
        added.insert(k, record(photo, usedOnArrival(photo)));
    }
    if (added.isEmpty() && m_initialized)
        return {};
    return commitObserved(added, mode);
}

Status UsageHistory::observeArrivals(const QList<Photo>& photos, UsageHistory* legacy, UsageWriteMode mode) {
    prepareIdentities(photos);
    if (legacy != nullptr)
        legacy->prepareIdentities(photos);
    // An older history decides a first run only when it was read whole and had completed its own
    // first run; otherwise everything present counts as seen.
    const bool legacyDecides = legacy != nullptr && !legacy->loadError() && legacy->initialized();
    UsageRecords added;
    for (const Photo& photo : photos) {
        const QString k = key(photo);
        const UsageRecord* existing = observedRecord(added, m_records, k);
        const bool sameBirth = existing != nullptr && sameFileBirth(existing->created, photo.created);
        if (m_initialized) {
            if (!sameBirth)
                added.insert(k, record(photo, usedOnArrival(photo)));
            continue;
        }
        if (sameBirth && existing->usedAt)
            continue;
        const bool used = !legacyDecides || !legacy->hasRecord(photo) || legacy->isUsed(photo);
        added.insert(k, record(photo, used));
    }
    if (added.isEmpty() && m_initialized)
        return {};
    return commitObserved(added, mode);
}

const UsageRecord* UsageHistory::observedRecord(const UsageRecords& added, const UsageRecords& stored,
                                                const QString& key) {
    if (const auto it = added.constFind(key); it != added.constEnd())
        return &*it;
    if (const auto it = stored.constFind(key); it != stored.constEnd())
        return &*it;
    return nullptr;
}

Status UsageHistory::commitObserved(const UsageRecords& added, UsageWriteMode mode) {
    if (mode == UsageWriteMode::wait) {
        UsageRecords copy = m_records;
        copy.insert(added);
        return save(copy, true);
    }
    if (m_loadError)
        return refusal();
    m_records.insert(added);
    m_initialized = true;
    ++m_recordsRevision;
    m_deferredWriter->start(
        writeOperation(*m_deferredWriter, m_file, UsageState{UsageState::kCurrentVersion, true, m_records}));
    return {};
}

Status UsageHistory::setUsed(const QList<Photo>& photos, bool used) {
    prepareIdentities(photos);
    UsageRecords copy = m_records;
    for (const Photo& photo : photos)
        copy.insert(key(photo), record(photo, used));
    return save(copy, m_initialized);
}

Status UsageHistory::setUsed(const Photo& photo, bool used) {
    return setUsed(QList<Photo>{photo}, used);
}

Status UsageHistory::setUsedDeferred(const QList<Photo>& photos, bool used) {
    if (m_loadError)
        return Error::failure(*m_loadError);
    const std::optional<double> usedAt = used ? std::optional(Clock::now()) : std::nullopt;
    for (const Photo& photo : photos)
        m_records.insert(key(photo), UsageRecord{photo.created, usedAt});
    ++m_recordsRevision;
    m_deferredWriter->schedule(writeOperation(
        *m_deferredWriter, m_file, UsageState{UsageState::kCurrentVersion, m_initialized, m_records}));
    return {};
}

void UsageHistory::prepareIdentities(const QList<Photo>& photos) {
    for (const Photo& photo : photos) {
        if (photo.usageID || m_legacyIdentities.contains(photo.id))
            continue;
        QString identity = photo.id;
        if (const auto uuid = VolumeUuid::forPath(photo.path)) {
            if (const auto file = FileIdentity::read(photo.path))
                identity = *uuid + QLatin1Char('-') + QString::number(file->fileNumber);
        }
        m_legacyIdentities.insert(photo.id, identity);
    }
}

UsageRecord UsageHistory::record(const Photo& photo, bool used) const {
    UsageRecord made;
    made.created = photo.created;
    if (!made.created) {
        if (const auto file = FileIdentity::read(photo.path))
            made.created = file->created;
    }
    if (used)
        made.usedAt = Clock::now();
    return made;
}

Error UsageHistory::refusal() const {
    return Error::make(QString::fromLatin1(kUsageErrorDomain), 1, m_loadError.value_or(QString()));
}

Status UsageHistory::save(const UsageRecords& records, bool initialized) {
    if (m_loadError)
        return refusal();
    const Status written = m_deferredWriter->immediate(writeOperation(
        *m_deferredWriter, m_file, UsageState{UsageState::kCurrentVersion, initialized, records}));
    if (!written)
        return written;
    m_records = records;
    m_initialized = initialized;
    ++m_recordsRevision;
    return {};
}

} // namespace vennimo
