#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <functional>

namespace vennimo {

// WebP pictures through libwebp, still and animated (the first frame), with the stop asked between
// the reads of a file and between small pieces of the compressed data fed to the decoder. Qt's
// handler takes all of the data and decodes it in one call that nothing can stop, at full size.
class WebpDecoder {
public:
    // The picture shrunk by libwebp itself to a longer side of maxPixelSize (<= 0: full size), so
    // that the memory follows the size asked for; its transparency and colour profile kept. A stop
    // answered true ends it with ECANCELED; what is no WebP, or is cut off, is unreadable, and so
    // is a lossless picture whose full-size working buffer would pass what one decoding may take.
    static Result<QImage> decode(const QString& path, int maxPixelSize, const std::function<bool()>& stop);
    static Result<QImage> decode(const QByteArray& data, int maxPixelSize, const std::function<bool()>& stop);

    // Test seam: how many bytes all decodes so far have handed libwebp's container parser.
    static quint64 demuxedBytesForTesting();
};

} // namespace vennimo
