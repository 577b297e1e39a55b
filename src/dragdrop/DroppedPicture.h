#pragma once

#include <QByteArray>
#include <QDeadlineTimer>

#include <optional>

namespace vennimo {

// What dropped bytes look like, by their header and their framing alone: nothing is decoded, so
// it may run on the main thread inside the drop handler.
class DroppedPicture {
public:
    DroppedPicture() = delete;

    // A header the import can read, or a PDF. A header too large to decode still counts: the
    // import names the fault.
    static bool hasPictureHeader(const QByteArray& bytes);
    // A picture header, and the format's framing runs to its end: a PNG's chunks reach IEND, a
    // JPEG ends with its end marker, a GIF with its trailer, a WebP fills its RIFF size, a PDF
    // closes with %%EOF. A picture cut off in transit fails it; formats without such framing pass
    // on their header.
    static bool looksWhole(const QByteArray& bytes);
    // The framing half of looksWhole, which reads no header: a header can take seconds to read (a
    // JPEG of many marker segments), which the drop handler's thread must not spend.
    static bool framedToItsEnd(const QByteArray& bytes);
    // Whether the import's check passes: a header within the pixel limit and data that decodes (a
    // PDF passes on its header). The decoding runs on a queue of its own while the caller waits
    // until `deadline`; nothing when it had not ended by then, and it stops soon after.
    static std::optional<bool> decodes(const QByteArray& bytes, const QDeadlineTimer& deadline);
};

} // namespace vennimo
