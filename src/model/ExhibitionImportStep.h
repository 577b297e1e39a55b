#pragma once

#include <functional>

namespace vennimo {

// Points of an exhibition import where a crash may strike; tests stop a process at each of them
// to prove that the next start finds either nothing or the whole import.
enum class ExhibitionImportStep {
    FilesSaved,         // the drop's files are in the storage folder, nothing prepared
    ReferencesPrepared, // thumbnails drawn, nothing committed
    JournalWritten,     // the commit's journal is on disk, no state file written yet
    StateFileWritten,   // one of the three state files was written from the journal
    Committed,          // the journal is applied and gone, the stores not yet reloaded
};
using ExhibitionImportStepHook = std::function<void(ExhibitionImportStep)>;

} // namespace vennimo
