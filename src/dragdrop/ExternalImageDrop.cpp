#include "dragdrop/ExternalImageDrop.h"

#include "core/ImageFileRule.h"
#include "core/PathRules.h"
#include "dragdrop/DropDataReader.h"
#include "dragdrop/DroppedPicture.h"
#include "dragdrop/PromiseDirectory.h"
#include "dragdrop/PromisedImage.h"
#include "dragdrop/XdsPromiseReceiver.h"
#include "platform/X11DropTime.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <QMimeData>
#include <QMimeDatabase>
#include <QPointer>
#include <QSet>
#include <QStandardPaths>
#include <QUuid>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <sys/stat.h>

namespace vennimo {

namespace {

const QString kUriList = QStringLiteral("text/uri-list");
const QString kMozUrl = QStringLiteral("text/x-moz-url");
const QString kNetscapeUrl = QStringLiteral("_NETSCAPE_URL");
const QString kOctetStream = QStringLiteral("application/octet-stream");
const QString kPegType = QStringLiteral("application/x-com.tavrun.vennimo.peg");

bool mimeIsImage(const QMimeType& type) {
    if (!type.isValid())
        return false;
    if (type.name().startsWith(QLatin1String("image/")))
        return true;
    for (const QString& ancestor : type.allAncestors())
        if (ancestor.startsWith(QLatin1String("image/")))
            return true;
    return false;
}

bool formatIsImage(const QString& format) {
    if (format.startsWith(QLatin1String("image/")))
        return true;
    return mimeIsImage(QMimeDatabase().mimeTypeForName(format));
}

// Bytes offered without a type (browsers drag images so) count when their content is an image.
bool contentIsImage(const QByteArray& bytes) {
    const QMimeType type = QMimeDatabase().mimeTypeForData(bytes);
    return mimeIsImage(type) || type.inherits(QStringLiteral("application/pdf"));
}

bool isWebScheme(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
           scheme == QLatin1String("data");
}

QString canonicalType(const QString& type) {
    const QMimeType mime = QMimeDatabase().mimeTypeForName(type);
    return mime.isValid() ? mime.name() : type;
}

// What the types alone tell; nothing when only the URI list can.
std::optional<bool> readableByTypes(const QMimeData& data) {
    const QStringList formats = data.formats();
    for (const QString& format : formats) {
        if (format == kUriList)
            continue;
        // A Photos-library type only tells where the item came from, not that it holds an image.
        if (format == kMozUrl || format == kNetscapeUrl || format == kOctetStream ||
            format == QLatin1String(ExternalImageDrop::kDirectSaveType) ||
            ExternalImageDrop::imageTypes().contains(format) || format.startsWith(QLatin1String("image/")))
            return true;
    }
    if (!formats.contains(kUriList))
        return false;
    return std::nullopt;
}

bool readableDrag(const QMimeData& data, const DropDataFetch& fetch) {
    if (const std::optional<bool> byTypes = readableByTypes(data))
        return *byTypes;
    // Looked at while the drag moves, before any drop: asked with the time stamp of the drag's
    // last position, and only briefly, since the source's position messages wait meanwhile.
    const QDeadlineTimer hover(ExternalImageDrop::kHoverReadMs);
    std::optional<DropDataReader> reader;
    reader.emplace(fetch ? DropDataReader(data, hover, fetch) : DropDataReader::forHover(data, hover));
    // Through Qt (our own drags, or off X11) a read cannot be cut short: it keeps the drop's time.
    if (!reader->bounded())
        reader.emplace(data, QDeadlineTimer(ExternalImageDrop::kDropReadMs));
    const QList<QUrl> urls = reader->urls();
    // A list the source did not give in time may hold anything, like a web URL: the drop tells.
    if (urls.isEmpty() && reader->lastRanOut())
        return true;
    for (const QUrl& url : urls) {
        if (!url.isLocalFile())
            return true;
        if (isImageFile(url.toLocalFile()))
            return true;
    }
    return false;
}

// A drop target's drag, so far as canRead has seen it; the pointer goes null with its data, so
// that new data at the same address is looked at afresh. X hands over the same data for every
// drag, and a drag whose source died over us never left: its answer must not pass to the next
// drag from another program, which entered all the same.
struct DragAnswer {
    QPointer<const QMimeData> data{};
    std::uint64_t generation = 0;
    std::uint64_t enters = 0;
    bool readable = false;
};

std::atomic<std::uint64_t> g_dragGeneration{0};
// Main thread only, like the drags it describes.
thread_local DragAnswer g_dragAnswer;

std::mutex g_temporaryMutex;
std::optional<QStringList> g_temporaryOverride;

QStringList defaultTemporaryFolders() {
    QStringList folders{QStringLiteral("/tmp/"), QStringLiteral("/var/folders/"), QStringLiteral("/var/tmp/"),
                        QStringLiteral("/dev/shm/")};
    auto add = [&folders](const QString& folder) {
        if (folder.isEmpty() || !folder.startsWith(QLatin1Char('/')))
            return;
        const QString canonical = QFileInfo(folder).canonicalFilePath();
        QString key = filesystemPathKey(QDir::cleanPath(canonical.isEmpty() ? folder : canonical));
        if (key != QLatin1String("/"))
            folders.append(key + QLatin1Char('/'));
    };
    add(qEnvironmentVariable("XDG_RUNTIME_DIR"));
    add(QDir::tempPath());
    add(QStandardPaths::writableLocation(QStandardPaths::TempLocation));
    return folders;
}

QList<std::shared_ptr<FilePromiseReceiver>> defaultPromiseReceivers(const QMimeData& data,
                                                                    const QDeadlineTimer& deadline) {
    // Our own peg drags offer a promise that moves the original: not something to import.
    if (!data.hasFormat(QLatin1String(ExternalImageDrop::kDirectSaveType)) || data.hasFormat(kPegType))
        return {};
    if (auto receiver = XdsPromiseReceiver::forCurrentDrop(data, deadline))
        return {receiver};
    return {};
}

} // namespace

ExternalImageDrop::Source ExternalImageDrop::Source::file(QString path, bool copy) {
    Source s;
    s.kind = Kind::File;
    s.path = std::move(path);
    s.copy = copy;
    return s;
}

ExternalImageDrop::Source ExternalImageDrop::Source::fromBytes(QByteArray bytes) {
    Source s;
    s.kind = Kind::Bytes;
    s.bytes = std::move(bytes);
    return s;
}

ExternalImageDrop::Source ExternalImageDrop::Source::fromPromise(std::shared_ptr<PromisedImage> promise) {
    Source s;
    s.kind = Kind::Promise;
    s.promise = std::move(promise);
    return s;
}

ExternalImageDrop::Source ExternalImageDrop::Source::remote(QUrl url) {
    Source s;
    s.kind = Kind::Remote;
    s.url = std::move(url);
    return s;
}

bool ExternalImageDrop::withinPixelLimit(qint64 width, qint64 height) {
    // Divided rather than multiplied: no header's claim can overflow the product.
    return width >= 1 && height >= 1 && height <= kMaxPixels / width;
}

QStringList ExternalImageDrop::imageTypes() {
    return {QStringLiteral("image/png"), QStringLiteral("image/jpeg"), QStringLiteral("image/webp"),
            QStringLiteral("image/gif"), QStringLiteral("image/tiff"), QStringLiteral("application/pdf")};
}

bool ExternalImageDrop::importableImageType(const QString& type) {
    static const QSet<QString> readable = [] {
        QSet<QString> types;
        for (const QByteArray& name : QImageReader::supportedMimeTypes())
            types.insert(canonicalType(QString::fromLatin1(name)));
        // Decoded by libheif and Poppler, not by Qt's readers.
        for (const char* name : {"image/heic", "image/heif", "image/avif", "image/heic-sequence",
                                 "image/heif-sequence", "application/pdf"})
            types.insert(canonicalType(QLatin1String(name)));
        for (const QString& name : imageTypes())
            types.insert(canonicalType(name));
        return types;
    }();
    if (readable.contains(canonicalType(type)))
        return true;
    // Camera RAW files, through libraw.
    return QMimeDatabase().mimeTypeForName(type).inherits(QStringLiteral("image/x-dcraw"));
}

QStringList ExternalImageDrop::registeredTypes() {
    QStringList types{kUriList, kMozUrl, kNetscapeUrl};
    types += imageTypes();
    for (const QString& extra :
         {QStringLiteral("image/bmp"), QStringLiteral("image/heic"), QStringLiteral("image/heif"),
          QStringLiteral("image/avif"), QStringLiteral("image/svg+xml"), QStringLiteral("image/x-icon")})
        types.append(extra);
    types.append(kOctetStream);
    types.append(QLatin1String(kDirectSaveType));
    types.append(PhotosLibrary::pasteboardType());
    types.removeDuplicates();
    return types;
}

void ExternalImageDrop::beginDrag() {
    ++g_dragGeneration;
    // A drop follows an enter: its time must be known by the time it is read.
    X11DropTime::watch();
}

bool ExternalImageDrop::canRead(const QMimeData& data, const DropDataFetch& fetch) {
    if (const std::optional<bool> known = readableWithoutAsking(data))
        return *known;
    const std::uint64_t enters = X11DropTime::enters();
    g_dragAnswer = DragAnswer{QPointer<const QMimeData>(&data), g_dragGeneration.load(), enters,
                              readableDrag(data, fetch)};
    return g_dragAnswer.readable;
}

std::optional<bool> ExternalImageDrop::readableWithoutAsking(const QMimeData& data) {
    // Reading the source's URI list costs round trips to the dragging program, and the answer
    // cannot change within one drag.
    if (g_dragAnswer.data == &data && g_dragAnswer.generation == g_dragGeneration.load() &&
        g_dragAnswer.enters == X11DropTime::enters())
        return g_dragAnswer.readable;
    return readableByTypes(data);
}

QStringList ExternalImageDrop::temporaryFolders() {
    {
        std::lock_guard lock(g_temporaryMutex);
        if (g_temporaryOverride)
            return *g_temporaryOverride;
    }
    return defaultTemporaryFolders();
}

void ExternalImageDrop::overrideTemporaryFolders(std::optional<QStringList> folders) {
    std::lock_guard lock(g_temporaryMutex);
    g_temporaryOverride = std::move(folders);
}

bool ExternalImageDrop::isInTemporaryFolder(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    const QString key = filesystemPathKey(QDir::cleanPath(canonical.isEmpty() ? path : canonical));
    for (const QString& folder : temporaryFolders())
        if (key.startsWith(folder))
            return true;
    return false;
}

std::optional<PhotosOrigin>
ExternalImageDrop::readPhotosOrigin(const std::optional<QString>& filePath,
                                    const std::optional<PhotosAssetReference>& reference,
                                    bool hasReferenceType, bool hasPhotosType) {
    const std::optional<QString> fileLibrary = filePath ? PhotosOrigin::libraryRoot(*filePath) : std::nullopt;
    if (!hasReferenceType && !fileLibrary && !hasPhotosType)
        return std::nullopt;
    std::optional<QString> identifier;
    std::optional<QString> plistLibrary;
    if (reference) {
        if (const auto& id = reference->localIdentifier; id && id->size() <= 512) {
            const QStringList parts = id->split(QLatin1Char('/'), Qt::SkipEmptyParts);
            if (!parts.isEmpty() && !QUuid::fromString(parts.first()).isNull())
                identifier = *id;
        }
        if (reference->libraryURL)
            plistLibrary = PhotosOrigin::libraryRoot(QUrl(*reference->libraryURL).toString());
    }
    PhotosOrigin origin;
    origin.localIdentifier = identifier;
    if (fileLibrary && plistLibrary && *fileLibrary != *plistLibrary) {
        // The file is where the bytes come from; an identifier of another library would name a
        // different asset.
        origin.libraryPath = fileLibrary;
        origin.localIdentifier.reset();
    } else {
        origin.libraryPath = fileLibrary ? fileLibrary : plistLibrary;
    }
    return origin;
}

ExternalImageDrop::Snapshot ExternalImageDrop::snapshot(const QMimeData& data,
                                                        const PromiseReceivers& promises,
                                                        const DropDataFetch& fetch) {
    Snapshot snapshot;
    const QStringList formats = data.formats();
    // One time for every read of the drop, the promise's answer included.
    const QDeadlineTimer deadline(kDropReadMs);

    QList<std::shared_ptr<PromisedImage>> promised;
    const auto receivers = promises ? promises(data) : defaultPromiseReceivers(data, deadline);
    if (!receivers.isEmpty()) {
        if (auto directory = PromiseDirectory::create(); directory.ok())
            for (const auto& receiver : receivers)
                promised.append(std::make_shared<PromisedImage>(receiver, *directory));
    }

    const bool hasPromiseType = formats.contains(QLatin1String(kDirectSaveType));
    const bool hasReferenceType = formats.contains(PhotosLibrary::pasteboardType());
    bool hasPhotosType = false;
    for (const QString& format : formats)
        hasPhotosType = hasPhotosType || format.startsWith(PhotosLibrary::pasteboardTypePrefix());

    QStringList candidates = imageTypes();
    for (const QString& format : formats)
        if (!candidates.contains(format) && formatIsImage(format) && importableImageType(format))
            candidates.append(format);
    QStringList offeredImageTypes;
    for (const QString& type : candidates)
        if (formats.contains(type))
            offeredImageTypes.append(type);
    const bool offersBytes = !offeredImageTypes.isEmpty() || formats.contains(kOctetStream);

    // The URI list gives one item per URI; bytes and the promise belong to the first item, the one
    // every source that offers them describes. A file comes before bytes, so the list is read
    // first; beside bytes it has half the time left, so that a list the source never gives
    // leaves the picture offered with it the other half.
    DropDataReader reader = DropDataReader::forDrop(data, formats, deadline, fetch);
    const QList<QUrl> urls =
        reader.urls(offersBytes && reader.bounded() ? QDeadlineTimer(deadline.remainingTime() / 2)
                                                    : QDeadlineTimer(QDeadlineTimer::Forever));
    const bool hasData = offersBytes || hasPromiseType;
    const qsizetype itemCount = std::max<qsizetype>(urls.size(), hasData ? 1 : 0);

    qint64 budget = kMaxDropBytes;
    auto fits = [&budget](qint64 size) {
        if (size > budget)
            return false;
        budget -= size;
        return true;
    };

    // The first item's bytes. Reading ends at the first picture that passes the import's check,
    // since each read may cost a round trip to a slow source on the main thread; one cut off in
    // transit or that does not decode leaves the next type to try, while the time lasts. Each type
    // has its share of the time left, as the list had, so that one the source never answers leaves
    // the types after it theirs. No read runs past the end of its place in an even schedule: on a
    // busy machine every read ends a little late, and were each late end shared out among the
    // types after it, twenty of them would leave the last, often the one the source gives, none.
    QList<Source> bytesOffered;
    bool unread = false;
    if (hasData && itemCount > 0) {
        QStringList toRead = offeredImageTypes;
        if (formats.contains(kOctetStream))
            toRead.append(kOctetStream);
        const qint64 readingTime = deadline.remainingTime();
        const qsizetype count = toRead.size();
        bool passed = false;
        bool ranOut = false;
        for (qsizetype index = 0; index < count && !passed; ++index) {
            const QString& type = toRead[index];
            const qint64 left = deadline.remainingTime();
            const qint64 placeEnds = left - readingTime * (count - index - 1) / count;
            const QDeadlineTimer share(std::max<qint64>(0, std::min(left / (count - index), placeEnds)));
            QByteArray bytes =
                reader.read(type, reader.bounded() ? share : QDeadlineTimer(QDeadlineTimer::Forever));
            ranOut = ranOut || reader.lastRanOut();
            if (bytes.isEmpty() || bytes.size() > kMaxImageBytes ||
                (type == kOctetStream && !contentIsImage(bytes)) || !fits(bytes.size()))
                continue;
            // The last type has nothing after it to fall back on: its bytes go to the import as
            // they are. A check that did not end in the type's time lets the picture stand; its
            // header is read there too, off this thread.
            const bool last = index + 1 == toRead.size();
            passed = last || (DroppedPicture::framedToItsEnd(bytes) &&
                              DroppedPicture::decodes(bytes, share).value_or(true));
            bytesOffered.append(Source::fromBytes(std::move(bytes)));
        }
        unread = bytesOffered.isEmpty() && ranOut;
    }

    // Where the items came from is worth less than their pictures: read last, with the time left.
    // A library this platform restricts can never match a reference, so it is not asked for.
    QList<std::optional<PhotosAssetReference>> references;
    const auto library = PhotosLibrary::shared();
    if (hasReferenceType && library->authorizationStatus() != PhotosAuthorization::Restricted)
        references = library->pasteboardReferences(reader.read(PhotosLibrary::pasteboardType()));

    qsizetype nextPromise = 0;
    for (qsizetype index = 0; index < itemCount; ++index) {
        if (snapshot.items.size() >= kMaxDropItems) {
            snapshot.droppedItems += int(itemCount - index);
            break;
        }
        const std::optional<QUrl> url = index < urls.size() ? std::optional(urls[index]) : std::nullopt;
        const std::optional<QString> filePath =
            url && url->isLocalFile() ? std::optional(url->toLocalFile()) : std::nullopt;
        const auto reference = index < references.size() ? references[index] : std::nullopt;
        const auto origin = readPhotosOrigin(filePath, reference, hasReferenceType, hasPhotosType);
        if (origin)
            snapshot.origins.insert(int(snapshot.items.size()), *origin);

        const bool carriesData = index == 0 && hasData;
        const bool itemHasPromise = carriesData && hasPromiseType;
        const bool plainFile = !itemHasPromise && !(carriesData && !offeredImageTypes.isEmpty());

        QList<Source> alternatives;
        if (filePath) {
            const bool copy = origin.has_value() || !plainFile || isInTemporaryFolder(*filePath);
            alternatives.append(Source::file(*filePath, copy));
        }
        if (carriesData) {
            alternatives += bytesOffered;
            if (unread)
                snapshot.unreadItems.append(int(snapshot.items.size()));
        }
        if (itemHasPromise && nextPromise < promised.size())
            alternatives.append(Source::fromPromise(promised[nextPromise++]));
        if (url && isWebScheme(*url) && fits(url->toEncoded().size()))
            alternatives.append(Source::remote(*url));
        snapshot.items.append(alternatives);
    }
    for (; nextPromise < promised.size(); ++nextPromise) {
        if (snapshot.items.size() >= kMaxDropItems) {
            snapshot.droppedItems += int(promised.size() - nextPromise);
            break;
        }
        snapshot.items.append({Source::fromPromise(promised[nextPromise])});
    }
    return snapshot;
}

bool isImageFile(const QString& path) {
    if (!isImageFileName(path))
        return false;
    // A link is not followed: the exhibition keeps regular files only and would drop it later.
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace vennimo
