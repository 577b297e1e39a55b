#pragma once

#include "core/Photo.h"
#include "platform/Result.h"

#include <QHash>
#include <QJsonObject>
#include <QString>

#include <optional>

namespace vennimo {

// A print's place on the rope: its row, how far along the rope (0 left end, 1 right end) and its
// stacking depth (larger is in front).
struct ClotheslinePlacement {
    qint64 row = 0;
    double x = 0;
    qint64 zIndex = 0;

    bool operator==(const ClotheslinePlacement&) const = default;
};

// A request to move one photo's print.
struct ClotheslinePlacementUpdate {
    Photo photo{};
    qint64 row = 0;
    double x = 0;

    bool operator==(const ClotheslinePlacementUpdate&) const = default;
};

// A placement together with the file birth of the photo it was made for.
struct ClotheslinePlacementRecord {
    std::optional<double> created{};
    ClotheslinePlacement placement{};

    bool operator==(const ClotheslinePlacementRecord&) const = default;
};

using ClotheslinePlacementRecords = QHash<QString, ClotheslinePlacementRecord>;

// The body of "clothesline-positions.json".
struct ClotheslinePlacementState {
    static constexpr qint64 kCurrentVersion = 1;

    qint64 version = kCurrentVersion;
    ClotheslinePlacementRecords records{};

    bool operator==(const ClotheslinePlacementState&) const = default;
};

QJsonObject toJson(const ClotheslinePlacement& placement);
Result<ClotheslinePlacement> clotheslinePlacementFromJson(const QJsonObject& object);
// "created" is left out when absent; a null reads as absent.
QJsonObject toJson(const ClotheslinePlacementRecord& record);
Result<ClotheslinePlacementRecord> clotheslinePlacementRecordFromJson(const QJsonObject& object);
// Decoding checks types only; which versions and ranges are acceptable is the store's rule.
QJsonObject toJson(const ClotheslinePlacementState& state);
Result<ClotheslinePlacementState> clotheslinePlacementStateFromJson(const QJsonObject& object);

} // namespace vennimo
