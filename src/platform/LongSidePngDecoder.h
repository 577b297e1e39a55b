#pragma once

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <functional>
#include <optional>

namespace vennimo {

// PNGs with a side longer than the million pixels libpng takes by default, which Qt's PNG plugin
// leaves in place and so refuses as damaged. Every pixel count the caller allows decodes here.
class LongSidePngDecoder {
public:
    static constexpr quint32 kDefaultSideLimit = 1'000'000;

    // The stored size when `head` starts a PNG with a side over kDefaultSideLimit, an empty size
    // for one claiming a side beyond the format's 2^31 - 1; nothing for every other input.
    static std::optional<QSize> longSide(const QByteArray& head);
    // The full image, 8 bits per channel; a null image for damaged data, and for a stop answered
    // true (asked between rows). The caller has checked the size against its pixel cap: that
    // bounds the memory, the pixels and the time it takes.
    static QImage decode(const QString& path, const std::function<bool()>& stop = {});
    static QImage decode(const QByteArray& data, const std::function<bool()>& stop = {});
};

} // namespace vennimo
