#pragma once

#include "platform/Result.h"

#include <QString>

namespace vennimo {

// Copies between two open files inside the kernel where it can: copy_file_range shares or copies
// pages without a trip through this process, sendfile does the same where the file systems refuse
// that, and a plain read and write is the last resort. Both descriptors are used from where they
// stand.
class KernelCopy {
public:
    KernelCopy() = delete;

    // At most `limit` bytes from `in` to `out`; answers how many there were. Errors name `path`.
    static Result<qint64> copy(int in, int out, qint64 limit, const QString& path);
};

} // namespace vennimo
