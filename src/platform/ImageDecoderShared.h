#pragma once

// What ImageDecoder's source files share; the platform library's users include ImageDecoder.h.

#include "platform/ImageDecoder.h"

#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <functional>
#include <optional>

namespace vennimo::image_decoding {

// The input: a file (path set) or bytes in memory, with the first bytes for content sniffing.
struct Source {
    QString path;
    QByteArray data;
    QByteArray head;

    bool isFile() const { return !path.isEmpty(); }
};

Error unreadable();
Error tooLarge();
// The cap and the zero-size check every path applies before allocating pixels.
std::optional<Error> checkSize(QSize size);
// The bound applied to the oriented size, expressed in stored (pre-orientation) pixels.
QSize storedTarget(const ImageHeader& header, int maxPixelSize);
QImage scaledTo(const QImage& image, QSize size);
// The image turned and mirrored as its EXIF orientation (1..8) says.
QImage oriented(const QImage& image, int orientation);

// JPEG through JpegDecoder (ImageDecoderJpeg.cpp): its header from the markers, never from Qt's
// reader; its pixels turned as its EXIF orientation says.
Result<ImageHeader> jpegHeader(const Source& source, const std::function<bool()>& stop = {});
Result<QImage> jpegDecode(const Source& source, int maxPixelSize, const std::function<bool()>& stop);

// Camera RAW through LibRaw's embedded preview (ImageDecoderRaw.cpp). Whether LibRaw should get the
// first try; then nullopt when LibRaw does not take the source for a camera RAW.
bool mayBeRaw(const Source& source);
std::optional<Result<ImageHeader>> rawHeader(const Source& source);
// A stop, when given, is asked while LibRaw works and while the preview is decoded.
std::optional<Result<QImage>> rawDecode(const Source& source, int maxPixelSize,
                                        const std::function<bool()>& stop);

// HEIF and AVIF through libheif (ImageDecoderHeif.cpp), named by the ftyp box's brands as `format`.
// libheif (1.15) cannot stop a decoding part-way: the stop is asked between its decodings.
Result<ImageHeader> heifHeader(const Source& source, const QByteArray& format);
Result<QImage> heifDecode(const Source& source, const QByteArray& format, int maxPixelSize,
                          const std::function<bool()>& stop);
// The same on a thread of its own, which a process on its way out leaves unfinished.
Result<QImage> heifDecodeLettingGo(const Source& source, const QByteArray& format, int maxPixelSize,
                                   const std::function<bool()>& stop);
// ImageHeader::workingBytes from the boxes before the picture data, read alone; none when they do
// not come within the file's first megabyte or name no primary picture.
std::optional<qint64> heifWorkingBytesFromBoxes(const QString& path);
// The decodings left unfinished that still run.
int heifDecodingsRunning();

// SVG through Qt's plugin in a child process bounded in time and memory (ImageDecoderSvg.cpp): the
// plugin reads and draws a document in calls that nothing can stop. Whether Qt's reader named the
// format SVG; then the header, and the picture with the stop asked every few milliseconds.
bool isSvgFormat(const QByteArray& format);
Result<ImageHeader> svgHeader(const Source& source, const std::function<bool()>& stop);
Result<QImage> svgDecode(const Source& source, int maxPixelSize, const std::function<bool()>& stop);
// The helper run for SVGs from now on; an empty name finds it again. Its absence is said anew.
void setSvgProgramForTesting(const QByteArray& program);

} // namespace vennimo::image_decoding
