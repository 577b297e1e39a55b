#pragma once

#include "platform/JpegDecoder.h"

#include <QByteArray>
#include <QString>

namespace vennimo {

// A walk over a JPEG's markers the way libjpeg finds them, reading the segments it needs (the
// frame, the scans' headers, the EXIF orientation) and stepping over the others: its cost grows with
// the number of segments and the scan data looked through, never with their square.
class JpegMarkerWalk {
public:
    // How far the walk goes: up to kScanCountBytes of scan data after the first scan (a header
    // read), or to the end of the picture (before a decoding).
    enum class Reach { header, whole };

    // What the markers say, or unreadable for the refusals JpegDecoder::readLayout lists.
    static Result<JpegLayout> walk(const QString& path, Reach reach);
    static Result<JpegLayout> walk(const QByteArray& data, Reach reach);
    // A regular file already open, read at offsets: the descriptor's position is left alone.
    static Result<JpegLayout> walk(int fd, Reach reach);
};

} // namespace vennimo
