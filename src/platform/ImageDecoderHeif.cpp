#include "platform/ImageDecoderShared.h"
#include "platform/ProcessExit.h"

#include <QFile>

#include <libheif/heif.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

namespace vennimo::image_decoding {

namespace {

// What a HEIF or AVIF decoding holds whatever size it delivers, since libheif decodes the whole
// picture: the codec's planes, libheif's copy of them and the RGBA picture made from those, some
// 8.7 bytes a pixel measured for a 4:2:0 HEIC of 24 megapixels.
constexpr qint64 kHeifWorkingBytesPerPixel = 9;
// How far into a file the boxes before its picture data are looked for.
constexpr qint64 kHeifBoxesBytes = 1 << 20;

int longerSide(QSize size) {
    return std::max(size.width(), size.height());
}

quint32 bigEndian32(const QByteArray& bytes, qsizetype at) {
    const auto* p = reinterpret_cast<const uchar*>(bytes.constData() + at);
    return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
}

struct HeifDeleter {
    void operator()(heif_context* c) const { heif_context_free(c); }
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
    void operator()(heif_image* i) const { heif_image_release(i); }
    void operator()(heif_decoding_options* o) const { heif_decoding_options_free(o); }
};
template <class T>
using HeifPtr = std::unique_ptr<T, HeifDeleter>;

struct HeifFile {
    HeifPtr<heif_context> context;
    HeifPtr<heif_image_handle> primary;
    ImageHeader header;
};

QSize heifSize(const heif_image_handle* handle) {
    return {heif_image_handle_get_width(handle), heif_image_handle_get_height(handle)};
}

Result<HeifFile> openHeif(const Source& source, const QByteArray& format) {
    HeifFile file;
    file.context.reset(heif_context_alloc());
    if (!file.context)
        return unreadable();
    const heif_error read =
        source.isFile()
            ? heif_context_read_from_file(file.context.get(), QFile::encodeName(source.path).constData(),
                                          nullptr)
            : heif_context_read_from_memory_without_copy(file.context.get(), source.data.constData(),
                                                         size_t(source.data.size()), nullptr);
    if (read.code != heif_error_Ok)
        return unreadable();
    heif_image_handle* primary = nullptr;
    if (heif_context_get_primary_image_handle(file.context.get(), &primary).code != heif_error_Ok)
        return unreadable();
    file.primary.reset(primary);
    // libheif rotates and mirrors (irot/imir) on every decode, so the size after those is the
    // stored one as far as callers are concerned, and the EXIF orientation must not apply again.
    file.header.size = heifSize(primary);
    file.header.orientation = 1;
    file.header.format = format;
    if (auto error = checkSize(file.header.size))
        return *error;
    file.header.workingBytes =
        qint64(file.header.size.width()) * file.header.size.height() * kHeifWorkingBytesPerPixel;
    return file;
}

Result<QImage> decodeHeifHandle(const heif_image_handle* handle) {
    if (auto error = checkSize(heifSize(handle)))
        return *error;
    HeifPtr<heif_decoding_options> options(heif_decoding_options_alloc());
    options->convert_hdr_to_8bit = 1;
    heif_image* decoded = nullptr;
    if (heif_decode_image(handle, &decoded, heif_colorspace_RGB, heif_chroma_interleaved_RGBA, options.get())
            .code != heif_error_Ok)
        return unreadable();
    HeifPtr<heif_image> image(decoded);
    int stride = 0;
    const uint8_t* plane = heif_image_get_plane_readonly(decoded, heif_channel_interleaved, &stride);
    const int width = heif_image_get_width(decoded, heif_channel_interleaved);
    const int height = heif_image_get_height(decoded, heif_channel_interleaved);
    if (plane == nullptr || width <= 0 || height <= 0 || stride < width * 4)
        return unreadable();
    QImage::Format format = QImage::Format_RGBX8888;
    if (heif_image_handle_has_alpha_channel(handle))
        format = heif_image_handle_is_premultiplied_alpha(handle) ? QImage::Format_RGBA8888_Premultiplied
                                                                  : QImage::Format_RGBA8888;
    // libheif's own pixels, not a copy of them: a full-size copy of a camera picture is some 100 MB
    // more, only to be shrunk. The picture releases them when it goes.
    QImage result(
        plane, width, height, stride, format,
        [](void* pixels) { heif_image_release(static_cast<heif_image*>(pixels)); }, image.release());
    if (result.isNull())
        return unreadable();
    return result;
}

std::atomic<int> g_heifDecodingsRunning{0};

} // namespace

Result<ImageHeader> heifHeader(const Source& source, const QByteArray& format) {
    auto file = openHeif(source, format);
    if (!file)
        return file.error();
    return file->header;
}

// libheif (1.15) has no way to end a decoding under way: the stop is looked at between them.
Result<QImage> heifDecode(const Source& source, const QByteArray& format, int maxPixelSize,
                          const std::function<bool()>& stop) {
    const auto stopped = [&] { return stop && stop(); };
    auto file = openHeif(source, format);
    if (!file)
        return file.error();
    if (stopped())
        return Error::fromErrno(ECANCELED, source.path);
    const QSize target = ImageDecoder::boundedSize(file->header.size, maxPixelSize);
    if (target != file->header.size) {
        // The smallest embedded thumbnail that still covers the target saves decoding the full image.
        const int wanted = longerSide(target);
        const int count = heif_image_handle_get_number_of_thumbnails(file->primary.get());
        std::vector<heif_item_id> ids(size_t(std::max(count, 0)));
        if (count > 0)
            heif_image_handle_get_list_of_thumbnail_IDs(file->primary.get(), ids.data(), count);
        HeifPtr<heif_image_handle> best;
        for (heif_item_id id : ids) {
            heif_image_handle* thumb = nullptr;
            if (heif_image_handle_get_thumbnail(file->primary.get(), id, &thumb).code != heif_error_Ok)
                continue;
            HeifPtr<heif_image_handle> candidate(thumb);
            const int longer = longerSide(heifSize(thumb));
            if (longer >= wanted && (!best || longer < longerSide(heifSize(best.get()))))
                best = std::move(candidate);
        }
        if (best) {
            auto image = decodeHeifHandle(best.get());
            if (image)
                return scaledTo(*image, target);
            if (stopped())
                return Error::fromErrno(ECANCELED, source.path);
        }
    }
    auto image = decodeHeifHandle(file->primary.get());
    if (!image)
        return image.error();
    return scaledTo(*image, target);
}

// libheif reads every box of a file whole, the picture data with them: a header read from a
// camera's HEIC costs its megabytes. The boxes up to the meta box, read alone, say the size; the
// references into the data missing from them are all libheif finds wrong.
std::optional<qint64> heifWorkingBytesFromBoxes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray head = file.read(kHeifBoxesBytes);
    qint64 metaEnd = 0;
    for (qint64 at = 0; at + 8 <= head.size() && metaEnd == 0;) {
        const qint64 size = bigEndian32(head, at);
        // A box of a 64-bit size or reaching to the end of the file is picture data.
        if (size < 8)
            return std::nullopt;
        if (head.mid(at + 4, 4) == "meta")
            metaEnd = at + size;
        at += size;
    }
    if (metaEnd == 0 || metaEnd > head.size())
        return std::nullopt;
    HeifPtr<heif_context> context(heif_context_alloc());
    if (!context)
        return std::nullopt;
    heif_context_read_from_memory_without_copy(context.get(), head.constData(), size_t(metaEnd), nullptr);
    heif_image_handle* primary = nullptr;
    if (heif_context_get_primary_image_handle(context.get(), &primary).code != heif_error_Ok)
        return std::nullopt;
    const HeifPtr<heif_image_handle> handle(primary);
    const QSize size = heifSize(primary);
    if (checkSize(size))
        return 0;
    return qint64(size.width()) * size.height() * kHeifWorkingBytesPerPixel;
}

