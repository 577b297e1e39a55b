#pragma once

#include "core/ClotheslinePlacement.h"
#include "core/ExhibitionJournal.h"
#include "core/Photo.h"
#include "platform/Result.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QStringList>

#include <functional>
#include <optional>

namespace vennimo {

// A print dragged off its peg into a folder: the photo before and after the move, where it hung
// and the bookmark of the delivered file.
struct PegReturnRecord {
    Photo original{};
    Photo delivered{};
    std::optional<ClotheslinePlacement> placement{};
    QByteArray bookmark{};

    bool operator==(const PegReturnRecord&) const = default;
};

QJsonObject toJson(const PegReturnRecord& record);
Result<PegReturnRecord> pegReturnRecordFromJson(const QJsonObject& object);

// The pending return of such records. It only ever lives inside the exhibition journal, which
// is rewritten before every step that could be interrupted, so a run stopped anywhere is
// continued by the next one.
struct PegReturnIntent {
    using DidReturn = std::function<void(const PegReturnRecord& record, const Photo& returned)>;

    static constexpr auto key = "peg-return.json";

    QList<PegReturnRecord> pending{};
    // One text per record that could not be returned, across runs.
    QStringList messages{};
    // SHA-256 of the file while the first record travels between volumes.
    std::optional<QString> inFlightDigest{};

    static PegReturnIntent make(QList<PegReturnRecord> records);

    // Carries out the intent held in `data` (if any), rewriting `journal` after each step, and
    // answers its messages. `data` already holds the three state files and receives their
    // updated content.
    static Result<QStringList> resume(JournalData& data, const QString& journal,
                                      const DidReturn& didReturn = {}, const JournalStepHook& hook = {});
    // Lower-case hex SHA-256 of a file's content, read in bounded chunks.
    static Result<QString> digest(const QString& path);

    bool operator==(const PegReturnIntent&) const = default;
};

QJsonObject toJson(const PegReturnIntent& intent);
Result<PegReturnIntent> pegReturnIntentFromJson(const QJsonObject& object);

} // namespace vennimo
