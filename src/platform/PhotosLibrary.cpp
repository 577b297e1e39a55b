#include "platform/PhotosLibrary.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <mutex>

namespace vennimo {

namespace {

std::mutex g_sharedMutex;
std::shared_ptr<PhotosLibrary> g_shared;

std::optional<PhotosAssetReference> referenceFrom(const QJsonValue& value) {
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();
    PhotosAssetReference reference;
    if (const QJsonValue id = object.value(QLatin1String("localIdentifier")); id.isString())
        reference.localIdentifier = id.toString();
    if (const QJsonValue url = object.value(QLatin1String("libraryURL")); url.isString())
        reference.libraryURL = url.toString();
    return reference;
}

} // namespace

PhotosLibrary::~PhotosLibrary() = default;

QString PhotosLibrary::pasteboardType() {
    return QStringLiteral("application/x-com.apple.photos.object-reference.asset");
}

QString PhotosLibrary::pasteboardTypePrefix() {
    return QStringLiteral("application/x-com.apple.photos.");
}

QList<std::optional<PhotosAssetReference>>
PhotosLibrary::pasteboardReferences(const QByteArray& value) const {
    if (value.size() > kMaxReferenceBytes)
        return {};
    const QJsonDocument document = QJsonDocument::fromJson(value);
    if (document.isObject())
        return {referenceFrom(document.object())};
    QList<std::optional<PhotosAssetReference>> references;
    for (const QJsonValue& entry : document.array())
        references.append(referenceFrom(entry));
    return references;
}

std::shared_ptr<PhotosLibrary> PhotosLibrary::shared() {
    std::lock_guard lock(g_sharedMutex);
    if (!g_shared)
        g_shared = std::make_shared<RestrictedPhotosLibrary>();
    return g_shared;
}

void PhotosLibrary::setShared(std::shared_ptr<PhotosLibrary> library) {
    std::lock_guard lock(g_sharedMutex);
    g_shared = std::move(library);
}

bool photosAccessGranted(PhotosAuthorization status) {
    return status == PhotosAuthorization::Authorized || status == PhotosAuthorization::Limited;
}

void RestrictedPhotosLibrary::requestAuthorization(AuthorizationHandler handler) {
    if (handler)
        handler(PhotosAuthorization::Restricted);
}

Status RestrictedPhotosLibrary::deleteAssets(const QStringList&) {
    return photosAccessError();
}

Error photosAccessError() {
    return Error::make(QString::fromLatin1(kPhotosErrorDomain), 1,
                       QStringLiteral("没有照片图库权限。请在系统设置 › 隐私与安全性 › 照片中允许。"));
}

} // namespace vennimo
