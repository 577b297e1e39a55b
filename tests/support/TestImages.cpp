#include "support/TestImages.h"

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

bool isMarkerRed(QColor color) {
    return color.red() > 180 && color.green() < 80 && color.blue() < 80;
}

} // namespace vennimo::test
