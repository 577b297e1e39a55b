#include "dragdrop/ExternalImageDrop.h"

#include "core/ImageFileRule.h"
#include "core/PathRules.h"
#include "dragdrop/PromiseDirectory.h"
#include "dragdrop/PromisedImage.h"
#include "dragdrop/XdsPromiseReceiver.h"
#include "platform/ImageDecoder.h"
#include "platform/X11DropTime.h"
#include "platform/X11Selection.h"
#include "platform/X11SelectionReader.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImageReader>
#include <QMimeData>
#include <QMimeDatabase>
#include <QPointer>
#include <QSet>
#include <QStandardPaths>
#include <QStringDecoder>
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

QStringList lines(const QString& text) {
    QStringList result;
    for (QString line : text.split(QLatin1Char('\n'))) {
        line = line.trimmed();
        if (line.startsWith(QChar(0xFEFF)))
            line = line.mid(1).trimmed();
        if (!line.isEmpty() && !line.startsWith(QLatin1Char('#')))
            result.append(line);
    }
    return result;
}

QString decodeMozUrl(const QByteArray& bytes) {
    // Firefox and Chromium write UTF-16; some sources write UTF-8.
    if (bytes.contains('\0')) {
        auto decoder = QStringDecoder(QStringDecoder::Utf16LE, QStringDecoder::Flag::Stateless);
        return decoder(bytes);
    }
    return QString::fromUtf8(bytes);
}

// Whether bytes hold a picture the import can save, by their header alone: nothing is decoded on
// the main thread. A header too large to decode still counts, the import names the fault.
bool givesPicture(const QByteArray& bytes) {
    if (bytes.startsWith("%PDF-"))
        return true;
    const auto header = ImageDecoder::readHeader(bytes);
    return header.ok() || (header.error().domain == QLatin1String(kImageErrorDomain) &&
                           header.error().code == kImageTooLargeCode);
}

QString canonicalType(const QString& type) {
    const QMimeType mime = QMimeDatabase().mimeTypeForName(type);
    return mime.isValid() ? mime.name() : type;
}

// Reads a drop's data one type at a time, all reads within one time. Qt asks the source for each
// type on its own and waits up to its selection time-out (five seconds, fixed) for every answer,
// on the main thread: after one answer came back empty that late, the source has stopped
// answering, and the other types are not asked for. A drop from another program on X11 is read
// over a connection of our own instead, where no read waits past the time left.
class DropDataReader {
public:
    DropDataReader(const QMimeData& data, const QDeadlineTimer& deadline,
                   std::unique_ptr<X11SelectionReader> x11 = {}, std::uint32_t time = 0)
        : m_data(data)
        , m_x11(std::move(x11))
        , m_time(time)
        , m_deadline(deadline) {}

    QByteArray read(const QString& format) {
        if (m_stalled || !m_data.hasFormat(format))
            return {};
        if (m_deadline.hasExpired()) {
            m_ranOut = true;
            return {};
        }
        QElapsedTimer timer;
        timer.start();
        QByteArray bytes = fetch(format);
        if (bytes.isEmpty() && timer.elapsed() >= ExternalImageDrop::kStalledReadMs)
            m_stalled = true;
        if (bytes.isEmpty() && m_deadline.hasExpired())
            m_ranOut = true;
        return bytes;
    }
    // Whether a type was left unread, or read in vain, because the time was up.
    bool ranOut() const { return m_ranOut; }

private:
    QByteArray fetch(const QString& format) {
        if (!m_x11)
            return m_data.data(format);
        const auto ask = [this](const QString& target) {
            return m_x11->read("XdndSelection", target.toLatin1(), m_time, m_deadline,
                               ExternalImageDrop::kMaxImageBytes);
        };
        std::optional<QByteArray> bytes = ask(format);
        // Qt lists the browsers' URL type as a URI list, and converts it when read through Qt.
        if (!bytes && format == kUriList)
            if (const auto moz = ask(kMozUrl))
                bytes = decodeMozUrl(*moz).section(QLatin1Char('\n'), 0, 0).toUtf8();
        return bytes.value_or(QByteArray());
    }

    const QMimeData& m_data;
    std::unique_ptr<X11SelectionReader> m_x11;
    std::uint32_t m_time;
    QDeadlineTimer m_deadline;
    bool m_stalled = false;
    bool m_ranOut = false;
};

