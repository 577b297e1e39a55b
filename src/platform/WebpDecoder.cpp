#include "platform/WebpDecoder.h"

#include "platform/FileDescriptor.h"
#include "platform/ImageDecoderShared.h"

#include <QColorSpace>
#include <QFile>
#include <QPainter>

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace vennimo {

namespace {

// A file is read this much at a time, the stop asked before each read.
constexpr qsizetype kReadSliceBytes = 64 << 10;
constexpr off_t kReserveBytes = off_t(256) << 20;
// The decoder gets the compressed data in pieces sized so that each takes about kPieceTime: a
// lossless picture can spell millions of pixels in a few bytes, so the first pieces are small
// and grow only while they decode quickly.
constexpr size_t kFirstPieceBytes = 64;
constexpr size_t kSmallestPieceBytes = 16;
constexpr size_t kLargestPieceBytes = 64 << 10;
constexpr auto kPieceTime = std::chrono::milliseconds(10);

constexpr qsizetype kIccHeaderBytes = 128;

struct DemuxDeleter {
    void operator()(WebPDemuxer* demuxer) const { WebPDemuxDelete(demuxer); }
};
using Demuxer = std::unique_ptr<WebPDemuxer, DemuxDeleter>;

struct IncrementalDeleter {
    void operator()(WebPIDecoder* decoder) const { WebPIDelete(decoder); }
};

Result<QImage> cancelled(const QString& path) {
    return Error::fromErrno(ECANCELED, path);
}

// Appends the next bytes of the input to `data`; false once there are none (or they cannot be read).
using ReadMore = std::function<bool(QByteArray& data)>;

// The demuxer over as much of the data as holds the first frame whole, everything before it (the
// colour profile) included; an animation's later frames are never read.
Result<Demuxer> demuxFirstFrame(QByteArray& data, const ReadMore& readMore, const std::function<bool()>& stop,
                                const QString& path) {
    // libwebp takes no data at all for a parse error.
    while (data.isEmpty()) {
        if (!readMore(data))
            return image_decoding::unreadable();
    }
    for (;;) {
        const WebPData input{reinterpret_cast<const uint8_t*>(data.constData()), size_t(data.size())};
        WebPDemuxState state = WEBP_DEMUX_PARSING_HEADER;
        Demuxer demuxer(WebPDemuxPartial(&input, &state));
        if (state == WEBP_DEMUX_PARSE_ERROR)
            return image_decoding::unreadable();
        WebPIterator frame{};
        if (demuxer && WebPDemuxGetFrame(demuxer.get(), 1, &frame)) {
            const bool complete = frame.complete != 0;
            WebPDemuxReleaseIterator(&frame);
            if (complete)
                return demuxer;
        }
        if (stop && stop())
            return Error::fromErrno(ECANCELED, path);
        if (!readMore(data))
            return image_decoding::unreadable();
    }
}

// One frame's compressed data decoded into `image` (its size the frame's, or smaller when scaled),
// in pieces with the stop asked between them.
Result<QImage> decodeFrame(const WebPIterator& frame, QImage image, const std::function<bool()>& stop,
                           const QString& path) {
    WebPDecoderConfig config;
    if (!WebPInitDecoderConfig(&config))
        return image_decoding::unreadable();
    if (image.size() != QSize(frame.width, frame.height)) {
        config.options.use_scaling = 1;
        config.options.scaled_width = image.width();
        config.options.scaled_height = image.height();
    }
    const bool premultiplied = image.format() == QImage::Format_ARGB32_Premultiplied;
    if constexpr (Q_BYTE_ORDER == Q_LITTLE_ENDIAN)
        config.output.colorspace = premultiplied ? MODE_bgrA : MODE_BGRA;
    else
        config.output.colorspace = premultiplied ? MODE_Argb : MODE_ARGB;
    config.output.is_external_memory = 1;
    config.output.u.RGBA.rgba = image.bits();
    config.output.u.RGBA.stride = int(image.bytesPerLine());
    config.output.u.RGBA.size = size_t(image.sizeInBytes());
    const std::unique_ptr<WebPIDecoder, IncrementalDeleter> decoder(WebPIDecode(nullptr, 0, &config));
    if (!decoder)
        return image_decoding::unreadable();
    const size_t total = frame.fragment.size;
    size_t given = 0;
    size_t piece = kFirstPieceBytes;
    for (;;) {
        if (stop && stop())
            return cancelled(path);
        given = std::min(total, given + piece);
        const auto started = std::chrono::steady_clock::now();
        const VP8StatusCode status = WebPIUpdate(decoder.get(), frame.fragment.bytes, given);
        const auto took = std::chrono::steady_clock::now() - started;
        if (status == VP8_STATUS_OK)
            return image;
        if (status != VP8_STATUS_SUSPENDED || given == total)
            return image_decoding::unreadable();
        if (took > kPieceTime)
            piece = std::max(kSmallestPieceBytes, piece / 4);
        else if (took < kPieceTime / 4)
            piece = std::min(kLargestPieceBytes, piece * 2);
    }
}

// Where a frame lands once the canvas is scaled to `target`.
QRect scaledFrameRect(const WebPIterator& frame, QSize canvas, QSize target) {
    if (canvas == target)
        return {frame.x_offset, frame.y_offset, frame.width, frame.height};
    const auto scale = [](int at, int from, int to) { return int((qint64(at) * to + from / 2) / from); };
    const int left = scale(frame.x_offset, canvas.width(), target.width());
    const int top = scale(frame.y_offset, canvas.height(), target.height());
    const int right = std::max(left + 1, scale(frame.x_offset + frame.width, canvas.width(), target.width()));
    const int bottom =
        std::max(top + 1, scale(frame.y_offset + frame.height, canvas.height(), target.height()));
    return QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)).intersected(QRect(QPoint(), target));
}

