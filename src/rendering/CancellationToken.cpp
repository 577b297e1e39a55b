#include "rendering/CancellationToken.h"

namespace vennimo {

void CancellationToken::cancel() {
    std::vector<std::function<void()>> handlers;
    {
        std::lock_guard lock(m_mutex);
        if (m_cancelled)
            return;
        m_cancelled = true;
        handlers.swap(m_handlers);
    }
    for (const auto& handler : handlers)
        handler();
}

bool CancellationToken::isCancelled() const {
    std::lock_guard lock(m_mutex);
    return m_cancelled;
}

void CancellationToken::onCancel(std::function<void()> handler) {
    {
        std::lock_guard lock(m_mutex);
        if (!m_cancelled) {
            m_handlers.push_back(std::move(handler));
            return;
        }
    }
    handler();
}

} // namespace vennimo
