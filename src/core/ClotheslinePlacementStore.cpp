#include "core/ClotheslinePlacementStore.h"

#include "platform/JsonFile.h"

#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <iterator>
#include <limits>
#include <optional>
#include <queue>
#include <set>
#include <vector>

namespace vennimo {

namespace {

constexpr qint64 kMaxDepth = std::numeric_limits<qint64>::max();
// Below this the next depth is simply one more; at it the depths are renumbered.
constexpr qint64 kRenumberDepth = kMaxDepth - 2;
// With a single slot any occupied print takes it.
constexpr double kSingleSlotSpacing = 1.01;
constexpr double kSlotSpacingFactor = 0.85;

const QString& loadErrorPrefix() {
    static const QString prefix = QStringLiteral("照片位置无法读取：");
    return prefix;
}

Error placementsError(int code, const QString& message) {
    return Error::make(QString::fromLatin1(kPlacementsErrorDomain), code, message);
}

bool isStorable(const ClotheslinePlacement& placement) {
    return placement.row >= 0 && placement.row <= ClotheslinePlacementStore::maximumRow &&
           std::isfinite(placement.x) && placement.x >= 0 && placement.x <= 1 && placement.zIndex >= 0 &&
           placement.zIndex != kMaxDepth;
}

DeferredStateWriter::Operation writeOperation(const DeferredStateWriter& writer, const QString& path,
                                              const ClotheslinePlacementRecords& records) {
    // The write holds its own copy of the records (shared until the store changes them) and
    // encodes it on the writer's queue, so a burst of raises costs the main thread nothing.
    ClotheslinePlacementState state;
    state.records = records;
    return [fileWriter = writer.fileWriter(), path, state] { return fileWriter(toJson(state), path); };
}

// Occupied places on the rope, sorted, so that a slot is tested against its two neighbours only
// and a large first run of new prints stays quick.
using OccupiedPlaces = std::multiset<double>;

// No occupied place lies closer to the slot than the spacing.
bool slotIsFree(const OccupiedPlaces& occupied, double slot, double spacing) {
    const auto above = occupied.lower_bound(slot);
    if (above != occupied.end() && std::abs(*above - slot) < spacing)
        return false;
    return above == occupied.begin() || std::abs(*std::prev(above) - slot) >= spacing;
}

// The gaps between the occupied places and the rope's ends, widest first and the leftmost of
// equally wide ones: each newcomer with no free slot splits the first gap in two at its midpoint,
// so placing many costs a look at the queue each rather than a pass over the rope.
class WidestGaps {
public:
    explicit WidestGaps(const OccupiedPlaces& occupied) {
        double previous = 0;
        for (const double place : occupied) {
            m_gaps.push(Gap{previous, place});
            previous = place;
        }
        m_gaps.push(Gap{previous, 1});
    }
    // The midpoint of the widest gap, taken: the two halves are gaps of their own from now on.
    double split() {
        const Gap widest = m_gaps.top();
        m_gaps.pop();
        const double midpoint = (widest.right + widest.left) / 2;
        m_gaps.push(Gap{widest.left, midpoint});
        m_gaps.push(Gap{midpoint, widest.right});
        return midpoint;
    }

private:
    struct Gap {
        double left = 0;
        double right = 0;
        double width() const { return right - left; }
    };
    struct Narrower {
        bool operator()(const Gap& a, const Gap& b) const {
            if (a.width() != b.width())
                return a.width() < b.width();
            return a.left > b.left;
        }
    };
    std::priority_queue<Gap, std::vector<Gap>, Narrower> m_gaps;
};

// Depths for prints placed one after another, each in front of the one before: only the first
// needs a pass over all records. The caller stores each depth before asking for the next.
class DepthSequence {
public:
    explicit DepthSequence(ClotheslinePlacementRecords& records)
        : m_records(records) {}
    qint64 next() {
        if (m_started && m_last < kRenumberDepth)
            return ++m_last;
        m_last = ClotheslinePlacementStore::nextDepth(m_records);
        m_started = true;
        return m_last;
    }

private:
    ClotheslinePlacementRecords& m_records;
    bool m_started = false;
    qint64 m_last = 0;
};

} // namespace

ClotheslinePlacementStore::ClotheslinePlacementStore(const QString& storage,
                                                     DeferredStateWriter::Options writerOptions)
    : m_file(storage + QLatin1Char('/') + QLatin1String(kPlacementsFileName))
    , m_deferredWriter(std::make_unique<DeferredStateWriter>(std::move(writerOptions))) {
    auto stored = DeferredStateWriter::readStateObject(m_file);
    if (!stored) {
        m_loadError = loadErrorPrefix() + stored.error().localizedDescription();
        return;
    }
    if (!stored->has_value())
        return;
    const QJsonObject& object = **stored;
    auto state = clotheslinePlacementStateFromJson(object);
    if (!state) {
        m_loadError = loadErrorPrefix() + state.error().localizedDescription();
        return;
    }
    const bool supported =
        state->version == ClotheslinePlacementState::kCurrentVersion &&
        std::all_of(state->records.cbegin(), state->records.cend(),
                    [](const ClotheslinePlacementRecord& record) { return isStorable(record.placement); });
    if (!supported) {
        m_loadError =
            loadErrorPrefix() +
            placementsError(kUnsupportedFileCode, QStringLiteral("照片位置记录格式不受支持。")).message;
        return;
    }
    m_records = std::move(state->records);
}

const ClotheslinePlacementRecord*
ClotheslinePlacementStore::ownRecord(const ClotheslinePlacementRecords& records, const Photo& photo) const {
    const auto it = records.constFind(photo.recordKey());
    if (it == records.constEnd() || !sameFileBirth(it->created, photo.created))
        return nullptr;
    return &*it;
}

std::optional<ClotheslinePlacement> ClotheslinePlacementStore::position(const Photo& photo) const {
    if (const ClotheslinePlacementRecord* record = ownRecord(m_records, photo))
        return record->placement;
    return std::nullopt;
}

qint64 ClotheslinePlacementStore::nextDepth(ClotheslinePlacementRecords& records) {
    if (records.isEmpty())
        return 0;
    qint64 deepest = 0;
    for (const ClotheslinePlacementRecord& record : std::as_const(records))
        deepest = std::max(deepest, record.placement.zIndex);
    if (deepest < kRenumberDepth)
        return deepest + 1;

    struct Entry {
        qint64 depth;
        QList<uint> scalars; // ties break by key in Unicode scalar order, not UTF-16 order
        QString key;
    };
    std::vector<Entry> entries;
    entries.reserve(static_cast<std::size_t>(records.size()));
    for (auto it = records.cbegin(); it != records.cend(); ++it)
        entries.push_back({it->placement.zIndex, it.key().toUcs4(), it.key()});
    std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
        if (a.depth != b.depth)
            return a.depth < b.depth;
        return std::lexicographical_compare(a.scalars.begin(), a.scalars.end(), b.scalars.begin(),
                                            b.scalars.end());
    });
    qint64 depth = 0;
    for (const Entry& entry : entries)
        records[entry.key].placement.zIndex = depth++;
    return depth;
}

