#include "HostileJpegs.h"

#include <QFile>

#include <cstdio>
// jpeglib.h takes FILE from stdio.h without including it.
#include <jpeglib.h>

#include <cstdlib>
#include <cstring>
#include <vector>

namespace vennimo::bench {

namespace {

QByteArray segment(char marker, const QByteArray& body) {
    const int length = int(body.size()) + 2;
    return QByteArray("\xff", 1) + marker + char(length >> 8) + char(length & 0xff) + body;
}

// A "VmRSS:"-like line of /proc/self/status, in MB.
double statusMegabytes(const char* field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith(field))
            return line.mid(qsizetype(std::strlen(field))).trimmed().split(' ').value(0).toDouble() / 1e3;
    return 0;
}

} // namespace

QByteArray markerFloodJpeg(int segments) {
    // 64 x 64 grey, every block flat: one DC code "0" and one AC code "0" for the end of block.
    QByteArray picture;
    picture += segment('\xdb', QByteArray(1, '\0') + QByteArray(64, '\1'));
    picture += segment('\xc0', QByteArray::fromHex("08 0040 0040 01 011100"));
    picture += segment('\xc4', QByteArray::fromHex("00 01") + QByteArray(15, '\0') + QByteArray(1, '\0'));
    picture += segment('\xc4', QByteArray::fromHex("10 01") + QByteArray(15, '\0') + QByteArray(1, '\0'));
    // 64 blocks of two zero bits each: 16 bytes.
    picture += segment('\xda', QByteArray::fromHex("01 0100 00 3f 00")) + QByteArray(16, '\0');
    QByteArray jpeg("\xff\xd8", 2);
    jpeg.reserve(qsizetype(segments) * 4 + picture.size() + 4);
    for (int i = 0; i < segments; ++i)
        jpeg += QByteArray("\xff\xfe\x00\x02", 4);
    return jpeg + picture + QByteArray("\xff\xd9", 2);
}

QByteArray scanFloodJpeg(int components, int scans, bool arithmetic) {
    QByteArray jpeg("\xff\xd8", 2);
    jpeg += segment('\xdb', QByteArray(1, '\0') + QByteArray(64, '\1'));
    QByteArray frame = QByteArray::fromHex("08 2710 2710") + char(components);
    QByteArray scan(1, char(components));
    for (int c = 1; c <= components; ++c) {
        frame += char(c) + QByteArray::fromHex("1100");
        scan += char(c) + QByteArray(1, '\0');
    }
    jpeg += segment(arithmetic ? '\xca' : '\xc2', frame);
    // Huffman: one DC code, "0", a difference of nothing. Arithmetic coding needs no table.
    if (!arithmetic)
        jpeg += segment('\xc4', QByteArray::fromHex("00 01") + QByteArray(16, '\0'));
    scan += QByteArray(3, '\0');
    for (int i = 0; i < scans; ++i)
        jpeg += segment('\xda', scan);
    return jpeg + QByteArray("\xff\xd9", 2);
}

bool writeProgressivePhoto(const QString& path, int width, int height, int quality) {
    std::FILE* file = std::fopen(QFile::encodeName(path).constData(), "wb");
    if (file == nullptr)
        return false;
    jpeg_compress_struct info{};
    jpeg_error_mgr error{};
    info.err = jpeg_std_error(&error);
    jpeg_create_compress(&info);
    jpeg_stdio_dest(&info, file);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    info.comp_info[0].h_samp_factor = 2;
    info.comp_info[0].v_samp_factor = 1;
    jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    std::vector<JSAMPLE> row(size_t(width) * 3);
    unsigned state = 1;
    while (info.next_scanline < info.image_height) {
        const int y = int(info.next_scanline);
        for (int x = 0; x < width; ++x) {
            state = state * 1664525u + 1013904223u;
            const int noise = int(state >> 27);
            row[size_t(x) * 3] = JSAMPLE((x * 255 / width + noise) & 255);
            row[size_t(x) * 3 + 1] = JSAMPLE((y * 255 / height + noise) & 255);
            row[size_t(x) * 3 + 2] = JSAMPLE(((x + y) * 127 / (width + height) + noise) & 255);
        }
        JSAMPROW line = row.data();
        jpeg_write_scanlines(&info, &line, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return std::fclose(file) == 0;
}

std::optional<double> peakMegabytesOf(const std::function<bool()>& work) {
    // Writing 5 sets the peak back to what is resident now.
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (!clear.open(QIODevice::WriteOnly) || clear.write("5") != 1)
        return std::nullopt;
    clear.close();
    const double before = statusMegabytes("VmRSS:");
    if (!work())
        return std::nullopt;
    return statusMegabytes("VmHWM:") - before;
}

} // namespace vennimo::bench
