#include "platform/FreedesktopTrash.h"

#include "platform/FileMove.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <unistd.h>

namespace vennimo {

namespace {

Error unconfirmedMove(const QString& path) {
    Error error = Error::fromErrno(EIO, path);
    error.message = QStringLiteral("系统未能把文件移到废纸篓。");
    return error;
}

} // namespace

Result<QString> FreedesktopTrash::moveToTrash(const QString& path) {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty() || !QDir().mkpath(data))
        return Error::fromErrno(EACCES, data);
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return Error::fromErrno(ENOENT, path);
    QString inTrash;
    errno = 0;
    if (!QFile::moveToTrash(path, &inTrash)) {
        const int err = errno;
        return err != 0 && QFileInfo::exists(path) ? Error::fromErrno(err, path) : unconfirmedMove(path);
    }
    if (inTrash.isEmpty() || QDir::isRelativePath(inTrash))
        return unconfirmedMove(path);
    return inTrash;
}

QString FreedesktopTrash::infoPath(const QString& trashedPath) {
    const QFileInfo file(trashedPath);
    return file.dir().absoluteFilePath(QStringLiteral("../info/") + file.fileName() +
                                       QLatin1String(kTrashInfoSuffix));
}

Status FreedesktopTrash::restore(const QString& trashedPath, const QString& target) {
    if (const Status moved = FileMove::moveNoReplace(trashedPath, target); !moved)
        return moved;
    // A leftover description only makes the desktop list a file that is gone; the move stands.
    const QByteArray info = QFile::encodeName(QDir::cleanPath(infoPath(trashedPath)));
    ::unlink(info.constData());
    return {};
}

} // namespace vennimo
