#include "model/PhotoListChanges.h"

#include <QHash>

namespace vennimo {

namespace {

// Records that went from one list into the next share their texts: one look at where the text
// lies mostly answers, which keeps the walk over a large library short.
bool sameText(const QString& a, const QString& b) {
    return (a.constData() == b.constData() && a.size() == b.size()) || a == b;
}

bool sameRest(const Photo& a, const Photo& b, PhotoMatch match) {
    if (match == PhotoMatch::id)
        return true;
    if (a.created != b.created || a.usageID.has_value() != b.usageID.has_value())
        return false;
    return !a.usageID || sameText(*a.usageID, *b.usageID);
}

bool same(const Photo& a, const Photo& b, PhotoMatch match) {
    return sameText(a.id, b.id) && sameRest(a, b, match);
}

} // namespace

QList<Photo> photosNotIn(const QList<Photo>& before, const QList<Photo>& after, PhotoMatch match) {
    if (before.constData() == after.constData() && before.size() == after.size())
        return {};
    // Walk both lists side by side. A photo of `after` that is not at the matching place becomes a
    // candidate; a photo of `before` passed over may still turn up elsewhere in `after`, so the
    // candidates are checked against those passed over at the end.
    QList<qsizetype> candidates;
    QList<qsizetype> passedOver;
    const qsizetype afterCount = after.size(), beforeCount = before.size();
    qsizetype i = 0, j = 0;
    while (i < afterCount || j < beforeCount) {
        if (i < afterCount && j < beforeCount && same(after[i], before[j], match)) {
            ++i;
            ++j;
        } else if (i < afterCount && j + 1 < beforeCount && same(after[i], before[j + 1], match)) {
            passedOver.append(j++);
        } else if (i + 1 < afterCount && j < beforeCount && same(after[i + 1], before[j], match)) {
            candidates.append(i++);
        } else {
            if (i < afterCount)
                candidates.append(i++);
            if (j < beforeCount)
                passedOver.append(j++);
        }
    }
    QList<Photo> missing;
    if (candidates.isEmpty())
        return missing;
    QHash<QString, qsizetype> passedOverByID;
    passedOverByID.reserve(passedOver.size());
    for (const qsizetype index : passedOver)
        passedOverByID.insert(before[index].id, index);
    for (const qsizetype index : candidates) {
        const Photo& photo = after[index];
        const auto it = passedOverByID.constFind(photo.id);
        if (it == passedOverByID.constEnd() || !sameRest(photo, before[*it], match))
            missing.append(photo);
    }
    return missing;
}

} // namespace vennimo
