#include "platform/ImageDecoder.h"

#include "platform/ImageDecoderShared.h"
#include "platform/JpegDecoder.h"
#include "platform/PngDecoder.h"
#include "platform/ProcessExit.h"
#include "platform/WebpDecoder.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QImageReader>
#include <QTransform>

#include <libheif/heif.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace vennimo {

namespace image_decoding {

Error tooLarge() {
    return Error::make(QString::fromLatin1(kImageErrorDomain), kImageTooLargeCode,
                       QString::fromUtf8(kImageTooLargeMessage));
}

Error unreadable() {
    return Error::make(QString::fromLatin1(kImageErrorDomain), kImageUnreadableCode,
                       QString::fromUtf8(kImageUnreadableMessage));
}

std::optional<Error> checkSize(QSize size) {
    if (size.width() <= 0 || size.height() <= 0)
        return unreadable();
    if (qint64(size.width()) * qint64(size.height()) > ImageDecoder::kMaxPixels)
        return tooLarge();
    return std::nullopt;
}

QSize storedTarget(const ImageHeader& header, int maxPixelSize) {
    const QSize oriented = ImageDecoder::boundedSize(header.orientedSize(), maxPixelSize);
    return header.orientedSize() == header.size ? oriented : oriented.transposed();
}

QImage scaledTo(const QImage& image, QSize size) {
    if (image.size() == size)
        return image;
    return image.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

QImage oriented(const QImage& image, int orientation) {
    // Mirrored first, then turned a quarter clockwise where the orientation has it.
    const bool turned = orientation >= 5 && orientation <= 8;
    const bool mirror = orientation == 2 || orientation == 3 || orientation == 7;
    const bool flip = orientation == 3 || orientation == 4 || orientation == 5;
    QImage result = mirror || flip ? image.mirrored(mirror, flip) : image;
    if (!turned)
        return result;
    // A turned image comes back without the colour space it had.
    result = result.transformed(QTransform().rotate(orientation == 8 ? 270 : 90));
    if (image.colorSpace().isValid())
        result.setColorSpace(image.colorSpace());
    return result;
}

} // namespace image_decoding

using namespace image_decoding;

namespace {

// Enough for an ISO-BMFF ftyp box with its compatible brands and for the RAW magic numbers.
constexpr qsizetype kSniffBytes = 512;
// What a HEIF or AVIF decoding holds whatever size it delivers, since libheif decodes the whole
// picture: the codec's planes, libheif's copy of them and the RGBA picture made from those, some
// 8.7 bytes a pixel measured for a 4:2:0 HEIC of 24 megapixels.
constexpr qint64 kHeifWorkingBytesPerPixel = 9;

void initializeOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Process-wide: a header that lies about its size then fails instead of exhausting memory.
        // Enough for an image at the pixel cap with 16 bits per channel, never more.
        QImageReader::setAllocationLimit(int((ImageDecoder::kMaxPixels * 8 + (1 << 20) - 1) >> 20));
        // libheif registers its codecs lazily and without a lock unless initialised up front.
        heif_init(nullptr);
    });
}

Result<Source> openFile(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    // Non-blocking, so that a FIFO under an image's name cannot stall the open; only regular
    // files go on to the decoders, which would block reading anything else.
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return Error::fromErrno(errno, path);
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return unreadable();
    }
    Source source;
    source.path = path;
    source.head.resize(kSniffBytes);
    qsizetype got = 0;
    while (got < kSniffBytes) {
        const ssize_t n = ::read(fd, source.head.data() + got, size_t(kSniffBytes - got));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int err = errno;
            ::close(fd);
            return Error::fromErrno(err, path);
        }
        if (n == 0)
            break;
        got += n;
    }
    ::close(fd);
    source.head.truncate(got);
    return source;
}

Source fromData(const QByteArray& data) {
    Source source;
    source.data = data;
    source.head = data.left(kSniffBytes);
    return source;
}

quint32 bigEndian32(const QByteArray& bytes, qsizetype at) {
    const auto* p = reinterpret_cast<const uchar*>(bytes.constData() + at);
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
}