// A reader for the drop being handled: over its own X connection when the data comes from
// another program on X11 and the drop's time is known, else through Qt.
DropDataReader dropReader(const QMimeData& data, const QDeadlineTimer& deadline) {
    const std::optional<unsigned> owner = X11Selection::owner("XdndSelection");
    const std::optional<std::uint32_t> time = X11DropTime::last();
    if (owner && time && !X11Selection::ownWindow(*owner))
        if (auto x11 = X11SelectionReader::open())
            return DropDataReader(data, deadline, std::move(x11), *time);
    return DropDataReader(data, deadline);
}

// The dropped URLs in the order offered: the URI list, else the first line of the browsers' URL
// types.
QList<QUrl> droppedUrls(DropDataReader& reader) {
    QStringList texts = lines(QString::fromUtf8(reader.read(kUriList)));
    if (texts.isEmpty())
        texts = lines(decodeMozUrl(reader.read(kMozUrl))).mid(0, 1);
    if (texts.isEmpty())
        texts = lines(QString::fromUtf8(reader.read(kNetscapeUrl))).mid(0, 1);
    QList<QUrl> urls;
    for (const QString& text : texts) {
        // Some sources write file names unencoded; only the scheme and the local path are used.
        const QUrl url(text, QUrl::TolerantMode);
        if (url.isValid() && !url.scheme().isEmpty())
            urls.append(url);
    }
    return urls;
}

bool readableDrag(const QMimeData& data) {
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
    // Looked at while the drag moves, before any drop: the source answers only Qt's requests then.
    DropDataReader reader(data, QDeadlineTimer(ExternalImageDrop::kDropReadMs));
    for (const QUrl& url : droppedUrls(reader)) {
        if (!url.isLocalFile())
            return true;
        if (isImageFile(url.toLocalFile()))
            return true;
    }
    return false;
}

// A drop target's drag, so far as canRead has seen it; the pointer goes null with its data, so
// that new data at the same address is looked at afresh.
struct DragAnswer {
    QPointer<const QMimeData> data{};
    std::uint64_t generation = 0;
    bool readable = false;
};

std::atomic<std::uint64_t> g_dragGeneration{0};

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

bool ExternalImageDrop::canRead(const QMimeData& data) {
    // Reading the source's types and URI list costs round trips to the dragging program, and
    // the answer cannot change within one drag.
    thread_local DragAnswer cached;
    const std::uint64_t generation = g_dragGeneration.load();
    if (cached.data == &data && cached.generation == generation)
        return cached.readable;
    cached = DragAnswer{QPointer<const QMimeData>(&data), generation, readableDrag(data)};
    return cached.readable;
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
                                                        const PromiseReceivers& promises) {
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
    const auto references = PhotosLibrary::shared()->pasteboardReferences(data);

    QStringList candidates = imageTypes();
    for (const QString& format : formats)
        if (!candidates.contains(format) && formatIsImage(format) && importableImageType(format))
            candidates.append(format);
    QStringList offeredImageTypes;
    for (const QString& type : candidates)
        if (formats.contains(type))
            offeredImageTypes.append(type);

    // The URI list gives one item per URI; bytes and the promise belong to the first item, the one
    // every source that offers them describes.
    DropDataReader reader = dropReader(data, deadline);
    QList<QUrl> urls = droppedUrls(reader);
    const bool hasData = !offeredImageTypes.isEmpty() || formats.contains(kOctetStream) || hasPromiseType;
    const qsizetype itemCount = std::max<qsizetype>(urls.size(), hasData ? 1 : 0);

    qint64 budget = kMaxDropBytes;
    auto fits = [&budget](qint64 size) {
        if (size > budget)
            return false;
        budget -= size;
        return true;
    };
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
            // The first type that gives a picture ends the reading: each read may cost a round
            // trip to a slow source, on the main thread.
            bool picture = false;
            for (const QString& type : offeredImageTypes) {
                if (picture)
                    break;
                QByteArray bytes = reader.read(type);
                if (!bytes.isEmpty() && bytes.size() <= kMaxImageBytes && fits(bytes.size())) {
                    picture = givesPicture(bytes);
                    alternatives.append(Source::fromBytes(std::move(bytes)));
                }
            }
            if (!picture && formats.contains(kOctetStream)) {
                QByteArray bytes = reader.read(kOctetStream);
                if (!bytes.isEmpty() && bytes.size() <= kMaxImageBytes && contentIsImage(bytes) &&
                    fits(bytes.size())) {
                    picture = true;
                    alternatives.append(Source::fromBytes(std::move(bytes)));
                }
            }
            if (!picture && reader.ranOut())
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
