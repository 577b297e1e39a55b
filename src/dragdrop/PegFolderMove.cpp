#include "dragdrop/PegFolderMove.h"

#include "core/PhotoIdentity.h"
#include "platform/FileDescriptor.h"
#include "platform/FileIdentity.h"
#include "platform/FileMove.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <sys/stat.h>

namespace vennimo {

namespace {

// Links resolved where the folder exists, otherwise just cleaned up.
QString resolvedDirectory(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QDir(path).absolutePath()) : canonical;
}

} // namespace

QString PegFolderMove::candidateName(const QString& name, int attempt) {
    if (attempt == 0)
        return name;
    // A leading dot starts a hidden name, not an extension.
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const bool hasExtension = dot > 0 && dot < name.size() - 1;
    const QString stem = hasExtension ? name.left(dot) : name;
    QString candidate = stem + QLatin1Char(' ') + QString::number(attempt + 1);
    if (hasExtension)
        candidate += name.mid(dot);
    return candidate;
}

bool PegFolderMove::sameDirectory(const QString& first, const QString& second) {
    if (resolvedDirectory(first) == resolvedDirectory(second))
        return true;
    const auto a = FileIdentity::readFollowingLinks(first);
    const auto b = FileIdentity::readFollowingLinks(second);
    if (!a || !b)
        return false;
    return a->fileSystemNumber == b->fileSystemNumber && a->fileNumber == b->fileNumber;
}

Result<QString> PegFolderMove::move(const Photo& photo, const QString& directory) {
    const QString folder = resolvedDirectory(directory);
    auto opened = FileMove::openFolder(folder);
    if (!opened)
        return opened.error();
    const FileDescriptor descriptor(*opened);
    return move(photo, descriptor.get(), folder);
}

Result<QString> PegFolderMove::move(const Photo& photo, int folder, const QString& directory) {
    if (Status s = validateOriginalIdentity(photo); !s)
        return s.error();
    const QFileInfo file(photo.path);
    struct stat opened {};
    struct stat parent {};
    if (::fstat(folder, &opened) != 0)
        return Error::fromErrno(errno, directory);
    if (::stat(QFile::encodeName(file.absolutePath()).constData(), &parent) == 0 &&
        parent.st_dev == opened.st_dev && parent.st_ino == opened.st_ino)
        return photo.path;
    if (PhotosOrigin::libraryRoot(photo.path))
        return Error::failure(QString::fromUtf8(kLibraryFileRefused));

    const QString name = file.fileName();
    const QString path = QDir::cleanPath(directory);
    for (int attempt = 0; attempt < kMaxNameAttempts; ++attempt) {
        const QString candidate = candidateName(name, attempt);
        const Status moved = FileMove::moveNoReplaceInto(photo.path, folder, path, candidate);
        if (moved)
            return path + QLatin1Char('/') + candidate;
        if (!moved.error().isFileExists())
            return moved.error();
    }
    return Error::failure(QString::fromUtf8(kTooManyNames));
}

} // namespace vennimo