// "heif" or "avif" when the ftyp box names a HEIF brand, empty otherwise.
QByteArray heifFormat(const QByteArray& head) {
    if (head.size() < 16 || head.mid(4, 4) != "ftyp")
        return {};
    static const QByteArrayList heifBrands = {"heic", "heix", "hevc", "heim", "heis",
                                              "hevm", "hevs", "mif1", "msf1"};
    static const QByteArrayList avifBrands = {"avif", "avis"};
    const QByteArray major = head.mid(8, 4);
    if (avifBrands.contains(major))
        return "avif";
    const qsizetype boxEnd = std::min<qsizetype>(bigEndian32(head, 0), head.size());
    bool heif = heifBrands.contains(major);
    bool avif = false;
    for (qsizetype at = 16; at + 4 <= boxEnd; at += 4) {
        const QByteArray brand = head.mid(at, 4);
        heif = heif || heifBrands.contains(brand);
        avif = avif || avifBrands.contains(brand);
    }
    // A generic major brand (mif1, msf1) defers to the codec named among the compatible brands.
    if (avif && (major == "mif1" || major == "msf1" || !heif))
        return "avif";
    return heif ? QByteArray("heif") : QByteArray();
}

int exifFromTransformation(QImageIOHandler::Transformations transformation) {
    // Indexed by the Transformations bits: Mirror 1, Flip 2, Rotate90 4.
    static constexpr int exif[] = {1, 2, 4, 3, 6, 7, 5, 8};
    return exif[int(transformation) & 7];
}

int longerSide(QSize size) {
    return std::max(size.width(), size.height());
}

// ---- Qt image plugins -------------------------------------------------------------------------

// Another device, read only while `stop` answers false: a decoder reading through it comes to its
// end at the first read after the stop. It is never a QBuffer itself, since Qt's JPEG reader takes
// all of a buffer's memory at once and would decode to the end without reading again.
class StoppableDevice : public QIODevice {
public:
    StoppableDevice(QIODevice& inner, std::function<bool()> stop)
        : m_inner(inner)
        , m_stop(std::move(stop)) {}

    bool isSequential() const override { return m_inner.isSequential(); }
    qint64 size() const override { return m_inner.size(); }
    bool seek(qint64 pos) override { return m_inner.seek(pos) && QIODevice::seek(pos); }

protected:
    qint64 readData(char* data, qint64 maxSize) override {
        if (m_stop())
            return -1;
        return m_inner.read(data, maxSize);
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    QIODevice& m_inner;
    std::function<bool()> m_stop;
};

// A QImageReader over the source, through a StoppableDevice when a stop is given; the devices live
// as long as the reader.
class QtReader {
public:
    explicit QtReader(const Source& source, std::function<bool()> stop = {}) {
        QIODevice* device = &m_buffer;
        if (source.isFile()) {
            m_file.setFileName(source.path);
            m_file.open(QIODevice::ReadOnly);
            device = &m_file;
        } else {
            m_buffer.setData(source.data);
            m_buffer.open(QIODevice::ReadOnly);
        }
        if (stop) {
            m_stoppable = std::make_unique<StoppableDevice>(*device, std::move(stop));
            m_stoppable->open(QIODevice::ReadOnly);
            device = m_stoppable.get();
        }
        m_reader.setDevice(device);
        m_reader.setDecideFormatFromContent(true);
        m_reader.setAutoTransform(true);
    }

