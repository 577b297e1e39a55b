#include "platform/WorkQueue.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QPointer>
#include <QThread>

#include <algorithm>
#include <future>
#include <pthread.h>

namespace vennimo {

WorkQueue::WorkQueue(QString label, int width)
    : m_label(std::move(label))
    , m_width(std::max(1, width)) {
    m_threads.reserve(static_cast<std::size_t>(m_width));
    for (int i = 0; i < m_width; ++i) {
        m_threads.emplace_back([this] { workerLoop(); });
        // Thread names are capped at 15 bytes; the tail of the label is the telling part.
        const QByteArray name = m_label.right(15).toUtf8();
        pthread_setname_np(m_threads.back().native_handle(), name.constData());
    }
}

WorkQueue::~WorkQueue() {
    {
        std::lock_guard lock(m_mutex);
        m_stopping = true;
        m_ready.clear();
        m_delayed.clear();
    }
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
    std::lock_guard lock(m_mutex);
    auto it = std::find_if(m_ready.begin(), m_ready.end(), [id](const Entry& e) { return e.id == id; });
    if (it != m_ready.end()) {
        m_ready.erase(it);
        m_idle.notify_all();
        return true;
    }
    for (auto d = m_delayed.begin(); d != m_delayed.end(); ++d) {
        if (d->second.id == id) {
            m_delayed.erase(d);
            return true;
        }
    }
    return false;
}

void WorkQueue::cancelAll() {
    std::lock_guard lock(m_mutex);
    std::erase_if(m_ready, [](const Entry& e) { return !e.awaited; });
    m_delayed.clear();
    m_idle.notify_all();
}

void WorkQueue::waitUntilIdle() {
    std::unique_lock lock(m_mutex);
    m_idle.wait(lock, [this] { return m_ready.empty() && m_running == 0; });
}

bool WorkQueue::isCurrentThreadWorker() const {
    const auto self = std::this_thread::get_id();
    return std::any_of(m_threads.begin(), m_threads.end(),
                       [self](const std::thread& t) { return t.get_id() == self; });
}

std::size_t WorkQueue::pendingCount() const {
    std::lock_guard lock(m_mutex);
    return m_ready.size() + m_delayed.size();
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
        if (!m_ready.empty()) {
            Entry entry = std::move(m_ready.front());
            m_ready.pop_front();
            ++m_running;
            lock.unlock();
            entry.task();
            entry.task = nullptr; // captured state dies outside the lock, on this thread
            lock.lock();
            --m_running;
            if (m_ready.empty() && m_running == 0)
                m_idle.notify_all();
            continue;
        }
        if (m_delayed.empty())
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
