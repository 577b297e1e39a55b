#pragma once

#include "core/Photo.h"
#include "platform/Result.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>

namespace vennimo {

// One photo hung from outside the source folders, with the bookmark of its file.
struct ExhibitionReference {
    Photo photo{};
    QByteArray bookmark{};

    bool operator==(const ExhibitionReference&) const = default;
};

// Record key -> reference: the body of "exhibition.json".
using ExhibitionReferences = QHash<QString, ExhibitionReference>;

QJsonObject toJson(const ExhibitionReference& reference);
Result<ExhibitionReference> exhibitionReferenceFromJson(const QJsonObject& object);

QJsonObject exhibitionToJson(const ExhibitionReferences& references);
Result<ExhibitionReferences> exhibitionFromJson(const QJsonObject& object);
// The file's bytes as written (sorted keys, compact) and their strict reading.
QByteArray encodeExhibition(const ExhibitionReferences& references);
Result<ExhibitionReferences> decodeExhibition(const QByteArray& bytes);

} // namespace vennimo
