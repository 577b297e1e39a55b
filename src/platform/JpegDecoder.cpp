#include "platform/JpegDecoder.h"

#include "platform/FileDescriptor.h"
#include "platform/ImageDecoderShared.h"

#include <QColorSpace>
#include <QFile>

#include <cstdio>
// jpeglib.h takes FILE from stdio.h without including it.
#include <jpeglib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vennimo {

namespace {

using Stop = std::function<bool()>;

// ---- Counting scans ---------------------------------------------------------------------------

constexpr uchar kMarker = 0xFF;
constexpr qsizetype kScanCountChunk = 64 << 10;

struct ScanWalk {
    qsizetype at = 0;
    bool inEntropy = false;
    bool progressive = false;
    int components = 0;
    int scans = 0;
};

enum class Verdict { fine, tooMany, more };

bool isFrame(uchar code) {
    return code >= 0xC0 && code <= 0xCF && code != 0xC4 && code != 0xC8 && code != 0xCC;
}

// Walks the markers from where `walk` stood, the way libjpeg finds them: bytes before a marker are
// skipped, 0xFF repeats as fill, and inside a scan's data 0xFF 0x00 and the restart markers belong
// to the data. `more` when the bytes end before the walk can tell.
Verdict walkMarkers(const QByteArray& bytes, ScanWalk& walk) {
    const auto* b = reinterpret_cast<const uchar*>(bytes.constData());
    const qsizetype size = bytes.size();
    for (;;) {
        const void* found =
            walk.at < size ? std::memchr(b + walk.at, kMarker, size_t(size - walk.at)) : nullptr;
        if (found == nullptr) {
            walk.at = size;
            return Verdict::more;
        }
        qsizetype at = static_cast<const uchar*>(found) - b;
        while (at + 1 < size && b[at + 1] == kMarker)
            ++at;
        if (at + 1 >= size) {
            walk.at = at;
            return Verdict::more;
        }
        const uchar code = b[at + 1];
        if (code == 0x00 || code == 0x01 || code == 0xD8 || (code >= 0xD0 && code <= 0xD7)) {
            walk.at = at + 2;
            continue;
        }
        if (code == 0xD9)
            return Verdict::fine;
        walk.inEntropy = false;
        if (at + 4 > size) {
            walk.at = at;
            return Verdict::more;
        }
        const qsizetype length = qsizetype(b[at + 2]) << 8 | b[at + 3];
        // libjpeg refuses a segment shorter than its length field.
        if (length < 2)
            return Verdict::fine;
        const qsizetype end = at + 2 + length;
        if (end > size) {
            walk.at = at;
            return Verdict::more;
        }
        if (isFrame(code) && length >= 8) {
            walk.progressive = code == 0xC2 || code == 0xC6 || code == 0xCA || code == 0xCE;
            walk.components = b[at + 9];
        } else if (code == 0xDA && length >= 3) {
            if (++walk.scans > JpegDecoder::kMaxScans)
                return Verdict::tooMany;
            // libjpeg takes such a picture for one scan and refuses any other.
            if (walk.scans == 1 && !walk.progressive && walk.components > 0 && b[at + 4] >= walk.components)
                return Verdict::fine;
            walk.inEntropy = true;
        }
        walk.at = end;
    }
}

// ---- Decoding ---------------------------------------------------------------------------------

// What libjpeg's callbacks reach through client_data; it lives in the frame that calls setjmp's.
struct Decoding {
    jpeg_decompress_struct info{};
    jpeg_error_mgr error{};
    jpeg_progress_mgr progress{};
    std::jmp_buf jump{};
    const Stop* stop = nullptr;
    bool stopped = false;
    // The source: a file, or bytes in memory.
    std::FILE* file = nullptr;
    const unsigned char* bytes = nullptr;
    unsigned long byteCount = 0;
    QSize size;
    QByteArray icc;
};

Decoding& decodingOf(j_common_ptr info) {
    return *static_cast<Decoding*>(info->client_data);
}

[[noreturn]] void fail(j_common_ptr info) {
    std::longjmp(decodingOf(info).jump, 1);
}

// Warnings about damaged data (and the end of data made up for a cut-off file) are not the user's
// business; a failure is reported through the result.
void sayNothing(j_common_ptr) {}

// Called between rows, and for pictures of several scans between rows of each scan.
void watch(j_common_ptr common) {
    Decoding& decoding = decodingOf(common);
    if (decoding.info.input_scan_number > JpegDecoder::kMaxScans)
        fail(common);
    if (decoding.stop != nullptr && (*decoding.stop)()) {
        decoding.stopped = true;
        fail(common);
    }
}

void cmykToRgb(const JSAMPLE* in, QRgb* out, JDIMENSION width) {
    // Adobe's inverted CMYK, which is what JPEG files carry.
    for (JDIMENSION x = 0; x < width; ++x, in += 4) {
        const int k = in[3];
        out[x] = qRgb(k * in[0] / 255, k * in[1] / 255, k * in[2] / 255);
    }
}

// Reads the picture into `image`, made here once the header is known; false for damaged data, too
// many scans or a stop. No object with a destructor lives here across a libjpeg call.
bool decodeInto(Decoding& decoding, int maxPixelSize, QImage* image) {
    jpeg_decompress_struct& info = decoding.info;
    if (setjmp(decoding.jump))
        return false;
    jpeg_create_decompress(&info);
    decoding.progress.progress_monitor = watch;
    info.progress = &decoding.progress;
    if (decoding.file != nullptr)
        jpeg_stdio_src(&info, decoding.file);
    else
        jpeg_mem_src(&info, decoding.bytes, decoding.byteCount);
    if (decoding.stop != nullptr && (*decoding.stop)()) {
        decoding.stopped = true;
        return false;
    }
    jpeg_save_markers(&info, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&info, TRUE);
    const qint64 width = info.image_width, height = info.image_height;
    if (width <= 0 || height <= 0 || width * height > ImageDecoder::kMaxPixels)
        return false;
    decoding.size = QSize(int(width), int(height));
    JOCTET* profile = nullptr;
    unsigned int profileLength = 0;
    if (jpeg_read_icc_profile(&info, &profile, &profileLength)) {
        decoding.icc = QByteArray(reinterpret_cast<const char*>(profile), qsizetype(profileLength));
        std::free(profile);
    }
    // libjpeg shrinks by n/8 while it decodes; the rest is smooth scaling afterwards.
    const QSize target = ImageDecoder::boundedSize(decoding.size, maxPixelSize);
    if (target != decoding.size) {
        const double factor = std::min(double(width) / target.width(), double(height) / target.height());
        info.scale_num = JDIMENSION(std::clamp(int(std::ceil(8 / factor)), 1, 8));
        info.scale_denom = 8;
    }
    info.dct_method = JDCT_ISLOW;
    info.do_fancy_upsampling = TRUE;
    QImage::Format format = QImage::Format_RGB32;
    const bool cmyk = info.num_components == 4;
    if (info.num_components == 1) {
        info.out_color_space = JCS_GRAYSCALE;
        format = QImage::Format_Grayscale8;
    } else if (info.num_components == 3) {
        info.out_color_space = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? JCS_EXT_BGRX : JCS_EXT_XRGB;
    } else if (cmyk) {
        info.out_color_space = JCS_CMYK;
    } else {
        return false;
    }
    jpeg_calc_output_dimensions(&info);
    *image = QImage(int(info.output_width), int(info.output_height), format);
    if (image->isNull())
        return false;
    JSAMPARRAY cmykRow = cmyk ? (*info.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&info), JPOOL_IMAGE,
                                                          info.output_width * 4, 1)
                              : nullptr;
    jpeg_start_decompress(&info);
    while (info.output_scanline < info.output_height) {
        uchar* line = image->scanLine(int(info.output_scanline));
        JSAMPROW row = cmyk ? cmykRow[0] : line;
        if (jpeg_read_scanlines(&info, &row, 1) != 1)
            return false;
        if (cmyk)
            cmykToRgb(row, reinterpret_cast<QRgb*>(line), info.output_width);
    }
    jpeg_finish_decompress(&info);
    return true;
}

