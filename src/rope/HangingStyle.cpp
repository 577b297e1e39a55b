#include "rope/HangingStyle.h"

#include "platform/UserDefaults.h"
#include "rendering/PolaroidRenderer.h"

#include <QHashFunctions>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace vennimo {

namespace {

constexpr std::uint64_t kFnvOffsetBasis = 0xcbf29ce484222325ULL;
constexpr std::uint64_t kFnvPrime = 0x100000001b3ULL;

constexpr double kOffCenterBaseOffset = 0.1;
constexpr double kOffCenterOffsetRange = 0.025;
constexpr double kMaximumOffCenterAngleDegrees = 9;
constexpr double kCentredBaseAngleDegrees = 1.6;
constexpr double kCentredAngleRangeDegrees = 1.2;

} // namespace

HangingStyle HangingStyle::current() {
    return fromDefaults(UserDefaults::standard());
}

HangingStyle HangingStyle::fromDefaults(const UserDefaults& defaults) {
    return HangingStyle{defaults.clotheslineOffCenterPeg(), defaults.clotheslineStrictVertical()};
}

QString HangingStyle::title() const {
    return (offCenter ? QStringLiteral("偏心") : QStringLiteral("居中")) + QStringLiteral(" · ") +
           (strictlyVertical ? QStringLiteral("垂直") : QStringLiteral("自然"));
}

std::uint64_t HangingStyle::identityHash(const QString& identity) {
    std::uint64_t hash = kFnvOffsetBasis;
    for (char byte : identity.toUtf8()) {
        hash ^= static_cast<unsigned char>(byte);
        hash *= kFnvPrime;
    }
    return hash;
}

HangingStyle::Pose HangingStyle::pose(const QString& identity, QSizeF imageSize) const {
    const std::uint64_t hash = identityHash(identity);
    const double sign = (hash & 1) ? 1.0 : -1.0;
    const double r = static_cast<double>((hash >> 8) % 100) / 100;

    Pose result;
    if (offCenter) {
        result.offset = sign * (kOffCenterBaseOffset + kOffCenterOffsetRange * r);
        // The tilt at which the paper's centre hangs straight below the off-centre peg.
        const PolaroidRenderer::Geometry geometry =
            PolaroidRenderer::geometry(PolaroidRenderer::defaultSize, imageSize, 0, 0);
        const double radians = std::atan2(-(geometry.paperRect.width() * result.offset),
                                          geometry.paperRect.center().y() - geometry.pegAnchor.y());
        result.angle = std::clamp(radians * 180 / std::numbers::pi, -kMaximumOffCenterAngleDegrees,
                                  kMaximumOffCenterAngleDegrees);
    } else {
        result.angle = sign * (kCentredBaseAngleDegrees + kCentredAngleRangeDegrees * r);
    }
    if (strictlyVertical)
        result.angle = 0;
    return result;
}

size_t qHash(const HangingStyle& style, size_t seed) {
    return qHashMulti(seed, style.offCenter, style.strictlyVertical);
}

} // namespace vennimo
