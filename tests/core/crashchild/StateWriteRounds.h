#pragma once

#include "core/Photo.h"

#include <QJsonObject>
#include <QList>

namespace vennimo::test {

// What the state-writing child writes round after round, alternating between two forms, so that
// whoever reads its files after killing it can tell a whole file from a torn one.
inline constexpr auto kRawStateFileName = "raw-state.json";

inline QList<Photo> crashPhotos() {
    QList<Photo> photos;
    for (int i = 0; i < 200; ++i) {
        Photo p{QStringLiteral("1-%1").arg(i), QStringLiteral("/nowhere/%1.jpg").arg(i), {}, 0, 0, 0, {}};
        p.usageID = QStringLiteral("VOLUME-%1").arg(i);
        p.created = 100.0 + i;
        photos << p;
    }
    return photos;
}

inline double crashX(bool odd) {
    return odd ? 0.25 : 0.75;
}

inline QJsonObject rawState(bool odd) {
    return {{QLatin1String("payload"), QString(odd ? 30000 : 10000, QLatin1Char(odd ? 'o' : 'e'))}};
}

} // namespace vennimo::test
