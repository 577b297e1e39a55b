#include "platform/ProcessExit.h"

#include <atomic>

namespace vennimo {

namespace {

std::atomic<bool> g_announced{false};

} // namespace

void ProcessExit::announce() {
    g_announced.store(true, std::memory_order_relaxed);
}

bool ProcessExit::announced() {
    return g_announced.load(std::memory_order_relaxed);
}

void ProcessExit::resetForTesting() {
    g_announced.store(false, std::memory_order_relaxed);
}

} // namespace vennimo
