#include "dragdrop/DroppedPicture.h"

#include "dragdrop/ExternalImageDrop.h"
#include "platform/ImageDecoder.h"
#include "platform/WorkQueue.h"

#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>

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

// One check's outcome, shared by the waiting caller and the queue that decodes.
struct Check {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<bool> decodes;
    std::atomic<bool> givenUp{false};
};

bool passesImportCheck(const QByteArray& bytes, const std::atomic<bool>& givenUp) {
    if (bytes.startsWith("%PDF-"))
        return true;
    const auto header = ImageDecoder::readHeader(bytes, [&givenUp] { return givenUp.load(); });
    if (!header.ok() || !ExternalImageDrop::withinPixelLimit(header->size.width(), header->size.height()))
        return false;
    return ImageDecoder::decodeScaled(bytes, ExternalImageDrop::kDecodeTestPixels,
                                      [&givenUp] { return givenUp.load(); })
        .ok();
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
    return hasPictureHeader(bytes) && framedToItsEnd(bytes);
}

bool DroppedPicture::framedToItsEnd(const QByteArray& bytes) {
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

std::optional<bool> DroppedPicture::decodes(const QByteArray& bytes, const QDeadlineTimer& deadline) {
    // Decoding waits for no source and may take a core for a second: the drop handler's thread
    // only waits, and no longer than its time allows.
    static SerialQueue queue(QStringLiteral("local.vennimo.drop-check"));
    auto check = std::make_shared<Check>();
    queue.async([check, bytes] {
        const bool passes = passesImportCheck(bytes, check->givenUp);
        std::lock_guard lock(check->mutex);
        check->decodes = passes;
        check->done.notify_all();
    });
    std::unique_lock lock(check->mutex);
    const auto ended = [&check] { return check->decodes.has_value(); };
    if (deadline.isForever())
        check->done.wait(lock, ended);
    else
        check->done.wait_for(
            lock, std::chrono::nanoseconds(std::max<qint64>(0, deadline.remainingTimeNSecs())), ended);
    if (!check->decodes)
        check->givenUp = true;
    return check->decodes;
}

} // namespace vennimo
