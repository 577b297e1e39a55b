#include "rendering/AlphaMaskedPicture.h"

#include <QBitmap>

#include <cmath>

namespace vennimo {

AlphaMaskedPicture::AlphaMaskedPicture(const QImage& picture) {
    if (picture.isNull())
        return;
    const double ratio = std::max(picture.devicePixelRatio(), 1.0);
    QImage flat = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < flat.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(flat.scanLine(y));
        for (int x = 0; x < flat.width(); ++x)
            line[x] = qAlpha(line[x]) >= kMinimumAlpha ? (line[x] | 0xff000000u) : 0u;
    }
    m_image = flat.convertToFormat(QImage::Format_ARGB32_Premultiplied);
    m_image.setDevicePixelRatio(ratio);

    // A logical pixel shows when the device pixel at its centre does, so the region and the
    // drawn pixels agree at any scale.
    const QSize logical(int(std::ceil(flat.width() / ratio)), int(std::ceil(flat.height() / ratio)));
    QImage mask(logical, QImage::Format_MonoLSB);
    mask.setColor(0, QColor(Qt::color0).rgba());
    mask.setColor(1, QColor(Qt::color1).rgba());
    mask.fill(0);
    for (int y = 0; y < logical.height(); ++y) {
        const int sy = std::min(int((y + 0.5) * ratio), flat.height() - 1);
        const auto* line = reinterpret_cast<const QRgb*>(flat.constScanLine(sy));
        for (int x = 0; x < logical.width(); ++x)
            if (qAlpha(line[std::min(int((x + 0.5) * ratio), flat.width() - 1)]) != 0)
                mask.setPixel(x, y, 1);
    }
    m_region = QRegion(QBitmap::fromImage(mask));
}

} // namespace vennimo
