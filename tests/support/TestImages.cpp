#include "support/TestImages.h"

#include "support/TestEnvironment.h"

#include <QBuffer>
#include <QImageWriter>
#include <QPainter>

#include <webp/decode.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <memory>
#include <span>

namespace vennimo::test {

namespace {

QByteArray bigEndian(quint32 value, int bytes) {
    QByteArray out;
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char((value >> (8 * i)) & 0xff));
    return out;
}

// A TIFF IFD whose values all fit inline; entries are {tag, type, count, value}, sorted by tag.
QByteArray tiffIfd(std::initializer_list<std::array<quint32, 4>> entries) {
    QByteArray out = littleEndian(quint32(entries.size()), 2);
    for (const auto& [tag, type, count, value] : entries)
        out += littleEndian(tag, 2) + littleEndian(type, 2) + littleEndian(count, 4) + littleEndian(value, 4);
    return out + littleEndian(0, 4);
}

quint32 crc32(const QByteArray& bytes) {
    quint32 crc = 0xffffffffu;
    for (char byte : bytes) {
        crc ^= quint8(byte);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

struct MuxDeleter {
    void operator()(WebPMux* mux) const { WebPMuxDelete(mux); }
};
using Mux = std::unique_ptr<WebPMux, MuxDeleter>;

QByteArray assembled(WebPMux* mux) {
    WebPData out{};
    if (WebPMuxAssemble(mux, &out) != WEBP_MUX_OK)
        return {};
    QByteArray bytes(reinterpret_cast<const char*>(out.bytes), qsizetype(out.size));
    WebPDataClear(&out);
    return bytes;
}

} // namespace

// Here rather than beside the other helpers of TestEnvironment.h: the bench and the fuzz seeds
// build this file without GoogleTest.
QImage makeImage(int width, int height, QColor color) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(color);
    QPainter painter(&image);
    painter.fillRect(0, 0, std::max(1, width / 4), std::max(1, height / 4), Qt::red);
    return image;
}

QByteArray littleEndian(quint32 value, int count) {
    QByteArray out = bigEndian(value, count);
    std::reverse(out.begin(), out.end());
    return out;
}

QByteArray makeDng(int orientation, const QByteArray& jpegPreview) {
    QByteArray pixels = jpegPreview;
    if (pixels.isEmpty()) {
        const QImage preview = makeImage(32, 16).convertToFormat(QImage::Format_RGB888);
        for (int y = 0; y < preview.height(); ++y)
            pixels.append(reinterpret_cast<const char*>(preview.constScanLine(y)), preview.width() * 3);
    }
    // Compression 7 and photometric 6 (YCbCr) make it a JPEG preview for LibRaw.
    const quint32 compression = jpegPreview.isEmpty() ? 1 : 7, photometric = jpegPreview.isEmpty() ? 2 : 6;
    const QByteArray cfa(64 * 32 * 2, '\x10');
    const quint32 subIfd = 8 + 2 + 12 * 12 + 4, previewAt = subIfd + 2 + 12 * 11 + 4;
    const quint32 cfaAt = previewAt + quint32(pixels.size());
    // clang-format off
    const QByteArray ifd0 = tiffIfd({{254, 4, 1, 1}, {256, 4, 1, 32}, {257, 4, 1, 16}, {258, 3, 1, 8},
        {259, 3, 1, compression}, {262, 3, 1, photometric}, {273, 4, 1, previewAt},
        {274, 3, 1, quint32(orientation)}, {277, 3, 1, 3}, {279, 4, 1, quint32(pixels.size())},
        {330, 4, 1, subIfd}, {50706, 1, 4, 0x0401}});
    const QByteArray raw = tiffIfd({{254, 4, 1, 0}, {256, 4, 1, 64}, {257, 4, 1, 32}, {258, 3, 1, 16},
        {259, 3, 1, 1}, {262, 3, 1, 32803}, {273, 4, 1, cfaAt}, {277, 3, 1, 1},
        {279, 4, 1, quint32(cfa.size())}, {33421, 3, 2, 0x00020002}, {33422, 1, 4, 0x02010100}});
    // clang-format on
    return QByteArray("II*\0", 4) + littleEndian(8, 4) + ifd0 + raw + pixels + cfa;
}

QByteArray pngChunk(const QByteArray& type, const QByteArray& data) {
    return bigEndian(quint32(data.size()), 4) + type + data + bigEndian(crc32(type + data), 4);
}

QByteArray greyPng(quint32 width, quint32 height, quint32 split, bool interlaced) {
    struct Pass {
        quint32 x, y, dx, dy;
    };
    static constexpr Pass kWhole[] = {{0, 0, 1, 1}};
    static constexpr Pass kAdam7[] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8}, {2, 0, 4, 4},
                                      {0, 2, 2, 4}, {1, 0, 2, 2}, {0, 1, 1, 2}};
    QByteArray rows;
    for (const Pass& pass : interlaced ? std::span<const Pass>(kAdam7) : std::span<const Pass>(kWhole)) {
        const quint32 columns = (width - pass.x + pass.dx - 1) / pass.dx;
        if (columns == 0 || pass.y >= height)
            continue;
        for (quint32 y = pass.y; y < height; y += pass.dy)
            rows.append('\0').append(qsizetype(columns), y < split ? '\0' : '\xff');
    }
    const QByteArray ihdr = bigEndian(width, 4) + bigEndian(height, 4) + QByteArray("\x08\x00\x00\x00", 4) +
                            QByteArray(1, interlaced ? '\1' : '\0');
    // qCompress puts the length ahead of a zlib stream.
    return QByteArray("\x89PNG\r\n\x1a\n", 8) + pngChunk("IHDR", ihdr) +
           pngChunk("IDAT", qCompress(rows, 9).mid(4)) + pngChunk("IEND", {});
}

