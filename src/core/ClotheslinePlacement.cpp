#include "core/ClotheslinePlacement.h"

#include "platform/JsonFile.h"

namespace vennimo {

QJsonObject toJson(const ClotheslinePlacement& placement) {
    QJsonObject object;
    object.insert(QLatin1String("row"), placement.row);
    object.insert(QLatin1String("x"), placement.x);
    object.insert(QLatin1String("zIndex"), placement.zIndex);
    return object;
}

Result<ClotheslinePlacement> clotheslinePlacementFromJson(const QJsonObject& object) {
    const auto row = jsonInt64(object, QLatin1String("row"));
    const auto x = jsonDouble(object, QLatin1String("x"));
    const auto zIndex = jsonInt64(object, QLatin1String("zIndex"));
    if (!row || !x || !zIndex)
        return decodeError(QStringLiteral("placement: a required key is missing or ill-typed"));
    return ClotheslinePlacement{*row, *x, *zIndex};
}

QJsonObject toJson(const ClotheslinePlacementRecord& record) {
    QJsonObject object;
    if (record.created)
        object.insert(QLatin1String("created"), *record.created);
    object.insert(QLatin1String("placement"), toJson(record.placement));
    return object;
}

Result<ClotheslinePlacementRecord> clotheslinePlacementRecordFromJson(const QJsonObject& object) {
    ClotheslinePlacementRecord record;
    const QJsonValue created = object.value(QLatin1String("created"));
    if (created.isDouble())
        record.created = created.toDouble();
    else if (!created.isUndefined() && !created.isNull())
        return decodeError(QStringLiteral("placement record: “created” is not a number"));
    const auto placement = jsonObject(object, QLatin1String("placement"));
    if (!placement)
        return decodeError(QStringLiteral("placement record: “placement” is missing"));
    auto decoded = clotheslinePlacementFromJson(*placement);
    if (!decoded)
        return decoded.error();
    record.placement = *decoded;
    return record;
}

QJsonObject toJson(const ClotheslinePlacementState& state) {
    QJsonObject records;
    for (auto it = state.records.begin(); it != state.records.end(); ++it)
        records.insert(it.key(), toJson(it.value()));
    QJsonObject object;
    object.insert(QLatin1String("records"), records);
    object.insert(QLatin1String("version"), state.version);
    return object;
}

Result<ClotheslinePlacementState> clotheslinePlacementStateFromJson(const QJsonObject& object) {
    const auto version = jsonInt64(object, QLatin1String("version"));
    const auto records = jsonObject(object, QLatin1String("records"));
    if (!version || !records)
        return decodeError(QStringLiteral("placement state: a required key is missing or ill-typed"));
    ClotheslinePlacementState state;
    state.version = *version;
    state.records.reserve(records->size());
    for (auto it = records->begin(); it != records->end(); ++it) {
        if (!it.value().isObject())
            return decodeError(QStringLiteral("placement record “%1” is not an object").arg(it.key()));
        auto record = clotheslinePlacementRecordFromJson(it.value().toObject());
        if (!record)
            return record.error();
        state.records.insert(it.key(), *record);
    }
    return state;
}

} // namespace vennimo
