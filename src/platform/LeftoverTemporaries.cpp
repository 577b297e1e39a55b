#include "platform/LeftoverTemporaries.h"

#include "platform/DurableCalls.h"
#include "platform/FileDescriptor.h"

#include <QDir>
#include <QFile>
#include <QSet>
#include <QUuid>

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

constexpr auto kRecordSuffix = ".record";
// Far beyond any operation's list; a longer file is not one of ours.
constexpr off_t kMaxRecordBytes = 64 << 20;

Status writeAll(int fd, const QByteArray& bytes, const QString& path) {
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Error::fromErrno(n < 0 ? errno : EIO, path);
        written += n;
    }
    if (::fdatasync(fd) != 0)
        return Error::fromErrno(errno, path);
    return {};
}

// The paths a list still names, in the order they went in: later lines take back earlier ones.
QList<QByteArray> listedPaths(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0 || st.st_size > kMaxRecordBytes)
        return {};
    QByteArray bytes(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype total = 0;
    while (total < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + total, size_t(bytes.size() - total), total);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        total += n;
    }
    bytes.truncate(total);
    QList<QByteArray> listed;
    // A line cut short by a crash was never complete on disk, so its file was never created.
    const QList<QByteArray> lines = bytes.split('\n');
    for (qsizetype i = 0; i + 1 < lines.size(); ++i) {
        const QByteArray& line = lines[i];
        if (line.size() < 2)
            continue;
        const QByteArray path = QByteArray::fromPercentEncoding(line.mid(1));
        if (line[0] == '+' && !listed.contains(path))
            listed.append(path);
        else if (line[0] == '-')
            listed.removeAll(path);
    }
    return listed;
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

LeftoverTemporaries::Record::Record(int fd, QString path)
    : m_fd(fd)
    , m_path(std::move(path)) {}

LeftoverTemporaries::Record::~Record() {
    close();
}

Result<std::shared_ptr<LeftoverTemporaries::Record>>
LeftoverTemporaries::Record::open(const QString& folder) {
    if (!QDir().mkpath(folder))
        return Error::fromErrno(errno ? errno : EIO, folder);
    const QString id = QUuid::createUuid().toString(QUuid::Id128);
    // Locked under a hidden name first, so a sweep never finds the list unlocked.
    const QString hidden = folder + QStringLiteral("/.") + id;
    const QString path = folder + QLatin1Char('/') + id + QLatin1String(kRecordSuffix);
    const int fd = ::open(QFile::encodeName(hidden).constData(),
                          O_WRONLY | O_CREAT | O_EXCL | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return Error::fromErrno(errno, hidden);
    std::shared_ptr<Record> record(new Record(fd, path));
    holdWhileWriting(fd);
    if (DurableCalls::current().rename(QFile::encodeName(hidden).constData(),
                                       QFile::encodeName(path).constData()) != 0) {
        const int err = errno;
        ::unlink(QFile::encodeName(hidden).constData());
        return Error::fromErrno(err, path);
    }
    DurableCalls::syncFolder(QFile::encodeName(folder).constData());
    return record;
}

Status LeftoverTemporaries::Record::append(char mark, const QString& path) {
    const std::lock_guard lock(m_mutex);
    if (m_fd < 0)
        return Error::fromErrno(EBADF, m_path);
    return writeAll(m_fd, mark + QFile::encodeName(path).toPercentEncoding() + '\n', m_path);
}

Status LeftoverTemporaries::Record::add(const QString& path) {
    return append('+', path);
}

void LeftoverTemporaries::Record::drop(const QString& path) {
    // Unwritten, the entry only makes a later sweep look at a file it may not take anyway.
    (void)append('-', path);
}

void LeftoverTemporaries::Record::finish() {
    const std::lock_guard lock(m_mutex);
    if (m_fd < 0)
        return;
    ::unlink(QFile::encodeName(m_path).constData());
    ::close(m_fd);
    m_fd = -1;
}

void LeftoverTemporaries::Record::close() {
    const std::lock_guard lock(m_mutex);
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

int LeftoverTemporaries::removeRecorded(const QString& folder,
                                        const std::function<bool(const QString&)>& keep) {
    static const QRegularExpression kRecord(QStringLiteral("^[0-9a-f]{32}\\.record$"));
    static const QRegularExpression kHidden(QStringLiteral("^\\.[0-9a-f]{32}$"));
    // A list killed before it got its name holds nothing yet.
    remove(folder, kHidden);
    const QDir dir(folder);
    int removed = 0;
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name)) {
        if (!kRecord.match(name).hasMatch())
            continue;
        const QByteArray path = QFile::encodeName(dir.filePath(name));
        const FileDescriptor file(::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
        struct stat st {};
        if (file.get() < 0 || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::geteuid() || ::flock(file.get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        for (const QByteArray& listed : listedPaths(file.get())) {
            if (keep && keep(QFile::decodeName(listed)))
                continue;
            if (removeIfLeftover(AT_FDCWD, listed.constData(), Clock::time_point::max()))
                ++removed;
        }
        struct stat named {};
        if (::fstatat(AT_FDCWD, path.constData(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
            named.st_dev == st.st_dev && named.st_ino == st.st_ino)
            ::unlink(path.constData());
    }
    return removed;
}

} // namespace vennimo