Result<QImage> decodeData(QByteArray& data, const ReadMore& readMore, int maxPixelSize,
                          const std::function<bool()>& stop, const QString& path) {
    auto demuxer = demuxFirstFrame(data, readMore, stop, path);
    if (!demuxer)
        return demuxer.error();
    WebPDemuxer* demux = demuxer->get();
    const QSize canvas(int(WebPDemuxGetI(demux, WEBP_FF_CANVAS_WIDTH)),
                       int(WebPDemuxGetI(demux, WEBP_FF_CANVAS_HEIGHT)));
    if (auto error = image_decoding::checkSize(canvas))
        return *error;
    const quint32 flags = WebPDemuxGetI(demux, WEBP_FF_FORMAT_FLAGS);
    WebPIterator frame{};
    if (!WebPDemuxGetFrame(demux, 1, &frame))
        return image_decoding::unreadable();
    const std::unique_ptr<WebPIterator, decltype(&WebPDemuxReleaseIterator)> frameHeld(
        &frame, WebPDemuxReleaseIterator);
    const QSize target = ImageDecoder::boundedSize(canvas, maxPixelSize);
    const QRect placed = scaledFrameRect(frame, canvas, target);
    if (placed.isEmpty())
        return image_decoding::unreadable();
    // A first frame short of the canvas leaves the rest of it transparent, as a player shows it.
    const bool covers = placed == QRect(QPoint(), target);
    const bool alpha = frame.has_alpha != 0 || (flags & ALPHA_FLAG) != 0 || !covers;
    const QImage::Format format = alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    QImage pixels(placed.size(), format);
    if (pixels.isNull())
        return image_decoding::unreadable();
    auto decoded = decodeFrame(frame, std::move(pixels), stop, path);
    if (!decoded)
        return decoded;
    QImage image = std::move(*decoded);
    if (!covers) {
        QImage whole(target, format);
        if (whole.isNull())
            return image_decoding::unreadable();
        whole.fill(Qt::transparent);
        QPainter painter(&whole);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(placed.topLeft(), image);
        painter.end();
        image = std::move(whole);
    }
    if ((flags & ICCP_FLAG) != 0) {
        WebPChunkIterator chunk{};
        if (WebPDemuxGetChunk(demux, "ICCP", 1, &chunk)) {
            const QByteArray profile(reinterpret_cast<const char*>(chunk.chunk.bytes),
                                     qsizetype(chunk.chunk.size));
            WebPDemuxReleaseChunkIterator(&chunk);
            // Qt warns about what is plainly no profile; such a chunk is left out without a word.
            if (profile.size() >= kIccHeaderBytes && profile.mid(36, 4) == "acsp") {
                const QColorSpace space = QColorSpace::fromIccProfile(profile);
                if (space.isValid())
                    image.setColorSpace(space);
            }
        }
    }
    return image;
}

} // namespace

Result<QImage> WebpDecoder::decode(const QString& path, int maxPixelSize, const std::function<bool()>& stop) {
    const FileDescriptor fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0)
        return Error::fromErrno(errno, path);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return image_decoding::unreadable();
    QByteArray data;
    // Grown by a slice at a time; room for the whole file up front (a bound for what lies about
    // its size) saves copying it over and over.
    data.reserve(qsizetype(std::min<off_t>(st.st_size, kReserveBytes)));
    const ReadMore readMore = [&fd](QByteArray& bytes) {
        const qsizetype had = bytes.size();
        bytes.resize(had + kReadSliceBytes);
        ssize_t n = 0;
        do
            n = ::read(fd.get(), bytes.data() + had, size_t(kReadSliceBytes));
        while (n < 0 && errno == EINTR);
        bytes.resize(had + std::max<qsizetype>(n, 0));
        return n > 0;
    };
    return decodeData(data, readMore, maxPixelSize, stop, path);
}

Result<QImage> WebpDecoder::decode(const QByteArray& data, int maxPixelSize,
                                   const std::function<bool()>& stop) {
    QByteArray whole = data;
    return decodeData(whole, [](QByteArray&) { return false; }, maxPixelSize, stop, {});
}

} // namespace vennimo
