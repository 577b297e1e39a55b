#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>

namespace vennimo {

inline constexpr auto kExhibitionJournalFileName = "exhibition-import.json";

// The complete new content of each state file that must change together, by file name.
using JournalData = QMap<QString, QByteArray>;

// Points inside a journal's application where a crash may strike; tests stop a process at each
// of them to prove that the next start finishes the work.
enum class JournalStep {
    ReturnJournalWritten, // a peg return's journal before its file moves
    ReturnFileCopied,     // a cross-volume return: the copy is in place, the source not yet removed
    ReturnFileMoved,
    ReturnStateWritten,   // one record's state rewrite is in the journal
    StateFileWritten,     // one of the member files was written to the storage folder
    CommitJournalWritten, // a commit's journal is on disk, none of its files written yet
};
using JournalStepHook = std::function<void(JournalStep)>;

// "exhibition-import.json": a JSON object from file name to that file's bytes as Base64.
class ExhibitionJournal {
public:
    // The three state files every journal carries, in name order.
    static const QStringList& files();
    static QString path(const QString& storage);

    static QByteArray encode(const JournalData& data);
    // Strict: every member must be Base64 text.
    static Result<JournalData> decode(const QByteArray& bytes);
    // Atomic, so a crash leaves the previous journal or this one.
    static Status write(const QString& journalPath, const JournalData& data);
    // Starts a new journal in the storage folder. A journal already there holds work a crash or a
    // failed recovery left undone, so it is never replaced: the writer is refused with
    // pendingError() until a recovery has applied it.
    static Status create(const QString& storage, const JournalData& data);
    static Error pendingError();
    static bool exists(const QString& storage);
};

} // namespace vennimo
