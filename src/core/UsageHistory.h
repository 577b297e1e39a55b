#pragma once

#include "core/DeferredStateWriter.h"
#include "core/Photo.h"
#include "core/UsageRecord.h"

#include <QHash>
#include <QList>
#include <QString>

#include <optional>

namespace vennimo {

inline constexpr auto kUsageErrorDomain = "Vennimo.Usage";
// Taken down from the rope: a record without a used date hangs.
inline constexpr auto kLineHistoryFileName = "clothesline.json";
// The new-photo notice was acknowledged.
inline constexpr auto kInteractionsHistoryFileName = "photo-interactions.json";
// The older interactions file, only ever read.
inline constexpr auto kLegacyUsageFileName = "usage.json";

// How an observation reaches the disk: the caller waits for the write and sees its error, or the
// write starts on the history's writer at once while the caller goes on; its outcome then reaches
// the writer's result callback, memory holds the change already, and a failed write stays owed.
enum class UsageWriteMode { wait, background };

// Remembers per photo whether it has been used and of which file birth that mark is, in one JSON
// file of the storage folder. Lives on the main thread; writes go through its own writer.
class UsageHistory {
public:
    explicit UsageHistory(const QString& storage,
                          const QString& fileName = QString::fromLatin1(kLegacyUsageFileName),
                          DeferredStateWriter::Options writerOptions = {});

    const QString& file() const { return m_file; }
    const UsageRecords& records() const { return m_records; }
    bool initialized() const { return m_initialized; }
    // Rises with every change of the records in memory; cheaper to compare than the records.
    quint64 recordsRevision() const { return m_recordsRevision; }
    // Why the file could not be read; while set, every change is refused with this text.
    const std::optional<QString>& loadError() const { return m_loadError; }
    DeferredStateWriter& deferredWriter() { return *m_deferredWriter; }

    // The key a photo's record is stored under.
    QString key(const Photo& photo) const;
    // A record of the photo's file birth exists and carries a used date.
    bool isUsed(const Photo& photo) const;
    bool hasRecord(const Photo& photo) const;

    // Records the photos seen for the first time and writes at once. The first call marks
    // everything present as used; later a new photo is used only when it came with a folder's
    // baseline.
    Status observe(const QList<Photo>& photos, UsageWriteMode mode = UsageWriteMode::wait);
    // The same for the interactions history, whose first run may take its marks from an older
    // history.
    Status observeArrivals(const QList<Photo>& photos, UsageHistory* legacy,
                           UsageWriteMode mode = UsageWriteMode::wait);
    // Marks the photos used or not used and writes at once; memory changes only when the write
    // succeeded.
    Status setUsed(const QList<Photo>& photos, bool used);
    Status setUsed(const Photo& photo, bool used);
    // Marks the photos in memory at once and writes debounced.
    Status setUsedDeferred(const QList<Photo>& photos, bool used);
    // Learns the volume-based key of photos that carry no usage identity.
    void prepareIdentities(const QList<Photo>& photos);

private:
    UsageRecord record(const Photo& photo, bool used) const;
    Status save(const UsageRecords& records, bool initialized);
    // Writes the observed records on top of the current ones; the history is initialized after.
    Status commitObserved(const UsageRecords& added, UsageWriteMode mode);
    // The record an observation already holds for a key: one it added, else the stored one.
    static const UsageRecord* observedRecord(const UsageRecords& added, const UsageRecords& stored,
                                             const QString& key);
    Error refusal() const;
    // A photo that came with the baseline of a newly added folder counts as used on arrival; any
    // other newcomer hangs.
    static bool usedOnArrival(const Photo& photo);

    QString m_file;
    UsageRecords m_records;
    bool m_initialized = false;
    quint64 m_recordsRevision = 0;
    std::optional<QString> m_loadError;
    std::unique_ptr<DeferredStateWriter> m_deferredWriter;
    QHash<QString, QString> m_legacyIdentities;
};

} // namespace vennimo
