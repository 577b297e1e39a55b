#include "rendering/ClotheslineMaterialAssets.h"

#include <QImageReader>

#include <algorithm>
#include <cmath>

namespace vennimo {

QString ClotheslineMaterialAssets::resourcePath(const QString& name) {
    return QStringLiteral(":/artwork/") + name + QStringLiteral(".png");
}

std::optional<QImage> ClotheslineMaterialAssets::load(const QString& name, QRect crop, int maxPixels) {
    QImageReader reader(resourcePath(name), "png");
    const QSize pixels = reader.size();
    if (!pixels.isValid() || pixels.isEmpty() || maxPixels <= 0)
        return std::nullopt;
    const int longer = std::max(pixels.width(), pixels.height());
    if (longer > maxPixels) {
        const double factor = double(maxPixels) / longer;
        reader.setScaledSize(QSize(std::max(1, int(std::lround(pixels.width() * factor))),
                                   std::max(1, int(std::lround(pixels.height() * factor)))));
    }
    QImage decoded = reader.read();
    if (decoded.isNull())
        return std::nullopt;
    const double fx = double(decoded.width()) / pixels.width();
    const double fy = double(decoded.height()) / pixels.height();
    const int left = int(std::floor(crop.x() * fx));
    const int top = int(std::floor(crop.y() * fy));
    const int right = int(std::ceil((crop.x() + crop.width()) * fx));
    const int bottom = int(std::ceil((crop.y() + crop.height()) * fy));
    const QRect cut = QRect(left, top, right - left, bottom - top).intersected(decoded.rect());
    if (cut.isEmpty())
        return std::nullopt;
    return decoded.copy(cut).convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

const std::optional<QImage>& ClotheslineMaterialAssets::peg() {
    static const std::optional<QImage> image =
        load(QStringLiteral("ClotheslinePegRefined"), kPegCrop, kPegMaxPixels);
    return image;
}

const std::optional<QImage>& ClotheslineMaterialAssets::tack() {
    static const std::optional<QImage> image =
        load(QStringLiteral("ClotheslineBrassSphere"), kTackCrop, kTackMaxPixels);
    return image;
}

} // namespace vennimo
