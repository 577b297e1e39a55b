#pragma once

#include "core/PathRules.h"

#include <QHash>
#include <QList>
#include <QString>

#include <utility>

namespace vennimo {

// Which of a list of roots owns a path: the first in the list that holds it, as a pass over the
// list with pathIsWithin finds, but found by looking up the path and the folders above it. Every
// folder a scan meets asks, and so does every place awaiting its baseline: with thousands of
// source folders a pass over all of them each time made the first scan take minutes.
class SourceRootIndex {
public:
    SourceRootIndex() = default;
    explicit SourceRootIndex(const QList<SourceRoot>& roots);

    // The position of the owning root, or -1. Safe on several threads at once.
    int owner(const QString& path) const;

private:
    // By comparison key; the first root with a key keeps it.
    QHash<QString, int> m_firstByKey;
    // Roots whose key still ends in "/" ("/" itself, or a path never cleaned): few, and matched
    // one by one.
    QList<std::pair<QString, int>> m_slashEnded;
};

} // namespace vennimo
