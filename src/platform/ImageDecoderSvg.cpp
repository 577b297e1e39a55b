#include "platform/BoundedChildProcess.h"
#include "platform/ImageDecoderShared.h"

#include <QBuffer>
#include <QFile>
#include <QImageReader>

#include <algorithm>
#include <cerrno>
#include <climits>

namespace vennimo::image_decoding {

namespace {

// Qt's SVG plugin reads a whole document, then draws it in one call: a few megabytes of elements
// can cost minutes. Its work is bounded as a dropped PDF's is, in a child process; what goes past a
// bound is refused as damaged. A second of processor time draws any SVG a person made at the sizes
// the application asks for.
constexpr auto kSvgCpuTime = std::chrono::seconds(1);
// A child that waits rather than works (a lock it inherited held) is given up on.
constexpr auto kSvgDeadline = std::chrono::seconds(10);
// The document's own memory; the picture's comes on top.
constexpr qint64 kSvgDocumentBytes = qint64(256) << 20;

// In the child: the document's size, and when wanted its picture shrunk to maxPixelSize.
void drawInChild(const Source& source, int maxPixelSize, bool draw, BoundedChildAnswer& answer) {
    QFile file;
    QBuffer buffer;
    QIODevice* device = &buffer;
    if (source.isFile()) {
        file.setFileName(source.path);
        device = &file;
    } else {
        buffer.setData(source.data);
    }
    if (!device->open(QIODevice::ReadOnly)) {
        answer.code = kImageUnreadableCode;
        return;
    }
    QImageReader reader(device);
    reader.setDecideFormatFromContent(true);
    // The size the plugin draws at when asked for none, the cap checked.
    answer.size = reader.size();
    if (auto error = checkSize(answer.size)) {
        answer.code = qint32(error->code);
        return;
    }
    if (!draw)
        return;
    const QSize target = ImageDecoder::boundedSize(answer.size, maxPixelSize);
    reader.setScaledSize(target);
    QImage image;
    // The plugin draws into premultiplied pixels: nothing here converts them, which for a large
    // picture would hand the work to Qt's thread pool, whose threads the child has not.
    if (!reader.read(&image) || image.size() != target ||
        image.format() != QImage::Format_ARGB32_Premultiplied) {
        answer.code = kImageUnreadableCode;
        return;
    }
    answer.image = image;
}

Result<BoundedChildAnswer> inChild(const Source& source, int maxPixelSize, bool draw,
                                   const std::function<bool()>& stop) {
    const qint64 longest = maxPixelSize > 0 ? maxPixelSize : ImageDecoder::kMaxPixels;
    const qint64 pixels = maxPixelSize > 0
                              ? std::min(qint64(maxPixelSize) * maxPixelSize, ImageDecoder::kMaxPixels)
                              : ImageDecoder::kMaxPixels;
    const qint64 pictureBytes = draw ? pixels * 4 : 0;
    const BoundedChildLimits limits{
        .deadline = kSvgDeadline, .cpuTime = kSvgCpuTime, .memoryBytes = kSvgDocumentBytes + pictureBytes};
    return BoundedChildProcess::run(
        [&](BoundedChildAnswer& answer) { drawInChild(source, maxPixelSize, draw, answer); },
        int(std::min<qint64>(longest, INT_MAX)), limits, stop);
}

Error fromChild(qint32 code) {
    return code == kImageTooLargeCode ? tooLarge() : unreadable();
}

bool wasStopped(const Error& error) {
    return error.domain == kPosixErrorDomain && error.sysErrno == ECANCELED;
}

} // namespace

bool isSvgFormat(const QByteArray& format) {
    return format == "svg" || format == "svgz";
}

Result<ImageHeader> svgHeader(const Source& source) {
    auto answer = inChild(source, 0, false, {});
    if (!answer)
        return unreadable();
    if (answer->code != 0)
        return fromChild(answer->code);
    ImageHeader header;
    header.size = answer->size;
    header.format = "svg";
    return header;
}

Result<QImage> svgDecode(const Source& source, int maxPixelSize, const std::function<bool()>& stop) {
    auto answer = inChild(source, maxPixelSize, true, stop);
    if (!answer)
        return wasStopped(answer.error()) ? Error::fromErrno(ECANCELED, source.path) : unreadable();
    if (answer->code != 0)
        return fromChild(answer->code);
    if (answer->image.isNull())
        return unreadable();
    return answer->image;
}

} // namespace vennimo::image_decoding
