#pragma once

#include "platform/Result.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>
#include <optional>

class QMimeData;

namespace vennimo {

inline constexpr auto kPhotosErrorDomain = "Vennimo.Photos";

enum class PhotosAuthorization { NotDetermined, Restricted, Denied, Authorized, Limited };

// What a drag source says about one dragged Photos asset: the raw strings, checked by the reader.
struct PhotosAssetReference {
    std::optional<QString> localIdentifier{};
    std::optional<QString> libraryURL{};

    bool operator==(const PhotosAssetReference&) const = default;
};

// Access to a Photos library. Linux has none, so the default reports access restricted; tests use
// a fake that plays a "*.photoslibrary" package folder.
class PhotosLibrary {
public:
    virtual ~PhotosLibrary();

    virtual PhotosAuthorization authorizationStatus() const = 0;
    // Asks the user when the status is not determined; answers the status afterwards.
    virtual PhotosAuthorization requestAuthorization() = 0;
    // The identifiers of the given list that name assets of the library.
    virtual QStringList fetchAssets(const QStringList& localIdentifiers) const = 0;
    // Moves the assets into the library's recently-deleted album; all or nothing.
    virtual Status deleteAssets(const QStringList& localIdentifiers) = 0;

    // The drag type of an asset reference: a JSON array with one object per dragged item
    // ("localIdentifier", "libraryURL"), or a single object for the first item.
    static QString pasteboardType();
    // Prefix shared by every type a Photos drag source offers.
    static QString pasteboardTypePrefix();
    // One entry per item index; nothing for a malformed value or an entry that is not an object.
    virtual QList<std::optional<PhotosAssetReference>> pasteboardReferences(const QMimeData& data) const;

    // The process-wide library; tests replace it (nullptr restores the default).
    static std::shared_ptr<PhotosLibrary> shared();
    static void setShared(std::shared_ptr<PhotosLibrary> library);
};

// The Linux default: no library exists, access is restricted.
class RestrictedPhotosLibrary : public PhotosLibrary {
public:
    PhotosAuthorization authorizationStatus() const override { return PhotosAuthorization::Restricted; }
    PhotosAuthorization requestAuthorization() override { return PhotosAuthorization::Restricted; }
    QStringList fetchAssets(const QStringList&) const override { return {}; }
    Status deleteAssets(const QStringList& localIdentifiers) override;
};

Error photosAccessError();

} // namespace vennimo
