#pragma once

#include "core/FolderChange.h"
#include "platform/InotifyWatcher.h"

#include <QHash>
#include <QList>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <chrono>
#include <functional>
#include <memory>

namespace vennimo {

// Turns the file-system events below the source folders into short batches of FolderChange
// values, one per path with its flags merged, delivered on the main thread a fixed window after
// the first event of a burst. Events inside the ignored folders (the storage folder) are dropped
// unless they ask for a rescan. A watcher whose folders cannot be watched is dead: `running`
// stays false and it never delivers; the owner replaces it. A root that is missing, or goes
// (moved, deleted, unmounted), is watched again when it appears; only when not even a folder
// above it can be watched does `running` turn false, after that change was passed on.
class FolderWatcher {
public:
    using Handler = std::function<void(const QList<FolderChange>&)>;
    static constexpr std::chrono::milliseconds kDeliveryWindow{250};

    // May run on any thread; the watching starts with activate().
    FolderWatcher(const QStringList& roots, const QStringList& ignoredRoots, Handler onEvents);
    FolderWatcher(const QStringList& roots, const QStringList& ignoredRoots, std::function<void()> onChange);
    ~FolderWatcher();
    FolderWatcher(const FolderWatcher&) = delete;
    FolderWatcher& operator=(const FolderWatcher&) = delete;

    // Main thread. Does nothing while running or once dead.
    void activate();
    // Main thread: drops the collected changes and ends the watching for good.
    void stop();
    bool running() const { return m_running && m_source->running(); }

    // The event source's entry point (tests feed events through it too).
    void receive(const QList<FileEvent>& events);
    void setDeliveryWindow(std::chrono::milliseconds window) { m_window = window; }
    // Test seam: passed on to the inotify layer before activate().
    void setWatchLimitForTesting(int limit) { m_watchLimit = limit; }
    InotifyWatcher* source() const { return m_source.get(); }

private:
    void deliver();

    std::unique_ptr<InotifyWatcher> m_source;
    std::unique_ptr<QTimer> m_pending;
    QHash<QString, std::uint32_t> m_changes;
    Handler m_onEvents;
    QStringList m_ignoredRoots;
    bool m_running = false;
    bool m_dead = false;
    int m_watchLimit = -1;
    std::chrono::milliseconds m_window = kDeliveryWindow;
};

} // namespace vennimo
