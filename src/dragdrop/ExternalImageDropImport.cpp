#include "dragdrop/ExternalImageDrop.h"

#include "core/Indexer.h"
#include "dragdrop/BoundedPdfRenderer.h"
#include "dragdrop/PromisedImage.h"
#include "dragdrop/StagedFile.h"
#include "platform/ContentDigest.h"
#include "platform/DurableCalls.h"
#include "platform/FileDescriptor.h"
#include "platform/FileMove.h"
#include "platform/ImageDecoder.h"
#include "platform/WorkQueue.h"
#include "platform/WorkingRoom.h"

#include <QBuffer>
#include <QDir>
#include <QFileInfo>
#include <QImageWriter>
#include <QMimeDatabase>
#include <QRegularExpression>
#include <QSemaphore>

#include <algorithm>
#include <atomic>
#include <functional>
#include <optional>
#include <vector>

#include <cerrno>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace vennimo {

namespace {

const QString kImportedFolder = QStringLiteral("imported-images");
const QString kPhotosImportsFolder = QStringLiteral("photos-imports");
const QString kImportPrefix = QStringLiteral("导入图片-");

Error sizeError() {
    return Error::failure(QStringLiteral("图片为空或超过 64 MB。"));
}
Error corruptError() {
    return Error::failure(QStringLiteral("图片损坏或尺寸过大。"));
}
Error notImageError() {
    return Error::failure(QStringLiteral("来源提供的内容不是可读取的图片。"));
}
Error outsideError() {
    return Error::failure(QStringLiteral("来源返回了接收目录外的文件。"));
}

using Descriptor = FileDescriptor;

// Drawing takes memory in step with the pixels: however many items are saved side by side, the
// pictures drawn at once hold no more pixels than four at the limit. Counted in megapixels.
constexpr int kDrawingMegapixels = int(4 * ExternalImageDrop::kMaxPixels / 1'000'000);

// Waits until `pixels` more may be drawn; they count until the answer goes.
QSemaphoreReleaser reserveDrawing(qint64 pixels) {
    static QSemaphore budget(kDrawingMegapixels);
    const int megapixels = int(std::clamp<qint64>((pixels + 999'999) / 1'000'000, 1, kDrawingMegapixels));
    budget.acquire(megapixels);
    return QSemaphoreReleaser(budget, megapixels);
}

// Room for a decoding's working memory (WorkingRoom), with what it counts.
struct Working {
    QSemaphoreReleaser room{};
    qint64 bytes = 0;
};

// Bytes copied in or downloaded stay in memory while they are checked: those of all items under
// way at once never exceed eight at the size limit. Counted in MiB.
constexpr int kHeldMebibytes = int(8 * ExternalImageDrop::kMaxImageBytes / (1 << 20));

QSemaphore& heldBudget() {
    static QSemaphore budget(kHeldMebibytes);
    return budget;
}

int heldMebibytes(qint64 bytes) {
    return int(std::clamp<qint64>((bytes + (1 << 20) - 1) >> 20, 1, kHeldMebibytes));
}

// Waits until `bytes` more may be held; they count until the answer goes.
QSemaphoreReleaser reserveHolding(qint64 bytes) {
    const int mebibytes = heldMebibytes(bytes);
    heldBudget().acquire(mebibytes);
    return QSemaphoreReleaser(heldBudget(), mebibytes);
}

bool isCancelled(const DropCancellation& cancelled) {
    return cancelled && cancelled->load();
}

// Whether saving an item should stop where it is: the drop's cancel, looked at through the
// options' seam. Empty when nothing can cancel the drop.
using Stop = std::function<bool()>;

Stop stopOf(const ExternalImageDrop::ImportOptions& options) {
    if (!options.cancelled && !options.cancelLook)
        return {};
    return [&options] {
        if (options.cancelLook)
            options.cancelLook();
        return isCancelled(options.cancelled);
    };
}

bool stopped(const Stop& stop) {
    return stop && stop();
}

// Negative once the deadline has passed.
std::chrono::milliseconds timeLeft(std::chrono::steady_clock::time_point deadline) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
}

// The same, but giving up at the drop's deadline or when it is cancelled.
std::optional<QSemaphoreReleaser> reserveHolding(qint64 bytes, std::chrono::steady_clock::time_point deadline,
                                                 const DropCancellation& cancelled) {
    const int mebibytes = heldMebibytes(bytes);
    for (;;) {
        if (isCancelled(cancelled))
            return std::nullopt;
        const auto left = timeLeft(deadline);
        if (left.count() <= 0)
            return std::nullopt;
        const int slice = int(std::min<qint64>(left.count(), ExternalImageDrop::kCancelPollMs));
        if (heldBudget().tryAcquire(mebibytes, slice))
            return QSemaphoreReleaser(heldBudget(), mebibytes);
    }
}

// The size of what `fd` opened, when it is a regular file of 1 byte to `limit`.
vennimo::Result<qint64> regularSize(int fd, const QString& path, qint64 limit) {
    struct stat st {};
    if (::fstat(fd, &st) != 0)
        return Error::fromErrno(errno, path);
    if (!S_ISREG(st.st_mode) || st.st_size < 1 || st.st_size > limit)
        return sizeError();
    return qint64(st.st_size);
}

// Opens a dropped file for reading without following a link, and without waiting on a FIFO.
vennimo::Result<int> openDropped(const QString& path) {
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd >= 0)
        return fd;
    // A symbolic link is not a regular file.
    if (errno == ELOOP)
        return sizeError();
    return Error::fromErrno(errno, path);
}

// Reads a regular file of 1 byte to `limit` through an open descriptor: the size is checked on
// what was opened, and a file that grows or shrinks while read is caught by reading one byte more
// than it claimed, so a half-written file never passes as a whole image.
vennimo::Result<QByteArray> readBounded(int fd, const QString& path, qint64 limit) {
    const auto size = regularSize(fd, path, limit);
    if (!size.ok())
        return size.error();
    QByteArray bytes(qsizetype(*size) + 1, Qt::Uninitialized);
    qsizetype total = 0;
    while (total < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + total, size_t(bytes.size() - total));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return Error::fromErrno(errno, path);
        }
        if (n == 0)
            break;
        total += n;
    }
    if (total != *size)
        return sizeError();
    bytes.truncate(total);
    return bytes;
}

