#pragma once

#include "core/ClotheslinePlacement.h"
#include "core/Photo.h"
#include "rendering/PolaroidGeometry.h"
#include "rope/HangingStyle.h"

#include <QList>
#include <QSet>
#include <QSizeF>
#include <QString>

#include <optional>

namespace vennimo {

// Everything one canvas refresh is computed from; an equal one needs no rebuilding.
struct ClotheslinePresentation {
    QList<Photo> photos{};
    QList<std::optional<ClotheslinePlacement>> placements{};
    bool selectionMode = false;
    QSet<QString> selectedIDs{};
    QSet<QString> newIDs{};
    HangingStyle style{};
    QSizeF viewport{};
    bool operator==(const ClotheslinePresentation&) const = default;
};

// The cached layout of one print: its rest pose and the geometry for the last angle asked.
struct PhotoGeometry {
    Photo photo{};
    HangingStyle style{};
    QSizeF imageSize{};
    HangingStyle::Pose target{};
    double angle = 0;
    double offset = 0;
    PolaroidGeometry geometry{};
};

} // namespace vennimo
