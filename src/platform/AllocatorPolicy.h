#pragma once

namespace vennimo {

// How the process asks the C allocator to treat its memory. The application sets it before any
// thread starts; the benchmarks set it too, so that what they measure is what the application does.
class AllocatorPolicy {
public:
    static void apply();
};

} // namespace vennimo
