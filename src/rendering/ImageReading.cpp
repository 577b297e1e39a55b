#include "rendering/ImageReading.h"

#include "platform/ImageDecoder.h"
#include "platform/ProcessExit.h"

namespace vennimo::ImageReading {

std::optional<QSize> orientedPixelSize(const QString& path) {
    if (path.isEmpty() || ProcessExit::announced())
        return std::nullopt;
    // A size read holds whoever waits for its queue: the process on its way out as well.
    auto header = ImageDecoder::readHeader(path, [] { return ProcessExit::announced(); });
    if (!header)
        return std::nullopt;
    const QSize size = header->orientedSize();
    if (size.width() <= 0 || size.height() <= 0)
        return std::nullopt;
    return size;
}

QImage decodeScaled(const QString& path, int maxPixels, const std::function<bool()>& stop) {
    // Nothing of this library's decodes outlives the application that would show it.
    const auto given = [&stop] { return ProcessExit::announced() || (stop && stop()); };
    if (path.isEmpty() || maxPixels <= 0 || given())
        return {};
    auto image = ImageDecoder::decodeScaled(path, maxPixels, given);
    if (!image)
        return {};
    return std::move(image).value();
}

} // namespace vennimo::ImageReading