QByteArray webpOf(const QImage& image, bool lossless, int quality) {
    const QImage rgba = image.convertToFormat(QImage::Format_RGBA8888);
    WebPConfig config;
    if (!WebPConfigInit(&config))
        return {};
    config.lossless = lossless ? 1 : 0;
    config.quality = float(quality);
    // Lossy pictures at the fastest method; lossless ones as encoders write them by default, with
    // the palettes and long runs that make a plain picture a few bytes.
    if (!lossless)
        config.method = 0;
    WebPPicture picture;
    if (!WebPPictureInit(&picture))
        return {};
    picture.use_argb = 1;
    picture.width = rgba.width();
    picture.height = rgba.height();
    WebPMemoryWriter writer;
    WebPMemoryWriterInit(&writer);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &writer;
    QByteArray bytes;
    if (WebPPictureImportRGBA(&picture, rgba.constBits(), int(rgba.bytesPerLine())) &&
        WebPEncode(&config, &picture))
        bytes = QByteArray(reinterpret_cast<const char*>(writer.mem), qsizetype(writer.size));
    WebPPictureFree(&picture);
    WebPMemoryWriterClear(&writer);
    return bytes;
}

QByteArray flatLosslessWebp(QSize size, QRgb colour) {
    QByteArray bytes;
    quint64 pending = 0;
    int pendingBits = 0;
    // The format packs its fields from the lowest bit of each byte up.
    const auto put = [&](quint32 value, int bits) {
        pending |= quint64(value) << pendingBits;
        for (pendingBits += bits; pendingBits >= 8; pendingBits -= 8, pending >>= 8)
            bytes.append(char(pending & 0xff));
    };
    put(0x2f, 8); // signature
    put(quint32(size.width() - 1), 14);
    put(quint32(size.height() - 1), 14);
    put(0, 1); // no alpha
    put(0, 3); // version
    put(0, 1); // no transform
    put(0, 1); // no colour cache
    put(0, 1); // one set of codes for the whole picture
    // Green, red, blue, alpha and distance: each a simple code of one 8-bit symbol.
    for (const int symbol : {qGreen(colour), qRed(colour), qBlue(colour), 0xff, 0}) {
        put(1, 1);
        put(0, 1);
        put(1, 1);
        put(quint32(symbol), 8);
    }
    put(0, 7);
    // Room for the reader's look-ahead, and an even chunk.
    bytes.append(8 + bytes.size() % 2, '\0');
    return "RIFF" + littleEndian(quint32(4 + 8 + bytes.size()), 4) + "WEBPVP8L" +
           littleEndian(quint32(bytes.size()), 4) + bytes;
}

