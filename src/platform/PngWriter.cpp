#include "platform/PngWriter.h"

#include <QColorSpace>

#include <png.h>

#include <algorithm>
#include <csetjmp>

namespace vennimo {

namespace {

void append(png_structp png, png_bytep data, png_size_t length) {
    static_cast<QByteArray*>(png_get_io_ptr(png))
        ->append(reinterpret_cast<const char*>(data), qsizetype(length));
}

void flush(png_structp) {}

// libpng's own handlers print; a failed or stopped encoding only answers nothing.
[[noreturn]] void quietError(png_structp png, png_const_charp) {
    png_longjmp(png, 1);
}

void quietWarning(png_structp, png_const_charp) {}

// The profile's name in the chunk: a keyword of printable ASCII, which libpng takes as it is.
QByteArray profileName(const QColorSpace& space) {
    QByteArray name = space.description().simplified().toLatin1();
    for (char& c : name) {
        if (c < ' ' || c > '~')
            c = '_';
    }
    name.truncate(79);
    name = name.trimmed();
    return name.isEmpty() ? QByteArrayLiteral("ICC profile") : name;
}

void discard(png_structp, png_bytep, png_size_t) {}

// Whether libpng writes the profile for an image of the colour type, tried on a header that goes
// nowhere. It refuses profiles it finds malformed or of another colour model, and a refusal in
// the real encoding would end it: the picture must then go without its profile, not at all.
bool profileTaken(const QByteArray& name, const QByteArray& profile, int colorType) {
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, quietError, quietWarning);
    if (png == nullptr)
        return false;
    png_infop info = png_create_info_struct(png);
    volatile bool taken = false;
    if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
        png_set_write_fn(png, nullptr, discard, flush);
        png_set_IHDR(png, info, 1, 1, 8, colorType, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                     PNG_FILTER_TYPE_DEFAULT);
        png_set_iCCP(png, info, name.constData(), PNG_COMPRESSION_TYPE_BASE,
                     reinterpret_cast<png_const_bytep>(profile.constData()), png_uint_32(profile.size()));
        if (png_get_valid(png, info, PNG_INFO_iCCP) != 0) {
            png_write_info(png, info);
            taken = true;
        }
    }
    png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    return taken;
}

} // namespace

std::optional<QByteArray> PngWriter::encode(const QImage& source, int level,
                                            const std::function<bool()>& stop) {
    if (source.isNull())
        return std::nullopt;
    const bool alpha = source.hasAlphaChannel();
    const QImage image = source.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    if (image.isNull())
        return std::nullopt;
    // Volatile: it lives across the setjmp below.
    volatile const int colorType = alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB;
    const QColorSpace space = image.colorSpace();
    QByteArray profile = space.isValid() ? space.iccProfile() : QByteArray();
    const QByteArray name = profileName(space);
    if (!profile.isEmpty() && !profileTaken(name, profile, colorType))
        profile.clear();
    QByteArray bytes;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, quietError, quietWarning);
    if (png == nullptr)
        return std::nullopt;
    png_infop info = png_create_info_struct(png);
    // Read again after a jump back from libpng: volatile, so that it is not kept in a register.
    volatile bool complete = false;
    if (info != nullptr && setjmp(png_jmpbuf(png)) == 0) {
        png_set_write_fn(png, &bytes, append, flush);
        png_set_compression_level(png, std::clamp(level, 0, 9));
        png_set_IHDR(png, info, png_uint_32(image.width()), png_uint_32(image.height()), 8, colorType,
                     PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        // The pixels stay in the image's colour space, so its profile goes with them; readers
        // would otherwise take them for sRGB and show a wide-gamut photo washed out.
        if (!profile.isEmpty())
            png_set_iCCP(png, info, name.constData(), PNG_COMPRESSION_TYPE_BASE,
                         reinterpret_cast<png_const_bytep>(profile.constData()), png_uint_32(profile.size()));
        png_write_info(png, info);
        int row = 0;
        for (; row < image.height(); ++row) {
            if (row % kRowsPerLook == 0 && stop && stop())
                break;
            png_write_row(png, image.constScanLine(row));
        }
        if (row == image.height()) {
            png_write_end(png, nullptr);
            complete = true;
        }
    }
    png_destroy_write_struct(&png, info != nullptr ? &info : nullptr);
    if (!complete)
        return std::nullopt;
    return bytes;
}

} // namespace vennimo
