#pragma once

#include "platform/LeftoverTemporaries.h"
#include "platform/Result.h"

#include <QString>

namespace vennimo {

// Moves a file without ever replacing what is at the target. A taken target fails with the
// "file exists" error (Error::isFileExists). Across file systems the file is copied under a
// temporary name in the target folder with its modification time kept to the nanosecond,
// synced, linked under the final name without replacing, and only then removed at the source,
// so a crash never leaves a partial file under the final name.
class FileMove {
public:
    static Status moveNoReplace(const QString& from, const QString& to);
    // The cross-file-system path on its own (also used when a rename is refused with EXDEV).
    static Status copyThenRemove(const QString& from, const QString& to);
    // Copies to `to` (never replacing), keeping the modification time; the source stays.
    static Status copyNoReplace(const QString& from, const QString& to);
    // Removes the hidden ".vennimo-partial-" copies of `folder` whose copying process died; never
    // one a running copy holds. Answers how many went.
    static int removeLeftoverPartials(
        const QString& folder,
        LeftoverTemporaries::Clock::time_point changedBefore = LeftoverTemporaries::processStart());
};

} // namespace vennimo
