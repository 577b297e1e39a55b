#pragma once

#include <QString>

#include <cstdint>

namespace vennimo {

// One changed path (in filesystemPathKey form) with the flags of every event reported for it
// within one batch, OR-merged.
struct FolderChange {
    // Flags that mean "something was lost or moved wholesale": must-scan-subdirs, user and
    // kernel drops, wrapped ids, root changed, mount and unmount.
    static constexpr std::uint32_t kReconciliationMask = 0xEF;

    QString path{};
    std::uint32_t flags = 0;

    bool requiresReconciliation() const { return (flags & kReconciliationMask) != 0; }
    bool operator==(const FolderChange&) const = default;
};

} // namespace vennimo
