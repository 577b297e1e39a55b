#pragma once

#include <QSizeF>
#include <QString>

#include <cstdint>

namespace vennimo {

class UserDefaults;

// How prints hang from their pegs: peg centred or off to one side, and a slight natural tilt
// or exactly upright. Every print gets its own rest pose from a hash of its identity, so it
// keeps the same tilt across refreshes and launches.
struct HangingStyle {
    bool offCenter = false;
    bool strictlyVertical = true;

    bool operator==(const HangingStyle&) const = default;

    struct Pose {
        double angle = 0;  // degrees
        double offset = 0; // fraction of the print's width
        bool operator==(const Pose&) const = default;
    };

    // The style stored in the standard user defaults.
    static HangingStyle current();
    static HangingStyle fromDefaults(const UserDefaults& defaults);

    // "居中"/"偏心" + " · " + "垂直"/"自然".
    QString title() const;
    // The rest pose of a print: identity is the photo's record key, imageSize its pixel size.
    Pose pose(const QString& identity, QSizeF imageSize) const;

    // 64-bit FNV-1a of the identity's UTF-8 bytes.
    static std::uint64_t identityHash(const QString& identity);
};

size_t qHash(const HangingStyle& style, size_t seed = 0);

} // namespace vennimo
