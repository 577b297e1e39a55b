#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

namespace vennimo {

inline constexpr auto kPhotosErrorDomain = "Vennimo.Photos";

// Access to a Photos library, as the library reports it; the one status every layer uses.
enum class PhotosAuthorization { NotDetermined, Restricted, Denied, Authorized, Limited };
// Authorized or limited: the library may be read and changed.
bool photosAccessGranted(PhotosAuthorization status);

enum class PhotosMediaType { Unknown, Image, Video, Audio };

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

    using AuthorizationHandler = std::function<void(PhotosAuthorization status)>;

    // Every member may be called from any thread.
    virtual PhotosAuthorization authorizationStatus() const = 0;
    // Asks the user when the status is not determined; the handler gets the status afterwards,
    // on a thread of the library (possibly before the call returns).
    virtual void requestAuthorization(AuthorizationHandler handler) = 0;
    // The identifiers of the given list that name assets of the library, hidden ones included.
    virtual QStringList fetchAssets(const QStringList& localIdentifiers) const = 0;
    virtual PhotosMediaType mediaType(const QString& localIdentifier) const = 0;
    // Where the asset's full-size original lies; nothing when it cannot be reached.
    virtual std::optional<QString> fullSizeImagePath(const QString& localIdentifier) const = 0;
    // Moves the assets into the library's recently-deleted album; all or nothing. Blocks.
    virtual Status deleteAssets(const QStringList& localIdentifiers) = 0;

    // The drag type of an asset reference: a JSON array with one object per dragged item
    // ("localIdentifier", "libraryURL"), or a single object for the first item.
    static QString pasteboardType();
    // Prefix shared by every type a Photos drag source offers.
    static QString pasteboardTypePrefix();
    // Values longer than this are no references and are not read.
    static constexpr qsizetype kMaxReferenceBytes = 1 << 20;
    // The references in a value of the drag type, one entry per item index; nothing for a
    // malformed value or an entry that is not an object. The caller reads the value, within the
    // time it gives the drag's other data.
    virtual QList<std::optional<PhotosAssetReference>> pasteboardReferences(const QByteArray& value) const;

    // The process-wide library; tests replace it (nullptr restores the default).
    static std::shared_ptr<PhotosLibrary> shared();
    static void setShared(std::shared_ptr<PhotosLibrary> library);
};

// The Linux default: no library exists, access is restricted.
class RestrictedPhotosLibrary : public PhotosLibrary {
public:
    PhotosAuthorization authorizationStatus() const override { return PhotosAuthorization::Restricted; }
    void requestAuthorization(AuthorizationHandler handler) override;
    QStringList fetchAssets(const QStringList&) const override { return {}; }
    PhotosMediaType mediaType(const QString&) const override { return PhotosMediaType::Unknown; }
    std::optional<QString> fullSizeImagePath(const QString&) const override { return std::nullopt; }
    Status deleteAssets(const QStringList& localIdentifiers) override;
};

Error photosAccessError();

} // namespace vennimo
