#include "platform/FileMove.h"

#include "platform/DurableCalls.h"
#include "platform/FileDescriptor.h"
#include "platform/KernelCopy.h"
#include "platform/LeftoverTemporaries.h"

#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QRegularExpression>

#include <cerrno>
#include <fcntl.h>
#include <limits>
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

// A fresh hidden name beside the file named `name`, in the form partialName() matches.
QByteArray partialNameFor(const QByteArray& name) {
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray suffix(6, Qt::Uninitialized);
    for (char& c : suffix)
        c = kLetters[QRandomGenerator::global()->bounded(int(sizeof kLetters - 1))];
    return "." + name + ".vennimo-partial-" + suffix;
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

// Listed first (by the folder's path), then created in the opened folder without replacing
// anything: a crash in between leaves an entry whose file never came, which the sweep passes over.
int createPartial(int folder, const QByteArray& folderPath, const QByteArray& name, PartialRecord& record,
                  QByteArray& partial, Status& status) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        partial = partialNameFor(name);
        if (status = record.add(folderPath + '/' + partial); !status)
            return -1;
        const int fd =
            openat(folder, partial.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd >= 0)
            return fd;
        const int err = errno;
        record.drop(folderPath + '/' + partial);
        if (err != EEXIST) {
            status = Error::fromErrno(err, QFile::decodeName(folderPath + '/' + name));
            return -1;
        }
    }
    status = Error::fromErrno(EEXIST, QFile::decodeName(folderPath + '/' + name));
    return -1;
}

