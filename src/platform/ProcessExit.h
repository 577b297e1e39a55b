#pragma once

namespace vennimo {

// Whether the process has decided to end. Work on the queues whose result only a running
// application would look at (prints, thumbnails, previews being decoded) gives up once it is
// announced, instead of holding the exit until it is done. Thread-safe.
class ProcessExit {
public:
    ProcessExit() = delete;

    static void announce();
    static bool announced();
    // Tests that announce it take it back before the next test runs.
    static void resetForTesting();
};

} // namespace vennimo
