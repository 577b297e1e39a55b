#pragma once

#include "platform/PhotosLibrary.h"

#include <QByteArray>
#include <QMap>
#include <QString>

#include <memory>

class QMimeData;

namespace vennimo::test {

// A Photos library played by a "<name>.photoslibrary" package folder below the temporary home:
// each asset is a file in "originals", deleted assets move to "recently-deleted".
class FakePhotosLibrary : public PhotosLibrary {
public:
    explicit FakePhotosLibrary(const QString& name = QStringLiteral("Test"));

    const QString& path() const { return m_path; }
    // Adds an asset with the given file name and bytes; answers its local identifier ("<UUID>/L0/001").
    QString addAsset(const QString& fileName, const QByteArray& bytes);
    QString originalPath(const QString& localIdentifier) const { return m_assets.value(localIdentifier); }

    void setAuthorization(PhotosAuthorization status) { m_status = status; }
    PhotosAuthorization authorizationStatus() const override { return m_status; }
    PhotosAuthorization requestAuthorization() override;
    QStringList fetchAssets(const QStringList& localIdentifiers) const override;
    Status deleteAssets(const QStringList& localIdentifiers) override;

    // What the Photos application puts on a drag of these assets: their file URLs and the asset
    // references, one per item.
    std::unique_ptr<QMimeData> dragData(const QStringList& localIdentifiers) const;

private:
    QString m_path;
    QMap<QString, QString> m_assets;
    PhotosAuthorization m_status = PhotosAuthorization::Authorized;
};

} // namespace vennimo::test
