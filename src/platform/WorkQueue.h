#pragma once

#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

class QObject;

namespace vennimo {

// A labelled queue of tasks run by `width` worker threads: width 1 runs them one at a time in
// the order given (a serial queue). Delayed tasks join the queue when they fall due. Queued
// tasks can be cancelled until they start. Destroying the queue cancels what has not started
// and waits for the running tasks. A task of a queue of several workers may be put back: it
// then waits aside without a worker until it is woken, and counts as queued meanwhile.
class WorkQueue {
public:
    using TaskId = std::uint64_t;
    using Task = std::function<void()>;

    // A task put back, held by whoever will wake it.
    class PutBack {
    public:
        // Runs the task itself once; what the wake runs in its place.
        using Around = std::function<void(const Task&)>;
        // Queues the task again ahead of the tasks waiting, to run inside `around`. False when the
        // task was cancelled or its queue has ended: `around` is then left with the caller.
        bool wake(Around& around);

    private:
        friend class WorkQueue;
        std::mutex m_mutex;
        WorkQueue* m_queue = nullptr; // null once the queue has ended
        TaskId m_id = 0;
    };

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
    // Tasks queued (due or delayed, or put back) but not started.
    std::size_t pendingCount() const;

    // Puts back the task running on this thread once it returns: instead of ending, it waits
    // aside until the answer is woken, and runs again from its start. Null off a worker, on a
    // serial queue (whose order it would break), on a queue that is ending, and when the task
    // was put back already in this run.
    static std::shared_ptr<PutBack> putBackCurrentTask();
    // Lets the task running on this thread stop counting against its queue's width until it
    // returns: one worker more, kept spare for it, takes the next task meanwhile. For the one
    // task of the process holding a scarce turn, so that the queue's other work goes on as it
    // would without it. Nothing on a serial queue or off a worker, nor for a second task of the
    // queue while one is aside.
    static void stepAsideCurrentTask();

private:
    struct Entry {
        TaskId id;
        Task task;
        // A caller blocks in sync() on this task: cancelling it would block that caller forever.
        bool awaited = false;
    };
    struct Parked {
        std::shared_ptr<PutBack> handle;
        // Once the task has returned.
        std::optional<Entry> entry;
        // Once woken, where that came before the task returned.
        PutBack::Around around;
    };
    void workerLoop();
    void promoteDueLocked(std::chrono::steady_clock::time_point now);
    bool wakeParked(TaskId id, PutBack::Around& around);
    // Keeps the returned task aside, or queues it at once when it was woken meanwhile; what is
    // left to end goes into `ended`, to die outside the lock.
    void parkLocked(Entry entry, Task& ended);
    static Entry woken(Entry entry, PutBack::Around around);

    const QString m_label;
    const int m_width;
    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    std::condition_variable m_idle;
    std::deque<Entry> m_ready;
    std::multimap<std::chrono::steady_clock::time_point, Entry> m_delayed;
    std::map<TaskId, Parked> m_parked;
    int m_running = 0;
    // Running tasks that count against the width: all but one stepped aside.
    int m_counted = 0;
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
