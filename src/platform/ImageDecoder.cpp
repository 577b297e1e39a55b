#include "platform/ImageDecoder.h"

#include "platform/ImageDecoderShared.h"
#include "platform/JpegDecoder.h"
#include "platform/PngDecoder.h"
#include "platform/WebpDecoder.h"

#include <QBuffer>
#include <QColorSpace>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QTransform>

#include <libheif/heif.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

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

// ---- Dispatch ---------------------------------------------------------------------------------

Result<ImageHeader> pngHeader(const Source& source, QSize size) {
    if (auto error = checkSize(size))
        return *error;
    const qint64 fileBytes = source.isFile() ? QFileInfo(source.path).size() : source.data.size();
    if (PngDecoder::tooCostly(PngDecoder::storedDataBytes(source.head), fileBytes))
        return tooLarge();
    ImageHeader header;
    header.size = size;
    header.format = "png";
    return header;
}

Result<QImage> pngDecode(const Source& source, QSize size, int maxPixelSize,
                         const std::function<bool()>& stop) {
    if (auto header = pngHeader(source, size); !header)
        return header.error();
    const QSize target = ImageDecoder::boundedSize(size, maxPixelSize);
    QImage image = source.isFile() ? PngDecoder::decodeScaled(source.path, target, stop)
                                   : PngDecoder::decodeScaled(source.data, target, stop);
    if (image.isNull())
        return unreadable();
    return scaledTo(image, target);
}

Result<ImageHeader> headerOf(const Source& source, const std::function<bool()>& stop = {}) {
    initializeOnce();
    if (const QByteArray format = heifFormat(source.head); !format.isEmpty())
        return heifHeader(source, format);
    if (const auto size = PngDecoder::storedSize(source.head))
        return pngHeader(source, *size);
    if (mayBeRaw(source)) {
        if (auto header = rawHeader(source))
            return *header;
    }
    if (JpegDecoder::isJpeg(source.head))
        return jpegHeader(source, stop);
    QtReader qt(source);
    if (isSvgFormat(qt.reader().format()))
        return svgHeader(source, stop);
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

qint64 ImageDecoder::workingBytesOf(const QString& path, const std::function<bool()>& stop) {
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
        const auto header = jpegHeader(*source, stop);
        return header ? header->workingBytes : 0;
    }
    return 0;
}

int ImageDecoder::decodingsLeftRunning() {
    return heifDecodingsRunning();
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

Result<ImageHeader> ImageDecoder::readHeader(const QString& path, const std::function<bool()>& stop) {
    auto source = openFile(path);
    if (!source)
        return source.error();
    return headerOf(*source, stop);
}

Result<ImageHeader> ImageDecoder::readHeader(const QByteArray& data, const std::function<bool()>& stop) {
    return headerOf(fromData(data), stop);
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
