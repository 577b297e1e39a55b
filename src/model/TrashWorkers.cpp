#include "model/TrashWorkers.h"

#include "core/PhotoIdentity.h"
#include "model/PhotosDeletion.h"
#include "platform/FreedesktopTrash.h"

#include <QDir>
#include <QSet>

namespace vennimo {

namespace {

constexpr auto kAssetNotRecyclable = "照片图库内的文件只能通过照片.app 删除，不能移到废纸篓。";
constexpr auto kUnconfirmedTrash = "系统未确认已移到废纸篓，请检查原图后重试。";

QList<Photo> uniqueByRecordKey(const QList<Photo>& photos) {
    QList<Photo> unique;
    QSet<QString> seen;
    for (const Photo& photo : photos) {
        if (seen.contains(photo.recordKey()))
            continue;
        seen.insert(photo.recordKey());
        unique.append(photo);
    }
    return unique;
}

} // namespace

FileRecycler freedesktopRecycler() {
    return [](const QStringList& paths, const auto& done) {
        QHash<QString, QString> moved;
        QHash<QString, Error> errors;
        for (const QString& path : paths) {
            const Result<QString> inTrash = FreedesktopTrash::moveToTrash(path);
            if (inTrash)
                moved.insert(path, *inTrash);
            else
                errors.insert(path, inTrash.error());
        }
        done(moved, errors);
    };
}

QString standardizedPath(const QString& path) {
    return QDir::cleanPath(QDir::isAbsolutePath(path) ? path : QDir::current().absoluteFilePath(path));
}

QString trashFailure(const Photo& photo, const Error& error) {
    QString text = photo.name() + QStringLiteral("：") + error.localizedDescription();
    if (!error.failureReason.isEmpty() && !text.contains(error.failureReason))
        text += u'\n' + error.failureReason;
    if (!error.recoverySuggestion.isEmpty())
        text += u'\n' + error.recoverySuggestion;
    return text + QStringLiteral("（%1 %2）").arg(error.domain).arg(error.code);
}

Error unconfirmedTrashError() {
    return Error::make(QString::fromLatin1(kTrashErrorDomain), kUnconfirmedTrashCode,
                       QString::fromUtf8(kUnconfirmedTrash));
}

void recycleFilePhotos(const QList<Photo>& photos, const FileRecycler& recycler,
                       const TrashedHandler& trashed, const TrashCompletion& completion) {
    QHash<QString, QString> failed;
    QList<Photo> candidates;
    for (const Photo& photo : uniqueByRecordKey(photos)) {
        if (photo.isPhotosAsset()) {
            failed.insert(photo.id, trashFailure(photo, PhotosDeletion::failure(
                                                            QString::fromUtf8(kAssetNotRecyclable))));
            continue;
        }
        if (const Status identity = validateOriginalIdentity(photo); !identity) {
            failed.insert(photo.id, trashFailure(photo, identity.error()));
            continue;
        }
        candidates.append(photo);
    }
    if (candidates.isEmpty()) {
        if (completion)
            completion({}, failed);
        return;
    }
    QStringList paths;
    for (const Photo& photo : candidates)
        paths.append(photo.path);
    recycler(paths, [candidates, failed, trashed, completion](const QHash<QString, QString>& moved,
                                                              const QHash<QString, Error>& errors) mutable {
        QHash<QString, QString> byStandardPath;
        for (auto it = moved.cbegin(); it != moved.cend(); ++it)
            byStandardPath.insert(standardizedPath(it.key()), it.value());
        QHash<QString, Error> errorByStandardPath;
        for (auto it = errors.cbegin(); it != errors.cend(); ++it)
            errorByStandardPath.insert(standardizedPath(it.key()), it.value());
        QList<Photo> succeeded;
        for (const Photo& photo : candidates) {
            const QString path = standardizedPath(photo.path);
            if (byStandardPath.contains(path))
                succeeded.append(photo);
            else
                failed.insert(photo.id,
                              trashFailure(photo, errorByStandardPath.value(path, unconfirmedTrashError())));
        }
        if (trashed)
            trashed(byStandardPath);
        if (completion)
            completion(succeeded, failed);
    });
}

void recyclePhotos(const QList<Photo>& photos, const FileRecycler& recycler, const AssetDeleter& deleteAssets,
                   const TrashedHandler& trashed, const TrashCompletion& completion) {
    QList<Photo> assets;
    QList<Photo> files;
    for (const Photo& photo : uniqueByRecordKey(photos))
        (photo.isPhotosAsset() ? assets : files).append(photo);
    auto recycleFiles = [files, recycler, trashed, completion](const QList<Photo>& priorSucceeded,
                                                               const QHash<QString, QString>& priorFailed) {
        recycleFilePhotos(files, recycler, trashed,
                          [priorSucceeded, priorFailed, completion](const QList<Photo>& succeeded,
                                                                    const QHash<QString, QString>& failed) {
                              QHash<QString, QString> merged = priorFailed;
                              merged.insert(failed);
                              if (completion)
                                  completion(priorSucceeded + succeeded, merged);
                          });
    };
    if (assets.isEmpty()) {
        recycleFiles({}, {});
        return;
    }
    deleteAssets(assets, recycleFiles);
}

} // namespace vennimo
