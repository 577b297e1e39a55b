#include "core/SourceFolder.h"

#include "platform/JsonFile.h"

#include <QFileInfo>
#include <QJsonArray>

namespace vennimo {

QString SourceFolder::name() const {
    if (kind == QLatin1String(kDesktopKind))
        return QStringLiteral("桌面");
    if (kind == QLatin1String(kDownloadsKind))
        return QStringLiteral("下载");
    return QFileInfo(path).fileName();
}

QByteArray encodeSourceFolders(const QList<SourceFolder>& folders) {
    QJsonArray array;
    for (const SourceFolder& folder : folders) {
        QJsonObject object;
        object.insert(QLatin1String("id"), folder.id);
        if (folder.kind && !folder.kind->isEmpty())
            object.insert(QLatin1String("kind"), *folder.kind);
        object.insert(QLatin1String("path"), folder.path);
        if (folder.bookmark && !folder.bookmark->isEmpty())
            object.insert(QLatin1String("bookmark"), QString::fromLatin1(folder.bookmark->toBase64()));
        object.insert(QLatin1String("enabled"), folder.enabled);
        array.append(object);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

Result<QList<SourceFolder>> decodeSourceFolders(const QByteArray& bytes) {
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return decodeError(parseError.errorString() + QStringLiteral(" @%1").arg(parseError.offset));
    if (!document.isArray())
        return decodeError(QStringLiteral("not a JSON array"));
    QList<SourceFolder> folders;
    const QJsonArray array = document.array();
    for (qsizetype i = 0; i < array.size(); ++i) {
        const QString where = QStringLiteral("sources[%1]").arg(i);
        if (!array.at(i).isObject())
            return decodeError(where);
        const QJsonObject object = array.at(i).toObject();
        SourceFolder folder;
        const std::optional<QString> id = jsonString(object, QLatin1String("id"));
        const std::optional<QString> path = jsonString(object, QLatin1String("path"));
        const std::optional<bool> enabled = jsonBool(object, QLatin1String("enabled"));
        if (!id || !path || !enabled)
            return decodeError(where);
        folder.id = *id;
        folder.path = *path;
        folder.enabled = *enabled;
        // An explicit null is an absent value, as the writer's decoder always read it.
        const QJsonValue kind = object.value(QLatin1String("kind"));
        if (kind.isString())
            folder.kind = kind.toString();
        else if (!kind.isUndefined() && !kind.isNull())
            return decodeError(where + QStringLiteral(".kind"));
        const QJsonValue bookmark = object.value(QLatin1String("bookmark"));
        if (bookmark.isString()) {
            folder.bookmark = jsonData(object, QLatin1String("bookmark"));
            if (!folder.bookmark)
                return decodeError(where + QStringLiteral(".bookmark"));
        } else if (!bookmark.isUndefined() && !bookmark.isNull()) {
            return decodeError(where + QStringLiteral(".bookmark"));
        }
        folders.append(std::move(folder));
    }
    return folders;
}

} // namespace vennimo
