#include "dragdrop/PromiseDirectory.h"

#include <QDir>
#include <QUuid>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace vennimo {

vennimo::Result<std::shared_ptr<PromiseDirectory>> PromiseDirectory::create() {
    const QString base = QDir::tempPath();
    if (!QDir().mkpath(base))
        return Error::fromErrno(errno ? errno : EIO, base);
    const QString path = base + QLatin1Char('/') + QLatin1String(kPrefix) +
                         QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    // Other users must not read or plant files in it.
    if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0)
        return Error::fromErrno(errno, path);
    return std::shared_ptr<PromiseDirectory>(new PromiseDirectory(path));
}

PromiseDirectory::~PromiseDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(QFile::encodeName(m_path).toStdString(), ignored);
}

int PromiseDirectory::removeStale(std::chrono::seconds minimumAge) {
    const QDir base(QDir::tempPath());
    const QStringList names = base.entryList({QLatin1String(kPrefix) + QLatin1Char('*')},
                                             QDir::Dirs | QDir::Hidden | QDir::NoSymLinks);
    const std::time_t now = std::time(nullptr);
    int removed = 0;
    for (const QString& name : names) {
        const QByteArray path = QFile::encodeName(base.filePath(name));
        struct stat st {};
        if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid())
            continue;
        if (now - st.st_mtime < minimumAge.count())
            continue;
        std::error_code ignored;
        if (std::filesystem::remove_all(path.toStdString(), ignored) > 0)
            ++removed;
    }
    return removed;
}

} // namespace vennimo
