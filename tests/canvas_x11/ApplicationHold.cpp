#include "ApplicationHold.h"

#include <chrono>
#include <csignal>

namespace vennimo::test {

ApplicationHold::ApplicationHold(qint64 pid, int mostMs)
    : m_pid(pid) {
    ::kill(pid_t(m_pid), SIGSTOP);
    m_watchdog = std::thread([this, mostMs] {
        std::unique_lock lock(m_mutex);
        if (!m_done.wait_for(lock, std::chrono::milliseconds(mostMs), [this] { return m_finished; })) {
            m_spoiled = true;
            ::kill(pid_t(m_pid), SIGCONT);
        }
    });
}

ApplicationHold::~ApplicationHold() {
    {
        const std::lock_guard lock(m_mutex);
        m_finished = true;
    }
    m_done.notify_all();
    m_watchdog.join();
    ::kill(pid_t(m_pid), SIGCONT);
}

} // namespace vennimo::test
