#pragma once

#include "core/PegReturnIntent.h"
#include "core/Photo.h"
#include "model/CopyUndoRecord.h"
#include "model/RopeTrashedItem.h"

#include <QList>
#include <QString>

#include <functional>
#include <optional>
#include <variant>

namespace vennimo {

// Two values stand for the same photo when their record keys agree and they are of the same
// file birth.
bool isSamePhoto(const Photo& a, const Photo& b);

// A photo that came back under a new identity or path.
struct PhotoReplacement {
    Photo oldPhoto{};
    Photo newPhoto{};

    bool operator==(const PhotoReplacement&) const = default;
};

// One undoable rope action. Entries are values: pruning and remapping make new ones.
class RopeHistoryEntry {
public:
    enum class Kind { takeDown, copy, move, trash };

    struct TakeDown {
        QList<Photo> photos{};
        bool operator==(const TakeDown&) const = default;
    };
    struct Copy {
        QList<CopyUndoRecord> records{};
        // Where along the rope, 0 to 1, the copies hang.
        double x = 0;
        bool operator==(const Copy&) const = default;
    };
    struct Move {
        QList<PegReturnRecord> records{};
        // The folder the originals went to, links resolved.
        QString directory{};
        bool operator==(const Move&) const = default;
    };
    struct Trash {
        QList<RopeTrashedItem> items{};
        bool operator==(const Trash&) const = default;
    };
    using Payload = std::variant<TakeDown, Copy, Move, Trash>;

    RopeHistoryEntry(Payload payload)
        : m_payload(std::move(payload)) {}

    static RopeHistoryEntry takeDown(QList<Photo> photos) { return {TakeDown{std::move(photos)}}; }
    static RopeHistoryEntry copy(QList<CopyUndoRecord> records, double x) {
        return {Copy{std::move(records), x}};
    }
    static RopeHistoryEntry move(QList<PegReturnRecord> records, QString directory) {
        return {Move{std::move(records), std::move(directory)}};
    }
    static RopeHistoryEntry trash(QList<RopeTrashedItem> items) { return {Trash{std::move(items)}}; }

    Kind kind() const { return static_cast<Kind>(m_payload.index()); }
    const Payload& payload() const { return m_payload; }
    // The word the undo and redo menu items add after "撤销" or "重做".
    QString menuWord() const;
    qsizetype recordCount() const;

    // The entry without the records whose deciding photo `removing` marks; nothing when no
    // record is left.
    std::optional<RopeHistoryEntry> pruned(bool undoSide,
                                           const std::function<bool(const Photo&)>& removing) const;
    // Every held photo replaced by the new photo of the first pair whose old photo is the same
    // photo; never drops or reorders anything.
    RopeHistoryEntry remapping(const QList<PhotoReplacement>& pairs) const;

    bool operator==(const RopeHistoryEntry&) const = default;

private:
    Payload m_payload;
};

// Notes one file a folder move's undo brought back: a record whose original is the restored
// photo, and the pairs that repoint the histories from the record's two photos to it.
void recordReturnedMove(const PegReturnRecord& record, const Photo& restored,
                        QList<PegReturnRecord>& returned, QList<PhotoReplacement>& replacements);

// "撤销" or "重做" followed by the menu word of the newest entry, the bare verb without one.
QString ropeHistoryTitle(const QString& verb, const QList<RopeHistoryEntry>& history);

} // namespace vennimo