Result<QImage> decodeWith(Decoding& decoding, int maxPixelSize, const QString& path) {
    decoding.info.err = jpeg_std_error(&decoding.error);
    decoding.error.error_exit = fail;
    decoding.error.output_message = sayNothing;
    decoding.info.client_data = &decoding;
    QImage image;
    const bool ok = decodeInto(decoding, maxPixelSize, &image);
    jpeg_destroy_decompress(&decoding.info);
    if (decoding.stopped)
        return Error::fromErrno(ECANCELED, path);
    if (!ok || image.isNull())
        return image_decoding::unreadable();
    if (!decoding.icc.isEmpty())
        image.setColorSpace(QColorSpace::fromIccProfile(decoding.icc));
    return image_decoding::scaledTo(image, ImageDecoder::boundedSize(decoding.size, maxPixelSize));
}

} // namespace

bool JpegDecoder::isJpeg(const QByteArray& head) {
    return head.startsWith("\xFF\xD8");
}

bool JpegDecoder::hasTooManyScans(const QByteArray& data) {
    ScanWalk walk;
    return walkMarkers(QByteArray::fromRawData(data.constData(), std::min(data.size(), kScanCountBytes)),
                       walk) == Verdict::tooMany;
}

bool JpegDecoder::hasTooManyScans(const QString& path) {
    const FileDescriptor fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return false;
    // Read a chunk at a time, as far as the walk needs: most files are told by their first.
    QByteArray bytes;
    ScanWalk walk;
    while (bytes.size() < kScanCountBytes) {
        const qsizetype had = bytes.size();
        bytes.resize(std::min(had + kScanCountChunk, kScanCountBytes));
        ssize_t n = 0;
        do
            n = ::read(fd.get(), bytes.data() + had, size_t(bytes.size() - had));
        while (n < 0 && errno == EINTR);
        bytes.truncate(had + std::max<ssize_t>(n, 0));
        if (n <= 0)
            return false;
        const Verdict verdict = walkMarkers(bytes, walk);
        if (verdict != Verdict::more)
            return verdict == Verdict::tooMany;
    }
    return false;
}

Result<QImage> JpegDecoder::decode(const QString& path, int maxPixelSize, const std::function<bool()>& stop) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return Error::fromErrno(errno, path);
    struct stat st {};
    std::FILE* file = nullptr;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || (file = ::fdopen(fd, "rb")) == nullptr) {
        ::close(fd);
        return image_decoding::unreadable();
    }
    Decoding decoding;
    decoding.stop = stop ? &stop : nullptr;
    decoding.file = file;
    auto result = decodeWith(decoding, maxPixelSize, path);
    std::fclose(file);
    return result;
}

Result<QImage> JpegDecoder::decode(const QByteArray& data, int maxPixelSize,
                                   const std::function<bool()>& stop) {
    Decoding decoding;
    decoding.stop = stop ? &stop : nullptr;
    decoding.bytes = reinterpret_cast<const unsigned char*>(data.constData());
    decoding.byteCount = static_cast<unsigned long>(data.size());
    return decodeWith(decoding, maxPixelSize, {});
}

} // namespace vennimo
