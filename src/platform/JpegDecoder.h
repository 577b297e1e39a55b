#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <functional>

namespace vennimo {

// What a JPEG's markers say before any pixel is decoded.
struct JpegLayout {
    QSize size;
    int orientation = 1; // EXIF orientation 1..8
    int scans = 0;       // those the walk looked at
    // Memory a decoding holds whatever size it delivers: a picture of several scans keeps the
    // coefficients of the whole picture until its last scan. 0 for a picture of one scan.
    qint64 coefficientBytes = 0;
    // The work of the scans looked at: each scan passes over the blocks of its components.
    qint64 scanBlocks = 0;
};

// JPEG through libjpeg itself, so that every step of the work looks at the stop and at the number
// of scans, and nothing is said on standard error: a cheap file of thousands of empty progressive
// scans would otherwise take a pass over the whole picture for each of them.
class JpegDecoder {
public:
    // libjpeg's own progression writes 10 scans for colour and 6 for grey, Photoshop 3 to 5, and
    // the encoders that search for the smallest progression stay near 20; three times that is still
    // no real file, while it keeps a crafted one to 64 passes at most.
    static constexpr int kMaxScans = 64;
    // libjpeg keeps each saved marker at the end of a list it walks for every new one, so a file of
    // many small segments costs the square of their number. Encoders write a few dozen APPn
    // segments, an ICC profile up to 255 APP2 chunks and extended XMP as many APP1 ones, and a
    // progressive picture a table or two a scan: four times what those come to is still no file.
    static constexpr int kMaxSegments = 1024;
    // The coefficients a progressive picture at ImageDecoder::kMaxPixels holds with its colour at
    // a quarter of the resolution (1.5 samples a pixel, two bytes each): what one decoding may keep
    // beside others.
    static constexpr qint64 kCoefficientShareBytes = 300'000'000;
    // The same with the colour at full resolution (three samples a pixel), as editors and
    // ImageMagick write at their top qualities, and a little for blocks rounded up at the edges.
    // More is refused. A picture keeping more than the share waits until no other such picture is
    // decoded anywhere in the process, so that two of them never add up.
    static constexpr qint64 kMaxCoefficientBytes = 640'000'000;
    // A real progressive picture passes over each block five or six times; at the memory bound
    // that is 14 million block passes. Twice that leaves room, and keeps a crafted picture of
    // empty arithmetic-coded scans near a second of work.
    static constexpr qint64 kMaxScanBlocks = 32'000'000;
    // How much a header read looks through, fill and the segments it reads as much as the scan
    // data it looks through for further scans; a decoding looks at all of it before it starts.
    static constexpr qsizetype kScanCountBytes = 1 << 20;

    // Whether the bytes start as a JPEG does.
    static bool isJpeg(const QByteArray& head);

    // The size and orientation, with the scans counted within the first kScanCountBytes looked
    // through (segments other than the frame, the scans' headers and the EXIF block are stepped
    // over, never read): no scan begun by then is unreadable, as are damaged markers, a frame that
    // libjpeg cannot decode, and a picture past kMaxSegments, kMaxScans or kMaxScanBlocks; too
    // large past kMaxCoefficientBytes. Cheap: no marker is kept and no pixel decoded. A stop
    // answered true ends the walk with ECANCELED.
    static Result<JpegLayout> readLayout(const QString& path, const std::function<bool()>& stop = {});
    static Result<JpegLayout> readLayout(const QByteArray& data, const std::function<bool()>& stop = {});

    // Whether the markers alone refuse the picture, with every scan counted.
    static bool hasTooManyScans(const QString& path);
    static bool hasTooManyScans(const QByteArray& data);

    // The picture as stored, shrunk to a longer side of maxPixelSize (<= 0: full size). The
    // markers are walked to the end first; damaged data and a picture past the bounds above are
    // unreadable, one past kMaxCoefficientBytes or ImageDecoder::kMaxPixels too large; a stop
    // answered true, asked between rows, between scans and while the picture waits for its turn
    // to keep more than the share, ends it with ECANCELED, as does a task put back to its queue
    // to wait for that turn (LargeTurn::PutBackScope). `layout`, when given, gets what the walk
    // found.
    static Result<QImage> decode(const QString& path, int maxPixelSize, const std::function<bool()>& stop,
                                 JpegLayout* layout = nullptr);
    static Result<QImage> decode(const QByteArray& data, int maxPixelSize, const std::function<bool()>& stop,
                                 JpegLayout* layout = nullptr);
};

} // namespace vennimo
