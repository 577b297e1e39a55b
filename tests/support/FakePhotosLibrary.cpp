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

QString FakePhotosLibrary::addAsset(const QString& fileName, const QByteArray& bytes) {
    const QString id =
        QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral("/L0/001");
    const QString path = m_path + QStringLiteral("/originals/") + fileName;
    writeFile(path, bytes);
    m_assets.insert(id, path);
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
    QJsonArray references;
    for (const QString& id : localIdentifiers) {
        urls.append(QUrl::fromLocalFile(m_assets.value(id)));
        references.append(QJsonObject{{QLatin1String("localIdentifier"), id},
                                      {QLatin1String("libraryURL"), QUrl::fromLocalFile(m_path).toString()}});
    }
    auto data = std::make_unique<QMimeData>();
    data->setUrls(urls);
    data->setData(pasteboardType(), QJsonDocument(references).toJson(QJsonDocument::Compact));
    return data;
}

} // namespace vennimo::test
