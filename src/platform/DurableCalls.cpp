#include "platform/DurableCalls.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <mutex>
#include <stdio.h>
#include <unistd.h>

namespace vennimo {

namespace {

std::mutex g_mutex;
DurableCalls g_calls;

int systemRenameNoReplace(int fromFolder, const char* from, int toFolder, const char* to) {
    return ::renameat2(fromFolder, from, toFolder, to, RENAME_NOREPLACE);
}

int systemLink(int fromFolder, const char* from, int toFolder, const char* to) {
    return ::linkat(fromFolder, from, toFolder, to, 0);
}

} // namespace

void DurableCalls::set(DurableCalls calls) {
    const std::lock_guard lock(g_mutex);
    g_calls = std::move(calls);
}

DurableCalls DurableCalls::current() {
    DurableCalls calls;
    {
        const std::lock_guard lock(g_mutex);
        calls = g_calls;
    }
    if (!calls.fsync)
        calls.fsync = ::fsync;
    if (!calls.rename)
        calls.rename = ::rename;
    if (!calls.renameNoReplace)
        calls.renameNoReplace = systemRenameNoReplace;
    if (!calls.link)
        calls.link = systemLink;
    return calls;
}

void DurableCalls::syncFolder(const char* folder) {
    const int fd = ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return;
    current().fsync(fd);
    ::close(fd);
}

} // namespace vennimo
