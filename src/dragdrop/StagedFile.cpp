#include "dragdrop/StagedFile.h"

#include "platform/DurableCalls.h"
#include "platform/FileMove.h"

#include <QFile>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/sendfile.h>
#include <unistd.h>

namespace vennimo {

namespace {

constexpr qsizetype kChunkBytes = 1 << 20;

bool kernelCannotCopy(int error) {
    return error == EXDEV || error == EINVAL || error == ENOSYS || error == EOPNOTSUPP;
}

} // namespace

StagedFile::StagedFile(QString folder)
    : m_folder(std::move(folder)) {}

StagedFile::~StagedFile() {
    if (m_fd < 0)
        return;
    if (!m_linked)
        ::unlink(QFile::encodeName(m_temporary).constData());
    ::close(m_fd);
}

Status StagedFile::create() {
    if (m_fd >= 0)
        return Error::fromErrno(EEXIST, m_temporary);
    m_temporary = m_folder + QStringLiteral("/.") + QUuid::createUuid().toString(QUuid::Id128) +
                  QStringLiteral(".partial");
    const int fd = ::open(QFile::encodeName(m_temporary).constData(),
                          O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0)
        return Error::fromErrno(errno, m_temporary);
    // Held until the file has its final name, so a start-up sweep never takes it.
    m_fd = fd;
    LeftoverTemporaries::holdWhileWriting(fd);
    return {};
}

// The disk takes the bytes while the caller goes on (hashing, checking the picture), so the sync
// that makes the file durable mostly finds them there already.
void StagedFile::startWriteback() const {
    ::sync_file_range(m_fd, 0, 0, SYNC_FILE_RANGE_WRITE);
}

Status StagedFile::write(const QByteArray& bytes) {
    if (Status created = create(); !created)
        return created;
    qsizetype written = 0;
    while (written < bytes.size()) {
        const ssize_t n = ::write(m_fd, bytes.constData() + written, size_t(bytes.size() - written));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return Error::fromErrno(n < 0 ? errno : EIO, m_temporary);
        written += n;
    }
    startWriteback();
    return {};
}

Result<qint64> StagedFile::copyFrom(int fd, qint64 limit) {
    if (Status created = create(); !created)
        return created.error();
    // copy_file_range shares or copies pages without a trip through user memory, which costs
    // several times less than reading and writing for camera-sized files; sendfile does the same
    // across file systems; a plain read and write is the last resort.
    enum class Way { Range, Send, Plain } way = Way::Range;
    QByteArray chunk;
    qint64 total = 0;
    while (total < limit) {
        const size_t wanted = size_t(std::min<qint64>(limit - total, 1 << 30));
        ssize_t n = 0;
        if (way == Way::Range)
            n = ::copy_file_range(fd, nullptr, m_fd, nullptr, wanted, 0);
        else if (way == Way::Send)
            n = ::sendfile(m_fd, fd, nullptr, wanted);
        else {
            if (chunk.isEmpty())
                chunk.resize(kChunkBytes);
            n = ::read(fd, chunk.data(), std::min(wanted, size_t(kChunkBytes)));
            for (ssize_t put = 0; n > 0 && put < n;) {
                const ssize_t m = ::write(m_fd, chunk.constData() + put, size_t(n - put));
                if (m < 0 && errno == EINTR)
                    continue;
                if (m <= 0)
                    return Error::fromErrno(m < 0 ? errno : EIO, m_temporary);
                put += m;
            }
        }
        if (n < 0) {
            if (errno == EINTR)
                continue;
            // Nothing has moved yet when a way is refused outright, so the next one starts clean.
            if (total == 0 && way != Way::Plain && kernelCannotCopy(errno)) {
                way = way == Way::Range ? Way::Send : Way::Plain;
                continue;
            }
            return Error::fromErrno(errno, m_temporary);
        }
        if (n == 0)
            break;
        total += n;
    }
    startWriteback();
    return total;
}

Result<QByteArray> StagedFile::read(qint64 size) const {
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    qsizetype total = 0;
    while (total < bytes.size()) {
        const ssize_t n = ::pread(m_fd, bytes.data() + total, size_t(bytes.size() - total), off_t(total));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Error::fromErrno(errno, m_temporary);
        if (n == 0)
            break;
        total += n;
    }
    bytes.truncate(total);
    return bytes;
}

Status StagedFile::link(const QString& path, LeftoverTemporaries::Record* record) {
    if (DurableCalls::current().fsync(m_fd) != 0)
        return Error::fromErrno(errno, m_temporary);
    if (record) {
        if (Status recorded = record->add(path); !recorded)
            return recorded;
    }
    Status moved = FileMove::moveNoReplace(m_temporary, path);
    if (!moved.ok()) {
        // The name may be another writer's file now.
        if (record)
            record->drop(path);
        return moved;
    }
    m_linked = true;
    return moved;
}

} // namespace vennimo
