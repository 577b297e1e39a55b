#include "support/FakePhotosLibrary.h"

#include "support/TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMimeData>
#include <QThreadPool>
#include <QUrl>
#include <QUuid>

namespace vennimo::test {

FakePhotosLibrary::FakePhotosLibrary(const QString& name)
    : m_path(makeFolder(QStringLiteral("Pictures/") + name + QStringLiteral(".photoslibrary"))) {
    QDir().mkpath(m_path + QStringLiteral("/originals"));
}

QString FakePhotosLibrary::addAsset(const QString& fileName, const QByteArray& bytes, PhotosMediaType type) {
    const QString id =
        QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper() + QStringLiteral("/L0/001");
    const QString path = m_path + QStringLiteral("/originals/") + fileName;
    writeFile(path, bytes);
    std::lock_guard lock(m_mutex);
    m_assets.insert(id, Asset{path, type, path});
    return id;
}

QString FakePhotosLibrary::originalPath(const QString& localIdentifier) const {
    std::lock_guard lock(m_mutex);
    return m_assets.value(localIdentifier).path;
}

void FakePhotosLibrary::setFullSizeImagePath(const QString& localIdentifier, std::optional<QString> path) {
    std::lock_guard lock(m_mutex);
    if (m_assets.contains(localIdentifier))
        m_assets[localIdentifier].reported = std::move(path);
}

void FakePhotosLibrary::setAuthorization(PhotosAuthorization status) {
    std::lock_guard lock(m_mutex);
    m_status = status;
}

void FakePhotosLibrary::setRequestAnswer(PhotosAuthorization answer) {
    std::lock_guard lock(m_mutex);
    m_requestAnswer = answer;
}

void FakePhotosLibrary::failNextDeletion(std::optional<Error> error) {
    std::lock_guard lock(m_mutex);
    m_nextDeletionError = std::move(error);
}

QList<QStringList> FakePhotosLibrary::deletionRequests() const {
    std::lock_guard lock(m_mutex);
    return m_deletionRequests;
}

int FakePhotosLibrary::authorizationRequests() const {
    std::lock_guard lock(m_mutex);
    return m_authorizationRequests;
}

PhotosAuthorization FakePhotosLibrary::authorizationStatus() const {
    std::lock_guard lock(m_mutex);
    return m_status;
}

void FakePhotosLibrary::requestAuthorization(AuthorizationHandler handler) {
    PhotosAuthorization answer;
    {
        std::lock_guard lock(m_mutex);
        ++m_authorizationRequests;
        if (m_status == PhotosAuthorization::NotDetermined)
            m_status = m_requestAnswer;
        answer = m_status;
    }
    // The real library answers on a queue of its own.
    QThreadPool::globalInstance()->start([handler = std::move(handler), answer] {
        if (handler)
            handler(answer);
    });
}

QStringList FakePhotosLibrary::fetchAssets(const QStringList& localIdentifiers) const {
    std::lock_guard lock(m_mutex);
    QStringList found;
    if (!photosAccessGranted(m_status))
        return found;
    for (const QString& id : localIdentifiers)
        if (m_assets.contains(id))
            found.append(id);
    return found;
}

PhotosMediaType FakePhotosLibrary::mediaType(const QString& localIdentifier) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_assets.constFind(localIdentifier);
    return it == m_assets.constEnd() ? PhotosMediaType::Unknown : it->type;
}

std::optional<QString> FakePhotosLibrary::fullSizeImagePath(const QString& localIdentifier) const {
    std::lock_guard lock(m_mutex);
    const auto it = m_assets.constFind(localIdentifier);
    return it == m_assets.constEnd() ? std::nullopt : it->reported;
}

Status FakePhotosLibrary::deleteAssets(const QStringList& localIdentifiers) {
    std::lock_guard lock(m_mutex);
    m_deletionRequests.append(localIdentifiers);
    if (!photosAccessGranted(m_status))
        return photosAccessError();
    if (m_nextDeletionError) {
        const Error error = *m_nextDeletionError;
        m_nextDeletionError.reset();
        return error;
    }
    for (const QString& id : localIdentifiers)
        if (!m_assets.contains(id))
            return Error::make(QString::fromLatin1(kPhotosErrorDomain), 1, QStringLiteral("unknown asset"));
    const QString bin = m_path + QStringLiteral("/recently-deleted");
    QDir().mkpath(bin);
    for (const QString& id : localIdentifiers) {
        const QString path = m_assets.take(id).path;
        QFile::rename(path, bin + QLatin1Char('/') + QFileInfo(path).fileName());
    }
    return {};
}

std::unique_ptr<QMimeData> FakePhotosLibrary::dragData(const QStringList& localIdentifiers) const {
    QList<QUrl> urls;
    QJsonArray references;
    for (const QString& id : localIdentifiers) {
        urls.append(QUrl::fromLocalFile(originalPath(id)));
        references.append(QJsonObject{{QLatin1String("localIdentifier"), id},
                                      {QLatin1String("libraryURL"), QUrl::fromLocalFile(m_path).toString()}});
    }
    auto data = std::make_unique<QMimeData>();
    data->setUrls(urls);
    data->setData(pasteboardType(), QJsonDocument(references).toJson(QJsonDocument::Compact));
    return data;
}

} // namespace vennimo::test
