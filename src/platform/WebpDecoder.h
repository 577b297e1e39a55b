#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QImage>
#include <QString>

#include <functional>
#include <optional>

namespace vennimo {

// Still WebP pictures through libwebp's incremental decoder, fed a slice of the data at a time:
// the decoding follows the data, so the stop, asked before each slice, ends it part-way. Qt's
// handler takes all of the data and decodes it in one call that nothing can stop.
class WebpDecoder {
public:
    // The picture as stored, shrunk to a longer side of maxPixelSize (<= 0: full size); a stop
    // answered true ends it with ECANCELED. Nothing for what is no still WebP (an animation).
    static std::optional<Result<QImage>> decode(const QString& path, const QByteArray& head, int maxPixelSize,
                                                const std::function<bool()>& stop);
    static std::optional<Result<QImage>> decode(const QByteArray& data, int maxPixelSize,
                                                const std::function<bool()>& stop);
};

} // namespace vennimo
