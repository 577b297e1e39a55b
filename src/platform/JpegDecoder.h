#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <functional>

namespace vennimo {

// JPEG through libjpeg itself, so that every step of the work looks at the stop and at the number
// of scans, and nothing is said on standard error: a cheap file of thousands of empty progressive
// scans would otherwise take a pass over the whole picture for each of them.
class JpegDecoder {
public:
    // libjpeg's own progression writes 10 scans for colour and 6 for grey, Photoshop 3 to 5, and
    // the encoders that search for the smallest progression stay near 20; three times that is still
    // no real file, while it keeps a crafted one to 64 passes at most.
    static constexpr int kMaxScans = 64;
    // How far the scans are counted before any decoding; past that the decoding counts them itself.
    static constexpr qsizetype kScanCountBytes = 1 << 20;

    // Whether the bytes start as a JPEG does.
    static bool isJpeg(const QByteArray& head);
    // Whether more than kMaxScans scans start within the first kScanCountBytes. A sequential
    // picture whose first scan holds every component has no other scan, and is looked at no
    // further than that scan's start.
    static bool hasTooManyScans(const QString& path);
    static bool hasTooManyScans(const QByteArray& data);

    // The picture as stored, shrunk to a longer side of maxPixelSize (<= 0: full size). Damaged
    // data and a picture of more than kMaxScans scans are unreadable; a stop answered true, asked
    // between rows and between scans, ends it with ECANCELED.
    static Result<QImage> decode(const QString& path, int maxPixelSize, const std::function<bool()>& stop);
    static Result<QImage> decode(const QByteArray& data, int maxPixelSize, const std::function<bool()>& stop);
};

} // namespace vennimo
