#pragma once

#include "platform/Result.h"

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

namespace vennimo {

// Where a photo came from when it came out of a Photos library.
struct PhotosOrigin {
    std::optional<QString> localIdentifier{};
    std::optional<QString> libraryPath{};

    // Lower-case hex SHA-256 of "<libraryPath or unresolved>|<localIdentifier or unknown>".
    QString storageKey() const;
    // The enclosing "*.photoslibrary" package of a file path (the path itself tested first), with
    // symbolic links resolved; nothing outside any package or for a non-file URL.
    static std::optional<QString> libraryRoot(const QString& pathOrUrl);

    bool operator==(const PhotosOrigin&) const = default;
};

QJsonObject toJson(const PhotosOrigin& origin);
Result<PhotosOrigin> photosOriginFromJson(const QJsonObject& object);

// One image file as the whole system knows it. Dates are seconds since 2001.
struct Photo {
    QString id{};
    QString path{};
    QString source{};
    double added = 0;
    double modified = 0;
    qint64 size = 0;
    QString thumbnail{};
    std::optional<double> thumbnailModified{};
    std::optional<QString> sourceRoot{};
    std::optional<double> created{};
    std::optional<QString> usageID{};
    std::optional<bool> baselineImported{};
    std::optional<PhotosOrigin> photosOrigin{};

    // The file name with its extension.
    QString name() const;
    // The extension upper-cased, empty without one.
    QString format() const;
    bool isPhotosAsset() const;
    // The key of the photo in exhibition, placement and usage records.
    const QString& recordKey() const { return usageID ? *usageID : id; }

    bool operator==(const Photo&) const = default;
};

QJsonObject toJson(const Photo& photo);
Result<Photo> photoFromJson(const QJsonObject& object);

// The body of "index.json".
struct Library {
    QList<Photo> photos{};
    bool initialized = false;
    std::optional<QStringList> pendingBaselineRoots{};

    bool operator==(const Library&) const = default;
};

QJsonObject toJson(const Library& library);
Result<Library> libraryFromJson(const QJsonObject& object);

// Whether two creation dates may be the same file birth: yes when either is unknown, else only
// when they are less than a microsecond apart.
bool sameFileBirth(std::optional<double> stored, std::optional<double> current);

} // namespace vennimo