vennimo::Result<QByteArray> openAndRead(const QString& path) {
    const auto fd = openDropped(path);
    if (!fd.ok())
        return fd.error();
    Descriptor descriptor(*fd);
    return readBounded(*fd, path, ExternalImageDrop::kMaxImageBytes);
}

QString safeExtension(const QByteArray& data) {
    const QString suffix = QMimeDatabase().mimeTypeForData(data).preferredSuffix().toLower();
    if (suffix.isEmpty() || suffix.size() > 8)
        return QStringLiteral("img");
    for (QChar c : suffix)
        if (!(c.isDigit() || (c >= QLatin1Char('a') && c <= QLatin1Char('z'))))
            return QStringLiteral("img");
    return suffix;
}

vennimo::Result<QByteArray> renderPdf(const QByteArray& data, const std::function<bool()>& stop) {
    if (!data.startsWith("%PDF-"))
        return notImageError();
    const QSemaphoreReleaser drawing =
        reserveDrawing(qint64(ExternalImageDrop::kMaxPdfSidePixels * ExternalImageDrop::kMaxPdfSidePixels));
    auto image = BoundedPdfRenderer::render(data, ExternalImageDrop::kMaxPdfScale,
                                            ExternalImageDrop::kMaxPdfSidePixels, {}, stop);
    if (!image.ok())
        return image.error();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(*image))
        return Error::failure(QStringLiteral("无法转换文档图片。"));
    return png;
}

