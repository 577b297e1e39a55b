#include "model/PhotosDeletion.h"

#include <QMap>

namespace vennimo {

namespace {

constexpr auto kIncompleteOrigin = "无法确认照片 App 原片，未删除。请从照片 App 重新拖入。";
constexpr auto kAssetNotFound = "当前系统照片图库中找不到这张原片，未删除。若原片在其他图库，请在照片 App "
                                "中打开对应图库并删除。";
constexpr auto kOtherLibrary = "无法确认这张原片属于导入时的图库，未删除。请在照片 App "
                               "中打开原片所在的图库并删除。";
constexpr auto kNotConfirmed = "系统未确认删除，照片未改动。";

bool deletable(const Photo& photo) {
    return photo.photosOrigin && photo.photosOrigin->localIdentifier && photo.photosOrigin->libraryPath;
}

QString text(const char* utf8) {
    return QString::fromUtf8(utf8);
}

} // namespace

Error PhotosDeletion::failure(const QString& message) {
    return Error::make(QString::fromLatin1(kPhotosErrorDomain), 1, message);
}

void PhotosDeletion::deletePhotos(const QList<Photo>& photos, TrashCompletion completion,
                                  std::shared_ptr<PhotosLibrary> library) {
    QList<Photo> candidates;
    QHash<QString, QString> early;
    for (const Photo& photo : photos) {
        if (deletable(photo))
            candidates.append(photo);
        else
            early.insert(photo.id, trashFailure(photo, failure(text(kIncompleteOrigin))));
    }
    const auto failAll = [candidates, early, completion](const Error& error) {
        QHash<QString, QString> failed = early;
        for (const Photo& photo : candidates)
            failed.insert(photo.id, trashFailure(photo, error));
        if (completion)
            completion({}, failed);
    };
    if (candidates.isEmpty() || !library) {
        failAll(photosAccessError());
        return;
    }
    const PhotosAuthorization status = library->authorizationStatus();
    if (photosAccessGranted(status)) {
        validateAndDelete(candidates, *library, early, completion);
        return;
    }
    if (status != PhotosAuthorization::NotDetermined) {
        failAll(photosAccessError());
        return;
    }
    library->requestAuthorization(
        [candidates, library, early, completion, failAll](PhotosAuthorization answer) {
            if (photosAccessGranted(answer))
                validateAndDelete(candidates, *library, early, completion);
            else
                failAll(photosAccessError());
        });
}

void PhotosDeletion::validateAndDelete(const QList<Photo>& photos, PhotosLibrary& library,
                                       const QHash<QString, QString>& earlyFailures,
                                       const TrashCompletion& completion) {
    // Several photos may name one asset; it is checked and deleted once.
    QStringList keys;
    QHash<QString, QList<Photo>> groups;
    for (const Photo& photo : photos) {
        const QString& key = *photo.photosOrigin->localIdentifier;
        if (!groups.contains(key))
            keys.append(key);
        groups[key].append(photo);
    }
    const QStringList found = library.fetchAssets(keys);
    QHash<QString, QString> failed = earlyFailures;
    QStringList verifiedAssets;
    QList<Photo> verifiedPhotos;
    for (const QString& key : keys) {
        const QList<Photo>& group = groups[key];
        if (!found.contains(key) || library.mediaType(key) != PhotosMediaType::Image) {
            for (const Photo& photo : group)
                failed.insert(photo.id, trashFailure(photo, failure(text(kAssetNotFound))));
            continue;
        }
        const std::optional<QString> original = library.fullSizeImagePath(key);
        const std::optional<QString> root = original ? PhotosOrigin::libraryRoot(*original) : std::nullopt;
        QList<Photo> matching;
        for (const Photo& photo : group) {
            if (root && photo.photosOrigin->libraryPath == root)
                matching.append(photo);
            else
                failed.insert(photo.id, trashFailure(photo, failure(text(kOtherLibrary))));
        }
        if (!matching.isEmpty()) {
            verifiedAssets.append(key);
            verifiedPhotos.append(matching);
        }
    }
    if (verifiedAssets.isEmpty()) {
        if (completion)
            completion({}, failed);
        return;
    }
    const Status deleted = library.deleteAssets(verifiedAssets);
    if (!deleted) {
        const Error error =
            deleted.error().message.isEmpty() ? failure(text(kNotConfirmed)) : deleted.error();
        for (const Photo& photo : verifiedPhotos)
            failed.insert(photo.id, trashFailure(photo, error));
        verifiedPhotos.clear();
    }
    if (completion)
        completion(verifiedPhotos, failed);
}

} // namespace vennimo
