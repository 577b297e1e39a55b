#pragma once

#include <QtGlobal>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace vennimo::test {

// Holds a process still (SIGSTOP) while a test looks at what it shows, and lets it go again when
// it goes out of scope. A process held in the middle of a server grab would leave every other
// client, the test among them, waiting on the X server for good: after `mostMs` it is let go
// whatever the test is doing, and what the test saw meanwhile is spoiled.
class ApplicationHold {
public:
    explicit ApplicationHold(qint64 pid, int mostMs = 3000);
    ~ApplicationHold();
    ApplicationHold(const ApplicationHold&) = delete;
    ApplicationHold& operator=(const ApplicationHold&) = delete;

    // Whether it was let go before the test was done.
    bool spoiled() const { return m_spoiled; }

private:
    qint64 m_pid;
    std::mutex m_mutex;
    std::condition_variable m_done;
    bool m_finished = false;
    std::atomic<bool> m_spoiled{false};
    std::thread m_watchdog;
};

} // namespace vennimo::test
