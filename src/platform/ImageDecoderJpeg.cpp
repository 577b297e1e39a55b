#include "platform/ImageDecoderShared.h"
#include "platform/JpegDecoder.h"

namespace vennimo::image_decoding {

// The markers walked by JpegDecoder, never by Qt's reader: it keeps every marker it saves in a
// list it walks for each new one, and says on standard error what it thinks of a hostile header.
Result<ImageHeader> jpegHeader(const Source& source, const std::function<bool()>& stop) {
    const auto layout = source.isFile() ? JpegDecoder::readLayout(source.path, stop)
                                        : JpegDecoder::readLayout(source.data, stop);
    if (!layout)
        return layout.error();
    ImageHeader header;
    header.size = layout->size;
    header.orientation = layout->orientation;
    header.format = "jpeg";
    header.workingBytes = layout->coefficientBytes;
    if (auto error = checkSize(header.size))
        return *error;
    return header;
}

// libjpeg itself, so that the work stops where it is told to and says nothing.
Result<QImage> jpegDecode(const Source& source, int maxPixelSize, const std::function<bool()>& stop) {
    JpegLayout layout;
    auto image = source.isFile() ? JpegDecoder::decode(source.path, maxPixelSize, stop, &layout)
                                 : JpegDecoder::decode(source.data, maxPixelSize, stop, &layout);
    if (!image)
        return image;
    return oriented(*image, layout.orientation);
}

} // namespace vennimo::image_decoding
