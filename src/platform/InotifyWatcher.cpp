#include "platform/InotifyWatcher.h"

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
    int watchedRoots = 0;
    for (const QString& root : m_roots) {
        // A source folder that does not exist (no Downloads folder, say) must not blind the
        // others; the owner's periodic full scans cover it.
        if (addWatch(root) < 0) {
            if (errno == ENOENT || errno == ENOTDIR)
                continue;
            stop();
            return false;
        }
        // A tree that exhausts the watches leaves the owner blind: report the watcher as dead
        // rather than half alive.
        if (addTree(root, nullptr) == AddResult::OutOfWatches) {
            stop();
            return false;
        }
        ++watchedRoots;
    }
    if (watchedRoots == 0 && !m_roots.isEmpty()) {
        stop();
        return false;
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
}

int InotifyWatcher::addWatch(const QString& folder) {
    if (m_fd < 0)
        return -1;
    if (m_watchLimit >= 0 && m_pathByWatch.size() >= m_watchLimit) {
        errno = ENOSPC;
        return -1;
    }
    const int wd = inotify_add_watch(m_fd, QFile::encodeName(folder).constData(), kWatchMask);
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
            const QString child = childPath(current, QFile::decodeName(entry->d_name));
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
        if (header.len > 0) {
            const char* raw = records.constData() + offset + sizeof header;
            name = QFile::decodeName(QByteArray(raw, static_cast<qsizetype>(strnlen(raw, header.len))));
        }
        offset = next;

        const std::uint32_t mask = header.mask;
        if (mask & IN_Q_OVERFLOW) {
            // Folders made while events were lost have no watches yet: walk the roots again.
            for (const QString& root : m_roots) {
                events.append({root, FileEventFlag::kMustScanSubDirs | FileEventFlag::kKernelDropped});
                if (m_watchByPath.contains(root))
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
        if (mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_UNMOUNT)) {
            // Below a root the parent folder's own event already tells of it.
            if (isRoot(folder)) {
                std::uint32_t flags = FileEventFlag::kRootChanged | FileEventFlag::kItemIsDir;
                if (mask & IN_UNMOUNT)
                    flags |= FileEventFlag::kUnmount;
                events.append({folder, flags});
                removeTree(folder);
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
