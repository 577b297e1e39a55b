#include "DropTestHelpers.h"

#include "support/TestEnvironment.h"

#include <QBuffer>
#include <QImageWriter>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>

#include <future>

namespace vennimo::test {

namespace {

QByteArray encode(const QImage& image, const char* format) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, format);
    writer.write(image);
    return bytes;
}

quint32 crc32(const QByteArray& bytes) {
    quint32 crc = 0xFFFFFFFFu;
    for (char ch : bytes) {
        crc ^= quint8(ch);
        for (int k = 0; k < 8; ++k)
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void appendBigEndian(QByteArray& bytes, quint32 value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        bytes.append(char((value >> shift) & 0xFF));
}

} // namespace

QByteArray pngBytes(int width, int height, QColor color) {
    return encode(makeImage(width, height, color), "png");
}

QByteArray jpegBytes(int width, int height) {
    return encode(makeImage(width, height), "jpeg");
}

QByteArray tiffBytes(int width, int height) {
    return encode(makeImage(width, height), "tiff");
}

QByteArray pngHeaderClaiming(quint32 width, quint32 height) {
    QByteArray chunk("IHDR");
    appendBigEndian(chunk, width);
    appendBigEndian(chunk, height);
    chunk.append("\x08\x06\x00\x00\x00", 5);
    QByteArray bytes("\x89PNG\r\n\x1a\n", 8);
    appendBigEndian(bytes, 13);
    bytes.append(chunk);
    appendBigEndian(bytes, crc32(chunk));
    // A pixel-data chunk that is not valid compressed data, so nothing can be decoded from it.
    for (const QByteArray& next : {QByteArray("IDAT\x78\x9c\xff\xff", 8), QByteArray("IEND")}) {
        appendBigEndian(bytes, quint32(next.size() - 4));
        bytes.append(next);
        appendBigEndian(bytes, crc32(next));
    }
    return bytes;
}

QByteArray pdfBytes(int pages, QSizeF pointSize) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setPageSize(QPageSize(pointSize, QPageSize::Point));
        writer.setPageMargins(QMarginsF(0, 0, 0, 0));
        QPainter painter(&writer);
        for (int page = 0; page < pages; ++page) {
            if (page > 0)
                writer.newPage();
            painter.fillRect(QRectF(0, 0, 100, 100), Qt::red);
        }
    }
    return bytes;
}

ExternalImageDrop::Result materializeOffMain(const ExternalImageDrop::Snapshot& snapshot,
                                             const QString& storage,
                                             const ExternalImageDrop::ImportOptions& options) {
    return std::async(std::launch::async,
                      [&] { return ExternalImageDrop::materialize(snapshot, storage, options); })
        .get();
}

} // namespace vennimo::test