QString standardized(const QString& path) {
    return QDir::cleanPath(path);
}

struct Saved {
    QString path;
    QImage thumbnail{};
};

// Saves checked bytes under their digest; the thumbnail is drawn when thumbnailPixels asks.
vennimo::Result<Saved> saveImage(const QByteArray& data, const QString& base, int thumbnailPixels,
                                 LeftoverTemporaries::Record* record, StagedFile* staged = nullptr,
                                 const Stop& stop = {}, Working* working = nullptr);
vennimo::Result<Saved> saveFile(const QString& path, const QString& base, int thumbnailPixels,
                                LeftoverTemporaries::Record* record, const Stop& stop);

vennimo::Result<QList<Saved>> tryAlternative(const ExternalImageDrop::Source& source, const QString& base,
                                             const ExternalImageDrop::ImportOptions& options,
                                             std::chrono::steady_clock::time_point deadline,
                                             LeftoverTemporaries::Record* record) {
    using Kind = ExternalImageDrop::Source::Kind;
    const int pixels = options.thumbnailPixels;
    const Stop stop = stopOf(options);
    switch (source.kind) {
    case Kind::File: {
        if (!isImageFile(source.path))
            return Error::failure(QStringLiteral("拖入的文件不是可读取的图片。"));
        if (!source.copy)
            return QList<Saved>{{source.path}};
        auto saved = saveFile(source.path, base, pixels, record, stop);
        if (!saved.ok())
            return saved.error();
        return QList<Saved>{*saved};
    }
    case Kind::Bytes: {
        auto saved = saveImage(source.bytes, base, pixels, record, nullptr, stop);
        if (!saved.ok())
            return saved.error();
        return QList<Saved>{*saved};
    }
    case Kind::Remote: {
        // A cancel stops what waits on others; bytes already here are saved in moments.
        if (isCancelled(options.cancelled))
            return ExternalImageDrop::cancelledError();
        // Only the network is waited for: inline bytes are decoded whatever the time.
        const bool inlineBytes = source.url.scheme().toLower() == QLatin1String("data");
        const auto held =
            inlineBytes ? std::optional(reserveHolding(ExternalImageDrop::kMaxImageBytes))
                        : reserveHolding(ExternalImageDrop::kMaxImageBytes, deadline, options.cancelled);
        if (!held)
            return isCancelled(options.cancelled) ? ExternalImageDrop::cancelledError()
                                                  : ExternalImageDrop::timedOutError();
        ExternalImageDrop::DownloadOptions download = options.download;
        download.wait = std::clamp(timeLeft(deadline), std::chrono::milliseconds(1), download.wait);
        download.cancelled = options.cancelled;
        auto bytes = ExternalImageDrop::download(source.url, download);
        if (!bytes.ok())
            return bytes.error();
        auto saved = saveImage(*bytes, base, pixels, record, nullptr, stop);
        if (!saved.ok())
            return saved.error();
        return QList<Saved>{*saved};
    }
    case Kind::Promise: {
        if (!source.promise)
            return Error::failure(QStringLiteral("来源应用没有生成图片文件。"));
        if (isCancelled(options.cancelled))
            return ExternalImageDrop::cancelledError();
        PromisedImage::Outcome outcome = source.promise->take(
            std::clamp(timeLeft(deadline), std::chrono::milliseconds(0), options.promiseWait),
            options.cancelled);
        if (outcome.timedOut && isCancelled(options.cancelled))
            return ExternalImageDrop::cancelledError();
        if (outcome.timedOut)
            return Error::failure(QStringLiteral("等待来源应用提供图片超时，请重新拖入。"));
        if (outcome.data.isEmpty())
            return outcome.error ? *outcome.error
                                 : Error::failure(QStringLiteral("来源应用没有生成图片文件。"));
        QList<Saved> saved;
        for (const QByteArray& bytes : outcome.data)
            if (auto one = saveImage(bytes, base, pixels, record, nullptr, stop); one.ok())
                saved.append(*one);
        if (saved.isEmpty())
            return Error::failure(QStringLiteral("来源应用没有提供可读取的图片文件。"));
        return saved;
    }
    }
    return notImageError();
}

} // namespace

