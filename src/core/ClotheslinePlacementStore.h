#pragma once

#include "core/ClotheslinePlacement.h"
#include "core/DeferredStateWriter.h"
#include "core/Photo.h"

#include <QList>
#include <QString>

#include <memory>
#include <optional>

namespace vennimo {

inline constexpr auto kPlacementsErrorDomain = "Vennimo.Placements";
inline constexpr auto kPlacementsFileName = "clothesline-positions.json";

// Where every print sits on the rope, kept in "clothesline-positions.json" by record key. Lives
// on the main thread. A file it cannot read stays untouched and every change is refused.
class ClotheslinePlacementStore {
public:
    static constexpr qint64 maximumRow = 10000;
    static constexpr int kMaxColumns = 100;
    static constexpr int kUnsupportedFileCode = 1;
    static constexpr int kBrokenStoreCode = 2;
    static constexpr int kOutsideRopeCode = 4;

    explicit ClotheslinePlacementStore(const QString& storage,
                                       DeferredStateWriter::Options writerOptions = {});

    const QString& file() const { return m_file; }
    const ClotheslinePlacementRecords& records() const { return m_records; }
    const std::optional<QString>& loadError() const { return m_loadError; }
    DeferredStateWriter& deferredWriter() { return *m_deferredWriter; }

    // The photo's placement when its record is of the photo's file birth.
    std::optional<ClotheslinePlacement> position(const Photo& photo) const;
    // Gives every listed photo without a placement of its own a free slot on row 0 and brings
    // the others onto row 0; writes at once when anything changed. Answers whether it did.
    Result<bool> ensurePositions(const QList<Photo>& photos, int columns);
    // Applies the moves in order, each print coming to the front; one move off the rope refuses
    // the whole call. Writes at once when anything changed.
    Result<bool> setPositions(const QList<ClotheslinePlacementUpdate>& updates);
    // Raises one print above all others and writes debounced.
    Status bringToFront(const Photo& photo);

    // The next stacking depth of a record set; renumbers the set 0...n-1 by (depth, key) when the
    // depths come near the top of the 64-bit range.
    static qint64 nextDepth(ClotheslinePlacementRecords& records);

private:
    const ClotheslinePlacementRecord* ownRecord(const ClotheslinePlacementRecords& records,
                                                const Photo& photo) const;
    Status save(const ClotheslinePlacementRecords& records);
    Error refusal() const;

    QString m_file;
    ClotheslinePlacementRecords m_records;
    std::optional<QString> m_loadError;
    std::unique_ptr<DeferredStateWriter> m_deferredWriter;
};

} // namespace vennimo
