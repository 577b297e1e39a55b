#include "support/TestImages.h"

#include <algorithm>
#include <cstdlib>

namespace vennimo::test {

namespace {

QByteArray bigEndian(quint32 value, int bytes) {
    QByteArray out;
    for (int i = bytes - 1; i >= 0; --i)
        out.append(char((value >> (8 * i)) & 0xff));
    return out;
}

} // namespace

QByteArray withExifOrientation(const QByteArray& jpeg, int orientation) {
    const QByteArray tiff = QByteArray("MM\0*", 4) + bigEndian(8, 4) + bigEndian(1, 2) +
                            bigEndian(0x0112, 2) + bigEndian(3, 2) + bigEndian(1, 4) +
                            bigEndian(quint32(orientation), 2) + bigEndian(0, 2) + bigEndian(0, 4);
    const QByteArray payload = QByteArray("Exif\0\0", 6) + tiff;
    const QByteArray app1 = QByteArray("\xff\xe1", 2) + bigEndian(quint32(payload.size() + 2), 2) + payload;
    return jpeg.left(2) + app1 + jpeg.mid(2);
}

QByteArray manyScanJpeg(int width, int height, int scans, int firstScanBytes) {
    const auto segment = [](char marker, const QByteArray& body) {
        return QByteArray("\xff", 1) + marker + bigEndian(quint32(body.size() + 2), 2) + body;
    };
    QByteArray jpeg("\xff\xd8", 2);
    jpeg += segment('\xdb', QByteArray(1, '\0') + QByteArray(64, '\1'));
    jpeg += segment('\xc2', QByteArray("\x08", 1) + bigEndian(quint32(height), 2) +
                                bigEndian(quint32(width), 2) + QByteArray("\x01\x01\x11\x00", 4));
    // One DC code, "0": a difference of nothing, which zero bits spell for every block.
    jpeg += segment('\xc4', QByteArray("\x00\x01", 2) + QByteArray(15, '\0') + QByteArray(1, '\0'));
    const QByteArray dcScan = segment('\xda', QByteArray("\x01\x01\x00\x00\x00\x00", 6));
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
