#include "model/RopeHistoryEntry.h"

namespace vennimo {

namespace {

template <class... Ts>
struct Overloaded : Ts... {
    using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

template <class T, class Decide>
QList<T> kept(const QList<T>& list, const std::function<bool(const Photo&)>& removing, Decide decide) {
    QList<T> result;
    for (const T& element : list) {
        if (!removing(decide(element)))
            result.append(element);
    }
    return result;
}

Photo mapped(const Photo& photo, const QList<PhotoReplacement>& pairs) {
    for (const PhotoReplacement& pair : pairs) {
        if (isSamePhoto(pair.oldPhoto, photo))
            return pair.newPhoto;
    }
    return photo;
}

} // namespace

bool isSamePhoto(const Photo& a, const Photo& b) {
    return a.recordKey() == b.recordKey() && sameFileBirth(a.created, b.created);
}

QString RopeHistoryEntry::menuWord() const {
    switch (kind()) {
    case Kind::takeDown:
        return QStringLiteral("取下");
    case Kind::copy:
        return QStringLiteral("复制");
    case Kind::move:
        return QStringLiteral("移动");
    case Kind::trash:
        return QStringLiteral("删除");
    }
    return {};
}

qsizetype RopeHistoryEntry::recordCount() const {
    return std::visit(Overloaded{
                          [](const TakeDown& e) { return e.photos.size(); },
                          [](const Copy& e) { return e.records.size(); },
                          [](const Move& e) { return e.records.size(); },
                          [](const Trash& e) { return e.items.size(); },
                      },
                      m_payload);
}

std::optional<RopeHistoryEntry>
RopeHistoryEntry::pruned(bool undoSide, const std::function<bool(const Photo&)>& removing) const {
    Payload result = std::visit(
        Overloaded{
            [&](const TakeDown& e) -> Payload {
                return TakeDown{kept(e.photos, removing, [](const Photo& p) -> const Photo& { return p; })};
            },
            [&](const Copy& e) -> Payload {
                // Once an undo recycled a copy, the redo side lives on through its source.
                return Copy{kept(e.records, removing,
                                 [&](const CopyUndoRecord& r) -> const Photo& {
                                     return undoSide || !r.recycled ? r.photo : r.source;
                                 }),
                            e.x};
            },
            [&](const Move& e) -> Payload {
                return Move{kept(e.records, removing,
                                 [&](const PegReturnRecord& r) -> const Photo& {
                                     return undoSide ? r.delivered : r.original;
                                 }),
                            e.directory};
            },
            [&](const Trash& e) -> Payload {
                return Trash{kept(e.items, removing,
                                  [](const RopeTrashedItem& i) -> const Photo& { return i.photo; })};
            },
        },
        m_payload);
    RopeHistoryEntry entry(std::move(result));
    if (entry.recordCount() == 0)
        return std::nullopt;
    return entry;
}

RopeHistoryEntry RopeHistoryEntry::remapping(const QList<PhotoReplacement>& pairs) const {
    return std::visit(Overloaded{
                          [&](TakeDown e) -> RopeHistoryEntry {
                              for (Photo& photo : e.photos)
                                  photo = mapped(photo, pairs);
                              return {std::move(e)};
                          },
                          [&](Copy e) -> RopeHistoryEntry {
                              for (CopyUndoRecord& record : e.records) {
                                  record.source = mapped(record.source, pairs);
                                  record.photo = mapped(record.photo, pairs);
                              }
                              return {std::move(e)};
                          },
                          [&](Move e) -> RopeHistoryEntry {
                              for (PegReturnRecord& record : e.records) {
                                  record.original = mapped(record.original, pairs);
                                  record.delivered = mapped(record.delivered, pairs);
                              }
                              return {std::move(e)};
                          },
                          [&](Trash e) -> RopeHistoryEntry {
                              for (RopeTrashedItem& item : e.items)
                                  item.photo = mapped(item.photo, pairs);
                              return {std::move(e)};
                          },
                      },
                      m_payload);
}

void recordReturnedMove(const PegReturnRecord& record, const Photo& restored,
                        QList<PegReturnRecord>& returned, QList<PhotoReplacement>& replacements) {
    returned.append(PegReturnRecord{restored, record.delivered, record.placement, record.bookmark});
    replacements.append({record.original, restored});
    replacements.append({record.delivered, restored});
}

QString ropeHistoryTitle(const QString& verb, const QList<RopeHistoryEntry>& history) {
    if (history.isEmpty())
        return verb;
    return verb + history.last().menuWord();
}

} // namespace vennimo
