#pragma once

#include <chrono>
#include <functional>

namespace vennimo::test {

// Runs the event loop until `done` answers true or the limit passes; answers `done` at the end.
bool waitUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(10));

} // namespace vennimo::test
