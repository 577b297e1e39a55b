#include "platform/FileIdentity.h"

#include "platform/Dates.h"

#include <QFile>

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace vennimo {

namespace {

Result<FileIdentity> fromStatx(int dirfd, const char* path, int flags, const QString& displayPath) {
    struct statx stx {};
    const unsigned mask = STATX_TYPE | STATX_MODE | STATX_INO | STATX_SIZE | STATX_MTIME | STATX_BTIME;
    if (statx(dirfd, path, flags | AT_STATX_SYNC_AS_STAT, mask, &stx) != 0)
        return Error::fromErrno(errno, displayPath);
    FileIdentity id;
    id.fileSystemNumber = makedev(stx.stx_dev_major, stx.stx_dev_minor);
    id.fileNumber = stx.stx_ino;
    id.mode = stx.stx_mode;
    switch (stx.stx_mode & S_IFMT) {
    case S_IFREG:
        id.type = FileType::Regular;
        break;
    case S_IFDIR:
        id.type = FileType::Directory;
        break;
    case S_IFLNK:
        id.type = FileType::SymbolicLink;
        break;
    default:
        id.type = FileType::Other;
    }
    id.size = static_cast<std::int64_t>(stx.stx_size);
    id.modified = dateFromTimestamp(stx.stx_mtime.tv_sec, stx.stx_mtime.tv_nsec);
    // ext4 on some kernels reports a zero birth time instead of leaving the bit unset.
    if ((stx.stx_mask & STATX_BTIME) && (stx.stx_btime.tv_sec != 0 || stx.stx_btime.tv_nsec != 0))
        id.created = dateFromTimestamp(stx.stx_btime.tv_sec, stx.stx_btime.tv_nsec);
    return id;
}

} // namespace

QString FileIdentity::idString() const {
    // Once per file in every scan: one allocation instead of three.
    char buffer[48];
    char* end = std::to_chars(buffer, buffer + 20, fileSystemNumber).ptr;
    *end++ = '-';
    end = std::to_chars(end, end + 20, fileNumber).ptr;
    return QString::fromLatin1(buffer, end - buffer);
}

Result<FileIdentity> FileIdentity::read(const QString& path) {
    return fromStatx(AT_FDCWD, QFile::encodeName(path).constData(), AT_SYMLINK_NOFOLLOW, path);
}

Result<FileIdentity> FileIdentity::readFollowingLinks(const QString& path) {
    return fromStatx(AT_FDCWD, QFile::encodeName(path).constData(), 0, path);
}

Result<FileIdentity> FileIdentity::readAt(int dirfd, const QByteArray& name, const QString& displayPath) {
    return fromStatx(dirfd, name.constData(), AT_SYMLINK_NOFOLLOW, displayPath);
}

Result<FileIdentity> FileIdentity::readFd(int fd) {
    return fromStatx(fd, "", AT_EMPTY_PATH, QString());
}

} // namespace vennimo
