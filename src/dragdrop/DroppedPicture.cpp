#include "dragdrop/DroppedPicture.h"

#include "platform/ImageDecoder.h"

#include <QtEndian>

#include <algorithm>
#include <cstring>

namespace vennimo {

namespace {

// Padding some writers leave after the last marker.
QByteArrayView withoutPadding(QByteArrayView bytes) {
    while (!bytes.isEmpty() && (bytes.back() == '\0' || bytes.back() == '\n' || bytes.back() == '\r'))
        bytes.chop(1);
    return bytes;
}

bool pngReachesEnd(QByteArrayView bytes) {
    qsizetype at = 8;
    while (at + 12 <= bytes.size()) {
        const quint32 length = qFromBigEndian<quint32>(bytes.data() + at);
        if (length > 0x7fffffffu || qsizetype(length) > bytes.size() - at - 12)
            return false;
        if (std::memcmp(bytes.data() + at + 4, "IEND", 4) == 0)
            return true;
        at += 12 + qsizetype(length);
    }
    return false;
}

bool webpFillsRiff(QByteArrayView bytes) {
    if (bytes.size() < 12 || !bytes.startsWith("RIFF"))
        return false;
    const quint32 length = qFromLittleEndian<quint32>(bytes.data() + 4);
    return qsizetype(length) + 8 <= bytes.size();
}

} // namespace

bool DroppedPicture::hasPictureHeader(const QByteArray& bytes) {
    if (bytes.startsWith("%PDF-"))
        return true;
    const auto header = ImageDecoder::readHeader(bytes);
    return header.ok() || (header.error().domain == QLatin1String(kImageErrorDomain) &&
                           header.error().code == kImageTooLargeCode);
}

bool DroppedPicture::looksWhole(const QByteArray& bytes) {
    if (!hasPictureHeader(bytes))
        return false;
    const QByteArrayView view(bytes);
    if (view.startsWith("\x89PNG\r\n\x1a\n"))
        return pngReachesEnd(view);
    if (view.startsWith("\xff\xd8"))
        return withoutPadding(view).endsWith("\xff\xd9");
    if (view.startsWith("GIF8"))
        return withoutPadding(view).endsWith(";");
    if (view.startsWith("RIFF") && view.sliced(8).startsWith("WEBP"))
        return webpFillsRiff(view);
    if (view.startsWith("%PDF-"))
        return view.last(std::min<qsizetype>(view.size(), 1024)).contains("%%EOF");
    return true;
}

} // namespace vennimo
