#include "support/ReadOnlyFolder.h"

#include <QFile>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vennimo::test {

namespace {

bool setImmutable(const QString& path, bool on) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (done) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return done;
}

bool refusesNewFiles(const QString& path) {
    const QByteArray probe = QFile::encodeName(path + QStringLiteral("/.write-probe"));
    const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        return true;
    ::close(fd);
    ::unlink(probe.constData());
    return false;
}

} // namespace

ReadOnlyFolder::ReadOnlyFolder(QString path)
    : m_path(std::move(path)) {
    ::chmod(QFile::encodeName(m_path).constData(), 0555);
    if (::geteuid() == 0)
        m_immutable = setImmutable(m_path, true);
    m_locked = refusesNewFiles(m_path);
}

ReadOnlyFolder::~ReadOnlyFolder() {
    release();
}

void ReadOnlyFolder::release() {
    if (m_immutable)
        setImmutable(m_path, false);
    m_immutable = false;
    ::chmod(QFile::encodeName(m_path).constData(), 0755);
    m_locked = false;
}

} // namespace vennimo::test
