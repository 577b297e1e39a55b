#pragma once

#include <QByteArray>
#include <QImage>

#include <functional>
#include <optional>

namespace vennimo {

// Encodes PNGs row by row, looking at a stop between rows. Qt's PNG writer can only be stopped
// by failing its device, and libpng then prints its error to stderr although nothing is wrong.
class PngWriter {
public:
    PngWriter() = delete;

    // Rows encoded between two looks at the stop.
    static constexpr int kRowsPerLook = 64;

    // 8 bits a channel, with alpha only where the image has it, at zlib's `level` (0..9), and the
    // image's colour space as an ICC profile where libpng takes it. Nothing once `stop` answers
    // true, for a null image, or when libpng fails; it never prints.
    static std::optional<QByteArray> encode(const QImage& image, int level,
                                            const std::function<bool()>& stop = {});
};

} // namespace vennimo
