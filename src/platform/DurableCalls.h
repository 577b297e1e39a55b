#pragma once

#include <functional>

namespace vennimo {

// The system calls that put a file's bytes and its name on the disk. Tests replace them to see
// the order they come in or to make one fail; an empty member is the system call.
struct DurableCalls {
    std::function<int(int fd)> fsync{};
    std::function<int(const char* from, const char* to)> rename{};
    // renameat2 with RENAME_NOREPLACE and linkat, each name relative to its folder descriptor
    // (AT_FDCWD for a path), so moves into an opened folder go through the seam too.
    std::function<int(int fromFolder, const char* from, int toFolder, const char* to)> renameNoReplace{};
    std::function<int(int fromFolder, const char* from, int toFolder, const char* to)> link{};

    // Process-wide, until set again with {}.
    static void set(DurableCalls calls);
    // The calls in force, every member filled.
    static DurableCalls current();
    // Syncs a folder so the names made or changed in it last; a folder that cannot be opened is
    // passed over, as there is nothing left to sync then.
    static void syncFolder(const char* folder);
};

} // namespace vennimo
