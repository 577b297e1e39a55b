#include "platform/FileMove.h"

#include "platform/DurableCalls.h"
#include "platform/LeftoverTemporaries.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <mutex>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vennimo {

namespace {

std::mutex g_recordMutex;
QString g_recordFolder;

const QRegularExpression& partialName() {
    static const QRegularExpression name(QStringLiteral("^\\..+\\.vennimo-partial-[A-Za-z0-9]{6}$"));
    return name;
}

// A fresh hidden name beside `target`, in the form partialName() matches.
QByteArray partialPathFor(const QFileInfo& target) {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray suffix(6, Qt::Uninitialized);
    for (char& c : suffix)
        c = kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters - 1))];
    return QFile::encodeName(target.absolutePath()) + "/." + QFile::encodeName(target.fileName()) +
           ".vennimo-partial-" + suffix;
}

// The list of one copy's partial, which goes once the partial is linked in or removed.
class PartialRecord {
public:
    ~PartialRecord() {
        if (m_record)
            m_record->finish();
    }
    Status open() {
        QString folder;
        {
            const std::lock_guard lock(g_recordMutex);
            folder = g_recordFolder;
        }
        if (folder.isEmpty())
            return {};
        auto opened = LeftoverTemporaries::Record::open(folder);
        if (!opened)
            return opened.error();
        m_record = *opened;
        return {};
    }
    Status add(const QByteArray& path) {
        return m_record ? m_record->add(QFile::decodeName(path)) : Status();
    }
    void drop(const QByteArray& path) {
        if (m_record)
            m_record->drop(QFile::decodeName(path));
    }

private:
    std::shared_ptr<LeftoverTemporaries::Record> m_record;
};

// Listed first, then created without replacing anything: a crash in between leaves an entry whose
// file never came, which the sweep passes over.
int createPartial(const QFileInfo& target, PartialRecord& record, QByteArray& path, Status& status) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        path = partialPathFor(target);
        if (status = record.add(path); !status)
            return -1;
        const int fd = open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0)
            return fd;
        const int err = errno;
        record.drop(path);
        if (err != EEXIST) {
            status = Error::fromErrno(err, target.filePath());
            return -1;
        }
    }
    status = Error::fromErrno(EEXIST, target.filePath());
    return -1;
}

