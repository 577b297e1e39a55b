#include "platform/WebpDecoder.h"

#include "platform/FileDescriptor.h"
#include "platform/ImageDecoderShared.h"

#include <QColorSpace>
#include <QFile>
#include <QPainter>

#include <webp/decode.h>
#include <webp/demux.h>

#include <algorithm>
#include <atomic>
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
// The decoder gets the compressed data in pieces sized so that each takes about kPieceTime: a
// lossless picture can spell millions of pixels in a few bytes, so the first pieces are small
// and grow only while they decode quickly.
constexpr size_t kFirstPieceBytes = 64;
constexpr size_t kSmallestPieceBytes = 16;
constexpr size_t kLargestPieceBytes = 64 << 10;
constexpr auto kPieceTime = std::chrono::milliseconds(10);

constexpr qsizetype kIccHeaderBytes = 128;
// A lossless picture refers back to any pixel decoded before, so libwebp holds all of it at its
// full size, four bytes a pixel, whatever size it is decoded to (less for a palette, which libwebp
// does not tell before decoding). Beyond this many pixels that alone would pass the
// 300 MB one decoding may take.
constexpr qint64 kMaxLosslessPixels = 75'000'000;
// WebPBitstreamFeatures::format of a lossless bitstream.
constexpr int kLosslessFormat = 2;

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

constexpr qsizetype kChunkHeaderBytes = 8;
constexpr qsizetype kRiffHeaderBytes = 12;
// libwebp takes no chunk larger than this (MAX_CHUNK_PAYLOAD).
constexpr quint32 kLargestChunkBytes = ~0u - kChunkHeaderBytes - 1;

std::atomic<quint64> g_demuxedBytes{0};

quint32 littleEndian32(const char* p) {
    const auto* u = reinterpret_cast<const uchar*>(p);
    return quint32(u[0]) | quint32(u[1]) << 8 | quint32(u[2]) << 16 | quint32(u[3]) << 24;
}

// The input read front to back, each byte once: what was stepped over or taken is let go before
// more is read, so that what is held is a slice and the chunks kept.
class ChunkStream {
public:
    ChunkStream(QByteArray& data, const ReadMore& readMore, const std::function<bool()>& stop)
        : m_data(data)
        , m_readMore(readMore)
        , m_stop(stop) {}

    // Whether `count` bytes lie ready at data(); false at the end of the input or at a stop.
    bool have(qsizetype count) {
        if (m_data.size() - m_at >= count)
            return true;
        m_data.remove(0, m_at);
        m_at = 0;
        while (m_data.size() < count) {
            if (m_stop && m_stop()) {
                m_stopped = true;
                return false;
            }
            if (!m_readMore(m_data))
                return false;
        }
        return true;
    }
    const char* data() const { return m_data.constData() + m_at; }
    void advance(qsizetype count) { m_at += count; }
    // Steps over `count` bytes, read but not held.
    bool skip(qint64 count) {
        while (m_data.size() - m_at < count) {
            count -= m_data.size() - m_at;
            m_at = m_data.size();
            if (!have(1))
                return false;
        }
        m_at += qsizetype(count);
        return true;
    }
    bool stopped() const { return m_stopped; }

private:
    QByteArray& m_data;
    const ReadMore& m_readMore;
    const std::function<bool()>& m_stop;
    qsizetype m_at = 0;
    bool m_stopped = false;
};

enum class Kept { Frame, Chunk, Skipped };

// What a chunk of the container is to the first frame: the end of it, a chunk the demuxer needs
// before it (canvas, colour profile, animation, alpha), or one to step over (metadata, and the
// unknown chunks the format lets come in any number).
Kept kindOf(const char* fourCc, bool extended) {
    const QByteArrayView id(fourCc, 4);
    if (id == "VP8 " || id == "VP8L" || (extended && id == "ANMF"))
        return Kept::Frame;
    if (id == "ALPH" || (extended && (id == "ICCP" || id == "ANIM")))
        return Kept::Chunk;
    return Kept::Skipped;
}

