#include "platform/JpegMarkerWalk.h"

#include "platform/FileDescriptor.h"
#include "platform/ImageDecoderShared.h"

#include <QFile>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vennimo {

namespace {

constexpr uchar kMarker = 0xFF;
// Scan data is looked through this much at a time; segments are read whole, at most 64 KiB.
constexpr qsizetype kChunkBytes = 64 << 10;
constexpr qsizetype kWindowBytes = 2 * kChunkBytes;
// libjpeg's own limits: JPEG_MAX_DIMENSION, MAX_COMPONENTS, MAX_COMPS_IN_SCAN, MAX_SAMP_FACTOR.
constexpr int kMaxDimension = 65500;
constexpr int kMaxComponents = 10;
constexpr int kMaxComponentsInScan = 4;
constexpr int kMaxSampling = 4;
constexpr qint64 kBlockBytes = 64 * 2;
constexpr qsizetype kExifSignatureBytes = 6;

// The bytes of a file or of memory at any offset, a file read through a window so that stepping
// over a segment costs nothing and looking at one costs one read.
class WalkBytes {
public:
    explicit WalkBytes(const QByteArray& data)
        : m_data(reinterpret_cast<const uchar*>(data.constData()))
        , m_size(data.size()) {}
    explicit WalkBytes(int fd)
        : m_fd(fd)
        , m_window(kWindowBytes, Qt::Uninitialized) {}

    // Up to `count` (at most kWindowBytes) bytes from `offset`: fewer only where the data ends.
    qsizetype at(qint64 offset, qsizetype count, const uchar** bytes) {
        if (m_fd < 0)
            return inMemory(offset, count, bytes);
        if (offset < m_start || (offset + count > m_start + m_filled && !m_ended))
            fill(offset);
        return clipped(offset, count, bytes);
    }

    // Whatever follows `offset` without another read, and a read's worth when nothing does.
    qsizetype span(qint64 offset, const uchar** bytes) {
        if (m_fd < 0)
            return inMemory(offset, kChunkBytes, bytes);
        if (offset < m_start || offset >= m_start + m_filled)
            fill(offset);
        return clipped(offset, kWindowBytes, bytes);
    }

    int byteAt(qint64 offset) {
        const uchar* b = nullptr;
        return at(offset, 1, &b) == 1 ? *b : -1;
    }

private:
    qsizetype inMemory(qint64 offset, qsizetype count, const uchar** bytes) const {
        if (offset >= m_size)
            return 0;
        *bytes = m_data + offset;
        return std::min<qint64>(count, m_size - offset);
    }

    qsizetype clipped(qint64 offset, qsizetype count, const uchar** bytes) const {
        if (offset >= m_start + m_filled)
            return 0;
        *bytes = reinterpret_cast<const uchar*>(m_window.constData()) + (offset - m_start);
        return std::min<qint64>(count, m_start + m_filled - offset);
    }

    void fill(qint64 offset) {
        m_start = offset;
        m_filled = 0;
        m_ended = false;
        while (m_filled < kWindowBytes) {
            const ssize_t n = ::pread(m_fd, m_window.data() + m_filled, size_t(kWindowBytes - m_filled),
                                      off_t(offset + m_filled));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                m_ended = true;
                return;
            }
            m_filled += n;
        }
    }

    const uchar* m_data = nullptr;
    qint64 m_size = 0;
    int m_fd = -1;
    QByteArray m_window;
    qint64 m_start = 0;
    qsizetype m_filled = 0;
    bool m_ended = false;
};

struct Component {
    int id = 0;
    int h = 1;
    int v = 1;
    // Blocks as libjpeg keeps them: each way a whole number of the component's sampling factor.
    qint64 blocks = 0;
};

quint32 bigEndian16(const uchar* b) {
    return quint32(b[0]) << 8 | b[1];
}

// The orientation tag of IFD0 in an EXIF block's TIFF data; 1 when there is none that makes sense.
int exifOrientation(const uchar* tiff, qsizetype size) {
    if (size < 8)
        return 1;
    const bool little = tiff[0] == 'I' && tiff[1] == 'I';
    if (!little && !(tiff[0] == 'M' && tiff[1] == 'M'))
        return 1;
    const auto u16 = [&](qint64 at) {
        return little ? quint32(tiff[at]) | quint32(tiff[at + 1]) << 8 : bigEndian16(tiff + at);
    };
    const auto u32 = [&](qint64 at) {
        return little ? u16(at) | u16(at + 2) << 16 : u16(at) << 16 | u16(at + 2);
    };
    if (u16(2) != 42)
        return 1;
    const qint64 ifd = u32(4);
    if (ifd + 2 > size)
        return 1;
    const qint64 count = u16(ifd);
    for (qint64 i = 0; i < count && ifd + 2 + 12 * (i + 1) <= size; ++i) {
        const qint64 entry = ifd + 2 + 12 * i;
        if (u16(entry) != 0x0112)
            continue;
        const quint32 value = u16(entry + 8);
        return u16(entry + 2) == 3 && value >= 1 && value <= 8 ? int(value) : 1;
    }
    return 1;
}