QByteArray outOfPaletteWebp(QSize size, QRgb colour) {
    QByteArray bytes;
    quint64 pending = 0;
    int pendingBits = 0;
    const auto put = [&](quint32 value, int bits) {
        pending |= quint64(value) << pendingBits;
        for (pendingBits += bits; pendingBits >= 8; pendingBits -= 8, pending >>= 8)
            bytes.append(char(pending & 0xff));
    };
    // Green, red, blue, alpha and distance: each a simple code of one 8-bit symbol.
    const auto codes = [&put](std::array<int, 5> symbols) {
        for (const int symbol : symbols) {
            put(1, 1);
            put(0, 1);
            put(1, 1);
            put(quint32(symbol), 8);
        }
    };
    put(0x2f, 8); // signature
    put(quint32(size.width() - 1), 14);
    put(quint32(size.height() - 1), 14);
    put(0, 1); // no alpha, says the header
    put(0, 3); // version
    put(1, 1); // a transform:
    put(3, 2); // colour indexing,
    put(0, 8); // of one colour,
    put(0, 1); // its palette without a colour cache
    codes({qGreen(colour), qRed(colour), qBlue(colour), qAlpha(colour), 0});
    put(0, 1); // no more transforms
    put(0, 1); // no colour cache
    put(0, 1); // one set of codes for the whole picture
    // With two colours or fewer, eight pixels share a byte of green, a bit each from the lowest:
    // 0x55 gives the even pixels index 1, outside the palette, and the odd ones index 0.
    codes({0x55, 0, 0, 0xff, 0});
    put(0, 7);
    bytes.append(8 + bytes.size() % 2, '\0');
    return "RIFF" + littleEndian(quint32(4 + 8 + bytes.size()), 4) + "WEBPVP8L" +
           littleEndian(quint32(bytes.size()), 4) + bytes;
}

QByteArray withEmptyChunks(const QByteArray& webp, int count) {
    constexpr qsizetype kRiffHeader = 12, kVp8xChunk = 8 + 10;
    QByteArray head, rest;
    if (webp.mid(kRiffHeader, 4) == "VP8X") {
        head = webp.left(kRiffHeader + kVp8xChunk);
        rest = webp.mid(kRiffHeader + kVp8xChunk);
    } else {
        int width = 0, height = 0;
        if (!WebPGetInfo(reinterpret_cast<const uint8_t*>(webp.constData()), size_t(webp.size()), &width,
                         &height))
            return {};
        head = webp.left(kRiffHeader) + "VP8X" + littleEndian(10, 4) + littleEndian(0, 4) +
               littleEndian(quint32(width - 1), 3) + littleEndian(quint32(height - 1), 3);
        rest = webp.mid(kRiffHeader);
    }
    QByteArray out = head;
    out.reserve(head.size() + qsizetype(count) * 8 + rest.size());
    for (int i = 0; i < count; ++i)
        out += QByteArrayView("JUNK\0\0\0\0", 8);
    out += rest;
    const QByteArray riffSize = littleEndian(quint32(out.size() - 8), 4);
    out.replace(4, 4, riffSize);
    return out;
}

QByteArray animatedWebp(QSize canvas, const QList<WebpFrame>& frames) {
    const Mux mux(WebPMuxNew());
    if (!mux || WebPMuxSetCanvasSize(mux.get(), canvas.width(), canvas.height()) != WEBP_MUX_OK)
        return {};
    WebPMuxAnimParams params{};
    params.bgcolor = 0;
    params.loop_count = 0;
    if (WebPMuxSetAnimationParams(mux.get(), &params) != WEBP_MUX_OK)
        return {};
    for (const WebpFrame& frame : frames) {
        const QByteArray still = webpOf(frame.image, true);
        WebPMuxFrameInfo info{};
        info.bitstream = {reinterpret_cast<const uint8_t*>(still.constData()), size_t(still.size())};
        info.x_offset = frame.offset.x();
        info.y_offset = frame.offset.y();
        info.duration = 100;
        info.id = WEBP_CHUNK_ANMF;
        info.dispose_method = WEBP_MUX_DISPOSE_NONE;
        info.blend_method = WEBP_MUX_NO_BLEND;
        if (still.isEmpty() || WebPMuxPushFrame(mux.get(), &info, 1) != WEBP_MUX_OK)
            return {};
    }
    return assembled(mux.get());
}

