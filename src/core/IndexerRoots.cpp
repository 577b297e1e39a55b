#include "core/Indexer.h"

#include "core/IndexerRootScan.h"

#include <algorithm>

namespace vennimo {

void Indexer::reconfigure(const QList<SourceRoot>& roots) {
    const QList<SourceRoot> normalized = normalizedSourceRoots(roots);
    QSet<QString> oldPaths;
    for (const SourceRoot& root : m_roots)
        oldPaths.insert(root.path);
    QSet<QString> newPaths;
    for (const SourceRoot& root : normalized) {
        newPaths.insert(root.path);
        if (!oldPaths.contains(root.path))
            m_baselineRoots.insert(root.path);
    }
    m_roots = normalized;
    m_rootIndex = SourceRootIndex(m_roots);
    // Records may lie outside the new roots, or belong to another root now.
    m_recordIndex.clear();
    m_libraryScanned = false;
    for (auto it = m_sourceErrors.begin(); it != m_sourceErrors.end();) {
        if (newPaths.contains(it.key()))
            ++it;
        else
            it = m_sourceErrors.erase(it);
    }
    updateErrors();
}

int Indexer::owningRoot(const QString& path) const {
    return m_rootIndex.owner(path);
}

bool Indexer::isInStorage(const QString& path) const {
    return pathIsWithin(path, m_storageKey) || pathIsWithin(path, m_storageCanonicalKey);
}

// Once per scan, one owner look-up per place: a root then looks only at its own places, however
// many roots and places there are.
Indexer::PendingBaseline Indexer::pendingBaseline() const {
    PendingBaseline pending;
    for (const QString& path : m_baselineRoots) {
        if (const int owner = owningRoot(path); owner >= 0)
            pending[owner].append(path);
    }
    return pending;
}

QStringList Indexer::baselinePathsBelow(const PendingBaseline& pending, int rootIndex) const {
    QStringList paths = pending.value(rootIndex);
    paths.removeAll(m_roots[rootIndex].path);
    return paths;
}

// What the scan covered has its baseline, except what it could not read: that part stays
// pending, so that its files join the baseline once they can be read, while new files in the
// rest of the root count as arrivals. `pending` follows, for the roots scanned after this one.
void Indexer::settleBaseline(const RootScan& scan, const QStringList& targets, PendingBaseline& pending) {
    if (const auto owned = pending.find(scan.rootIndex); owned != pending.end()) {
        owned->removeIf([&](const QString& path) {
            const bool covered =
                std::any_of(targets.cbegin(), targets.cend(),
                            [&path](const QString& target) { return pathIsWithin(path, target); });
            if (covered)
                m_baselineRoots.remove(path);
            return covered;
        });
    }
    for (const QString& path : scan.unseen) {
        if (!scan.isBaseline(path) || m_baselineRoots.contains(path))
            continue;
        m_baselineRoots.insert(path);
        if (const int owner = owningRoot(path); owner >= 0)
            pending[owner].append(path);
    }
}

} // namespace vennimo