    QImageReader& reader() { return m_reader; }

private:
    QFile m_file;
    QBuffer m_buffer;
    std::unique_ptr<StoppableDevice> m_stoppable;
    QImageReader m_reader;
};

QByteArray canonicalFormat(const QByteArray& format) {
    if (format == "jpg")
        return "jpeg";
    if (format == "tif")
        return "tiff";
    if (format == "svgz")
        return "svg";
    return format;
}

Result<ImageHeader> qtHeader(QImageReader& reader) {
    const QByteArray format = reader.format();
    if (format.isEmpty())
        return unreadable();
    ImageHeader header;
    header.size = reader.size();
    if (auto error = checkSize(header.size))
        return *error;
    header.orientation = exifFromTransformation(reader.transformation());
    header.format = canonicalFormat(format.toLower());
    return header;
}

Result<QImage> qtDecode(QImageReader& reader, int maxPixelSize) {
    auto header = qtHeader(reader);
    if (!header)
        return header.error();
    // The handler scales before QImageReader applies the orientation, so the target is in stored
    // pixels. Plugins that cannot shrink while loading get scaled by QImageReader afterwards.
    const QSize target = storedTarget(*header, maxPixelSize);
    if (target != header->size)
        reader.setScaledSize(target);
    QImage image;
    if (!reader.read(&image) || image.isNull())
        return unreadable();
    return image;
}

// ---- HEIF / AVIF through libheif --------------------------------------------------------------

struct HeifDeleter {
    void operator()(heif_context* c) const { heif_context_free(c); }
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
    void operator()(heif_image* i) const { heif_image_release(i); }
    void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};
template <class T>
using HeifPtr = std::unique_ptr<T, HeifDeleter>;

struct HeifFile {
    HeifPtr<heif_context> context;
    HeifPtr<heif_image_handle> primary;
    ImageHeader header;
};

QSize heifSize(const heif_image_handle* handle) {
    return {heif_image_handle_get_width(handle), heif_image_handle_get_height(handle)};
}

Result<HeifFile> openHeif(const Source& source, const QByteArray& format) {
    HeifFile file;
    file.context.reset(heif_context_alloc());
    if (!file.context)
        return unreadable();
    const heif_error read =
        source.isFile()
            ? heif_context_read_from_file(file.context.get(), QFile::encodeName(source.path).constData(),
                                          nullptr)
            : heif_context_read_from_memory_without_copy(file.context.get(), source.data.constData(),
                                                         size_t(source.data.size()), nullptr);
    if (read.code != heif_error_Ok)
        return unreadable();
    heif_image_handle* primary = nullptr;
    if (heif_context_get_primary_image_handle(file.context.get(), &primary).code != heif_error_Ok)
        return unreadable();
    file.primary.reset(primary);
    // libheif rotates and mirrors (irot/imir) on every decode, so the size after those is the
    // stored one as far as callers are concerned, and the EXIF orientation must not apply again.
    file.header.size = heifSize(primary);
    file.header.orientation = 1;
    file.header.format = format;
    if (auto error = checkSize(file.header.size))
        return *error;
    file.header.workingBytes =
        qint64(file.header.size.width()) * file.header.size.height() * kHeifWorkingBytesPerPixel;
    return file;
}

Result<QImage> decodeHeifHandle(const heif_image_handle* handle) {
    if (auto error = checkSize(heifSize(handle)))
        return *error;
    HeifPtr<heif_decoding_options> options(heif_decoding_options_alloc());
    options->convert_hdr_to_8bit = 1;
    heif_image* decoded = nullptr;
    if (heif_decode_image(handle, &decoded, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, options.get())
            .code != heif_error_Ok)
        return unreadable();
    HeifPtr<heif_image> image(decoded);
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(decoded, heif_channel_interleaved);
    const int height = heif_image_get_height(decoded, heif_channel_interleaved);
    if (plane == nullptr || width <= 0 || height <= 0 || stride < width * 4)
        return unreadable();
    QImage::Format format = QImage::Format_RGBX8888;
    if (heif_image_handle_has_alpha_channel(handle))
        format = heif_image_handle_is_premultiplied_alpha(handle) ? QImage::Format_RGBA8888_Premultiplied
                                                                  : QImage::Format_RGBA8888;
    // libheif's own pixels, not a copy of them: a full-size copy of a camera picture is some 100 MB
    // more, only to be shrunk. The picture releases them when it goes.
    QImage result(
        plane, width, height, stride, format,
        [](void* pixels) { heif_image_release(static_cast<heif_image*>(pixels)); }, image.release());
    if (result.isNull())
        return unreadable();
    return result;
}

Result<ImageHeader> heifHeader(const Source& source, const QByteArray& format) {
    auto file = openHeif(source, format);
    if (!file)
        return file.error();
    return file->header;
}

// libheif (1.15) has no way to end a decoding under way: the stop is looked at between them.
Result<QImage> heifDecode(const Source& source, const QByteArray& format, int maxPixelSize,
                          const std::function<bool()>& stop) {
    const auto stopped = [&] { return stop && stop(); };
    auto file = openHeif(source, format);
    if (!file)
        return file.error();
    if (stopped())
        return Error::fromErrno(ECANCELED, source.path);
    const QSize target = ImageDecoder::boundedSize(file->header.size, maxPixelSize);
    if (target != file->header.size) {
        // The smallest embedded thumbnail that still covers the target saves decoding the full image.
        const int wanted = longerSide(target);
        const int count = heif_image_handle_get_number_of_thumbnails(file->primary.get());
        std::vector<heif_item_id> ids(size_t(std::max(count, 0)));
        if (count > 0)
            heif_image_handle_get_list_of_thumbnail_IDs(file->primary.get(), ids.data(), count);
        HeifPtr<heif_image_handle> best;
        for (heif_item_id id : ids) {
            heif_image_handle* thumb = nullptr;
            if (heif_image_handle_get_thumbnail(file->primary.get(), id, &thumb).code != heif_error_Ok)
                continue;
            HeifPtr<heif_image_handle> candidate(thumb);
            const int longer = longerSide(heifSize(thumb));
            if (longer >= wanted && (!best || longer < longerSide(heifSize(best.get()))))
                best = std::move(candidate);
        }
        if (best) {
            auto image = decodeHeifHandle(best.get());
            if (image)
                return scaledTo(*image, target);
            if (stopped())
                return Error::fromErrno(ECANCELED, source.path);
        }
    }
    auto image = decodeHeifHandle(file->primary.get());
    if (!image)
        return image.error();
    return scaledTo(*image, target);
}

// libheif reads every box of a file whole, the picture data with them: a header read from a
// camera's HEIC costs its megabytes. The boxes up to the meta box, read alone, say the size; the
// references into the data missing from them are all libheif finds wrong. None when the meta box
// does not end within the first kHeifBoxesBytes or its primary picture cannot be found.
constexpr qint64 kHeifBoxesBytes = 1 << 20;

std::optional<qint64> heifWorkingBytesFromBoxes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray head = file.read(kHeifBoxesBytes);
    qint64 metaEnd = 0;
    for (qint64 at = 0; at + 8 <= head.size() && metaEnd == 0;) {
        const qint64 size = bigEndian32(head, at);
        // A box of a 64-bit size or reaching to the end of the file is picture data.
        if (size < 8)
            return std::nullopt;
        if (head.mid(at + 4, 4) == "meta")
            metaEnd = at + size;
        at += size;
    }
    if (metaEnd == 0 || metaEnd > head.size())
        return std::nullopt;
    HeifPtr<heif_context> context(heif_context_alloc());
    if (!context)
        return std::nullopt;
    heif_context_read_from_memory_without_copy(context.get(), head.constData(), size_t(metaEnd), nullptr);
    heif_image_handle* primary = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &primary).code != heif_error_Ok)
        return std::nullopt;
    const HeifPtr<heif_image_handle> handle(primary);
    const QSize size = heifSize(primary);
    if (checkSize(size))
        return 0;
    return qint64(size.width()) * size.height() * kHeifWorkingBytesPerPixel;
}

