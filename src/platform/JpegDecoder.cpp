#include "platform/JpegDecoder.h"

#include "platform/FileDescriptor.h"
#include "platform/ImageDecoderShared.h"
#include "platform/JpegMarkerWalk.h"
#include "platform/LargeTurn.h"

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

constexpr qint64 kLibjpegRowBytes = 64 << 20;

// ---- Decoding ---------------------------------------------------------------------------------

// What libjpeg's callbacks reach through client_data; it lives in the frame that calls setjmp's.
struct Decoding {
    jpeg_decompress_struct info{};
    jpeg_error_mgr error{};
    jpeg_progress_mgr progress{};
    std::jmp_buf jump{};
    const Stop* stop = nullptr;
    bool stopped = false;
    // The scans libjpeg has begun and the blocks they pass over, counted as it meets them.
    int scanSeen = 0;
    qint64 scanBlocks = 0;
    // The source: a file, or bytes in memory.
    std::FILE* file = nullptr;
    const unsigned char* bytes = nullptr;
    unsigned long byteCount = 0;
    // What libjpeg may keep of the whole picture: the share, or more once the picture has its turn.
    qint64 allowedCoefficientBytes = JpegDecoder::kCoefficientShareBytes;
    bool tooLarge = false;
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

// The blocks of the components of the scan libjpeg reads, as it keeps them.
qint64 blocksOfScan(const jpeg_decompress_struct& info) {
    qint64 blocks = 0;
    for (int i = 0; i < info.comps_in_scan; ++i) {
        const jpeg_component_info& c = *info.cur_comp_info[i];
        const auto roundedUp = [](qint64 value, qint64 step) { return (value + step - 1) / step * step; };
        blocks +=
            roundedUp(c.width_in_blocks, c.h_samp_factor) * roundedUp(c.height_in_blocks, c.v_samp_factor);
    }
    return blocks;
}

// Called between rows, and for pictures of several scans between rows of each scan. The walk
// before decoding counted the same; libjpeg's own count holds it to the bounds wherever the two
// might read the data apart.
void watch(j_common_ptr common) {
    Decoding& decoding = decodingOf(common);
    const jpeg_decompress_struct& info = decoding.info;
    if (info.input_scan_number != decoding.scanSeen) {
        decoding.scanSeen = info.input_scan_number;
        decoding.scanBlocks += blocksOfScan(info);
    }
    if (info.input_scan_number > JpegDecoder::kMaxScans || decoding.scanBlocks > JpegDecoder::kMaxScanBlocks)
        fail(common);
    if (decoding.stop != nullptr && (*decoding.stop)()) {
        decoding.stopped = true;
        fail(common);
    }
}

// What libjpeg keeps of the whole picture while it reads a picture of several scans.
qint64 coefficientBytes(const jpeg_decompress_struct& info) {
    if (!info.progressive_mode && info.comps_in_scan >= info.num_components)
        return 0;
    qint64 blocks = 0;
    for (int i = 0; i < info.num_components; ++i) {
        const jpeg_component_info& c = info.comp_info[i];
        const auto roundedUp = [](qint64 value, qint64 step) { return (value + step - 1) / step * step; };
        blocks +=
            roundedUp(c.width_in_blocks, c.h_samp_factor) * roundedUp(c.height_in_blocks, c.v_samp_factor);
    }
    return blocks * qint64(sizeof(JBLOCK));
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
    // Beyond the coefficients, libjpeg's rows and tables take a few megabytes at the widest. Past
    // this it has no backing store to turn to and fails through error_exit.
    info.mem->max_memory_to_use = long(decoding.allowedCoefficientBytes + kLibjpegRowBytes);
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
    // Only the profile before the first scan counts; APP2 segments later are stepped over, not kept.
    jpeg_save_markers(&info, JPEG_APP0 + 2, 0);
    const qint64 width = info.image_width, height = info.image_height;
    if (width <= 0 || height <= 0)
        return false;
    if (width * height > ImageDecoder::kMaxPixels) {
        decoding.tooLarge = true;
        return false;
    }
    // The walk sized the turn the picture waited for; libjpeg reading the frame otherwise is damage.
    if (coefficientBytes(info) > decoding.allowedCoefficientBytes)
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
    // Every row is there; whatever follows the picture is not read.
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
    if (decoding.tooLarge)
        return image_decoding::tooLarge();
    if (!ok || image.isNull())
        return image_decoding::unreadable();
    if (!decoding.icc.isEmpty())
        image.setColorSpace(QColorSpace::fromIccProfile(decoding.icc));
    return image_decoding::scaledTo(image, ImageDecoder::boundedSize(decoding.size, maxPixelSize));
}

// Decodes with the room the walk found the picture needs: beyond the share only in its turn.
Result<QImage> decodeWalked(Decoding& decoding, const JpegLayout& walked, int maxPixelSize,
                            const QString& path) {
    if (walked.coefficientBytes <= JpegDecoder::kCoefficientShareBytes)
        return decodeWith(decoding, maxPixelSize, path);
    const LargeTurn::Hold turn = LargeTurn::take(decoding.stop);
    if (!turn)
        return Error::fromErrno(ECANCELED, path);
    decoding.allowedCoefficientBytes = walked.coefficientBytes;
    return decodeWith(decoding, maxPixelSize, path);
}

// What a refused walk says: too large for its size, unreadable for everything else.
Error walkRefusal(const Error& error) {
    if (error.domain == QLatin1String(kImageErrorDomain) && error.code == kImageTooLargeCode)
        return error;
    return image_decoding::unreadable();
}

} // namespace

