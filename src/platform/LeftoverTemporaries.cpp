#include "platform/LeftoverTemporaries.h"

#include "platform/FileDescriptor.h"

#include <QFile>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vennimo {

namespace {

// Taken while the program loads, before any of its writes.
const LeftoverTemporaries::Clock::time_point g_processStart = LeftoverTemporaries::Clock::now();

LeftoverTemporaries::Clock::time_point changeTime(const struct stat& st) {
    using namespace std::chrono;
    return LeftoverTemporaries::Clock::time_point(duration_cast<LeftoverTemporaries::Clock::duration>(
        seconds(st.st_ctim.tv_sec) + nanoseconds(st.st_ctim.tv_nsec)));
}

bool removeIfLeftover(int dirFd, const char* name, LeftoverTemporaries::Clock::time_point changedBefore) {
    // Non-blocking and without following links: a FIFO or a link under such a name is not ours.
    const FileDescriptor file(::openat(dirFd, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (file.get() < 0)
        return false;
    struct stat st {};
    if (::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
        return false;
    // The change time also moves with renames and attribute changes, which the modification time
    // a cross-file-system copy keeps from its source would not show.
    if (changeTime(st) >= changedBefore)
        return false;
    if (::flock(file.get(), LOCK_EX | LOCK_NB) != 0)
        return false;
    // Remove what was checked, not a file that took its name meanwhile.
    struct stat named {};
    if (::fstatat(dirFd, name, &named, AT_SYMLINK_NOFOLLOW) != 0 || named.st_dev != st.st_dev ||
        named.st_ino != st.st_ino)
        return false;
    return ::unlinkat(dirFd, name, 0) == 0;
}

} // namespace

void LeftoverTemporaries::holdWhileWriting(int fd) {
    // Failing to lock only weakens the guard against removal; the write itself goes on.
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

LeftoverTemporaries::Clock::time_point LeftoverTemporaries::processStart() {
    return g_processStart;
}

int LeftoverTemporaries::remove(const QString& folder, const QRegularExpression& name,
                                Clock::time_point changedBefore) {
    const int dirFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return 0;
    DIR* dir = ::fdopendir(dirFd);
    if (dir == nullptr) {
        ::close(dirFd);
        return 0;
    }
    int removed = 0;
    while (const dirent* entry = ::readdir(dir)) {
        if (entry->d_type != DT_REG && entry->d_type != DT_UNKNOWN)
            continue;
        if (!name.match(QFile::decodeName(entry->d_name)).hasMatch())
            continue;
        if (removeIfLeftover(dirFd, entry->d_name, changedBefore))
            ++removed;
    }
    ::closedir(dir);
    return removed;
}

} // namespace vennimo
