// Preloaded into the application by a session-end test. Its handler is registered before the
// application makes statics of its own (Qt's thread pool among them) and so runs after their
// destructors at exit; there it holds the exit for VENNIMO_EXIT_HOLD_SECONDS, as a loaded machine
// may take its time, so that an exit that runs the destructors shows in how long it takes.

#include <chrono>
#include <cstdlib>
#include <thread>

namespace {

int g_holdSeconds = 0;

[[gnu::constructor]] void holdTheExit() {
    if (const char* seconds = std::getenv("VENNIMO_EXIT_HOLD_SECONDS"))
        g_holdSeconds = std::atoi(seconds);
    // The programs the application starts inherit the preload, not the hold.
    unsetenv("VENNIMO_EXIT_HOLD_SECONDS");
    std::atexit([] { std::this_thread::sleep_for(std::chrono::seconds(g_holdSeconds)); });
}

} // namespace
