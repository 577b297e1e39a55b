#pragma once

#include "platform/LeftoverTemporaries.h"
#include "platform/Result.h"

#include <QString>

#include <optional>

namespace vennimo {

// Moves a file without ever replacing what is at the target. A taken target fails with the
// "file exists" error (Error::isFileExists). Across file systems the file is copied under a
// temporary name in the target folder with its modification time kept to the nanosecond,
// synced, linked under the final name without replacing, and only then removed at the source,
// so a crash never leaves a partial file under the final name. Where a folder for them is set,
// each copy lists its partial there before creating it, so the start after a crash finds it.
class FileMove {
public:
    static Status moveNoReplace(const QString& from, const QString& to);
    // A folder opened once for moves into it: a folder, not a link to one. The caller closes it.
    static Result<int> openFolder(const QString& path);
    // Moves `from` to `name` in the opened `folder` (at `folderPath` when it was opened): the
    // rename, and across file systems the copy and its final name, all go through the descriptor.
    static Status moveNoReplaceInto(const QString& from, int folder, const QString& folderPath,
                                    const QString& name);
    // Moves `name` of the opened `folder` (at `folderPath`, for errors) to `to`, the same way.
    static Status moveNoReplaceOutOf(int folder, const QString& folderPath, const QString& name,
                                     const QString& to);
    // The path an opened folder has now, wherever it was renamed to since; nothing when it was
    // removed or the system cannot tell.
    static std::optional<QString> openedFolderPath(int folder);
    // The cross-file-system path on its own (also used when a rename is refused with EXDEV).
    static Status copyThenRemove(const QString& from, const QString& to);
    // Copies to `to` (never replacing), keeping the modification time; the source stays.
    static Status copyNoReplace(const QString& from, const QString& to);
    // Removes the hidden ".vennimo-partial-" copies of `folder` whose copying process died; never
    // one a running copy holds. Answers how many went.
    static int removeLeftoverPartials(
        const QString& folder,
        LeftoverTemporaries::Clock::time_point changedBefore = LeftoverTemporaries::processStart());

    // Process-wide: the folder where copies list their partials from now on; empty (the start)
    // lists none. A copy whose list cannot be written fails before it creates anything.
    static void setPartialRecordFolder(const QString& folder);
    static QString partialRecordFolder();
    // Removes the partial copies listed in `folder` by copies whose process is gone, wherever
    // they were left, and nothing but our hidden partials; answers how many went.
    static int removeRecordedPartials(const QString& folder);
};

} // namespace vennimo
