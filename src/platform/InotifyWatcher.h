#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace vennimo {

// Flag words of file-system events. The values are those the photo index and its state files
// use for event flags, so that one word can describe an event whatever source reported it.
namespace FileEventFlag {
inline constexpr std::uint32_t kMustScanSubDirs = 0x01;
inline constexpr std::uint32_t kUserDropped = 0x02;
inline constexpr std::uint32_t kKernelDropped = 0x04;
inline constexpr std::uint32_t kEventIdsWrapped = 0x08;
inline constexpr std::uint32_t kHistoryDone = 0x10;
inline constexpr std::uint32_t kRootChanged = 0x20;
inline constexpr std::uint32_t kMount = 0x40;
inline constexpr std::uint32_t kUnmount = 0x80;
inline constexpr std::uint32_t kItemCreated = 0x100;
inline constexpr std::uint32_t kItemRemoved = 0x200;
inline constexpr std::uint32_t kItemInodeMetaMod = 0x400;
inline constexpr std::uint32_t kItemRenamed = 0x800;
inline constexpr std::uint32_t kItemModified = 0x1000;
inline constexpr std::uint32_t kItemIsFile = 0x10000;
inline constexpr std::uint32_t kItemIsDir = 0x20000;
inline constexpr std::uint32_t kItemIsSymlink = 0x40000;
} // namespace FileEventFlag

struct FileEvent {
    QString path{};
    std::uint32_t flags = 0;

    bool operator==(const FileEvent&) const = default;
};

// Recursive folder watching over inotify: one watch per folder below each root (hidden folders
// and excluded folders are not descended into, since nothing below them is ever indexed).
// Folders that appear later get their watches as their events arrive; a folder that cannot be
// watched then is reported as must-scan-subdirs so that the owner rescans instead of missing
// changes. A root that does not exist is awaited in the nearest folder above it that does, and
// watched from the moment it appears (again). Runs on the thread that calls start() (the main
// thread), through its event loop.
class InotifyWatcher {
public:
    using Handler = std::function<void(const QList<FileEvent>&)>;

    InotifyWatcher(QStringList roots, QStringList excluded, Handler handler);
    ~InotifyWatcher();
    InotifyWatcher(const InotifyWatcher&) = delete;
    InotifyWatcher& operator=(const InotifyWatcher&) = delete;

    // False when inotify is not available or a root (or, for lack of watches, any folder below
    // one, or for a missing root every folder above it) cannot be watched; the watcher is then
    // stopped.
    bool start();
    void stop();
    // False too once a root was lost and can be neither watched nor awaited.
    bool running() const { return m_notifier != nullptr && !m_lostRoot; }
    int watchCount() const { return static_cast<int>(m_pathByWatch.size()); }

    // Test seams: a watch limit below the system's, and raw inotify records fed as if read.
    void setWatchLimitForTesting(int limit) { m_watchLimit = limit; }
    void processRawEvents(const QByteArray& records);

private:
    enum class AddResult { Added, Skipped, OutOfWatches };
    AddResult addTree(const QString& folder, QList<FileEvent>* unwatched);
    int addWatch(const QString& folder, bool followLinks = false);
    bool watchOrAwaitRoot(const QString& root, QList<FileEvent>* events);
    void releaseAncestor(const QString& folder);
    void resumeAwaitedRoots(const QString& folder, const QString& name, QList<FileEvent>& events);
    void awaitOrGiveUp(const QString& root, QList<FileEvent>& events);
    bool isInWatchedTree(const QString& folder) const;
    void removeTree(const QString& folder);
    void readEvents();
    bool isExcluded(const QString& folder) const;
    bool isRoot(const QString& path) const;

    QStringList m_roots;
    QStringList m_excluded;
    Handler m_handler;
    int m_fd = -1;
    int m_watchLimit = -1;
    QHash<int, QString> m_pathByWatch;
    QHash<QString, int> m_watchByPath;
    // Missing root -> the existing folder above it whose watch waits for it.
    QHash<QString, QString> m_awaitedRoots;
    bool m_lostRoot = false;
    std::unique_ptr<QSocketNotifier> m_notifier;
};

} // namespace vennimo
