#pragma once

#include <QImage>
#include <QRect>
#include <QString>

#include <optional>

namespace vennimo {

// The bitmap artwork of the rope, each loaded once on first use (thread-safe). Absent when the
// resource is missing or cannot be decoded.
class ClotheslineMaterialAssets {
public:
    static constexpr QRect kPegCrop{290, 152, 315, 1466};
    static constexpr int kPegMaxPixels = 512;
    static constexpr QRect kTackCrop{156, 150, 940, 947};
    static constexpr int kTackMaxPixels = 256;

    ClotheslineMaterialAssets() = delete;

    // The peg drawn on prints ("ClotheslinePegRefined").
    static const std::optional<QImage>& peg();
    // The brass tack at the rope's ends ("ClotheslineBrassSphere").
    static const std::optional<QImage>& tack();

    // Decodes the named PNG of the artwork at most maxPixels on its longer side and cuts out the
    // crop rectangle, given in the source's pixels and scaled with the decode.
    static std::optional<QImage> load(const QString& name, QRect crop, int maxPixels);
    // Where the artwork lives: a resource path.
    static QString resourcePath(const QString& name);
};

} // namespace vennimo
