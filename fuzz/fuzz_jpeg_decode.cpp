#include "FuzzSupport.h"

#include "platform/JpegDecoder.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// The JPEG decoder's own walk over markers and its decoding take any bytes: what the count before
// decoding refuses for its scans never decodes, and what decodes keeps to the size asked for.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vennimo::fuzz::initialize();
    const QByteArray input = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const bool tooManyScans = vennimo::JpegDecoder::hasTooManyScans(input);
    const auto image = vennimo::JpegDecoder::decode(input, 64, {});
    if (image && (tooManyScans || image->isNull() || image->width() > 64 || image->height() > 64))
        std::abort();
    return 0;
}