Result<bool> ClotheslinePlacementStore::ensurePositions(const QList<Photo>& photos, int columns) {
    if (m_loadError)
        return refusal();
    const int slotCount = std::min(std::max(columns, 1), kMaxColumns);
    QList<double> slots;
    double spacing = kSingleSlotSpacing;
    if (columns < 2) {
        slots << 0.5;
    } else {
        for (int i = 0; i < slotCount; ++i)
            slots << static_cast<double>(i) / (slotCount - 1);
        spacing = kSlotSpacingFactor / (slotCount - 1);
    }

    QList<Photo> listed;
    QSet<QString> seen;
    for (const Photo& photo : photos) {
        if (!seen.contains(photo.recordKey())) {
            seen.insert(photo.recordKey());
            listed << photo;
        }
    }

    ClotheslinePlacementRecords copy = m_records;
    QList<Photo> newcomers;
    OccupiedPlaces occupied;
    for (const Photo& photo : std::as_const(listed)) {
        if (ownRecord(copy, photo) == nullptr) {
            newcomers << photo;
            continue;
        }
        ClotheslinePlacement& placement = copy[photo.recordKey()].placement;
        placement.row = 0;
        occupied.insert(placement.x);
    }
    DepthSequence depths(copy);
    // Places are only ever taken: once no slot is free, none is again.
    std::optional<WidestGaps> gaps;
    for (const Photo& photo : std::as_const(newcomers)) {
        double x = 0;
        if (!gaps) {
            const auto free = std::find_if(slots.cbegin(), slots.cend(),
                                           [&](double slot) { return slotIsFree(occupied, slot, spacing); });
            if (free != slots.cend())
                x = *free;
            else
                gaps.emplace(occupied);
        }
        if (gaps)
            x = gaps->split();
        const qint64 depth = depths.next();
        copy.insert(photo.recordKey(), ClotheslinePlacementRecord{photo.created, {0, x, depth}});
        occupied.insert(x);
    }
    if (copy == m_records)
        return false;
    if (Status saved = save(copy); !saved)
        return saved.error();
    return true;
}

Result<bool> ClotheslinePlacementStore::setPositions(const QList<ClotheslinePlacementUpdate>& updates) {
    if (m_loadError)
        return refusal();
    ClotheslinePlacementRecords copy = m_records;
    DepthSequence depths(copy);
    for (const ClotheslinePlacementUpdate& update : updates) {
        if (!std::isfinite(update.x) || update.row < 0 || update.row > maximumRow)
            return placementsError(kOutsideRopeCode, QStringLiteral("照片位置超出晾衣绳范围。"));
        const double x = std::clamp(update.x, 0.0, 1.0);
        const qint64 depth = depths.next();
        copy.insert(update.photo.recordKey(),
                    ClotheslinePlacementRecord{update.photo.created, {update.row, x, depth}});
    }
    if (copy == m_records)
        return false;
    if (Status saved = save(copy); !saved)
        return saved.error();
    return true;
}

Status ClotheslinePlacementStore::bringToFront(const Photo& photo) {
    if (m_loadError)
        return refusal();
    if (ownRecord(m_records, photo) == nullptr)
        return {};
    const qint64 depth = nextDepth(m_records);
    m_records[photo.recordKey()].placement.zIndex = depth;
    m_deferredWriter->schedule(writeOperation(*m_deferredWriter, m_file, m_records));
    return {};
}

Status ClotheslinePlacementStore::save(const ClotheslinePlacementRecords& records) {
    if (m_loadError)
        return refusal();
    const Status written = m_deferredWriter->immediate(writeOperation(*m_deferredWriter, m_file, records));
    if (!written)
        return written;
    m_records = records;
    return {};
}

Error ClotheslinePlacementStore::refusal() const {
    return placementsError(kBrokenStoreCode, m_loadError.value_or(QString()));
}

} // namespace vennimo
