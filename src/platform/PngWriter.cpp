#include "platform/PngWriter.h"

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

} // namespace

std::optional<QByteArray> PngWriter::encode(const QImage& source, int level,
                                            const std::function<bool()>& stop) {
    if (source.isNull())
        return std::nullopt;
    const bool alpha = source.hasAlphaChannel();
    const QImage image = source.convertToFormat(alpha ? QImage::Format_RGBA8888 : QImage::Format_RGB888);
    if (image.isNull())
        return std::nullopt;
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
        png_set_IHDR(png, info, png_uint_32(image.width()), png_uint_32(image.height()), 8,
                     alpha ? PNG_COLOR_TYPE_RGB_ALPHA : PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
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