vennimo::Result<QByteArray> ExternalImageDrop::readImage(const QString& path) {
    return openAndRead(path);
}

vennimo::Result<QByteArray> ExternalImageDrop::readPromisedFile(const QString& path,
                                                                const QString& directory) {
    const QString folder = QFileInfo(directory).canonicalFilePath();
    const QString resolved = QFileInfo(path).canonicalFilePath();
    if (folder.isEmpty())
        return Error::fromErrno(ENOENT, directory);
    if (resolved.isEmpty())
        return Error::fromErrno(ENOENT, path);
    if (!resolved.startsWith(folder + QLatin1Char('/')))
        return outsideError();
    // Open what was checked, relative to the folder and unable to leave it, so a component swapped
    // for a link meanwhile cannot redirect the read.
    const int dirFd = ::open(QFile::encodeName(folder).constData(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return Error::fromErrno(errno, directory);
    Descriptor dir(dirFd);
    const QByteArray relative = QFile::encodeName(resolved.mid(folder.size() + 1));
    open_how how{};
    how.flags = O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    int fd = int(::syscall(SYS_openat2, dirFd, relative.constData(), &how, sizeof how));
    if (fd < 0 && errno == ENOSYS)
        fd = ::openat(dirFd, relative.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == EXDEV)
            return outsideError();
        if (errno == ELOOP)
            return sizeError();
        return Error::fromErrno(errno, path);
    }
    Descriptor file(fd);
    return readBounded(fd, path, kMaxImageBytes);
}

QString ExternalImageDrop::importFolder(const QString& base) {
    return base + QLatin1Char('/') + kImportedFolder;
}

namespace {

// Stores checked bytes under their digest in `folder`, through `staged` (which holds them already
// when it was created). `check` runs while the new file goes to the disk; the file gets its name
// only when the check passes.
vennimo::Result<QString> store(const QByteArray& bytes, const QString& extension, const QString& folder,
                               StagedFile& staged, const std::function<Status()>& check,
                               LeftoverTemporaries::Record* record) {
    const QString hash = ContentDigest::sha256Hex(bytes);
    const QString path = folder + QLatin1Char('/') + kImportPrefix + hash + QLatin1Char('.') + extension;
    bool checked = false;
    const auto checkOnce = [&]() -> Status {
        if (checked || !check)
            return {};
        checked = true;
        return check();
    };
    for (int attempt = 0; attempt < 2; ++attempt) {
        struct stat st {};
        if (::lstat(QFile::encodeName(path).constData(), &st) == 0) {
            if (Status valid = checkOnce(); !valid)
                return valid.error();
            auto existing = openAndRead(path);
            if (existing.ok() && *existing == bytes)
                return path;
            if (!existing.ok() && existing.error().domain == QLatin1String(kPosixErrorDomain))
                return existing.error();
            return Error::failure(QStringLiteral("已保存的图片发生变化，请重新拖入。"));
        }
        if (!staged.isCreated()) {
            if (Status written = staged.write(bytes); !written)
                return written.error();
        }
        if (Status valid = checkOnce(); !valid)
            return valid.error();
        Status linked = staged.link(path, record);
        if (linked.ok())
            return path;
        // Another writer got there first: compare with what it wrote.
        if (!linked.error().isFileExists())
            return linked.error();
    }
    return Error::failure(QStringLiteral("已保存的图片发生变化，请重新拖入。"));
}

// `staged`, when given, holds `data` already, in the import folder of `base`; `working`, when
// given, is room taken for the decoding before the bytes were read in.
vennimo::Result<Saved> saveImage(const QByteArray& data, const QString& base, int thumbnailPixels,
                                 LeftoverTemporaries::Record* record, StagedFile* staged, const Stop& stop,
                                 Working* working) {
    if (data.isEmpty() || data.size() > ExternalImageDrop::kMaxImageBytes)
        return sizeError();
    // Hashing and checking are the costly part: a cancelled item is left before them.
    if (stopped(stop))
        return ExternalImageDrop::cancelledError();
    const QString folder = ExternalImageDrop::importFolder(base);
    auto header = stop ? ImageDecoder::readHeader(data, stop) : ImageDecoder::readHeader(data);
    if (!header.ok()) {
        if (stopped(stop))
            return ExternalImageDrop::cancelledError();
        if (header.error().domain == QLatin1String(kImageErrorDomain) &&
            header.error().code == kImageTooLargeCode)
            return corruptError();
        if (data.startsWith("%PDF-")) {
            auto png = renderPdf(data, stop);
            if (stopped(stop))
                return ExternalImageDrop::cancelledError();
            if (!png.ok())
                return png.error();
            if (!QDir().mkpath(folder))
                return Error::fromErrno(errno ? errno : EIO, folder);
            StagedFile rendered(folder);
            auto saved = store(*png, QStringLiteral("png"), folder, rendered, {}, record);
            if (!saved.ok())
                return saved.error();
            return Saved{*saved};
        }
        // A bitmap format whose header the decoder refuses (a PNG a million and a half pixels
        // long, say) is a damaged or oversized image, not something other than an image.
        if (QMimeDatabase().mimeTypeForData(data).name().startsWith(QLatin1String("image/")))
            return corruptError();
        return notImageError();
    }
    const qint64 width = header->size.width();
    const qint64 height = header->size.height();
    if (!ExternalImageDrop::withinPixelLimit(width, height))
        return corruptError();
    // A JPEG shrinks while it loads but reads its whole scan either way, and a HEIC or AVIF is
    // decoded whole whatever size it is drawn at: checked at thumbnail size, each costs about what
    // the small check costs, and the picture is its thumbnail, never decoded again.
    const bool svg = header->format == "svg";
    const bool decodedWhole = header->format == "heif" || header->format == "avif";
    const bool drawThumbnail = thumbnailPixels > 0 && (header->format == "jpeg" || decodedWhole || svg);
    // An SVG's drawing costs with the pixels it covers: one that draws within the helper's bounds
    // at the small check's size may not at the size the gallery shows it, and would hang as a
    // picture nothing can draw. It is checked at its thumbnail's size.
    const int checkPixels = drawThumbnail ? thumbnailPixels
                            : svg         ? Indexer::kMaxThumbnailPixels
                                          : ExternalImageDrop::kDecodeTestPixels;
    QImage thumbnail;
    // The check runs before the new file is synced and named: a cancel met here lets it go unnamed
    // and unsynced.
    const auto decodes = [&]() -> Status {
        if (stopped(stop))
            return ExternalImageDrop::cancelledError();
        // Every item takes its rooms in one order, held bytes, working memory, drawing, so that
        // none waits for one while holding a later one. Room taken before the bytes were read
        // serves unless these bytes want more.
        QSemaphoreReleaser room;
        if (working == nullptr || working->bytes < header->workingBytes) {
            if (working != nullptr)
                working->room = QSemaphoreReleaser();
            room = WorkingRoom::take(header->workingBytes);
        }
        const QSemaphoreReleaser drawing = reserveDrawing(width * height);
        // The wait for room may have outlasted the drop, and a camera picture takes a core for a
        // second or more: the drawing stops at its next read of the bytes once the drop is cancelled.
        if (stopped(stop))
            return ExternalImageDrop::cancelledError();
        auto decoded = ImageDecoder::decodeScaled(data, checkPixels, stop);
        if (stopped(stop))
            return ExternalImageDrop::cancelledError();
        if (!decoded.ok())
            return corruptError();
        if (drawThumbnail)
            thumbnail = *decoded;
        return {};
    };
    if (!QDir().mkpath(folder))
        return Error::fromErrno(errno ? errno : EIO, folder);
    StagedFile own(folder);
    auto saved = store(data, safeExtension(data), folder, staged ? *staged : own, decodes, record);
    if (!saved.ok())
        return saved.error();
    return Saved{*saved, thumbnail};
}

// A dropped file copied into the import folder of `base`. The kernel makes the copy, and what is
// checked, named and kept is what the copy holds, whatever happens to the original meanwhile.
vennimo::Result<Saved> saveFile(const QString& path, const QString& base, int thumbnailPixels,
                                LeftoverTemporaries::Record* record, const Stop& stop) {
    const auto fd = openDropped(path);
    if (!fd.ok())
        return fd.error();
    Descriptor descriptor(*fd);
    const auto size = regularSize(*fd, path, ExternalImageDrop::kMaxImageBytes);
    if (!size.ok())
        return size.error();
    const QSemaphoreReleaser held = reserveHolding(*size);
    // A picture that keeps much memory while it is checked waits for room before its bytes are
    // read in: the items of a drop of large progressive photos or HEICs wait holding no bytes. The
    // header of what was opened sizes the room; the copy's own decides in the end.
    Working working;
    working.bytes = ImageDecoder::workingBytesOf(QStringLiteral("/proc/self/fd/%1").arg(*fd), stop);
    working.room = WorkingRoom::take(working.bytes);
    // The wait for room may have outlasted the drop.
    if (stopped(stop))
        return ExternalImageDrop::cancelledError();
    const QString folder = ExternalImageDrop::importFolder(base);
    if (!QDir().mkpath(folder))
        return Error::fromErrno(errno ? errno : EIO, folder);
    StagedFile staged(folder);
    // One byte more than the file claimed: a file that grows or shrinks while it is copied never
    // passes as a whole image.
    // The copy and the read of a large photo take a while: a cancel ends them where they are.
    auto copied = staged.copyFrom(*fd, *size + 1, stop);
    if (!copied.ok())
        return stopped(stop) ? ExternalImageDrop::cancelledError() : copied.error();
    if (*copied != *size)
        return sizeError();
    auto bytes = staged.read(*size, stop);
    if (!bytes.ok())
        return stopped(stop) ? ExternalImageDrop::cancelledError() : bytes.error();
    if (bytes->size() != *size)
        return sizeError();
    return saveImage(*bytes, base, thumbnailPixels, record, &staged, stop, &working);
}

} // namespace

vennimo::Result<QString> ExternalImageDrop::save(const QByteArray& data, const QString& base,
                                                 LeftoverTemporaries::Record* record) {
    auto saved = saveImage(data, base, 0, record);
    if (!saved.ok())
        return saved.error();
    return saved->path;
}

ExternalImageDrop::Result ExternalImageDrop::materialize(const Snapshot& snapshot, const QString& storage,
                                                         const ImportOptions& options,
                                                         LeftoverTemporaries::Record* record) {
    if (isMainThread())
        qFatal("ExternalImageDrop::materialize must not run on the main thread");
    struct Item {
        QString base;
        QStringList produced;
        QHash<QString, QImage> thumbnails;
        std::optional<Error> lastError;
    };
    std::vector<Item> items(size_t(snapshot.items.size()));
    const auto deadline = std::chrono::steady_clock::now() + options.dropDeadline;
    std::atomic<qint64> keptBytes = 0;
    // Each item tries its alternatives one after another; different items are saved side by side,
    // since checking a camera picture keeps a core busy and syncing it waits on the disk.
    auto saveItem = [&](qsizetype index) {
        Item& item = items[size_t(index)];
        const auto origin = snapshot.origins.constFind(int(index));
        item.base =
            origin != snapshot.origins.constEnd()
                ? storage + QLatin1Char('/') + kPhotosImportsFolder + QLatin1Char('/') + origin->storageKey()
                : storage;
        for (const Source& source : snapshot.items[index]) {
            // Once cancelled no item is begun, whatever its kind: the rest of the drop is left.
            if (isCancelled(options.cancelled)) {
                item.lastError = cancelledError();
                return;
            }
            auto attempt = tryAlternative(source, item.base, options, deadline, record);
            if (attempt.ok() && !attempt->isEmpty()) {
                for (const Saved& saved : std::as_const(*attempt)) {
                    item.produced.append(saved.path);
                    const qint64 bytes = saved.thumbnail.sizeInBytes();
                    if (bytes > 0 && keptBytes.fetch_add(bytes) + bytes <= kMaxKeptThumbnailBytes)
                        item.thumbnails.insert(standardized(saved.path), saved.thumbnail);
                }
                return;
            }
            if (!attempt.ok())
                item.lastError = attempt.error();
        }
    };
    const int width = int(std::clamp<qsizetype>(snapshot.items.size(), 1, kSaveWidth));
    if (width == 1) {
        for (qsizetype index = 0; index < qsizetype(items.size()); ++index)
            saveItem(index);
    } else {
        WorkQueue saving(QStringLiteral("local.vennimo.drop-import"), width);
        for (qsizetype index = 0; index < qsizetype(items.size()); ++index)
            saving.async([&saveItem, index] { saveItem(index); });
        saving.waitUntilIdle();
    }

    Result result;
    QStringList paths;
    QSet<QString> folders;
    for (qsizetype index = 0; index < qsizetype(items.size()); ++index) {
        const Item& item = items[size_t(index)];
        if (item.produced.isEmpty()) {
            ++result.failures;
            if (item.lastError)
                result.detail = item.lastError->localizedDescription();
            else if (snapshot.unreadItems.contains(int(index)))
                result.detail = notImageError().localizedDescription();
            else
                result.detail = QStringLiteral("来源应用没有提供图片数据。");
            continue;
        }
        if (const auto origin = snapshot.origins.constFind(int(index)); origin != snapshot.origins.constEnd())
            for (const QString& path : item.produced)
                result.origins.insert(standardized(path), *origin);
        paths += item.produced;
        result.thumbnails.insert(item.thumbnails);
        folders.insert(importFolder(item.base));
    }
    // Each saved file was synced on its own; their names become durable with one sync of each
    // folder, before anything can refer to them.
    for (const QString& folder : std::as_const(folders))
        DurableCalls::syncFolder(QFile::encodeName(folder).constData());
    // The items past the limit come last, so theirs is the last failure's message.
    if (snapshot.droppedItems > 0) {
        result.failures += snapshot.droppedItems;
        result.detail = QStringLiteral("一次拖入的项目过多，最多 %1 项。").arg(kMaxDropItems);
    }
    QSet<QString> seen;
    for (const QString& path : paths)
        if (!seen.contains(standardized(path))) {
            seen.insert(standardized(path));
            result.paths.append(path);
        }
    return result;
}

QStringList ExternalImageDrop::importFolders(const QString& storage) {
    QStringList folders{importFolder(storage)};
    const QDir photosImports(storage + QLatin1Char('/') + kPhotosImportsFolder);
    for (const QString& key : photosImports.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::NoSymLinks))
        folders.append(importFolder(photosImports.filePath(key)));
    return folders;
}

int ExternalImageDrop::removeLeftoverPartials(const QString& storage,
                                              LeftoverTemporaries::Clock::time_point changedBefore) {
    static const QRegularExpression kPartial(QStringLiteral("^\\..+\\.partial$"));
    int removed = 0;
    for (const QString& folder : importFolders(storage))
        removed += LeftoverTemporaries::remove(folder, kPartial, changedBefore) +
                   FileMove::removeLeftoverPartials(folder, changedBefore);
    return removed;
}

} // namespace vennimo