bool JpegDecoder::isJpeg(const QByteArray& head) {
    return head.startsWith("\xFF\xD8");
}

Result<JpegLayout> JpegDecoder::readLayout(const QString& path, const std::function<bool()>& stop) {
    return JpegMarkerWalk::walk(path, JpegMarkerWalk::Reach::header, stop);
}

Result<JpegLayout> JpegDecoder::readLayout(const QByteArray& data, const std::function<bool()>& stop) {
    return JpegMarkerWalk::walk(data, JpegMarkerWalk::Reach::header, stop);
}

bool JpegDecoder::hasTooManyScans(const QString& path) {
    return !JpegMarkerWalk::walk(path, JpegMarkerWalk::Reach::whole).ok();
}

bool JpegDecoder::hasTooManyScans(const QByteArray& data) {
    return !JpegMarkerWalk::walk(data, JpegMarkerWalk::Reach::whole).ok();
}

Result<QImage> JpegDecoder::decode(const QString& path, int maxPixelSize, const std::function<bool()>& stop,
                                   JpegLayout* layout) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return Error::fromErrno(errno, path);
    struct stat st {};
    std::FILE* file = nullptr;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return image_decoding::unreadable();
    }
    // The walk reads what libjpeg then reads, through the same descriptor.
    const auto walked = JpegMarkerWalk::walk(fd, JpegMarkerWalk::Reach::whole, stop);
    if (!walked) {
        ::close(fd);
        return walkRefusal(walked.error());
    }
    if ((file = ::fdopen(fd, "rb")) == nullptr) {
        ::close(fd);
        return image_decoding::unreadable();
    }
    if (layout != nullptr)
        *layout = *walked;
    Decoding decoding;
    decoding.stop = stop ? &stop : nullptr;
    decoding.file = file;
    auto result = decodeWalked(decoding, *walked, maxPixelSize, path);
    std::fclose(file);
    return result;
}

Result<QImage> JpegDecoder::decode(const QByteArray& data, int maxPixelSize,
                                   const std::function<bool()>& stop, JpegLayout* layout) {
    const auto walked = JpegMarkerWalk::walk(data, JpegMarkerWalk::Reach::whole, stop);
    if (!walked)
        return walkRefusal(walked.error());
    if (layout != nullptr)
        *layout = *walked;
    Decoding decoding;
    decoding.stop = stop ? &stop : nullptr;
    decoding.bytes = reinterpret_cast<const unsigned char*>(data.constData());
    decoding.byteCount = static_cast<unsigned long>(data.size());
    return decodeWalked(decoding, *walked, maxPixelSize, {});
}

} // namespace vennimo
