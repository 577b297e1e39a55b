#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <functional>

namespace vennimo {

inline constexpr auto kImageErrorDomain = "Vennimo.Image";
// Unreadable data, an unknown format or a zero size.
inline constexpr int kImageUnreadableCode = 1;
inline constexpr auto kImageUnreadableMessage = "无法读取图片。";
// A header claiming more than ImageDecoder::kMaxPixels.
inline constexpr int kImageTooLargeCode = 2;
inline constexpr auto kImageTooLargeMessage = "图片尺寸过大，无法读取。";

struct ImageHeader {
    // Pixel size as stored, before orientation. HEIF/AVIF report the size after libheif's own
    // rotation and mirroring (with orientation 1), since libheif always applies them when decoding.
    // Camera RAW reports the sensor image's size, while decoding delivers its embedded preview.
    QSize size;
    int orientation = 1; // EXIF orientation 1..8
    QByteArray format;   // lower-case short name: "jpeg", "png", "heif", "avif", "webp", "raw", ...
    // Memory a decoding holds beyond its pixels, whatever size it delivers: a JPEG of several scans
    // keeps the coefficients of the whole picture, a HEIF or AVIF is decoded whole with its planes.
    // 0 where nothing is known to be kept.
    qint64 workingBytes = 0;

    QSize orientedSize() const { return orientation >= 5 && orientation <= 8 ? size.transposed() : size; }
};

// The one place images are decoded. Thread-safe; returns QImage (never QPixmap), so any thread
// may call it.
class ImageDecoder {
public:
    // Headers claiming more are refused before any pixel is allocated.
    static constexpr qint64 kMaxPixels = 100'000'000;

    static Result<ImageHeader> readHeader(const QString& path);
    static Result<ImageHeader> readHeader(const QByteArray& data);
    // The same, read only while `stop` answers false (asked as the markers of a JPEG are walked and
    // while an SVG is read): a stopped read answers an ECANCELED error.
    static Result<ImageHeader> readHeader(const QString& path, const std::function<bool()>& stop);
    static Result<ImageHeader> readHeader(const QByteArray& data, const std::function<bool()>& stop);

    // Orientation applied, and the longer side of the result at most maxPixelSize (never
    // upscaled); shrinks while loading where the format allows. A bound <= 0 means full size.
    static Result<QImage> decodeScaled(const QString& path, int maxPixelSize);
    static Result<QImage> decodeScaled(const QByteArray& data, int maxPixelSize);
    // The same, reading the file or the bytes only while `stop` answers false (asked on this thread
    // as they are read, and for JPEG, WebP and PNGs of long sides between the steps of decoding;
    // HEIF only between its decodings); a stopped decoding answers an ECANCELED error, never the
    // part it got.
    static Result<QImage> decodeScaled(const QString& path, int maxPixelSize,
                                       const std::function<bool()>& stop);
    static Result<QImage> decodeScaled(const QByteArray& data, int maxPixelSize,
                                       const std::function<bool()>& stop);

    // The whole image at full size, orientation applied.
    static Result<QImage> decode(const QString& path);
    static Result<QImage> decode(const QByteArray& data);

    // ImageHeader::workingBytes of a file whose header is cheap to read (JPEG, HEIF, AVIF); 0 for
    // other formats, for what cannot be read, and once `stop` answers true (asked as a JPEG's
    // markers are looked through).
    static qint64 workingBytesOf(const QString& path, const std::function<bool()>& stop = {});

    // Decodings that a stop could not end and that were left to finish on their own threads once
    // the process announced its end (HEIF, whose decoder cannot be interrupted). While any runs,
    // the process must end without running its static destructors.
    static int decodingsLeftRunning();

    // Whether the file's content is in a format this decoder reads itself, camera RAW aside (LibRaw
    // reads only a preview): then its refusal is final, the file damaged or past a bound, and no
    // other reader is worth the time. False for a file it cannot open.
    static bool readsFormatOf(const QString& path);

    // The size fitting `size` into a maxPixelSize square, aspect ratio kept, at least 1 px a side.
    static QSize boundedSize(QSize size, int maxPixelSize);
};

} // namespace vennimo
