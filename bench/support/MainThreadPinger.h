#pragma once

#include "WindowPing.h"

#include <QString>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>

namespace vennimo::bench {

// Pings a window one ping after another on a thread of its own and keeps the slowest answer.
class Pinger {
public:
    explicit Pinger(QString id)
        : m_thread([this, id = std::move(id)] {
            while (!m_stop.load()) {
                const std::optional<qint64> answer = vennimo::test::pingWindow(id, 60'000);
                if (!answer)
                    return;
                m_longest = std::max<qint64>(m_longest.load(), *answer);
                if (const char* log = std::getenv("VENNIMO_BENCH_PING_LOG"); log && *answer >= std::atoi(log))
                    std::fprintf(
                        stderr, "ping answered after %lld ms at monotonic %.3f s\n",
                        static_cast<long long>(*answer),
                        std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
                            .count());
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        }) {}
    ~Pinger() { stop(); }
    qint64 stop() {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        return m_longest.load();
    }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<qint64> m_longest{0};
    std::thread m_thread;
};

} // namespace vennimo::bench
