#include "platform/FreedesktopTrash.h"

#include "platform/DurableCalls.h"
#include "platform/FileMove.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vennimo {

namespace {

// Names tried in one Trash before giving up: "name.ext", "name.2.ext", ...
constexpr int kMaxTrashNames = 10000;

QByteArray encoded(const QString& path) {
    return QFile::encodeName(path);
}

std::optional<dev_t> deviceOf(const QString& path) {
    struct stat st {};
    if (::lstat(encoded(path).constData(), &st) != 0)
        return std::nullopt;
    return st.st_dev;
}

// Whether a folder of the file system `device` is its top: the root, or a parent elsewhere.
bool topOfDevice(const QString& folder, dev_t device) {
    const QString parent = QFileInfo(folder).absolutePath();
    return parent == folder || deviceOf(parent) != device;
}

// The top folder of the file system holding the path: the last parent on the same device.
QString mountTopOf(const QString& path, dev_t device) {
    QString top = QFileInfo(path).absolutePath();
    while (!topOfDevice(top, device))
        top = QFileInfo(top).absolutePath();
    return top;
}

struct TrashPlace {
    QString folder;
    // The description names files by absolute path in the home Trash, relative to the top
    // folder in a volume's own Trash.
    QString describedPath;
};

enum class Missing { make, refuse };

// A folder of this user alone: a real folder (not a link to one), owned by the user, closed to
// everyone else. Made so when it is missing, unless only checked.
bool privateFolder(const QString& path, Missing missing) {
    const QByteArray name = encoded(path);
    if (missing == Missing::make && ::mkdir(name.constData(), 0700) != 0 && errno != EEXIST)
        return false;
    struct stat st {};
    return ::lstat(name.constData(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid() &&
           (st.st_mode & 07777) == 0700;
}

QString sharedTrashOf(const QString& top) {
    return top + QStringLiteral("/.Trash/") + QString::number(::getuid());
}

QString ownTrashOf(const QString& top) {
    return top + QStringLiteral("/.Trash-") + QString::number(::getuid());
}

// "$top/.Trash" a real folder with the sticky bit, so no one can take over another's folder in
// it, and the user's folder in it their own.
bool sharedTrashUsable(const QString& top, Missing missing) {
    struct stat st {};
    return ::lstat(encoded(top + QStringLiteral("/.Trash")).constData(), &st) == 0 && S_ISDIR(st.st_mode) &&
           (st.st_mode & S_ISVTX) && privateFolder(sharedTrashOf(top), missing);
}

Error unusableVolumeTrash(const QString& folder) {
    Error error = Error::failure(QStringLiteral("这个磁盘的废纸篓不能使用。"));
    error.failureReason = QStringLiteral("“%1”不是只属于当前用户的文件夹。").arg(folder);
    return error;
}

Result<TrashPlace> trashFor(const QString& path) {
    const QString data = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    if (data.isEmpty() || !QDir().mkpath(data))
        return Error::fromErrno(EACCES, data);
    const std::optional<dev_t> device = deviceOf(path);
    if (!device)
        return Error::fromErrno(errno, path);
    if (deviceOf(data) == device)
        return TrashPlace{data + QStringLiteral("/Trash"), path};
    const QString top = mountTopOf(path, *device);
    const Result<QString> folder = FreedesktopTrash::volumeTrash(top);
    if (!folder)
        return folder.error();
    return TrashPlace{*folder, QDir(top).relativeFilePath(path)};
}

// A name and its description must both fit the file system's name limit.
int longestTrashName(const QString& folder) {
    const long limit = ::pathconf(encoded(folder).constData(), _PC_NAME_MAX);
    const int nameMax = limit > 0 ? int(std::min<long>(limit, 4096)) : 255;
    return nameMax - int(qstrlen(kTrashInfoSuffix));
}

// The first characters of `text` that take at most `bytes` bytes on disk.
QString fittingPrefix(const QString& text, int bytes) {
    QString prefix;
    int used = 0;
    for (qsizetype i = 0; i < text.size();) {
        const qsizetype length = text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
        const QString character = text.mid(i, length);
        used += int(encoded(character).size());
        if (used > bytes)
            break;
        prefix += character;
        i += length;
    }
    return prefix;
}

// "name.ext", "name.2.ext", ...; the name is shortened, its extension kept, until the whole
// fits in `maxBytes`.
QString candidateName(const QFileInfo& file, int attempt, int maxBytes) {
    QString suffix = file.completeSuffix();
    QString stem = suffix.isEmpty() ? file.fileName() : file.fileName().chopped(suffix.size() + 1);
    if (!suffix.isEmpty() && encoded(suffix).size() > maxBytes / 2) {
        stem = file.fileName();
        suffix.clear();
    }
    const QString tail = (attempt == 1 ? QString() : u'.' + QString::number(attempt)) +
                         (suffix.isEmpty() ? QString() : u'.' + suffix);
    const int room = maxBytes - int(encoded(tail).size());
    if (encoded(stem).size() > room)
        stem = fittingPrefix(stem, room);
    return stem + tail;
}

Status writeFully(int fd, const QByteArray& bytes, const QString& path) {
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return Error::fromErrno(errno, path);
        done += n;
    }
    return {};
}

// Claims the description under a free name and writes it to disk; answers its path.
Result<QString> writeInfo(const QString& infoPath, const QByteArray& body) {
    const int fd = ::open(encoded(infoPath).constData(), O_CREAT | O_EXCL | O_WRONLY | O_CLOEXEC, 0600);
    if (fd < 0)
        return Error::fromErrno(errno, infoPath);
    Status written = writeFully(fd, body, infoPath);
    if (written && DurableCalls::current().fsync(fd) != 0)
        written = Error::fromErrno(errno, infoPath);
    ::close(fd);
    if (!written) {
        ::unlink(encoded(infoPath).constData());
        return written.error();
    }
    // Its name too, or a crash after the move could keep the file in the Trash without it.
    DurableCalls::syncFolder(encoded(QFileInfo(infoPath).absolutePath()).constData());
    return infoPath;
}

} // namespace

// The freedesktop rules for a volume: the shared "$top/.Trash/$uid" when "$top/.Trash" is a real
// folder with the sticky bit (so no one can take over another's folder in it), else the user's
// own "$top/.Trash-$uid". A link or someone else's folder in either place could hand the
// user's photos to another user, so it is passed over, or refused in the last place.
Result<QString> FreedesktopTrash::volumeTrash(const QString& top) {
    if (sharedTrashUsable(top, Missing::make))
        return sharedTrashOf(top);
    const QString own = ownTrashOf(top);
    if (!privateFolder(own, Missing::make))
        return unusableVolumeTrash(own);
    return own;
}

Status FreedesktopTrash::checkVolumeTrash(const QString& top, VolumeTrashKind kind) {
    const bool usable = kind == VolumeTrashKind::shared ? sharedTrashUsable(top, Missing::refuse)
                                                        : privateFolder(ownTrashOf(top), Missing::refuse);
    if (!usable)
        return unusableVolumeTrash(kind == VolumeTrashKind::shared ? sharedTrashOf(top) : ownTrashOf(top));
    return {};
}

QString FreedesktopTrash::homeTrash() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) + QStringLiteral("/Trash");
}