// The HEIF decoding of a caller that has a stop: on a thread of its own, so that a process on its
// way out can leave it unfinished instead of waiting for it. Before that the caller waits for it
// as for any other decoding, since a result thrown away mid-session costs nothing more than this.
Result<QImage> heifDecodeLettingGo(const Source& source, const QByteArray& format, int maxPixelSize,
                                   const std::function<bool()>& stop) {
    struct Outcome {
        std::mutex mutex;
        std::condition_variable done;
        std::optional<Result<QImage>> image;
        std::atomic<bool> leftBehind{false};
    };
    auto outcome = std::make_shared<Outcome>();
    g_heifDecodingsRunning.fetch_add(1);
    try {
        std::thread([outcome, source, format, maxPixelSize] {
            // Once left behind it still ends at the next point libheif lets it.
            Result<QImage> image =
                heifDecode(source, format, maxPixelSize, [&outcome] { return outcome->leftBehind.load(); });
            {
                const std::lock_guard lock(outcome->mutex);
                // Counted out before its caller can see the result, which then finds none running.
                g_heifDecodingsRunning.fetch_sub(1);
                outcome->image = std::move(image);
            }
            outcome->done.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        g_heifDecodingsRunning.fetch_sub(1);
        return heifDecode(source, format, maxPixelSize, stop);
    }
    constexpr auto kStopLookInterval = std::chrono::milliseconds(20);
    std::unique_lock lock(outcome->mutex);
    while (!outcome->image) {
        lock.unlock();
        if (stop() && ProcessExit::announced()) {
            outcome->leftBehind.store(true);
            return Error::fromErrno(ECANCELED, source.path);
        }
        lock.lock();
        outcome->done.wait_for(lock, kStopLookInterval, [&] { return outcome->image.has_value(); });
    }
    return std::move(*outcome->image);
}

int heifDecodingsRunning() {
    return g_heifDecodingsRunning.load();
}

} // namespace vennimo::image_decoding
