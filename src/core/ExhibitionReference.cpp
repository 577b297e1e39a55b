#include "core/ExhibitionReference.h"

#include "platform/JsonFile.h"

namespace vennimo {

QJsonObject toJson(const ExhibitionReference& reference) {
    return QJsonObject{
        {QLatin1String("bookmark"), QString::fromLatin1(reference.bookmark.toBase64())},
        {QLatin1String("photo"), toJson(reference.photo)},
    };
}

Result<ExhibitionReference> exhibitionReferenceFromJson(const QJsonObject& object) {
    const auto bookmark = jsonData(object, QLatin1String("bookmark"));
    if (!bookmark)
        return decodeError(QStringLiteral("bookmark"));
    const auto photoObject = jsonObject(object, QLatin1String("photo"));
    if (!photoObject)
        return decodeError(QStringLiteral("photo"));
    auto photo = photoFromJson(*photoObject);
    if (!photo)
        return photo.error();
    return ExhibitionReference{std::move(photo).value(), *bookmark};
}

QJsonObject exhibitionToJson(const ExhibitionReferences& references) {
    QJsonObject object;
    for (auto it = references.cbegin(); it != references.cend(); ++it)
        object.insert(it.key(), toJson(it.value()));
    return object;
}

Result<ExhibitionReferences> exhibitionFromJson(const QJsonObject& object) {
    ExhibitionReferences references;
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (!it.value().isObject())
            return decodeError(it.key());
        auto reference = exhibitionReferenceFromJson(it.value().toObject());
        if (!reference)
            return reference.error();
        references.insert(it.key(), std::move(reference).value());
    }
    return references;
}

QByteArray encodeExhibition(const ExhibitionReferences& references) {
    return JsonFile::encode(exhibitionToJson(references));
}

Result<ExhibitionReferences> decodeExhibition(const QByteArray& bytes) {
    auto object = JsonFile::parse(bytes);
    if (!object)
        return object.error();
    return exhibitionFromJson(*object);
}

} // namespace vennimo
