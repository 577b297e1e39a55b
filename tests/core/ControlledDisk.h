#pragma once

#include "core/DeferredStateWriter.h"

#include <atomic>
#include <cerrno>
#include <chrono>

namespace vennimo::test {

// A state file writer that counts its writes and fails with "disk full" while told to.
struct ControlledDisk {
    std::atomic<int> writes{0};
    std::atomic<bool> failing{false};

    DeferredStateWriter::Options
    options(std::chrono::milliseconds delay = DeferredStateWriter::kDebounceDelay) {
        DeferredStateWriter::Options o;
        o.debounceDelay = delay;
        o.fileWriter = [this](const QJsonObject& value, const QString& path) -> Status {
            if (failing)
                return Error::fromErrno(ENOSPC, path);
            ++writes;
            return DeferredStateWriter::write(value, path);
        };
        return o;
    }
};

} // namespace vennimo::test
