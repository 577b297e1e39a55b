#include "platform/WorkQueue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

#include <algorithm>
#include <future>
#include <pthread.h>
#include <vector>

namespace vennimo {

namespace {

// The task a worker runs, for a put back asked from inside it.
struct Running {
    WorkQueue* queue = nullptr;
    WorkQueue::TaskId id = 0;
    bool putBack = false;
    bool aside = false;
};

thread_local Running* t_running = nullptr;

} // namespace

bool WorkQueue::PutBack::wake(Around& around) {
    const std::lock_guard lock(m_mutex);
    return m_queue != nullptr && m_queue->wakeParked(m_id, around);
}

WorkQueue::WorkQueue(QString label, int width)
    : m_label(std::move(label))
    , m_width(std::max(1, width)) {
    // A queue of several workers keeps one spare for a task stepping aside.
    const int threads = m_width == 1 ? 1 : m_width + 1;
    m_threads.reserve(static_cast<std::size_t>(threads));
    for (int i = 0; i < threads; ++i) {
        m_threads.emplace_back([this] { workerLoop(); });
        // Thread names are capped at 15 bytes; the tail of the label is the telling part.
        const QByteArray name = m_label.right(15).toUtf8();
        pthread_setname_np(m_threads.back().native_handle(), name.constData());
    }
}

WorkQueue::~WorkQueue() {
    // What the tasks hold dies outside the lock: it may wake a task of this very queue.
    std::deque<Entry> ready;
    std::multimap<std::chrono::steady_clock::time_point, Entry> delayed;
    std::map<TaskId, Parked> parked;
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        ready.swap(m_ready);
        delayed.swap(m_delayed);
        parked.swap(m_parked);
    }
    for (auto& aside : parked) {
        const std::lock_guard lock(aside.second.handle->m_mutex);
        aside.second.handle->m_queue = nullptr;
    }
    ready.clear();
    delayed.clear();
    parked.clear();
    m_wake.notify_all();
    for (std::thread& t : m_threads)
        t.join();
}

WorkQueue::TaskId WorkQueue::async(Task task) {
    TaskId id;
    {
        std::lock_guard lock(m_mutex);
        id = m_nextId++;
        m_ready.push_back({id, std::move(task)});
    }
    m_wake.notify_one();
    return id;
}

WorkQueue::TaskId WorkQueue::asyncAfter(std::chrono::milliseconds delay, Task task) {
    if (delay.count() <= 0)
        return async(std::move(task));
    TaskId id;
    {
        std::lock_guard lock(m_mutex);
        id = m_nextId++;
        m_delayed.emplace(std::chrono::steady_clock::now() + delay, Entry{id, std::move(task)});
    }
    // Every worker may be sleeping until a later due time.
    m_wake.notify_all();
    return id;
}

void WorkQueue::sync(Task task) {
    std::promise<void> done;
    {
        std::lock_guard lock(m_mutex);
        m_ready.push_back({m_nextId++,
                           [&] {
                               task();
                               done.set_value();
                           },
                           true});
    }
    m_wake.notify_one();
    done.get_future().wait();
}

bool WorkQueue::cancel(TaskId id) {
    // A cancelled task dies outside the lock, as one that ran does.
    Task ended;
    std::lock_guard lock(m_mutex);
    auto it = std::find_if(m_ready.begin(), m_ready.end(), [id](const Entry& e) { return e.id == id; });
    if (it != m_ready.end()) {
        ended = std::move(it->task);
        m_ready.erase(it);
        m_idle.notify_all();
        return true;
    }
    for (auto d = m_delayed.begin(); d != m_delayed.end(); ++d) {
        if (d->second.id == id) {
            ended = std::move(d->second.task);
            m_delayed.erase(d);
            return true;
        }
    }
    // A task put back is cancelled once it has returned; its wake then finds nothing.
    if (auto p = m_parked.find(id); p != m_parked.end() && p->second.entry) {
        ended = std::move(p->second.entry->task);
        m_parked.erase(p);
        m_idle.notify_all();
        return true;
    }
    return false;
}

void WorkQueue::cancelAll() {
    std::deque<Entry> ended;
    std::multimap<std::chrono::steady_clock::time_point, Entry> delayed;
    std::vector<Entry> parked;
    {
        std::lock_guard lock(m_mutex);
        for (Entry& entry : m_ready)
            if (!entry.awaited)
                ended.push_back(std::move(entry));
        std::erase_if(m_ready, [](const Entry& e) { return !e.awaited; });
        delayed.swap(m_delayed);
        for (auto p = m_parked.begin(); p != m_parked.end();) {
            if (p->second.entry) {
                parked.push_back(std::move(*p->second.entry));
                p = m_parked.erase(p);
            } else {
                ++p;
            }
        }
        m_idle.notify_all();
    }
}

void WorkQueue::waitUntilIdle() {
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_ready.empty() && m_running == 0 && m_parked.empty(); });
}