QByteArray withIccProfile(const QByteArray& webp, const QByteArray& profile) {
    const WebPData input{reinterpret_cast<const uint8_t*>(webp.constData()), size_t(webp.size())};
    const Mux mux(WebPMuxCreate(&input, 1));
    const WebPData icc{reinterpret_cast<const uint8_t*>(profile.constData()), size_t(profile.size())};
    if (!mux || WebPMuxSetChunk(mux.get(), "ICCP", &icc, 1) != WEBP_MUX_OK)
        return {};
    return assembled(mux.get());
}

QByteArray jpegOf(const QImage& image, int quality, bool progressive) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.setProgressiveScanWrite(progressive);
    writer.write(image);
    return bytes;
}

QByteArray withExifOrientation(const QByteArray& jpeg, int orientation, ExifOrder order) {
    const auto number = order == ExifOrder::Intel ? littleEndian : bigEndian;
    const QByteArray tiff = QByteArray(order == ExifOrder::Intel ? "II*\0" : "MM\0*", 4) + number(8, 4) +
                            number(1, 2) + number(0x0112, 2) + number(3, 2) + number(1, 4) +
                            number(quint32(orientation), 2) + number(0, 2) + number(0, 4);
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    const QByteArray app1 = QByteArray("\xff\xe1", 2) + bigEndian(quint32(payload.size() + 2), 2) + payload;
    return jpeg.left(2) + app1 + jpeg.mid(2);
}

QByteArray manyScanJpeg(int width, int height, int scans, int firstScanBytes, int components) {
    const auto segment = [](char marker, const QByteArray& body) {
        return QByteArray("\xff", 1) + marker + bigEndian(quint32(body.size() + 2), 2) + body;
    };
    QByteArray jpeg("\xff\xd8", 2);
    jpeg += segment('\xdb', QByteArray(1, '\0') + QByteArray(64, '\1'));
    QByteArray frame = QByteArray("\x08", 1) + bigEndian(quint32(height), 2) + bigEndian(quint32(width), 2) +
                       char(components);
    QByteArray scan(1, char(components));
    for (int c = 1; c <= components; ++c) {
        frame += QByteArray(1, char(c)) + QByteArray("\x11\x00", 2);
        scan += QByteArray(1, char(c)) + QByteArray(1, '\0');
    }
    jpeg += segment('\xc2', frame);
    // One DC code, "0": a difference of nothing, which zero bits spell for every block.
    jpeg += segment('\xc4', QByteArray("\x00\x01", 2) + QByteArray(15, '\0') + QByteArray(1, '\0'));
    const QByteArray dcScan = segment('\xda', scan + QByteArray(3, '\0'));
    for (int i = 0; i < scans; ++i) {
        jpeg += dcScan;
        if (i == 0)
            jpeg += QByteArray(firstScanBytes, '\0');
    }
    return jpeg + QByteArray("\xff\xd9", 2);
}

bool isMarkerRed(QColor color) {
    return color.red() > 180 && color.green() < 80 && color.blue() < 80;
}

ImageDifference imageDifference(const QImage& a, const QImage& b) {
    ImageDifference d;
    if (a.size() != b.size() || a.depth() != 32 || b.depth() != 32)
        return {255, qsizetype(std::max(a.width() * a.height(), b.width() * b.height()))};
    for (int y = 0; y < a.height(); ++y) {
        const auto* la = reinterpret_cast<const QRgb*>(a.constScanLine(y));
        const auto* lb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
        for (int x = 0; x < a.width(); ++x) {
            const int channel =
                std::max({std::abs(qRed(la[x]) - qRed(lb[x])), std::abs(qGreen(la[x]) - qGreen(lb[x])),
                          std::abs(qBlue(la[x]) - qBlue(lb[x])), std::abs(qAlpha(la[x]) - qAlpha(lb[x]))});
            d.largest = std::max(d.largest, channel);
            d.pixels += channel > 0 ? 1 : 0;
        }
    }
    return d;
}

} // namespace vennimo::test
