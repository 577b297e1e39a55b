#include "platform/WebpDecoder.h"

#include "platform/FileDescriptor.h"
#include "platform/ImageDecoderShared.h"

#include <QFile>

#include <webp/decode.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace vennimo {

namespace {

// Small enough that the stop is asked every few milliseconds of decoding.
constexpr qsizetype kSliceBytes = 32 << 10;

struct IncrementalDeleter {
    void operator()(WebPIDecoder* decoder) const { WebPIDelete(decoder); }
};

// Gives the next slice of the data: a file's next bytes, to be copied, or for bytes in memory all
// of them up to the slice's end; false at the end of the data or on a read error.
using NextSlice = std::function<bool(const uint8_t** at, size_t* size, bool* copy)>;

std::optional<Result<QImage>> decodeSlices(const QByteArray& head, int maxPixelSize,
                                           const std::function<bool()>& stop, const NextSlice& next,
                                           const QString& path) {
    WebPBitstreamFeatures features{};
    if (WebPGetFeatures(reinterpret_cast<const uint8_t*>(head.constData()), size_t(head.size()), &features) !=
        VP8_STATUS_OK)
        return std::nullopt;
    if (features.has_animation)
        return std::nullopt;
    const QSize size(features.width, features.height);
    if (auto error = image_decoding::checkSize(size))
        return Result<QImage>(*error);
    QImage image(size, features.has_alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull())
        return Result<QImage>(image_decoding::unreadable());
    WebPDecBuffer output{};
    WebPInitDecBuffer(&output);
    output.colorspace = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? MODE_BGRA : MODE_ARGB;
    output.is_external_memory = 1;
    output.u.RGBA.rgba = image.bits();
    output.u.RGBA.stride = int(image.bytesPerLine());
    output.u.RGBA.size = size_t(image.sizeInBytes());
    const std::unique_ptr<WebPIDecoder, IncrementalDeleter> decoder(WebPINewDecoder(&output));
    if (!decoder)
        return Result<QImage>(image_decoding::unreadable());
    for (;;) {
        if (stop && stop())
            return Result<QImage>(Error::fromErrno(ECANCELED, path));
        const uint8_t* at = nullptr;
        size_t length = 0;
        bool copy = false;
        if (!next(&at, &length, &copy))
            return Result<QImage>(image_decoding::unreadable());
        const VP8StatusCode status =
            copy ? WebPIAppend(decoder.get(), at, length) : WebPIUpdate(decoder.get(), at, length);
        if (status == VP8_STATUS_OK)
            break;
        if (status != VP8_STATUS_SUSPENDED)
            return Result<QImage>(image_decoding::unreadable());
    }
    return Result<QImage>(image_decoding::scaledTo(image, ImageDecoder::boundedSize(size, maxPixelSize)));
}

} // namespace

std::optional<Result<QImage>> WebpDecoder::decode(const QString& path, const QByteArray& head,
                                                  int maxPixelSize, const std::function<bool()>& stop) {
    const FileDescriptor fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0)
        return Result<QImage>(Error::fromErrno(errno, path));
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return Result<QImage>(image_decoding::unreadable());
    QByteArray slice(kSliceBytes, Qt::Uninitialized);
    return decodeSlices(
        head, maxPixelSize, stop,
        [&](const uint8_t** at, size_t* length, bool* copy) {
            ssize_t n = 0;
            do
                n = ::read(fd.get(), slice.data(), size_t(slice.size()));
            while (n < 0 && errno == EINTR);
            *at = reinterpret_cast<const uint8_t*>(slice.constData());
            *length = size_t(std::max<ssize_t>(n, 0));
            *copy = true;
            return n > 0;
        },
        path);
}

std::optional<Result<QImage>> WebpDecoder::decode(const QByteArray& data, int maxPixelSize,
                                                  const std::function<bool()>& stop) {
    qsizetype given = 0;
    return decodeSlices(data.left(512), maxPixelSize, stop,
                        [&](const uint8_t** at, size_t* length, bool* copy) {
                            if (given >= data.size())
                                return false;
                            given = std::min(given + kSliceBytes, data.size());
                            *at = reinterpret_cast<const uint8_t*>(data.constData());
                            *length = size_t(given);
                            *copy = false;
                            return true;
                        },
                        {});
}

} // namespace vennimo
