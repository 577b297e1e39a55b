#pragma once

#include "core/PegReturnIntent.h"
#include "core/Photo.h"
#include "model/CopyUndoRecord.h"
#include "model/RopeHistoryRecording.h"
#include "model/RopeTrashedItem.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace vennimo {

// The steps undo and redo hand over to the copy, folder-move and trash operations. Until an
// operation installs its own step, the default reports that nothing happened, so the history
// entry stays where it was.
struct RopeActionSeams {
    // `undone`: the records marked with what went to the Trash, a copy kept on purpose unmarked;
    // `remaining`: the copies the Trash refused, hung again and still to be undone.
    using CopiesRecycled =
        std::function<void(const QList<CopyUndoRecord>& undone, const QList<CopyUndoRecord>& remaining)>;

    // Takes an undone copy's copies down and recycles those nobody used. It never completes when
    // taking down failed.
    std::function<void(const QList<CopyUndoRecord>& records, CopiesRecycled completion)> recycleUndoneCopies =
        [](const QList<CopyUndoRecord>&, CopiesRecycled) {};
    // Moves files delivered into a folder back; the records of the photos brought back, nothing
    // when none came back.
    std::function<std::optional<QList<PegReturnRecord>>(const QList<PegReturnRecord>& records)>
        restorePegFolderMove = [](const QList<PegReturnRecord>&) { return std::nullopt; };
    // Puts trashed photos back; the items that came back.
    std::function<QList<RopeTrashedItem>(const QList<RopeTrashedItem>& items)> restoreTrashedItems =
        [](const QList<RopeTrashedItem>&) { return QList<RopeTrashedItem>(); };
    // Makes an undone copy again; it takes the redo entry off the history itself when it goes ahead.
    std::function<void(const QList<CopyUndoRecord>& records, double x)> redoPhotoCopies =
        [](const QList<CopyUndoRecord>&, double) {};
    // Moves photo files into a folder again; the moved file names, nothing on failure.
    std::function<std::optional<QStringList>(const QList<Photo>& photos, const QString& directory,
                                             RopeHistoryRecording recording)>
        movePegPhotos =
            [](const QList<Photo>&, const QString&, RopeHistoryRecording) { return std::nullopt; };
    // Moves photos to the Trash again; calls back when nothing was deleted.
    std::function<void(const QList<Photo>& photos, RopeHistoryRecording recording,
                       std::function<void()> onNothingDeleted)>
        trashSelection =
            [](const QList<Photo>&, RopeHistoryRecording, std::function<void()> onNothingDeleted) {
                if (onNothingDeleted)
                    onNothingDeleted();
            };
};

} // namespace vennimo