class Fd {
public:
    explicit Fd(int fd)
        : m_fd(fd) {}
    ~Fd() {
        if (m_fd >= 0)
            close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

Status copyContents(int in, int out, const QString& path) {
    for (;;) {
        const ssize_t n = copy_file_range(in, nullptr, out, nullptr, 1 << 30, 0);
        if (n == 0)
            return {};
        if (n > 0)
            continue;
        if (errno == EINTR)
            continue;
        if (errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            return Error::fromErrno(errno, path);
        break;
    }
    // copy_file_range is refused between some file systems: fall back to plain reads.
    char buffer[1 << 16];
    for (;;) {
        const ssize_t n = read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Error::fromErrno(errno, path);
        if (n == 0)
            return {};
        ssize_t done = 0;
        while (done < n) {
            const ssize_t w = write(out, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR)
                continue;
            if (w < 0)
                return Error::fromErrno(errno, path);
            done += w;
        }
    }
}

// Copies `from` to a temporary name beside `to`, then links it under `to` without replacing.
Status copyIntoPlace(const QByteArray& from, const QByteArray& to, const QString& displayFrom,
                     const QString& displayTo) {
    Fd in(open(from.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (in.get() < 0)
        return Error::fromErrno(errno, displayFrom);
    struct stat st {};
    if (fstat(in.get(), &st) != 0)
        return Error::fromErrno(errno, displayFrom);
    if (!S_ISREG(st.st_mode))
        return Error::fromErrno(EINVAL, displayFrom);
    // Fail early, before copying gigabytes, when the name is already taken.
    if (access(to.constData(), F_OK) == 0)
        return Error::fromErrno(EEXIST, displayTo);

    const QFileInfo target(QFile::decodeName(to));
    // Copies into the user's folders left there by a killed run go when we next copy into one.
    FileMove::removeLeftoverPartials(target.absolutePath());
    PartialRecord record;
    if (Status opened = record.open(); !opened)
        return opened;
    QByteArray temp;
    Status created;
    Fd out(createPartial(target, record, temp, created));
    if (out.get() < 0)
        return created;
    LeftoverTemporaries::holdWhileWriting(out.get());
    auto fail = [&](int err) {
        unlink(temp.constData());
        return Error::fromErrno(err, displayTo);
    };
    if (Status s = copyContents(in.get(), out.get(), displayTo); !s) {
        unlink(temp.constData());
        return s;
    }
    if (fchmod(out.get(), st.st_mode & 07777) != 0)
        return fail(errno);
    const timespec times[2] = {st.st_atim, st.st_mtim};
    if (futimens(out.get(), times) != 0)
        return fail(errno);
    const DurableCalls calls = DurableCalls::current();
    if (calls.fsync(out.get()) != 0)
        return fail(errno);
    if (close(out.release()) != 0)
        return fail(errno);
    if (calls.renameNoReplace(temp.constData(), to.constData()) != 0) {
        // Some file systems lack RENAME_NOREPLACE; link(2) never replaces either.
        if (errno != EINVAL && errno != ENOSYS)
            return fail(errno);
        if (calls.link(temp.constData(), to.constData()) != 0)
            return fail(errno);
        unlink(temp.constData());
    }
    DurableCalls::syncFolder(QFile::encodeName(target.absolutePath()).constData());
    return {};
}

} // namespace

Status FileMove::moveNoReplace(const QString& from, const QString& to) {
    const QByteArray src = QFile::encodeName(from);
    const QByteArray dst = QFile::encodeName(to);
    const DurableCalls calls = DurableCalls::current();
    if (calls.renameNoReplace(src.constData(), dst.constData()) == 0)
        return {};
    const int err = errno;
    if (err == EXDEV)
        return copyThenRemove(from, to);
    if (err == EINVAL || err == ENOSYS) {
        // No RENAME_NOREPLACE here: a hard link plus unlink keeps the no-replace promise.
        if (calls.link(src.constData(), dst.constData()) == 0) {
            unlink(src.constData());
            return {};
        }
        if (errno == EXDEV)
            return copyThenRemove(from, to);
        return Error::fromErrno(errno, errno == EEXIST ? to : from);
    }
    return Error::fromErrno(err, err == EEXIST ? to : from);
}

Status FileMove::copyThenRemove(const QString& from, const QString& to) {
    const QByteArray src = QFile::encodeName(from);
    if (Status s = copyIntoPlace(src, QFile::encodeName(to), from, to); !s)
        return s;
    if (unlink(src.constData()) != 0)
        return Error::fromErrno(errno, from);
    return {};
}

int FileMove::removeLeftoverPartials(const QString& folder,
                                     LeftoverTemporaries::Clock::time_point changedBefore) {
    return LeftoverTemporaries::remove(folder, partialName(), changedBefore);
}

void FileMove::setPartialRecordFolder(const QString& folder) {
    const std::lock_guard lock(g_recordMutex);
    g_recordFolder = folder;
}

QString FileMove::partialRecordFolder() {
    const std::lock_guard lock(g_recordMutex);
    return g_recordFolder;
}

int FileMove::removeRecordedPartials(const QString& folder) {
    // A list names a path, not a file: whatever stands there now that is not our partial stays.
    return LeftoverTemporaries::removeRecorded(folder, [](const QString& path) {
        return !partialName().match(QFileInfo(path).fileName()).hasMatch();
    });
}

Status FileMove::copyNoReplace(const QString& from, const QString& to) {
    return copyIntoPlace(QFile::encodeName(from), QFile::encodeName(to), from, to);
}

} // namespace vennimo
