#pragma once

#include "platform/JpegDecoder.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace vennimo {

// A walk over a JPEG's markers the way libjpeg finds them, reading the segments it needs (the
// frame, the scans' headers, the EXIF orientation) and stepping over the others: its cost grows with
// the number of segments and the scan data looked through, never with their square.
class JpegMarkerWalk {
public:
    // How far the walk goes: up to kScanCountBytes looked through, fill and the segments it reads
    // counted as much as scan data (a header read), or to the end of the picture (before a
    // decoding).
    enum class Reach { header, whole };

    // What the markers say, or unreadable for the refusals JpegDecoder::readLayout lists; ECANCELED
    // once `stop` answers true (asked for every chunk of data looked through).
    using Stop = std::function<bool()>;
    static Result<JpegLayout> walk(const QString& path, Reach reach, const Stop& stop = {});
    static Result<JpegLayout> walk(const QByteArray& data, Reach reach, const Stop& stop = {});
    // A regular file already open, read at offsets: the descriptor's position is left alone.
    static Result<JpegLayout> walk(int fd, Reach reach, const Stop& stop = {});
};

} // namespace vennimo
