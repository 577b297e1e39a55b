#pragma once

#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

class QObject;

namespace vennimo {

// A labelled queue of tasks run by `width` worker threads: width 1 runs them one at a time in
// the order given (a serial queue). Delayed tasks join the queue when they fall due. Queued
// tasks can be cancelled until they start. Destroying the queue cancels what has not started
// and waits for the running tasks.
class WorkQueue {
public:
    using TaskId = std::uint64_t;
    using Task = std::function<void()>;

    explicit WorkQueue(QString label, int width = 1);
    virtual ~WorkQueue();
    WorkQueue(const WorkQueue&) = delete;
    WorkQueue& operator=(const WorkQueue&) = delete;

    const QString& label() const { return m_label; }
    int width() const { return m_width; }

    TaskId async(Task task);
    TaskId asyncAfter(std::chrono::milliseconds delay, Task task);
    // Runs the task after everything queued before it (on a serial queue) and waits for it; it is
    // never cancelled. Never call it from a task of the same queue.
    void sync(Task task);
    // True when the task had not started yet and now never will.
    bool cancel(TaskId id);
    void cancelAll();
    // Waits until no task is queued or running (delayed tasks not yet due are not waited for).
    void waitUntilIdle();
    bool isCurrentThreadWorker() const;
    // Tasks queued (due or delayed) but not started.
    std::size_t pendingCount() const;

private:
    struct Entry {
        TaskId id;
        Task task;
        // A caller blocks in sync() on this task: cancelling it would block that caller forever.
        bool awaited = false;
    };
    void workerLoop();
    void promoteDueLocked(std::chrono::steady_clock::time_point now);

    const QString m_label;
    const int m_width;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Entry> m_ready;
    std::multimap<std::chrono::steady_clock::time_point, Entry> m_delayed;
    int m_running = 0;
    TaskId m_nextId = 1;
    bool m_stopping = false;
    std::vector<std::thread> m_threads;
};

class SerialQueue : public WorkQueue {
public:
    explicit SerialQueue(QString label)
        : WorkQueue(std::move(label), 1) {}
};

// "The main queue": runs the function on the main thread's event loop, later.
void postToMain(std::function<void()> fn);
// Runs on the receiver's thread; does nothing if the receiver is gone by then.
void postTo(QObject* receiver, std::function<void()> fn);
bool isMainThread();

} // namespace vennimo
