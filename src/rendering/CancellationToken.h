#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace vennimo {

// The cancellation of one asynchronous task, shared between the task's owner and the work it
// started. Thread-safe: handlers added before the cancel run once inside cancel(), on the
// cancelling thread; a handler added afterwards runs at once.
class CancellationToken {
public:
    static std::shared_ptr<CancellationToken> make() { return std::make_shared<CancellationToken>(); }

    void cancel();
    bool isCancelled() const;
    void onCancel(std::function<void()> handler);

private:
    mutable std::mutex m_mutex;
    bool m_cancelled = false;
    std::vector<std::function<void()>> m_handlers;
};

} // namespace vennimo
