#include "core/Photo.h"

#include "platform/JsonFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include <cmath>

namespace vennimo {

namespace {
constexpr double kFileBirthToleranceSeconds = 1e-6;
}

QString PhotosOrigin::storageKey() const {
    const QString joined = libraryPath.value_or(QStringLiteral("unresolved")) + QLatin1Char('|') +
                           localIdentifier.value_or(QStringLiteral("unknown"));
    return QString::fromLatin1(QCryptographicHash::hash(joined.toUtf8(), QCryptographicHash::Sha256).toHex());
}

std::optional<QString> PhotosOrigin::libraryRoot(const QString& pathOrUrl) {
    QString path = pathOrUrl;
    if (pathOrUrl.contains(QLatin1String("://"))) {
        const QUrl url(pathOrUrl);
        if (!url.isLocalFile())
            return std::nullopt;
        path = url.toLocalFile();
    }
    if (!path.startsWith(QLatin1Char('/')))
        return std::nullopt;
    // Resolve links where the path exists; a missing tail keeps its spelling.
    const QString canonical = QFileInfo(path).canonicalFilePath();
    QString current = QDir::cleanPath(canonical.isEmpty() ? path : canonical);
    while (current != QLatin1String("/") && !current.isEmpty()) {
        if (QFileInfo(current).suffix().compare(QLatin1String("photoslibrary"), Qt::CaseInsensitive) == 0)
            return current;
        const qsizetype slash = current.lastIndexOf(QLatin1Char('/'));
        current = slash <= 0 ? QStringLiteral("/") : current.left(slash);
    }
    return std::nullopt;
}

QJsonObject toJson(const PhotosOrigin& origin) {
    QJsonObject o;
    if (origin.localIdentifier)
        o.insert(QLatin1String("localIdentifier"), *origin.localIdentifier);
    if (origin.libraryPath)
        o.insert(QLatin1String("libraryPath"), *origin.libraryPath);
    return o;
}

Result<PhotosOrigin> photosOriginFromJson(const QJsonObject& object) {
    PhotosOrigin origin;
    for (auto [key, field] : {std::pair{QLatin1String("localIdentifier"), &PhotosOrigin::localIdentifier},
                              std::pair{QLatin1String("libraryPath"), &PhotosOrigin::libraryPath}}) {
        if (!object.contains(key))
            continue;
        auto value = jsonString(object, key);
        if (!value)
            return decodeError(QStringLiteral("photosOrigin.") + key);
        origin.*field = *value;
    }
    return origin;
}

QString Photo::name() const {
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString Photo::format() const {
    const QString file = name();
    const qsizetype dot = file.lastIndexOf(QLatin1Char('.'));
    // A leading dot names a hidden file, not an extension.
    if (dot <= 0)
        return {};
    return file.mid(dot + 1).toUpper();
}

bool Photo::isPhotosAsset() const {
    return photosOrigin.has_value() || PhotosOrigin::libraryRoot(path).has_value();
}

QJsonObject toJson(const Photo& photo) {
    QJsonObject o;
    o.insert(QLatin1String("id"), photo.id);
    o.insert(QLatin1String("path"), photo.path);
    o.insert(QLatin1String("source"), photo.source);
    o.insert(QLatin1String("added"), photo.added);
    o.insert(QLatin1String("modified"), photo.modified);
    o.insert(QLatin1String("size"), photo.size);
    o.insert(QLatin1String("thumbnail"), photo.thumbnail);
    if (photo.thumbnailModified)
        o.insert(QLatin1String("thumbnailModified"), *photo.thumbnailModified);
    if (photo.sourceRoot)
        o.insert(QLatin1String("sourceRoot"), *photo.sourceRoot);
    if (photo.created)
        o.insert(QLatin1String("created"), *photo.created);
    if (photo.usageID)
        o.insert(QLatin1String("usageID"), *photo.usageID);
    if (photo.baselineImported)
        o.insert(QLatin1String("baselineImported"), *photo.baselineImported);
    if (photo.photosOrigin)
        o.insert(QLatin1String("photosOrigin"), toJson(*photo.photosOrigin));
    return o;
}

Result<Photo> photoFromJson(const QJsonObject& object) {
    Photo p;
    auto id = jsonString(object, QLatin1String("id"));
    auto path = jsonString(object, QLatin1String("path"));
    auto source = jsonString(object, QLatin1String("source"));
    auto added = jsonDouble(object, QLatin1String("added"));
    auto modified = jsonDouble(object, QLatin1String("modified"));
    auto size = jsonInt64(object, QLatin1String("size"));
    auto thumbnail = jsonString(object, QLatin1String("thumbnail"));
    if (!id || !path || !source || !added || !modified || !size || !thumbnail)
        return decodeError(QStringLiteral("photo: a required key is missing or ill-typed"));
    p.id = *id;
    p.path = *path;
    p.source = *source;
    p.added = *added;
    p.modified = *modified;
    p.size = *size;
    p.thumbnail = *thumbnail;

    auto optional = [&object](QLatin1StringView key, auto reader, auto& field) -> bool {
        if (!object.contains(key))
            return true;
        auto value = reader(object, key);
        if (!value)
            return false;
        field = *value;
        return true;
    };
    bool good = optional(QLatin1String("thumbnailModified"), jsonDouble, p.thumbnailModified) &&
                optional(QLatin1String("sourceRoot"), jsonString, p.sourceRoot) &&
                optional(QLatin1String("created"), jsonDouble, p.created) &&
                optional(QLatin1String("usageID"), jsonString, p.usageID) &&
                optional(QLatin1String("baselineImported"), jsonBool, p.baselineImported);
    if (!good)
        return decodeError(QStringLiteral("photo %1: an optional key is ill-typed").arg(p.id));
    if (object.contains(QLatin1String("photosOrigin"))) {
        auto originObject = jsonObject(object, QLatin1String("photosOrigin"));
        if (!originObject)
            return decodeError(QStringLiteral("photo %1: photosOrigin").arg(p.id));
        auto origin = photosOriginFromJson(*originObject);
        if (!origin)
            return origin.error();
        p.photosOrigin = *origin;
    }
    return p;
}

QJsonObject toJson(const Library& library) {
    QJsonArray photos;
    for (const Photo& p : library.photos)
        photos.append(toJson(p));
    QJsonObject o;
    o.insert(QLatin1String("photos"), photos);
    o.insert(QLatin1String("initialized"), library.initialized);
    if (library.pendingBaselineRoots)
        o.insert(QLatin1String("pendingBaselineRoots"),
                 QJsonArray::fromStringList(*library.pendingBaselineRoots));
    return o;
}

Result<Library> libraryFromJson(const QJsonObject& object) {
    auto photos = jsonArray(object, QLatin1String("photos"));
    auto initialized = jsonBool(object, QLatin1String("initialized"));
    if (!photos || !initialized)
        return decodeError(QStringLiteral("library: photos or initialized missing"));
    Library library;
    library.initialized = *initialized;
    library.photos.reserve(photos->size());
    for (const QJsonValue& value : *photos) {
        if (!value.isObject())
            return decodeError(QStringLiteral("library: a photo is not an object"));
        auto photo = photoFromJson(value.toObject());
        if (!photo)
            return photo.error();
        library.photos.append(std::move(photo).value());
    }
    if (object.contains(QLatin1String("pendingBaselineRoots"))) {
        auto roots = jsonArray(object, QLatin1String("pendingBaselineRoots"));
        if (!roots)
            return decodeError(QStringLiteral("library: pendingBaselineRoots"));
        QStringList list;
        for (const QJsonValue& v : *roots) {
            if (!v.isString())
                return decodeError(QStringLiteral("library: pendingBaselineRoots"));
            list.append(v.toString());
        }
        library.pendingBaselineRoots = list;
    }
    return library;
}

bool sameFileBirth(std::optional<double> stored, std::optional<double> current) {
    if (!stored || !current)
        return true;
    // Counted in whole nanoseconds, the unit file systems report, so that dates meant to lie
    // exactly a microsecond apart do not pass through the rounding of their doubles.
    const double difference = std::abs(*stored - *current);
    if (!(difference < 1.0))
        return false;
    return std::llround(difference * 1e9) < std::llround(kFileBirthToleranceSeconds * 1e9);
}

} // namespace vennimo
