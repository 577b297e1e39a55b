#pragma once

#include <QString>

#include <cstdint>
#include <optional>

namespace vennimo {

// A stable id of the file system that holds a path, upper-case and UUID-shaped, so records keyed
// by it survive remounts where the device number changes. Each step of the lookup fails soft,
// since some machines have no /dev/disk/by-uuid and refuse to open block devices.
class VolumeUuid {
public:
    // Nothing when the path cannot be read or its file system has no id at all.
    static std::optional<QString> forPath(const QString& path);
    // Answers are cached per device: a file system's id does not change while it is mounted.
    static void clearCache();

    // Parsing steps, exposed for tests.
    static std::optional<QString> mountSourceForDevice(const QByteArray& mountinfo, std::uint64_t device);
    static QString fromFsid(std::uint32_t fsType, std::int32_t fsid0, std::int32_t fsid1);
};

} // namespace vennimo
