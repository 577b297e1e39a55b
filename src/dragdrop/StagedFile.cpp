#include "dragdrop/StagedFile.h"

#include "platform/DurableCalls.h"
#include "platform/FileMove.h"
#include "platform/KernelCopy.h"

#include <QFile>
#include <QUuid>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace vennimo {

namespace {

// What a copy or a read moves between two looks at its stop: a few milliseconds of a disk's work,
// so that a stopped copy of a large photo ends at once rather than at its last byte.
constexpr qint64 kStopChunkBytes = 4 << 20;

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

Result<qint64> StagedFile::copyFrom(int fd, qint64 limit, const std::function<bool()>& stop) {
    if (Status created = create(); !created)
        return created.error();
    qint64 total = 0;
    while (total < limit) {
        if (stop && stop())
            return Error::fromErrno(ECANCELED, m_temporary);
        const qint64 wanted = std::min(limit - total, kStopChunkBytes);
        auto copied = KernelCopy::copy(fd, m_fd, wanted, m_temporary);
        if (!copied.ok())
            return copied.error();
        total += *copied;
        if (*copied < wanted)
            break;
    }
    startWriteback();
    return total;
}

Result<QByteArray> StagedFile::read(qint64 size, const std::function<bool()>& stop) const {
    QByteArray bytes(qsizetype(size), Qt::Uninitialized);
    qsizetype total = 0;
    while (total < bytes.size()) {
        if (stop && stop())
            return Error::fromErrno(ECANCELED, m_temporary);
        const size_t wanted = size_t(std::min<qint64>(bytes.size() - total, kStopChunkBytes));
        const ssize_t n = ::pread(m_fd, bytes.data() + total, wanted, off_t(total));
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