bool WorkQueue::isCurrentThreadWorker() const {
    const auto self = std::this_thread::get_id();
    return std::any_of(m_threads.begin(), m_threads.end(),
                       [self](const std::thread& t) { return t.get_id() == self; });
}

std::size_t WorkQueue::pendingCount() const {
    std::lock_guard lock(m_mutex);
    return m_ready.size() + m_delayed.size() + m_parked.size();
}

std::shared_ptr<WorkQueue::PutBack> WorkQueue::putBackCurrentTask() {
    Running* running = t_running;
    if (running == nullptr || running->putBack)
        return nullptr;
    WorkQueue& queue = *running->queue;
    const std::lock_guard lock(queue.m_mutex);
    if (queue.m_width == 1 || queue.m_stopping)
        return nullptr;
    auto handle = std::make_shared<PutBack>();
    handle->m_queue = &queue;
    handle->m_id = running->id;
    queue.m_parked[running->id].handle = handle;
    running->putBack = true;
    return handle;
}

void WorkQueue::stepAsideCurrentTask() {
    Running* running = t_running;
    if (running == nullptr || running->aside)
        return;
    WorkQueue& queue = *running->queue;
    {
        const std::lock_guard lock(queue.m_mutex);
        // Only one aside at once: the spare worker is the only one more.
        if (queue.m_width == 1 || queue.m_running - queue.m_counted > 0)
            return;
        --queue.m_counted;
        running->aside = true;
    }
    queue.m_wake.notify_all();
}

WorkQueue::Entry WorkQueue::woken(Entry entry, PutBack::Around around) {
    entry.task = [task = std::move(entry.task), around = std::move(around)] { around(task); };
    return entry;
}

bool WorkQueue::wakeParked(TaskId id, PutBack::Around& around) {
    {
        const std::lock_guard lock(m_mutex);
        auto p = m_stopping ? m_parked.end() : m_parked.find(id);
        if (p == m_parked.end())
            return false;
        if (!p->second.entry) {
            p->second.around = std::move(around);
            return true;
        }
        // Ahead of the rest: what woke it waits on it, a turn held idle meanwhile.
        m_ready.push_front(woken(std::move(*p->second.entry), std::move(around)));
        m_parked.erase(p);
    }
    m_wake.notify_one();
    return true;
}

void WorkQueue::parkLocked(Entry entry, Task& ended) {
    auto p = m_parked.find(entry.id);
    if (p == m_parked.end()) {
        // The queue is ending.
        ended = std::move(entry.task);
        return;
    }
    if (p->second.around) {
        m_ready.push_front(woken(std::move(entry), std::move(p->second.around)));
        m_parked.erase(p);
        m_wake.notify_one();
        return;
    }
    p->second.entry = std::move(entry);
}

void WorkQueue::promoteDueLocked(std::chrono::steady_clock::time_point now) {
    while (!m_delayed.empty() && m_delayed.begin()->first <= now) {
        m_ready.push_back(std::move(m_delayed.begin()->second));
        m_delayed.erase(m_delayed.begin());
    }
}

void WorkQueue::workerLoop() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        if (m_stopping)
            return;
        promoteDueLocked(std::chrono::steady_clock::now());
        // A serial queue keeps order: with width 1 only one worker exists anyway.
        if (!m_ready.empty() && m_counted < m_width) {
            Entry entry = std::move(m_ready.front());
            m_ready.pop_front();
            ++m_running;
            ++m_counted;
            lock.unlock();
            Running running{this, entry.id};
            t_running = &running;
            entry.task();
            t_running = nullptr;
            Task ended;
            if (!running.putBack)
                entry.task = nullptr; // captured state dies outside the lock, on this thread
            lock.lock();
            --m_running;
            if (!running.aside)
                --m_counted;
            if (running.putBack)
                parkLocked(std::move(entry), ended);
            if (ended) {
                lock.unlock();
                ended = nullptr;
                lock.lock();
            }
            if (m_ready.empty() && m_running == 0 && m_parked.empty())
                m_idle.notify_all();
            continue;
        }
        if (m_delayed.empty() || !m_ready.empty())
            m_wake.wait(lock);
        else {
            // A copy: the entry may be cancelled or dropped while this worker sleeps, and the
            // wait reads its deadline again on waking.
            const auto due = m_delayed.begin()->first;
            m_wake.wait_until(lock, due);
        }
    }
}

void postToMain(std::function<void()> fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (app == nullptr)
        return;
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void postTo(QObject* receiver, std::function<void()> fn) {
    if (receiver == nullptr)
        return;
    // invokeMethod on a deleted receiver is undefined; the pointer turns null instead.
    QMetaObject::invokeMethod(
        receiver,
        [guard = QPointer<QObject>(receiver), fn = std::move(fn)] {
            if (guard)
                fn();
        },
        Qt::QueuedConnection);
}

bool isMainThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app != nullptr && QThread::currentThread() == app->thread();
}

} // namespace vennimo