bool FreedesktopTrash::isVolumeTop(const QString& folder) {
    const QString canonical = QFileInfo(folder).canonicalFilePath();
    if (canonical.isEmpty())
        return false;
    const std::optional<dev_t> device = deviceOf(canonical);
    return device && topOfDevice(canonical, *device);
}

// The description is on disk before the file moves, so a crash at any point leaves the file
// either where it was or in the Trash with the path it came from. (Qt 6.4's moveToTrash writes
// it afterwards.)
Result<QString> FreedesktopTrash::moveToTrash(const QString& path) {
    const QString source = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    const QFileInfo file(source);
    if (!file.exists() && !file.isSymLink())
        return Error::fromErrno(ENOENT, source);
    const Result<TrashPlace> place = trashFor(source);
    if (!place)
        return place.error();
    const QString files = place->folder + QStringLiteral("/files/");
    const QString info = place->folder + QStringLiteral("/info/");
    for (const QString& folder : {files, info}) {
        if (!QDir().mkpath(folder))
            return Error::fromErrno(EACCES, folder);
    }
    ::chmod(encoded(place->folder).constData(), 0700);
    const int longest = longestTrashName(info);
    const QByteArray body =
        "[Trash Info]\nPath=" + QUrl::toPercentEncoding(place->describedPath, "/") +
        "\nDeletionDate=" + QDateTime::currentDateTime().toString(Qt::ISODate).left(19).toUtf8() + "\n";
    for (int attempt = 1; attempt <= kMaxTrashNames; ++attempt) {
        const QString name = candidateName(file, attempt, longest);
        const Result<QString> described = writeInfo(info + name + QLatin1String(kTrashInfoSuffix), body);
        if (!described) {
            if (described.error().isFileExists())
                continue;
            return described.error();
        }
        const QString target = files + name;
        const Status moved = FileMove::moveNoReplace(source, target);
        if (moved)
            return target;
        ::unlink(encoded(*described).constData());
        if (!moved.error().isFileExists())
            return moved.error();
    }
    return Error::fromErrno(EEXIST, files + file.fileName());
}

QString FreedesktopTrash::infoPath(const QString& trashedPath) {
    const QFileInfo file(trashedPath);
    return QDir::cleanPath(file.dir().absoluteFilePath(QStringLiteral("../info/") + file.fileName() +
                                                       QLatin1String(kTrashInfoSuffix)));
}

Status FreedesktopTrash::restore(const QString& trashedPath, const QString& target) {
    if (const Status moved = FileMove::moveNoReplace(trashedPath, target); !moved)
        return moved;
    // A leftover description only makes the desktop list a file that is gone; the move stands.
    ::unlink(encoded(infoPath(trashedPath)).constData());
    return {};
}

} // namespace vennimo
