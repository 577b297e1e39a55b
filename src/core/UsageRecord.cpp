#include "core/UsageRecord.h"

#include "core/JsonScanner.h"
#include "platform/JsonFile.h"

namespace vennimo {

namespace {

// Absent and null both read as no date; any other non-number fails the record.
bool readOptionalDate(const QJsonObject& object, QLatin1StringView key, std::optional<double>& field) {
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull())
        return true;
    if (!value.isDouble())
        return false;
    field = value.toDouble();
    return true;
}

} // namespace

QJsonObject toJson(const UsageRecord& record) {
    QJsonObject object;
    if (record.created)
        object.insert(QLatin1String("created"), *record.created);
    if (record.usedAt)
        object.insert(QLatin1String("usedAt"), *record.usedAt);
    return object;
}

Result<UsageRecord> usageRecordFromJson(const QJsonObject& object) {
    UsageRecord record;
    if (!readOptionalDate(object, QLatin1String("created"), record.created) ||
        !readOptionalDate(object, QLatin1String("usedAt"), record.usedAt))
        return decodeError(QStringLiteral("usage record: a date is not a number"));
    return record;
}

Result<UsageRecords> usageRecordsFromJson(const QJsonObject& object) {
    UsageRecords records;
    records.reserve(object.size());
    for (auto it = object.begin(); it != object.end(); ++it) {
        if (!it.value().isObject())
            return decodeError(QStringLiteral("usage record “%1” is not an object").arg(it.key()));
        auto record = usageRecordFromJson(it.value().toObject());
        if (!record)
            return record.error();
        records.insert(it.key(), *record);
    }
    return records;
}

QJsonObject toJson(const UsageState& state) {
    // In key order: a JSON object keeps its keys sorted, so inserting in hash order would move
    // half of the object on every insert, which a library of 100,000 photos cannot afford.
    QStringList keys = state.records.keys();
    keys.sort();
    QJsonObject records;
    for (const QString& key : std::as_const(keys))
        records.insert(key, toJson(state.records.value(key)));
    QJsonObject object;
    object.insert(QLatin1String("initialized"), state.initialized);
    object.insert(QLatin1String("records"), records);
    object.insert(QLatin1String("version"), state.version);
    return object;
}

Result<UsageState> usageStateFromJson(const QJsonObject& object) {
    const auto version = jsonInt64(object, QLatin1String("version"));
    const auto initialized = jsonBool(object, QLatin1String("initialized"));
    const auto records = jsonObject(object, QLatin1String("records"));
    if (!version || !initialized || !records)
        return decodeError(QStringLiteral("usage state: a required key is missing or ill-typed"));
    auto decoded = usageRecordsFromJson(*records);
    if (!decoded)
        return decoded.error();
    UsageState state;
    state.version = *version;
    state.initialized = *initialized;
    state.records = std::move(*decoded);
    return state;
}

std::optional<UsageState> decodeUsageState(const QByteArray& bytes) {
    JsonScanner scanner(bytes);
    UsageState state;
    if (!scanner.literal("{\"initialized\":") || !scanner.boolean(state.initialized) ||
        !scanner.literal(",\"records\":{"))
        return std::nullopt;
    // Every record, and the records object itself, opens so: a quote inside a key is escaped.
    state.records.reserve(bytes.count("\":{"));
    for (bool first = true; !scanner.literal("}"); first = false) {
        QString key;
        UsageRecord record;
        if ((!first && !scanner.literal(",")) || !scanner.string(key) || !scanner.literal(":{"))
            return std::nullopt;
        double date = 0;
        const bool created = scanner.literal("\"created\":");
        if (created) {
            if (!scanner.number(date))
                return std::nullopt;
            record.created = date;
        }
        if (scanner.literal(created ? ",\"usedAt\":" : "\"usedAt\":")) {
            if (!scanner.number(date))
                return std::nullopt;
            record.usedAt = date;
        }
        const qsizetype count = state.records.size();
        state.records.insert(key, record);
        // A repeated key is left to the JSON reader.
        if (!scanner.literal("}") || state.records.size() == count)
            return std::nullopt;
    }
    if (!scanner.literal(",\"version\":") || !scanner.integer(state.version) || !scanner.literal("}") ||
        !scanner.atEnd())
        return std::nullopt;
    return state;
}

} // namespace vennimo
