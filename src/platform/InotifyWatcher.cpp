#include "platform/InotifyWatcher.h"

#include "platform/FileNames.h"

#include <QFile>
#include <QSocketNotifier>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

namespace vennimo {

namespace {

constexpr std::uint32_t kWatchMask = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_CLOSE_WRITE |
                                     IN_MODIFY | IN_ATTRIB | IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR |
                                     IN_DONT_FOLLOW | IN_EXCL_UNLINK;
// The folders above a missing root are watched through links, as the root's path will be.
constexpr std::uint32_t kAncestorMask = kWatchMask & ~std::uint32_t(IN_DONT_FOLLOW);
constexpr std::size_t kReadBufferBytes = 64 * 1024;

bool outOfWatches(int err) {
    return err == ENOSPC || err == ENOMEM;
}

bool isHiddenName(const char* name) {
    return name[0] == '.';
}

QString childPath(const QString& folder, const QString& name) {
    return folder == QLatin1String("/") ? QLatin1Char('/') + name : folder + QLatin1Char('/') + name;
}

QString parentPath(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

// The name of the first folder below `ancestor` on the way to `path`.
QString nextComponent(const QString& ancestor, const QString& path) {
    const qsizetype start = ancestor == QLatin1String("/") ? 1 : ancestor.size() + 1;
    const qsizetype end = path.indexOf(QLatin1Char('/'), start);
    return path.mid(start, end < 0 ? -1 : end - start);
}

bool isAbsentError(int err) {
    return err == ENOENT || err == ENOTDIR;
}

} // namespace

InotifyWatcher::InotifyWatcher(QStringList roots, QStringList excluded, Handler handler)
    : m_roots(std::move(roots))
    , m_excluded(std::move(excluded))
    , m_handler(std::move(handler)) {}

InotifyWatcher::~InotifyWatcher() {
    stop();
}

bool InotifyWatcher::start() {
    if (running())
        return true;
    m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (m_fd < 0)
        return false;
    m_lostRoot = false;
    for (const QString& root : m_roots) {
        // A root that cannot be watched, or a tree that exhausts the watches, would leave the
        // owner blind: report the watcher as dead rather than half alive.
        if (!watchOrAwaitRoot(root, nullptr)) {
            stop();
            return false;
        }
    }
    m_notifier = std::make_unique<QSocketNotifier>(m_fd, QSocketNotifier::Read);
    QObject::connect(m_notifier.get(), &QSocketNotifier::activated, [this] { readEvents(); });
    return true;
}

void InotifyWatcher::stop() {
    m_notifier.reset();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
    m_pathByWatch.clear();
    m_watchByPath.clear();
    m_awaitedRoots.clear();
}

int InotifyWatcher::addWatch(const QString& folder, bool followLinks) {
    if (m_fd < 0)
        return -1;
    if (m_watchLimit >= 0 && m_pathByWatch.size() >= m_watchLimit && !m_watchByPath.contains(folder)) {
        errno = ENOSPC;
        return -1;
    }
    const int wd = inotify_add_watch(m_fd, QFile::encodeName(folder).constData(),
                                     followLinks ? kAncestorMask : kWatchMask);
    if (wd < 0)
        return -1;
    if (auto old = m_pathByWatch.constFind(wd); old != m_pathByWatch.constEnd())
        m_watchByPath.remove(*old);
    m_pathByWatch.insert(wd, folder);
    m_watchByPath.insert(folder, wd);
    return wd;
}

bool InotifyWatcher::isExcluded(const QString& folder) const {
    for (const QString& excluded : m_excluded) {
        if (folder == excluded || folder.startsWith(excluded + QLatin1Char('/')))
            return true;
    }
    return false;
}

bool InotifyWatcher::isRoot(const QString& path) const {
    return m_roots.contains(path);
}

bool InotifyWatcher::isInWatchedTree(const QString& folder) const {
    for (const QString& root : m_roots) {
        if (!m_awaitedRoots.contains(root) && (folder == root || folder.startsWith(root + QLatin1Char('/'))))
            return true;
    }
    return false;
}

// Watches the root and its tree when it exists. A missing root (no Downloads folder yet, or one
// deleted to be made again) is awaited instead: its nearest existing ancestor is watched for the
// next folder on the way down, so that the root is watched the moment it appears, and
// `events` (when given) learns of it then. False when neither can be watched.
bool InotifyWatcher::watchOrAwaitRoot(const QString& root, QList<FileEvent>* events) {
    for (;;) {
        const QString previousAncestor = m_awaitedRoots.value(root);
        if (addWatch(root) >= 0) {
            m_awaitedRoots.remove(root);
            releaseAncestor(previousAncestor);
            if (addTree(root, events) == AddResult::OutOfWatches)
                return false;
            if (events != nullptr)
                events->append({root, FileEventFlag::kItemCreated | FileEventFlag::kItemIsDir});
            return true;
        }
        if (!isAbsentError(errno))
            return false;
        QString ancestor = parentPath(root);
        while (addWatch(ancestor, true) < 0) {
            if (!isAbsentError(errno) || ancestor == QLatin1String("/"))
                return false;
            ancestor = parentPath(ancestor);
        }
        m_awaitedRoots.insert(root, ancestor);
        if (ancestor != previousAncestor)
            releaseAncestor(previousAncestor);
        // The next folder may have appeared before the watch was in place. (Not through a link:
        // a root that is one cannot be watched, and would be tried here again and again.)
        struct stat st {};
        const QString next = childPath(ancestor, nextComponent(ancestor, root));
        if (lstat(QFile::encodeName(next).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
            return true;
    }
}

// Drops the watch of a folder that was watched only on the way to a missing root.
void InotifyWatcher::releaseAncestor(const QString& folder) {
    if (folder.isEmpty() || isInWatchedTree(folder))
        return;
    for (const QString& ancestor : std::as_const(m_awaitedRoots)) {
        if (ancestor == folder)
            return;
    }
    if (const auto wd = m_watchByPath.constFind(folder); wd != m_watchByPath.constEnd()) {
        inotify_rm_watch(m_fd, *wd);
        m_pathByWatch.remove(*wd);
        m_watchByPath.erase(wd);
    }
}

// An event in the folder an awaited root waits in: the next folder on its way appeared, or the
// folder itself went away (`name` empty).
void InotifyWatcher::resumeAwaitedRoots(const QString& folder, const QString& name,
                                        QList<FileEvent>& events) {
    QStringList resumed;
    for (auto it = m_awaitedRoots.cbegin(); it != m_awaitedRoots.cend(); ++it) {
        if (it.value() == folder && (name.isEmpty() || name == nextComponent(folder, it.key())))
            resumed.append(it.key());
    }
    for (const QString& root : resumed)
        awaitOrGiveUp(root, events);
}

void InotifyWatcher::awaitOrGiveUp(const QString& root, QList<FileEvent>& events) {
    if (watchOrAwaitRoot(root, &events))
        return;
    // Without a watch on its way the root would be missed for good: no longer running, the
    // watcher gets replaced by its owner, who rescans meanwhile.
    m_lostRoot = true;
    events.append({root, FileEventFlag::kMustScanSubDirs | FileEventFlag::kItemIsDir});
}

// Watches the folders below `folder` (which is watched already). Folders that cannot be
// watched are collected in `unwatched` when given.
InotifyWatcher::AddResult InotifyWatcher::addTree(const QString& folder, QList<FileEvent>* unwatched) {
    QStringList stack{folder};
    while (!stack.isEmpty()) {
        const QString current = stack.takeLast();
        DIR* dir = opendir(QFile::encodeName(current).constData());
        if (dir == nullptr)
            continue;
        while (dirent* entry = readdir(dir)) {
            if (isHiddenName(entry->d_name))
                continue;
            bool isDir = entry->d_type == DT_DIR;
            if (entry->d_type == DT_UNKNOWN) {
                struct stat st {};
                isDir =
                    fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
            }
            if (!isDir)
                continue;
            // A name that is not UTF-8 has no path to watch it under; nothing in it is indexed.
            const auto name = decodeFileName(entry->d_name);
            if (!name)
                continue;
            const QString child = childPath(current, *name);
            if (isExcluded(child))
                continue;
            if (addWatch(child) < 0) {
                const int err = errno;
                if (outOfWatches(err)) {
                    closedir(dir);
                    if (unwatched != nullptr)
                        unwatched->append({child, FileEventFlag::kMustScanSubDirs});
                    return AddResult::OutOfWatches;
                }
                if (unwatched != nullptr && err != ENOENT)
                    unwatched->append({child, FileEventFlag::kMustScanSubDirs});
                continue;
            }
            stack.append(child);
        }
        closedir(dir);
    }
    return AddResult::Added;
}

void InotifyWatcher::removeTree(const QString& folder) {
    const QString prefix = folder + QLatin1Char('/');
    for (auto it = m_watchByPath.begin(); it != m_watchByPath.end();) {
        if (it.key() == folder || it.key().startsWith(prefix)) {
            inotify_rm_watch(m_fd, it.value());
            m_pathByWatch.remove(it.value());
            it = m_watchByPath.erase(it);
        } else {
            ++it;
        }
    }
}

void InotifyWatcher::readEvents() {
    QByteArray records;
    alignas(inotify_event) char buffer[kReadBufferBytes];
    for (;;) {
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        records.append(buffer, n);
    }
    processRawEvents(records);
}

void InotifyWatcher::processRawEvents(const QByteArray& records) {
    QList<FileEvent> events;
    qsizetype offset = 0;
    while (offset + static_cast<qsizetype>(sizeof(inotify_event)) <= records.size()) {
        inotify_event header{};
        std::memcpy(&header, records.constData() + offset, sizeof header);
        const qsizetype next = offset + static_cast<qsizetype>(sizeof header) + header.len;
        if (next > records.size())
            break;
        QString name;
        bool decoded = true;
        if (header.len > 0) {
            const char* raw = records.constData() + offset + sizeof header;
            const auto text =
                decodeFileName(QByteArray(raw, static_cast<qsizetype>(strnlen(raw, header.len))));
            decoded = text.has_value();
            name = text.value_or(QString());
        }
        offset = next;
        if (!decoded)
            continue;

        const std::uint32_t mask = header.mask;
        if (mask & IN_Q_OVERFLOW) {
            // Folders made while events were lost have no watches yet: walk the roots again.
            for (const QString& root : m_roots) {
                events.append({root, FileEventFlag::kMustScanSubDirs | FileEventFlag::kKernelDropped});
                if (m_awaitedRoots.contains(root))
                    awaitOrGiveUp(root, events);
                else if (m_watchByPath.contains(root))
                    addTree(root, &events);
            }
            continue;
        }
        const auto found = m_pathByWatch.constFind(header.wd);
        if (found == m_pathByWatch.constEnd())
            continue;
        const QString folder = *found;
        if (mask & IN_IGNORED) {
            m_pathByWatch.remove(header.wd);
            if (m_watchByPath.value(folder, -1) == header.wd)
                m_watchByPath.remove(folder);
            continue;
        }
        if (!m_awaitedRoots.isEmpty()) {
            if (mask & (IN_CREATE | IN_MOVED_TO))
                resumeAwaitedRoots(folder, name, events);
            else if (mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT))
                resumeAwaitedRoots(folder, QString(), events);
            // A folder watched only on the way to a missing root has nothing to report.
            if (!isInWatchedTree(folder))
                continue;
        }
        if (mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
            // Below a root the parent folder's own event already tells of it.
            if (isRoot(folder)) {
                std::uint32_t flags = FileEventFlag::kRootChanged | FileEventFlag::kItemIsDir;
                if (mask & IN_UNMOUNT)
                    flags |= FileEventFlag::kUnmount;
                events.append({folder, flags});
                removeTree(folder);
                // Awaited like a root missing at the start, it is watched again once it returns.
                awaitOrGiveUp(folder, events);
            } else if (mask & IN_UNMOUNT) {
                events.append({folder, FileEventFlag::kUnmount | FileEventFlag::kItemIsDir});
            }
            continue;
        }

        const QString path = name.isEmpty() ? folder : childPath(folder, name);
        const bool isDir = mask & IN_ISDIR;
        std::uint32_t flags = isDir ? FileEventFlag::kItemIsDir : FileEventFlag::kItemIsFile;
        if (mask & IN_CREATE)
            flags |= FileEventFlag::kItemCreated;
        if (mask & IN_DELETE)
            flags |= FileEventFlag::kItemRemoved;
        if (mask & (IN_MOVED_FROM | IN_MOVED_TO))
            flags |= FileEventFlag::kItemRenamed;
        if (mask & (IN_MODIFY | IN_CLOSE_WRITE))
            flags |= FileEventFlag::kItemModified;
        if (mask & IN_ATTRIB)
            flags |= FileEventFlag::kItemInodeMetaMod;
        events.append({path, flags});

        if (isDir && (mask & (IN_MOVED_FROM | IN_DELETE)))
            removeTree(path);
        if (isDir && (mask & (IN_CREATE | IN_MOVED_TO)) && !name.startsWith(QLatin1Char('.')) &&
            !isExcluded(path)) {
            // The folder's contents so far produced no events here; the owner learns of them
            // through the folder's own event, and later changes through the new watches.
            if (addWatch(path) < 0) {
                if (errno != ENOENT)
                    events.append({path, FileEventFlag::kMustScanSubDirs});
            } else {
                addTree(path, &events);
            }
        }
    }
    if (!events.isEmpty() && m_handler)
        m_handler(events);
}

} // namespace vennimo