// The container cut down to what holds the first frame whole, each byte of the input looked at
// once; an animation's later frames are never read. Without the chunks that were stepped over it
// costs libwebp's parser no more than the frame does.
Result<QByteArray> firstFrameContainer(QByteArray& data, const ReadMore& readMore,
                                       const std::function<bool()>& stop, const QString& path) {
    ChunkStream input(data, readMore, stop);
    const auto failed = [&input, &path]() -> Result<QByteArray> {
        if (input.stopped())
            return Error::fromErrno(ECANCELED, path);
        return image_decoding::unreadable();
    };
    if (!input.have(kRiffHeaderBytes + kChunkHeaderBytes))
        return failed();
    if (QByteArrayView(input.data(), 4) != "RIFF" || QByteArrayView(input.data() + 8, 4) != "WEBP")
        return image_decoding::unreadable();
    const quint32 riffSize = littleEndian32(input.data() + 4);
    if (riffSize < quint32(kChunkHeaderBytes) || riffSize > kLargestChunkBytes)
        return image_decoding::unreadable();
    const qint64 riffEnd = qint64(riffSize) + kChunkHeaderBytes;
    const bool extended = QByteArrayView(input.data() + kRiffHeaderBytes, 4) == "VP8X";
    QByteArray kept(input.data(), kRiffHeaderBytes);
    input.advance(kRiffHeaderBytes);
    qint64 at = kRiffHeaderBytes;
    bool first = true;
    for (;;) {
        if (at + kChunkHeaderBytes > riffEnd || !input.have(kChunkHeaderBytes))
            return failed();
        const quint32 size = littleEndian32(input.data() + 4);
        if (size > kLargestChunkBytes)
            return image_decoding::unreadable();
        const qint64 padded = qint64(size) + (size & 1);
        if (at + kChunkHeaderBytes + padded > riffEnd)
            return image_decoding::unreadable();
        const Kept kind = first && extended ? Kept::Chunk : kindOf(input.data(), extended);
        // A simple file is its frame and nothing before it.
        if (kind == Kept::Skipped && !extended)
            return image_decoding::unreadable();
        first = false;
        at += kChunkHeaderBytes + padded;
        if (kind == Kept::Skipped) {
            input.advance(kChunkHeaderBytes);
            if (!input.skip(padded))
                return failed();
            continue;
        }
        if (!input.have(kChunkHeaderBytes + qsizetype(padded)))
            return failed();
        kept.append(input.data(), kChunkHeaderBytes + qsizetype(padded));
        input.advance(kChunkHeaderBytes + qsizetype(padded));
        if (kind == Kept::Frame) {
            const quint32 keptSize = quint32(kept.size() - kChunkHeaderBytes);
            for (int i = 0; i < 4; ++i)
                kept[4 + i] = char(keptSize >> (8 * i) & 0xff);
            // What was read is held once, in what was kept, while the frame is decoded.
            data.clear();
            return kept;
        }
    }
}

// The demuxer over the first frame's container (which it points into, so that must outlive it).
Result<Demuxer> demuxFirstFrame(const QByteArray& container) {
    g_demuxedBytes += quint64(container.size());
    const WebPData input{reinterpret_cast<const uint8_t*>(container.constData()), size_t(container.size())};
    WebPDemuxState state = WEBP_DEMUX_PARSING_HEADER;
    Demuxer demuxer(WebPDemuxPartial(&input, &state));
    if (!demuxer || state == WEBP_DEMUX_PARSE_ERROR)
        return image_decoding::unreadable();
    WebPIterator frame{};
    if (!WebPDemuxGetFrame(demuxer.get(), 1, &frame))
        return image_decoding::unreadable();
    const bool complete = frame.complete != 0;
    WebPDemuxReleaseIterator(&frame);
    if (!complete)
        return image_decoding::unreadable();
    return demuxer;
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

bool everyPixelOpaque(const QImage& image) {
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        if (!std::all_of(row, row + image.width(), [](QRgb pixel) { return qAlpha(pixel) == 0xff; }))
            return false;
    }
    return true;
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
    const auto container = firstFrameContainer(data, readMore, stop, path);
    if (!container)
        return container.error();
    auto demuxer = demuxFirstFrame(*container);
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
    WebPBitstreamFeatures features{};
    if (WebPGetFeatures(frame.fragment.bytes, frame.fragment.size, &features) != VP8_STATUS_OK)
        return image_decoding::unreadable();
    if (features.format == kLosslessFormat && qint64(frame.width) * frame.height > kMaxLosslessPixels)
        return image_decoding::unreadable();
    const QSize target = ImageDecoder::boundedSize(canvas, maxPixelSize);
    const QRect placed = scaledFrameRect(frame, canvas, target);
    if (placed.isEmpty())
        return image_decoding::unreadable();
    // A first frame short of the canvas leaves the rest of it transparent, as a player shows it.
    const bool covers = placed == QRect(QPoint(), target);
    const bool alpha = frame.has_alpha != 0 || (flags & ALPHA_FLAG) != 0 || !covers;
    // A lossless picture that says it is opaque still draws transparent black where an index lies
    // outside its palette, as libwebp gives it: it is decoded with its alpha, and is opaque only
    // when every pixel is.
    const bool lossless = features.format == kLosslessFormat;
    const QImage::Format format = alpha ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    QImage pixels(placed.size(), alpha || lossless ? QImage::Format_ARGB32_Premultiplied : format);
    if (pixels.isNull())
        return image_decoding::unreadable();
    auto decoded = decodeFrame(frame, std::move(pixels), stop, path);
    if (!decoded)
        return decoded;
    QImage image = std::move(*decoded);
    if (image.format() != format && everyPixelOpaque(image))
        image.reinterpretAsFormat(format);
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

quint64 WebpDecoder::demuxedBytesForTesting() {
    return g_demuxedBytes.load();
}

Result<QImage> WebpDecoder::decode(const QString& path, int maxPixelSize, const std::function<bool()>& stop) {
    const FileDescriptor fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0)
        return Error::fromErrno(errno, path);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return image_decoding::unreadable();
    QByteArray data;
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
