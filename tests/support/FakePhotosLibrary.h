#pragma once

#include "platform/PhotosLibrary.h"

#include <QByteArray>
#include <QMap>
#include <QString>

#include <memory>
#include <mutex>

class QMimeData;

namespace vennimo::test {

// A Photos library played by a "<name>.photoslibrary" package folder below the temporary home:
// each asset is a file in "originals", deleted assets move to "recently-deleted". Safe to call
// from any thread, like the real one.
class FakePhotosLibrary : public PhotosLibrary {
public:
    explicit FakePhotosLibrary(const QString& name = QStringLiteral("Test"));

    const QString& path() const { return m_path; }
    // Adds an asset with the given file name and bytes; answers its local identifier ("<UUID>/L0/001").
    QString addAsset(const QString& fileName, const QByteArray& bytes,
                     PhotosMediaType type = PhotosMediaType::Image);
    QString originalPath(const QString& localIdentifier) const;
    // Makes the asset's original answer from another place (nothing: unreachable).
    void setFullSizeImagePath(const QString& localIdentifier, std::optional<QString> path);

    void setAuthorization(PhotosAuthorization status);
    // What the user answers when asked while the status is not determined.
    void setRequestAnswer(PhotosAuthorization answer);
    // The next deletion fails with this error, changing nothing.
    void failNextDeletion(std::optional<Error> error);
    // Every deletion request, in order, with the identifiers it named.
    QList<QStringList> deletionRequests() const;
    int authorizationRequests() const;

    PhotosAuthorization authorizationStatus() const override;
    void requestAuthorization(AuthorizationHandler handler) override;
    QStringList fetchAssets(const QStringList& localIdentifiers) const override;
    PhotosMediaType mediaType(const QString& localIdentifier) const override;
    std::optional<QString> fullSizeImagePath(const QString& localIdentifier) const override;
    Status deleteAssets(const QStringList& localIdentifiers) override;

    // What the Photos application puts on a drag of these assets: their file URLs and the asset
    // references, one per item.
    std::unique_ptr<QMimeData> dragData(const QStringList& localIdentifiers) const;

private:
    struct Asset {
        QString path;
        PhotosMediaType type = PhotosMediaType::Image;
        std::optional<QString> reported;
    };

    mutable std::mutex m_mutex;
    QString m_path;
    QMap<QString, Asset> m_assets;
    PhotosAuthorization m_status = PhotosAuthorization::Authorized;
    PhotosAuthorization m_requestAnswer = PhotosAuthorization::Authorized;
    std::optional<Error> m_nextDeletionError;
    QList<QStringList> m_deletionRequests;
    int m_authorizationRequests = 0;
};

} // namespace vennimo::test
