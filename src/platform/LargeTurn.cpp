#include "platform/LargeTurn.h"

#include "platform/WorkQueue.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>

namespace vennimo {

namespace {

constexpr auto kStopLookInterval = std::chrono::milliseconds(20);

// One waiting: a thread that waits itself, or a task put back to its queue.
struct Waiter {
    std::shared_ptr<bool> granted;
    std::shared_ptr<WorkQueue::PutBack> putBack;
};

std::mutex s_mutex;
std::condition_variable s_granted;
bool s_taken = false;
std::deque<Waiter> s_waiters;

thread_local LargeTurn::PutBackScope* t_scope = nullptr;
// The turn handed to a task put back, while it runs again.
thread_local LargeTurn::Hold* t_given = nullptr;

} // namespace

LargeTurn::Hold::Hold(Hold&& other) noexcept
    : m_held(std::exchange(other.m_held, false)) {}

LargeTurn::Hold& LargeTurn::Hold::operator=(Hold&& other) noexcept {
    if (this != &other) {
        giveBack();
        m_held = std::exchange(other.m_held, false);
    }
    return *this;
}

LargeTurn::Hold::~Hold() {
    giveBack();
}

void LargeTurn::Hold::giveBack() {
    if (std::exchange(m_held, false))
        LargeTurn::give();
}

LargeTurn::PutBackScope::PutBackScope()
    : m_outer(t_scope) {
    t_scope = this;
}

LargeTurn::PutBackScope::~PutBackScope() {
    t_scope = m_outer;
}

LargeTurn::Hold LargeTurn::take(const std::function<bool()>* stop) {
    // The one picture decoded in the turn takes a core of its own: the task holding it stops
    // counting against its queue's workers, and the queue's other work goes on beside it.
    const auto holding = [] {
        if (t_scope != nullptr)
            WorkQueue::stepAsideCurrentTask();
    };
    Hold hold;
    if (t_given != nullptr && *t_given) {
        std::swap(hold, *t_given);
        holding();
        return hold;
    }
    std::unique_lock lock(s_mutex);
    if (!s_taken && s_waiters.empty()) {
        s_taken = true;
        hold.m_held = true;
        lock.unlock();
        holding();
        return hold;
    }
    if (t_scope != nullptr) {
        // One put back a run: the task returns, whatever else it meets on its way out.
        if (t_scope->m_putBack)
            return hold;
        if (auto putBack = WorkQueue::putBackCurrentTask()) {
            t_scope->m_putBack = true;
            s_waiters.push_back({nullptr, std::move(putBack)});
            return hold;
        }
    }
    const auto granted = std::make_shared<bool>(false);
    s_waiters.push_back({granted, nullptr});
    for (;;) {
        if (*granted) {
            hold.m_held = true;
            return hold;
        }
        lock.unlock();
        const bool stopped = stop != nullptr && *stop && (*stop)();
        lock.lock();
        if (stopped) {
            if (!*granted) {
                std::erase_if(s_waiters, [&](const Waiter& w) { return w.granted == granted; });
                return hold;
            }
            // Granted as the stop came: the turn goes on to the next.
            lock.unlock();
            hold.m_held = true;
            hold.giveBack();
            return hold;
        }
        s_granted.wait_for(lock, kStopLookInterval, [&] { return *granted; });
    }
}

void LargeTurn::give() {
    std::unique_lock lock(s_mutex);
    for (;;) {
        if (s_waiters.empty()) {
            s_taken = false;
            return;
        }
        Waiter next = std::move(s_waiters.front());
        s_waiters.pop_front();
        if (next.granted) {
            *next.granted = true;
            lock.unlock();
            s_granted.notify_all();
            return;
        }
        // Woken outside the lock: the queue takes its own, and a cancel there gives the turn on.
        lock.unlock();
        auto hold = std::make_shared<Hold>();
        hold->m_held = true;
        WorkQueue::PutBack::Around around = [hold](const WorkQueue::Task& task) {
            Hold* const outer = std::exchange(t_given, hold.get());
            task();
            t_given = outer;
            // Not taken, the picture having changed or the task stopped: on to the next.
            hold->giveBack();
        };
        if (next.putBack->wake(around))
            return;
        // The task was cancelled or its queue ended: the turn is still this call's to hand on.
        hold->m_held = false;
        around = nullptr;
        lock.lock();
    }
}

int LargeTurn::waiting() {
    const std::lock_guard lock(s_mutex);
    return int(s_waiters.size());
}

} // namespace vennimo