std::atomic<int> g_heifDecodingsRunning{0};

// The HEIF decoding of a caller that has a stop: on a thread of its own, so that a process on its
// way out can leave it unfinished instead of waiting for it. Before that the caller waits for it
// as for any other decoding, since a result thrown away mid-session costs nothing more than this.
Result<QImage> heifDecodeLettingGo(const Source& source, const QByteArray& format, int maxPixelSize,
                                   const std::function<bool()>& stop) {
    struct Outcome {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<Result<QImage>> image;
        std::atomic<bool> leftBehind{false};
    };
    auto outcome = std::make_shared<Outcome>();
    g_heifDecodingsRunning.fetch_add(1);
    try {
        std::thread([outcome, source, format, maxPixelSize] {
            // Once left behind it still ends at the next point libheif lets it.
            Result<QImage> image =
                heifDecode(source, format, maxPixelSize, [&outcome] { return outcome->leftBehind.load(); });
            {
                const std::lock_guard lock(outcome->mutex);
                // Counted out before its caller can see the result, which then finds none running.
                g_heifDecodingsRunning.fetch_sub(1);
                outcome->image = std::move(image);
            }
            outcome->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        g_heifDecodingsRunning.fetch_sub(1);
        return heifDecode(source, format, maxPixelSize, stop);
    }
    constexpr auto kStopLookInterval = std::chrono::milliseconds(20);
    std::unique_lock lock(outcome->mutex);
    while (!outcome->image) {
        lock.unlock();
        if (stop() && ProcessExit::announced()) {
            outcome->leftBehind.store(true);
            return Error::fromErrno(ECANCELED, source.path);
        }
        lock.lock();
        outcome->done.wait_for(lock, kStopLookInterval, [&] { return outcome->image.has_value(); });
    }
    return std::move(*outcome->image);
}

// ---- Dispatch ---------------------------------------------------------------------------------

Result<ImageHeader> pngHeader(QSize size) {
    if (auto error = checkSize(size))
        return *error;
    ImageHeader header;
    header.size = size;
    header.format = "png";
    return header;
}

Result<QImage> pngDecode(const Source& source, QSize size, int maxPixelSize,
                         const std::function<bool()>& stop) {
    if (auto error = checkSize(size))
        return *error;
    const QSize target = ImageDecoder::boundedSize(size, maxPixelSize);
    QImage image = source.isFile() ? PngDecoder::decodeScaled(source.path, target, stop)
                                   : PngDecoder::decodeScaled(source.data, target, stop);
    if (image.isNull())
        return unreadable();
    return scaledTo(image, target);
}

Result<ImageHeader> headerOf(const Source& source) {
    initializeOnce();
    if (const QByteArray format = heifFormat(source.head); !format.isEmpty())
        return heifHeader(source, format);
    if (const auto size = PngDecoder::storedSize(source.head))
        return pngHeader(*size);
    if (mayBeRaw(source)) {
        if (auto header = rawHeader(source))
            return *header;
    }
    if (JpegDecoder::isJpeg(source.head))
        return jpegHeader(source);
    QtReader qt(source);
    if (isSvgFormat(qt.reader().format()))
        return svgHeader(source);
    return qtHeader(qt.reader());
}

// What a decoder delivers is checked again: a header may promise a small picture while the data
// that follows draws a larger one (a GIF frame or an ICO entry beyond the size the file states).
Result<QImage> fitted(Result<QImage> image, int maxPixelSize) {
    if (!image)
        return image;
    if (auto error = checkSize(image->size()))
        return *error;
    return scaledTo(*image, ImageDecoder::boundedSize(image->size(), maxPixelSize));
}

Result<QImage> decodeSource(const Source& source, int maxPixelSize, const std::function<bool()>& stop = {}) {
    initializeOnce();
    if (const QByteArray format = heifFormat(source.head); !format.isEmpty())
        return stop ? heifDecodeLettingGo(source, format, maxPixelSize, stop)
                    : heifDecode(source, format, maxPixelSize, stop);
    if (const auto size = PngDecoder::storedSize(source.head))
        return pngDecode(source, *size, maxPixelSize, stop);
    if (mayBeRaw(source)) {
        if (auto image = rawDecode(source, maxPixelSize, stop))
            return *image;
    }
    if (JpegDecoder::isJpeg(source.head))
        return jpegDecode(source, maxPixelSize, stop);
    if (source.head.startsWith("RIFF") && source.head.mid(8, 4) == "WEBP")
        return source.isFile() ? WebpDecoder::decode(source.path, maxPixelSize, stop)
                               : WebpDecoder::decode(source.data, maxPixelSize, stop);
    QtReader qt(source, stop);
    if (isSvgFormat(qt.reader().format()))
        return svgDecode(source, maxPixelSize, stop);
    return qtDecode(qt.reader(), maxPixelSize);
}

// What a stopped read gave is a picture cut off somewhere, never the image.
Result<QImage> unlessStopped(Result<QImage> image, const std::function<bool()>& stop, const QString& path) {
    if (stop && stop())
        return Error::fromErrno(ECANCELED, path);
    return image;
}

} // namespace

qint64 ImageDecoder::workingBytesOf(const QString& path) {
    const auto source = openFile(path);
    if (!source)
        return 0;
    initializeOnce();
    if (const QByteArray format = heifFormat(source->head); !format.isEmpty()) {
        if (const auto bytes = heifWorkingBytesFromBoxes(path))
            return *bytes;
        // The picture data comes first: read whole, one file at a time.
        static std::mutex oneAtATime;
        const std::lock_guard lock(oneAtATime);
        const auto header = heifHeader(*source, format);
        return header ? header->workingBytes : 0;
    }
    if (JpegDecoder::isJpeg(source->head)) {
        const auto header = jpegHeader(*source);
        return header ? header->workingBytes : 0;
    }
    return 0;
}

int ImageDecoder::decodingsLeftRunning() {
    return g_heifDecodingsRunning.load();
}

bool ImageDecoder::readsFormatOf(const QString& path) {
    const auto source = openFile(path);
    if (!source || mayBeRaw(*source))
        return false;
    const QByteArray& head = source->head;
    if (!heifFormat(head).isEmpty() || JpegDecoder::isJpeg(head) ||
        (head.startsWith("RIFF") && head.mid(8, 4) == "WEBP"))
        return true;
    QBuffer buffer;
    buffer.setData(head);
    buffer.open(QIODevice::ReadOnly);
    return !QImageReader::imageFormat(&buffer).isEmpty();
}

QSize ImageDecoder::boundedSize(QSize size, int maxPixelSize) {
    const qint64 longer = std::max(size.width(), size.height());
    if (maxPixelSize <= 0 || longer <= maxPixelSize)
        return size;
    const auto fit = [&](int side) {
        return int(std::max<qint64>(1, (side * qint64(maxPixelSize) + longer / 2) / longer));
    };
    return {fit(size.width()), fit(size.height())};
}

Result<ImageHeader> ImageDecoder::readHeader(const QString& path) {
    auto source = openFile(path);
    if (!source)
        return source.error();
    return headerOf(*source);
}

Result<ImageHeader> ImageDecoder::readHeader(const QByteArray& data) {
    return headerOf(fromData(data));
}

Result<QImage> ImageDecoder::decodeScaled(const QString& path, int maxPixelSize) {
    auto source = openFile(path);
    if (!source)
        return source.error();
    return fitted(decodeSource(*source, maxPixelSize), maxPixelSize);
}

Result<QImage> ImageDecoder::decodeScaled(const QString& path, int maxPixelSize,
                                          const std::function<bool()>& stop) {
    auto source = openFile(path);
    if (!source)
        return source.error();
    return unlessStopped(fitted(decodeSource(*source, maxPixelSize, stop), maxPixelSize), stop, path);
}

Result<QImage> ImageDecoder::decodeScaled(const QByteArray& data, int maxPixelSize) {
    return fitted(decodeSource(fromData(data), maxPixelSize), maxPixelSize);
}

Result<QImage> ImageDecoder::decodeScaled(const QByteArray& data, int maxPixelSize,
                                          const std::function<bool()>& stop) {
    return unlessStopped(fitted(decodeSource(fromData(data), maxPixelSize, stop), maxPixelSize), stop, {});
}

Result<QImage> ImageDecoder::decode(const QString& path) {
    return decodeScaled(path, 0);
}

Result<QImage> ImageDecoder::decode(const QByteArray& data) {
    return decodeScaled(data, 0);
}

} // namespace vennimo
