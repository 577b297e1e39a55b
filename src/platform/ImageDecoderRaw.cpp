#include "platform/ImageDecoderShared.h"
#include "platform/JpegDecoder.h"

#include <QFile>
#include <QFileInfo>

#include <libraw/libraw.h>

#include <cstring>
#include <memory>
#include <mutex>

namespace vennimo::image_decoding {

namespace {

bool hasRawSuffix(const QString& path) {
    static const QStringList suffixes = {QStringLiteral("dng"), QStringLiteral("cr2"), QStringLiteral("cr3"),
                                         QStringLiteral("nef"), QStringLiteral("arw"), QStringLiteral("raf"),
                                         QStringLiteral("orf"), QStringLiteral("rw2")};
    return suffixes.contains(QFileInfo(path).suffix().toLower());
}

// The LibRaw build linked here is the non-reentrant one, so calls into it take turns.
std::mutex& rawMutex() {
    static std::mutex mutex;
    return mutex;
}

// LibRaw's flip: 3 is 180°, 5 is 90° counter-clockwise, 6 is 90° clockwise.
int exifFromRawFlip(int flip) {
    return flip == 3 || flip == 6 ? flip : flip == 5 ? 8 : 1;
}

// LibRaw gives up its work at the next step when this answers nonzero.
int rawProgress(void* stop, LibRaw_progress, int, int) {
    return (*static_cast<const std::function<bool()>*>(stop))() ? 1 : 0;
}

// Opens and identifies the file; nullptr when LibRaw does not take it for a camera RAW.
std::unique_ptr<LibRaw> openRaw(const Source& source, const std::function<bool()>& stop = {}) {
    auto raw = std::make_unique<LibRaw>();
    if (stop)
        raw->set_progress_handler(rawProgress, const_cast<std::function<bool()>*>(&stop));
    // LibRaw's buffer stream only reads, despite the non-const parameter.
    const int rc = source.isFile() ? raw->open_file(QFile::encodeName(source.path).constData())
                                   : raw->open_buffer(const_cast<char*>(source.data.constData()),
                                                      size_t(source.data.size()));
    if (rc != LIBRAW_SUCCESS)
        return nullptr;
    return raw;
}

ImageHeader rawHeaderOf(const LibRaw& raw) {
    ImageHeader header;
    header.size = QSize(raw.imgdata.sizes.width, raw.imgdata.sizes.height);
    header.orientation = exifFromRawFlip(raw.imgdata.sizes.flip);
    header.format = "raw";
    return header;
}

// The preview as LibRaw hands it out: JPEG bytes, or an 8-bit RGB/grey bitmap.
struct RawPreview {
    int orientation = 1;
    QByteArray jpeg;
    QImage bitmap;
};

std::optional<Result<RawPreview>> extractRawPreview(const Source& source, const std::function<bool()>& stop) {
    std::lock_guard lock(rawMutex());
    const auto raw = openRaw(source, stop);
    if (!raw)
        return std::nullopt;
    const ImageHeader header = rawHeaderOf(*raw);
    if (auto error = checkSize(header.size))
        return Result<RawPreview>(*error);
    if (raw->unpack_thumb() != LIBRAW_SUCCESS)
        return Result<RawPreview>(unreadable());
    const auto& thumb = raw->imgdata.thumbnail;
    if (thumb.tformat == LIBRAW_THUMBNAIL_BITMAP) {
        if (auto error = checkSize(QSize(thumb.twidth, thumb.theight)))
            return Result<RawPreview>(*error);
    }
    int rc = LIBRAW_SUCCESS;
    const std::unique_ptr<libraw_processed_image_t, void (*)(libraw_processed_image_t*)> mem(
        raw->dcraw_make_mem_thumb(&rc), &LibRaw::dcraw_clear_mem);
    if (!mem || rc != LIBRAW_SUCCESS)
        return Result<RawPreview>(unreadable());

    RawPreview preview;
    preview.orientation = header.orientation;
    const auto* bytes = reinterpret_cast<const char*>(mem->data);
    if (mem->type == LIBRAW_IMAGE_JPEG) {
        preview.jpeg = QByteArray(bytes, qsizetype(mem->data_size));
        return Result<RawPreview>(std::move(preview));
    }
    const int colors = mem->colors;
    if (mem->type != LIBRAW_IMAGE_BITMAP || mem->bits != 8 || (colors != 1 && colors != 3) ||
        qint64(mem->width) * mem->height * colors > qint64(mem->data_size))
        return Result<RawPreview>(unreadable());
    if (auto error = checkSize(QSize(mem->width, mem->height)))
        return Result<RawPreview>(*error);
    QImage bitmap(mem->width, mem->height, colors == 3 ? QImage::Format_RGB888 : QImage::Format_Grayscale8);
    if (bitmap.isNull())
        return Result<RawPreview>(unreadable());
    const qsizetype rowBytes = qsizetype(mem->width) * colors;
    for (int y = 0; y < mem->height; ++y)
        std::memcpy(bitmap.scanLine(y), bytes + y * rowBytes, size_t(rowBytes));
    preview.bitmap = std::move(bitmap);
    return Result<RawPreview>(std::move(preview));
}

} // namespace

// The extension for files; for bytes, the TIFF magic that
// most RAW formats share plus the few with their own.
bool mayBeRaw(const Source& source) {
    if (source.isFile())
        return hasRawSuffix(source.path);
    const QByteArray& h = source.head;
    return h.startsWith(QByteArray("II*\0", 4)) || h.startsWith(QByteArray("MM\0*", 4)) ||
           h.startsWith("IIRO") || h.startsWith("IIRS") || h.startsWith("MMOR") ||
           h.startsWith(QByteArray("IIU\0", 4)) || h.startsWith("FUJIFILMCCD-RAW") ||
           (h.mid(4, 4) == "ftyp" && h.mid(8, 4) == "crx ");
}

std::optional<Result<ImageHeader>> rawHeader(const Source& source) {
    std::lock_guard lock(rawMutex());
    const auto raw = openRaw(source);
    if (!raw)
        return std::nullopt;
    ImageHeader header = rawHeaderOf(*raw);
    if (auto error = checkSize(header.size))
        return Result<ImageHeader>(*error);
    return Result<ImageHeader>(header);
}

std::optional<Result<QImage>> rawDecode(const Source& source, int maxPixelSize,
                                        const std::function<bool()>& stop) {
    auto extracted = extractRawPreview(source, stop);
    if (!extracted)
        return std::nullopt;
    if (!extracted->ok())
        return Result<QImage>(extracted->error());
    RawPreview& preview = extracted->value();
    QImage image;
    if (!preview.jpeg.isEmpty()) {
        // Decoded outside the LibRaw lock, as any JPEG is, and held to the same bounds and stop.
        // LibRaw's flip is the orientation that counts; EXIF inside the preview, if any, is ignored.
        auto decoded = JpegDecoder::decode(preview.jpeg, maxPixelSize, stop);
        if (!decoded)
            return decoded;
        image = *decoded;
    } else {
        image = scaledTo(preview.bitmap, ImageDecoder::boundedSize(preview.bitmap.size(), maxPixelSize));
    }
    return Result<QImage>(oriented(image, preview.orientation));
}

} // namespace vennimo::image_decoding
