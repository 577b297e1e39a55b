#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <functional>
#include <optional>

namespace vennimo {

// Every PNG through libpng itself rather than Qt's plugin, which prints libpng's errors on the
// standard error, cannot be stopped part-way and leaves libpng's million-pixel side limit in
// place. Rows are read one at a time into the picture, the stop asked before each (in every pass
// of an interlaced picture), and nothing is printed.
class PngDecoder {
public:
    // The stored size when `head` starts with the PNG signature: empty for a header that is cut
    // off, damaged or claims a side beyond the format's 2^31 - 1; nothing for every other input.
    static std::optional<QSize> storedSize(const QByteArray& head);
    // The full image, 8 bits per channel, with its colour space; a null image for damaged data,
    // and for a stop answered true. The caller has checked the size against its pixel cap: that
    // bounds the memory, the pixels and the time it takes.
    static QImage decode(const QString& path, const std::function<bool()>& stop = {});
    static QImage decode(const QByteArray& data, const std::function<bool()>& stop = {});
};

} // namespace vennimo
