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
    // How many bytes of pixels the compressed data inflates to (a filter byte a row besides), read
    // from the header at the start of `head` (0 when it is not there): what a decode costs,
    // whatever size it is decoded to, since every row is inflated.
    static qint64 storedDataBytes(const QByteArray& head);
    // Every picture of up to 100 million pixels in three channels of 16 bits, and every one of
    // 8 bits: inflating more takes past a second of processor time at the worst.
    static constexpr qint64 kMaxDataBytes = 600'000'000;
    // A photo's pixels compress a few times at most, so data past kMaxDataBytes that inflates
    // from far fewer bytes is no photo but seconds of work from a small file.
    static constexpr qint64 kMaxInflationRatio = 16;
    // Whether a picture whose file holds `fileBytes` is too costly to inflate: past kMaxDataBytes,
    // only when the data inflates more than kMaxInflationRatio times. A real 16-bit photo with
    // alpha near the pixel cap still decodes, at its cost of about two seconds of processor time.
    static bool tooCostly(qint64 dataBytes, qint64 fileBytes);
    // The full image, 8 bits per channel, with its colour space; a null image for damaged data,
    // and for a stop answered true. The caller has checked the size against its pixel cap: that
    // bounds the memory, the pixels and the time it takes.
    static QImage decode(const QString& path, const std::function<bool()>& stop = {});
    static QImage decode(const QByteArray& data, const std::function<bool()>& stop = {});
    // The picture shrunk to `target` (no larger than the stored size) while it is read, so that
    // a picture at the pixel cap costs its target and a few rows rather than its full size. An
    // interlaced picture is read only as far as the passes that hold enough pixels for the target.
    static QImage decodeScaled(const QString& path, QSize target, const std::function<bool()>& stop = {});
    static QImage decodeScaled(const QByteArray& data, QSize target, const std::function<bool()>& stop = {});
};

} // namespace vennimo
