#include "platform/VolumeUuid.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <linux/ioctl.h>
#include <mutex>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <unordered_map>

namespace vennimo {

namespace {

std::mutex g_mutex;
std::unordered_map<std::uint64_t, std::optional<QString>> g_cache;

// The kernel's FS_IOC_GETFSUUID (Linux 6.5); older headers lack it, so its layout is spelled here.
struct FsUuidReply {
    std::uint8_t length;
    std::uint8_t uuid[16];
};
constexpr unsigned long kGetFsUuid = _IOR(0x15, 0, FsUuidReply);

QString formatUuid(const std::uint8_t* bytes) {
    const QByteArray hex = QByteArray(reinterpret_cast<const char*>(bytes), 16).toHex().toUpper();
    return QString::fromLatin1(hex.mid(0, 8) + '-' + hex.mid(8, 4) + '-' + hex.mid(12, 4) + '-' +
                               hex.mid(16, 4) + '-' + hex.mid(20, 12));
}

std::optional<QString> fromDiskByUuid(const QString& source) {
    if (!source.startsWith(QLatin1String("/dev/")))
        return std::nullopt;
    const QString device = QFileInfo(source).canonicalFilePath();
    if (device.isEmpty())
        return std::nullopt;
    const QDir byUuid(QStringLiteral("/dev/disk/by-uuid"));
    for (const QFileInfo& link : byUuid.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot)) {
        if (link.canonicalFilePath() == device)
            return link.fileName().toUpper();
    }
    return std::nullopt;
}

std::optional<QString> fromIoctl(const QByteArray& path) {
    const int fd = open(path.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    FsUuidReply reply{};
    reply.length = sizeof reply.uuid;
    const int rc = ioctl(fd, kGetFsUuid, &reply);
    close(fd);
    if (rc != 0 || reply.length != 16)
        return std::nullopt;
    bool anySet = false;
    for (std::uint8_t b : reply.uuid)
        anySet = anySet || b != 0;
    return anySet ? std::optional(formatUuid(reply.uuid)) : std::nullopt;
}

std::optional<QString> lookUp(const QByteArray& path, std::uint64_t device) {
    QFile mountinfo(QStringLiteral("/proc/self/mountinfo"));
    if (mountinfo.open(QIODevice::ReadOnly)) {
        if (auto source = VolumeUuid::mountSourceForDevice(mountinfo.readAll(), device)) {
            if (auto uuid = fromDiskByUuid(*source))
                return uuid;
        }
    }
    if (auto uuid = fromIoctl(path))
        return uuid;
    struct statfs fs {};
    if (statfs(path.constData(), &fs) != 0)
        return std::nullopt;
    int words[2];
    static_assert(sizeof words == sizeof fs.f_fsid);
    memcpy(words, &fs.f_fsid, sizeof words);
    if (words[0] == 0 && words[1] == 0)
        return std::nullopt;
    return VolumeUuid::fromFsid(static_cast<std::uint32_t>(fs.f_type), words[0], words[1]);
}

} // namespace

std::optional<QString> VolumeUuid::mountSourceForDevice(const QByteArray& mountinfo, std::uint64_t device) {
    const QByteArray wanted = QByteArray::number(major(device)) + ':' + QByteArray::number(minor(device));
    for (const QByteArray& line : mountinfo.split('\n')) {
        // "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw,errors=continue"
        const QList<QByteArray> fields = line.split(' ');
        if (fields.size() < 3 || fields[2] != wanted)
            continue;
        const qsizetype dash = fields.indexOf("-");
        if (dash < 0 || dash + 2 >= fields.size())
            continue;
        return QString::fromUtf8(fields[dash + 2]);
    }
    return std::nullopt;
}

QString VolumeUuid::fromFsid(std::uint32_t fsType, std::int32_t fsid0, std::int32_t fsid1) {
    std::uint8_t bytes[16] = {};
    const std::uint32_t parts[3] = {fsType, static_cast<std::uint32_t>(fsid0),
                                    static_cast<std::uint32_t>(fsid1)};
    for (int i = 0; i < 3; ++i) {
        for (int b = 0; b < 4; ++b)
            bytes[i * 4 + b] = static_cast<std::uint8_t>(parts[i] >> (24 - 8 * b));
    }
    return formatUuid(bytes);
}

std::optional<QString> VolumeUuid::forPath(const QString& path) {
    const QByteArray encoded = QFile::encodeName(path);
    struct stat st {};
    if (stat(encoded.constData(), &st) != 0)
        return std::nullopt;
    const std::uint64_t device = st.st_dev;
    {
        std::lock_guard lock(g_mutex);
        if (auto it = g_cache.find(device); it != g_cache.end())
            return it->second;
    }
    auto uuid = lookUp(encoded, device);
    std::lock_guard lock(g_mutex);
    g_cache.emplace(device, uuid);
    return uuid;
}

void VolumeUuid::clearCache() {
    std::lock_guard lock(g_mutex);
    g_cache.clear();
}

} // namespace vennimo