bool isFrame(int code) {
    return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

// The frames libjpeg decodes: baseline, extended and progressive, Huffman or arithmetic coded.
bool isDecodableFrame(int code) {
    return code == 0xC0 || code == 0xC1 || code == 0xC2 || code == 0xC9 || code == 0xCA;
}

class Walk {
public:
    Walk(WalkBytes& bytes, JpegMarkerWalk::Reach reach, const JpegMarkerWalk::Stop& stop)
        : m_bytes(bytes)
        , m_reach(reach)
        , m_stop(stop) {}

    Result<JpegLayout> run() {
        const uchar* head = nullptr;
        if (m_bytes.at(0, 2, &head) < 2 || head[0] != kMarker || head[1] != 0xD8)
            return image_decoding::unreadable();
        qint64 pos = 2;
        for (;;) {
            // A stop is looked at once a chunk's worth of data has been looked through.
            if (m_stop && m_sinceStop >= kChunkBytes) {
                m_sinceStop = 0;
                if (m_stop())
                    return Error::fromErrno(ECANCELED);
            }
            // Bytes before a marker are skipped, 0xFF repeats as fill, and inside a scan's data
            // 0xFF 0x00 and the restart markers belong to the data.
            const uchar* span = nullptr;
            const qsizetype got = m_bytes.span(pos, &span);
            if (got == 0)
                return ended();
            const void* found = std::memchr(span, kMarker, size_t(got));
            const qint64 at = found != nullptr ? pos + (static_cast<const uchar*>(found) - span) : pos + got;
            if (lookedPast(at - pos))
                return ended();
            if (found == nullptr) {
                pos = at;
                continue;
            }
            qint64 marker = at;
            int code = m_bytes.byteAt(marker + 1);
            for (qint64 run = 1; code == kMarker && run < kChunkBytes; ++run)
                code = m_bytes.byteAt(++marker + 1);
            if (code == kMarker) {
                // A long run of fill: looked at again from where it got to, after the stop.
                if (lookedPast(marker - at))
                    return ended();
                pos = marker;
                continue;
            }
            if (code < 0)
                return ended();
            // The marker and what precedes it, or the two bytes of a segment's length besides.
            const bool segment = !(code == 0x00 || code == 0x01 || code == 0xD8 ||
                                   (code >= 0xD0 && code <= 0xD7) || code == 0xD9);
            if (lookedPast(marker + (segment ? 4 : 2) - at))
                return ended();
            if (!segment) {
                // Stuffed bytes and restart markers are scan data too, however little lies between.
                if (code == 0xD9)
                    return ended();
                pos = marker + 2;
                continue;
            }
            const uchar* lengthBytes = nullptr;
            if (m_bytes.at(marker + 2, 2, &lengthBytes) < 2)
                return ended();
            const qint64 length = bigEndian16(lengthBytes);
            // libjpeg refuses a segment shorter than its length field.
            if (length < 2 || ++m_segments > JpegDecoder::kMaxSegments)
                return image_decoding::unreadable();
            pos = marker + 2 + length;
            const qint64 bodyAt = marker + 4, size = length - 2;
            // Only the EXIF block's body is read of the APP1 segments: XMP and its extensions share
            // the marker, and come to megabytes in some photos.
            if (code == 0xE1 && (m_exifSeen || size < kExifSignatureBytes))
                continue;
            if (code == 0xE1) {
                const uchar* signature = nullptr;
                if (m_bytes.at(bodyAt, kExifSignatureBytes, &signature) < kExifSignatureBytes)
                    return ended();
                if (lookedPast(kExifSignatureBytes))
                    return ended();
                if (std::memcmp(signature, "Exif\0\0", kExifSignatureBytes) != 0)
                    continue;
            } else if (!isFrame(code) && code != 0xDA) {
                continue;
            }
            const uchar* body = nullptr;
            if (m_bytes.at(bodyAt, qsizetype(size), &body) < size)
                return ended();
            if (lookedPast(code == 0xE1 ? size - kExifSignatureBytes : size))
                return ended();
            if (code == 0xE1) {
                m_exifSeen = true;
                m_layout.orientation =
                    exifOrientation(body + kExifSignatureBytes, size - kExifSignatureBytes);
                continue;
            }
            const Result<bool> done = isFrame(code) ? frame(code, body, size) : scan(body, size);
            if (!done)
                return done.error();
            if (*done)
                return m_layout;
        }
    }

private:
    // Counts `bytes` more looked through, whatever they are: fill, segments read, scan data. True
    // once a header read has looked through as much as it may.
    bool lookedPast(qint64 bytes) {
        m_sinceStop += bytes;
        return (m_lookedBytes += bytes) > JpegDecoder::kScanCountBytes &&
               m_reach == JpegMarkerWalk::Reach::header;
    }

    // The data ends (or its end marker comes): what was seen is the picture if a scan began.
    Result<JpegLayout> ended() const {
        if (m_layout.scans == 0)
            return image_decoding::unreadable();
        return m_layout;
    }

    Result<bool> frame(int code, const uchar* body, qint64 size) {
        if (!m_components.empty() || !isDecodableFrame(code) || size < 6)
            return image_decoding::unreadable();
        const int precision = body[0];
        const int height = int(bigEndian16(body + 1)), width = int(bigEndian16(body + 3));
        const int count = body[5];
        if (precision != 8 || height < 1 || width < 1 || height > kMaxDimension || width > kMaxDimension ||
            count < 1 || count > kMaxComponents || size != 6 + 3 * count)
            return image_decoding::unreadable();
        m_progressive = code == 0xC2 || code == 0xCA;
        int maxH = 1, maxV = 1;
        for (int i = 0; i < count; ++i) {
            const uchar* c = body + 6 + 3 * i;
            Component component{c[0], c[1] >> 4, c[1] & 15, 0};
            if (component.h < 1 || component.h > kMaxSampling || component.v < 1 ||
                component.v > kMaxSampling)
                return image_decoding::unreadable();
            maxH = std::max(maxH, component.h);
            maxV = std::max(maxV, component.v);
            m_components.push_back(component);
        }
        const auto roundedUp = [](qint64 value, qint64 step) { return (value + step - 1) / step * step; };
        for (Component& c : m_components) {
            const qint64 across = (qint64(width) * c.h + 8 * maxH - 1) / (8 * maxH);
            const qint64 down = (qint64(height) * c.v + 8 * maxV - 1) / (8 * maxV);
            c.blocks = roundedUp(across, c.h) * roundedUp(down, c.v);
        }
        m_layout.size = QSize(width, height);
        return false;
    }

    // True once the walk has seen enough: the one scan of a sequential picture that holds every
    // component, after which libjpeg reads nothing more for its pixels.
    Result<bool> scan(const uchar* body, qint64 size) {
        if (m_components.empty() || size < 1)
            return image_decoding::unreadable();
        const int count = body[0];
        if (count < 1 || count > kMaxComponentsInScan || size != 4 + 2 * count ||
            ++m_layout.scans > JpegDecoder::kMaxScans)
            return image_decoding::unreadable();
        for (int i = 0; i < count; ++i) {
            const auto component = std::find_if(m_components.begin(), m_components.end(),
                                                [&](const Component& c) { return c.id == body[1 + 2 * i]; });
            if (component == m_components.end())
                return image_decoding::unreadable();
            m_layout.scanBlocks += component->blocks;
        }
        if (m_layout.scanBlocks > JpegDecoder::kMaxScanBlocks)
            return image_decoding::unreadable();
        if (m_layout.scans == 1) {
            if (!m_progressive && count == qsizetype(m_components.size()))
                return true;
            for (const Component& c : m_components)
                m_layout.coefficientBytes += c.blocks * kBlockBytes;
            if (m_layout.coefficientBytes > JpegDecoder::kMaxCoefficientBytes)
                return image_decoding::tooLarge();
        }
        return false;
    }

    WalkBytes& m_bytes;
    const JpegMarkerWalk::Reach m_reach;
    const JpegMarkerWalk::Stop& m_stop;
    JpegLayout m_layout;
    std::vector<Component> m_components;
    bool m_progressive = false;
    bool m_exifSeen = false;
    int m_segments = 0;
    qint64 m_lookedBytes = 0;
    qint64 m_sinceStop = 0;
};

} // namespace

Result<JpegLayout> JpegMarkerWalk::walk(const QByteArray& data, Reach reach, const Stop& stop) {
    WalkBytes bytes(data);
    return Walk(bytes, reach, stop).run();
}

Result<JpegLayout> JpegMarkerWalk::walk(const QString& path, Reach reach, const Stop& stop) {
    const FileDescriptor fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (fd.get() < 0)
        return Error::fromErrno(errno, path);
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return image_decoding::unreadable();
    return walk(fd.get(), reach, stop);
}

Result<JpegLayout> JpegMarkerWalk::walk(int fd, Reach reach, const Stop& stop) {
    WalkBytes bytes(fd);
    return Walk(bytes, reach, stop).run();
}

} // namespace vennimo
