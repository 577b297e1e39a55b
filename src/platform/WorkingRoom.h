#pragma once

#include "platform/JpegDecoder.h"

#include <QSemaphore>

#include <functional>
#include <optional>

namespace vennimo {

// Room for the memory decodings keep beyond their pixels while they run: a progressive JPEG keeps
// the coefficients of its whole picture, whatever size it is drawn at (some 72 MB for an
// 18-megapixel photo), and a HEIC or AVIF is decoded whole (some 210 MB for 24 megapixels). The
// checks of a drop and the thumbnails of an import take it from one budget, so that what they keep
// at once stays within one decoding's share; a picture keeping more than the rest waits until it
// has all of it, and so is decoded alone.
class WorkingRoom {
public:
    static constexpr qint64 kBudgetBytes = JpegDecoder::kCoefficientShareBytes;
    static constexpr int kStopLookMs = 20;

    // Waits until `bytes` more may be kept; they count until the answer goes. Nothing is waited for
    // 0 or less.
    static QSemaphoreReleaser take(qint64 bytes);
    // The same, given up once `stop` answers true, asked every kStopLookMs while it waits.
    static std::optional<QSemaphoreReleaser> take(qint64 bytes, const std::function<bool()>& stop);
    // Bytes free now.
    static qint64 available();
};

} // namespace vennimo
