#include "platform/PngDecoder.h"

#include "platform/FileDescriptor.h"

#include <QColorSpace>
#include <QFile>

#include <png.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vennimo {

namespace {

constexpr qsizetype kHeaderBytes = 8 + 8 + 8; // signature, IHDR length and type, width and height
constexpr png_uint_32 kIccHeaderBytes = 128;

quint32 bigEndian32(const QByteArray& bytes, qsizetype at) {
    const auto* p = reinterpret_cast<const uchar*>(bytes.constData() + at);
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
}

// Where libpng pulls its bytes from: a descriptor, or memory.
struct Input {
    const std::function<bool()>* stop = nullptr;
    int fd = -1;
    const char* data = nullptr;
    size_t size = 0;
    size_t at = 0;
};

// No object with a destructor lives in the frames png_error() jumps across.
void readInput(png_structp png, png_bytep out, size_t length) {
    auto* input = static_cast<Input*>(png_get_io_ptr(png));
    if (input->fd < 0) {
        if (input->size - input->at < length)
            png_error(png, "truncated");
        std::memcpy(out, input->data + input->at, length);
        input->at += length;
        return;
    }
    size_t done = 0;
    while (done < length) {
        const ssize_t n = ::read(input->fd, out + done, length - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            png_error(png, "truncated");
        done += size_t(n);
    }
}

void fail(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void ignoreWarning(png_structp, png_const_charp) {}

// What Qt's reader made of the colour chunks: the profile, else sRGB, else a gamma on sRGB's
// primaries. Chunks before the pixels only, which is where the format puts them.
QColorSpace colourSpace(png_structp png, png_infop info) {
    png_charp name = nullptr;
    png_bytep profile = nullptr;
    png_uint_32 length = 0;
    int compression = 0;
    if (png_get_iCCP(png, info, &name, &compression, &profile, &length) != 0 && length >= kIccHeaderBytes &&
        std::memcmp(profile + 36, "acsp", 4) == 0) {
        // Qt warns about what is plainly no profile; such a chunk is left out without a word.
        const QColorSpace space = QColorSpace::fromIccProfile(
            QByteArray(reinterpret_cast<const char*>(profile), qsizetype(length)));
        if (space.isValid())
            return space;
    }
    int intent = 0;
    if (png_get_sRGB(png, info, &intent) != 0)
        return QColorSpace::SRgb;
    double gamma = 0;
    if (png_get_gAMA(png, info, &gamma) != 0 && gamma > 0)
        return QColorSpace(QColorSpace::Primaries::SRgb, float(1.0 / gamma));
    return {};
}

// Reads into `image`, made here once the header is known; false for damaged data.
bool readInto(png_structp png, png_infop info, QImage* image) {
    if (setjmp(png_jmpbuf(png)))
        return false;
    // The pixel cap was checked on the header; libpng's million-pixel side limit only stood in for it.
    png_set_user_limits(png, PNG_UINT_31_MAX, PNG_UINT_31_MAX);
    png_read_info(png, info);
    png_uint_32 width = 0, height = 0;
    int depth = 0, colour = 0;
    png_get_IHDR(png, info, &width, &height, &depth, &colour, nullptr, nullptr, nullptr);
    const bool alpha = (colour & PNG_COLOR_MASK_ALPHA) != 0 || png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    png_set_expand(png);
    png_set_scale_16(png);
    png_set_gray_to_rgb(png);
    if (!alpha)
        png_set_filler(png, 0xff, PNG_FILLER_AFTER);
    const QColorSpace space = colourSpace(png, info);
    const int passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t(width) * 4 || width > INT_MAX || height > INT_MAX)
        return false;
    *image = QImage(int(width), int(height), alpha ? QImage::Format_RGBA8888 : QImage::Format_RGBX8888);
    if (image->isNull())
        return false;
    image->setColorSpace(space);
    // Row by row into the image: libpng's own buffers stay a row or two wide.
    const auto* input = static_cast<const Input*>(png_get_io_ptr(png));
    for (int pass = 0; pass < passes; ++pass)
        for (int y = 0; y < int(height); ++y) {
            if (input->stop != nullptr && (*input->stop)())
                png_error(png, "stopped");
            png_read_row(png, image->scanLine(y), nullptr);
        }
    return true;
}

QImage decodeFrom(Input& input) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, fail, ignoreWarning);
    if (png == nullptr)
        return {};
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return {};
    }
    png_set_read_fn(png, &input, readInput);
    QImage image;
    const bool ok = readInto(png, info, &image);
    png_destroy_read_struct(&png, &info, nullptr);
    return ok ? image : QImage();
}

} // namespace

std::optional<QSize> PngDecoder::storedSize(const QByteArray& head) {
    if (!head.startsWith(QByteArray("\x89PNG\r\n\x1a\n", 8)))
        return std::nullopt;
    if (head.size() < kHeaderBytes || head.mid(12, 4) != "IHDR")
        return QSize();
    const quint32 width = bigEndian32(head, 16), height = bigEndian32(head, 20);
    if (width > PNG_UINT_31_MAX || height > PNG_UINT_31_MAX)
        return QSize();
    return QSize(int(width), int(height));
}

QImage PngDecoder::decode(const QString& path, const std::function<bool()>& stop) {
    const FileDescriptor fd(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (fd.get() < 0 || ::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))
        return {};
    Input input;
    input.stop = stop ? &stop : nullptr;
    input.fd = fd.get();
    return decodeFrom(input);
}

QImage PngDecoder::decode(const QByteArray& data, const std::function<bool()>& stop) {
    Input input;
    input.stop = stop ? &stop : nullptr;
    input.data = data.constData();
    input.size = size_t(data.size());
    return decodeFrom(input);
}

} // namespace vennimo
