#include "support/FakePhotosLibrary.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>
#include <QUrl>
#include <QUuid>

namespace vennimo::test {

FakePhotosLibrary::FakePhotosLibrary(const QString& name)
    : m_path(makeFolder(QStringLiteral("Pictures/") + name + QStringLiteral(".photoslibrary"))) {
    QDir().mkpath(m_path + QStringLiteral("/originals"));
}

QString FakePhotosLibrary::addAsset(const QString& fileName, const QByteArray& bytes, QString* filePath) {
    const QString id =
        QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral("/L0/001");
    const QString path = m_path + QStringLiteral("/originals/") + fileName;
    writeFile(path, bytes);
    m_assets.insert(id, path);
    if (filePath != nullptr)
        *filePath = path;
    return id;
}

PhotosAuthorization FakePhotosLibrary::requestAuthorization() {
    if (m_status == PhotosAuthorization::NotDetermined)
        m_status = PhotosAuthorization::Authorized;
    return m_status;
}

QStringList FakePhotosLibrary::fetchAssets(const QStringList& localIdentifiers) const {
    QStringList found;
    if (m_status != PhotosAuthorization::Authorized && m_status != PhotosAuthorization::Limited)
        return found;
    for (const QString& id : localIdentifiers)
        if (m_assets.contains(id))
            found.append(id);
    return found;
}

Status FakePhotosLibrary::deleteAssets(const QStringList& localIdentifiers) {
    if (m_status != PhotosAuthorization::Authorized)
        return photosAccessError();
    for (const QString& id : localIdentifiers)
        if (!m_assets.contains(id))
            return Error::make(QString::fromLatin1(kPhotosErrorDomain), 1, QStringLiteral("unknown asset"));
    const QString bin = m_path + QStringLiteral("/recently-deleted");
    QDir().mkpath(bin);
    for (const QString& id : localIdentifiers) {
        const QString path = m_assets.take(id);
        QFile::rename(path, bin + QLatin1Char('/') + QFileInfo(path).fileName());
    }
    return {};
}

std::unique_ptr<QMimeData> FakePhotosLibrary::dragData(const QStringList& localIdentifiers) const {
    QList<QUrl> urls;
    QList<PhotosAssetReference> references;
    for (const QString& id : localIdentifiers) {
        urls.append(QUrl::fromLocalFile(m_assets.value(id)));
        references.append({id, QUrl::fromLocalFile(m_path).toString()});
    }
    auto data = std::make_unique<QMimeData>();
    data->setUrls(urls);
    data->setData(pasteboardType(), referenceValue(references));
    return data;
}

QByteArray FakePhotosLibrary::referenceValue(const QList<PhotosAssetReference>& references) {
    QJsonArray array;
    for (const PhotosAssetReference& reference : references) {
        QJsonObject object;
        if (reference.localIdentifier)
            object.insert(QLatin1String("localIdentifier"), *reference.localIdentifier);
        if (reference.libraryURL)
            object.insert(QLatin1String("libraryURL"), *reference.libraryURL);
        array.append(object);
    }
    return QJsonDocument(array).toJson(QJsonDocument::Compact);
}

} // namespace vennimo::test
