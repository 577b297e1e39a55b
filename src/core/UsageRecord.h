#pragma once

#include "platform/Result.h"

#include <QHash>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace vennimo {

// Whether one photo was used, and of which file birth that mark is. Dates are seconds since 2001.
struct UsageRecord {
    std::optional<double> created{};
    std::optional<double> usedAt{};

    bool operator==(const UsageRecord&) const = default;
};

using UsageRecords = QHash<QString, UsageRecord>;

// The body of a usage file.
struct UsageState {
    static constexpr qint64 kCurrentVersion = 2;

    qint64 version = kCurrentVersion;
    bool initialized = false;
    UsageRecords records{};

    bool operator==(const UsageState&) const = default;
};

// Dates are written only when present; a null reads as absent.
QJsonObject toJson(const UsageRecord& record);
Result<UsageRecord> usageRecordFromJson(const QJsonObject& object);

// All three keys are required; any version is accepted.
QJsonObject toJson(const UsageState& state);
Result<UsageState> usageStateFromJson(const QJsonObject& object);
// Reads a usage file as the state writer writes it (compact, keys sorted) without building a
// QJsonDocument, which is slow for a library of a hundred thousand photos. Nothing for any other
// text, valid or not: usageStateFromJson over the parsed file decides then.
std::optional<UsageState> decodeUsageState(const QByteArray& bytes);
// The older form of a usage file: a bare object from record key to record.
Result<UsageRecords> usageRecordsFromJson(const QJsonObject& object);

} // namespace vennimo