// Gives `from` the name `to` without ever replacing a file there: renameat2 with RENAME_NOREPLACE,
// or, on file systems that lack it, link(2), which never replaces either, and the old name goes.
// 0, or the errno of the step that failed.
int renameWithoutReplacing(const DurableCalls& calls, int fromFolder, const char* from, int toFolder,
                           const char* to) {
    if (calls.renameNoReplace(fromFolder, from, toFolder, to) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    if (calls.link(fromFolder, from, toFolder, to) != 0)
        return errno;
    unlinkat(fromFolder, from, 0);
    return 0;
}

// Copies `from` to a temporary name in the opened `folder`, then links it under `name` there
// without replacing: every step goes through the descriptor, so a link put in the folder's place
// meanwhile redirects nothing. `folderPath` only names things for errors and the partials' list.
// `from` is taken in `fromFolder` (AT_FDCWD for a path) the same way.
Status copyIntoFolder(int fromFolder, const QByteArray& from, int folder, const QString& folderPath,
                      const QByteArray& name, const QString& displayFrom) {
    const QByteArray folderBytes = QFile::encodeName(folderPath);
    const QString displayTo = QFile::decodeName(folderBytes + '/' + name);
    FileDescriptor in(openat(fromFolder, from.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (in.get() < 0)
        return Error::fromErrno(errno, displayFrom);
    struct stat st {};
    if (fstat(in.get(), &st) != 0)
        return Error::fromErrno(errno, displayFrom);
    if (!S_ISREG(st.st_mode))
        return Error::fromErrno(EINVAL, displayFrom);
    // Fail early, before copying gigabytes, when the name is already taken.
    if (faccessat(folder, name.constData(), F_OK, AT_SYMLINK_NOFOLLOW) == 0)
        return Error::fromErrno(EEXIST, displayTo);

    // Copies into the user's folders left there by a killed run go when we next copy into one.
    FileMove::removeLeftoverPartials(folderPath);
    PartialRecord record;
    if (Status opened = record.open(); !opened)
        return opened;
    QByteArray temp;
    Status created;
    FileDescriptor out(createPartial(folder, folderBytes, name, record, temp, created));
    if (out.get() < 0)
        return created;
    LeftoverTemporaries::holdWhileWriting(out.get());
    auto fail = [&](int err) {
        unlinkat(folder, temp.constData(), 0);
        return Error::fromErrno(err, displayTo);
    };
    if (auto copied = KernelCopy::copy(in.get(), out.get(), std::numeric_limits<qint64>::max(), displayTo);
        !copied) {
        unlinkat(folder, temp.constData(), 0);
        return copied.error();
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
    if (const int err = renameWithoutReplacing(calls, folder, temp.constData(), folder, name.constData()))
        return fail(err);
    calls.fsync(folder);
    return {};
}

// Into the folder a path names the file of, opened as the path has it.
Status copyIntoPlace(int fromFolder, const QByteArray& from, const QString& displayFrom, const QString& to) {
    const QFileInfo target(to);
    FileDescriptor folder(
        open(QFile::encodeName(target.absolutePath()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.get() < 0)
        return Error::fromErrno(errno, to);
    return copyIntoFolder(fromFolder, from, folder.get(), target.absolutePath(),
                          QFile::encodeName(target.fileName()), displayFrom);
}

bool plainName(const QString& name) {
    return !name.isEmpty() && !name.contains(QLatin1Char('/')) && name != QLatin1String(".") &&
           name != QLatin1String("..");
}

} // namespace

Status FileMove::moveNoReplace(const QString& from, const QString& to) {
    const QByteArray src = QFile::encodeName(from);
    const QByteArray dst = QFile::encodeName(to);
    const int err =
        renameWithoutReplacing(DurableCalls::current(), AT_FDCWD, src.constData(), AT_FDCWD, dst.constData());
    if (err == 0)
        return {};
    if (err == EXDEV)
        return copyThenRemove(from, to);
    return Error::fromErrno(err, err == EEXIST ? to : from);
}

Result<int> FileMove::openFolder(const QString& path) {
    const int fd = open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return Error::fromErrno(errno, path);
    return fd;
}

Status FileMove::moveNoReplaceInto(const QString& from, int folder, const QString& folderPath,
                                   const QString& name) {
    const QByteArray src = QFile::encodeName(from);
    const QByteArray dst = QFile::encodeName(name);
    const QString to = folderPath + QLatin1Char('/') + name;
    if (!plainName(name))
        return Error::fromErrno(EINVAL, to);
    const int err =
        renameWithoutReplacing(DurableCalls::current(), AT_FDCWD, src.constData(), folder, dst.constData());
    if (err == 0)
        return {};
    if (err != EXDEV)
        return Error::fromErrno(err, err == EEXIST ? to : from);
    if (Status s = copyIntoFolder(AT_FDCWD, src, folder, folderPath, dst, from); !s)
        return s;
    if (unlink(src.constData()) != 0)
        return Error::fromErrno(errno, from);
    return {};
}

Status FileMove::moveNoReplaceOutOf(int folder, const QString& folderPath, const QString& name,
                                    const QString& to) {
    const QString from = folderPath + QLatin1Char('/') + name;
    if (!plainName(name))
        return Error::fromErrno(EINVAL, from);
    const QByteArray src = QFile::encodeName(name);
    const QByteArray dst = QFile::encodeName(to);
    const int err =
        renameWithoutReplacing(DurableCalls::current(), folder, src.constData(), AT_FDCWD, dst.constData());
    if (err == 0)
        return {};
    if (err != EXDEV)
        return Error::fromErrno(err, err == EEXIST ? to : from);
    if (Status s = copyIntoPlace(folder, src, from, to); !s)
        return s;
    if (unlinkat(folder, src.constData(), 0) != 0)
        return Error::fromErrno(errno, from);
    return {};
}

std::optional<QString> FileMove::openedFolderPath(int folder) {
    const QString path = QFileInfo(QStringLiteral("/proc/self/fd/%1").arg(folder)).symLinkTarget();
    // A removed folder reads as its old path with " (deleted)" after it.
    struct stat held {};
    struct stat named {};
    if (path.isEmpty() || fstat(folder, &held) != 0 ||
        stat(QFile::encodeName(path).constData(), &named) != 0 || held.st_dev != named.st_dev ||
        held.st_ino != named.st_ino)
        return std::nullopt;
    return path;
}

Status FileMove::copyThenRemove(const QString& from, const QString& to) {
    const QByteArray src = QFile::encodeName(from);
    if (Status s = copyIntoPlace(AT_FDCWD, src, from, to); !s)
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
    return copyIntoPlace(AT_FDCWD, QFile::encodeName(from), from, to);
}

} // namespace vennimo
