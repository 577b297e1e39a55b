#include "core/Indexer.h"

#include "core/IndexerRootScan.h"

#include <QDir>
#include <QSet>

namespace vennimo {

// The same records as the scan that copies every kept record into a new list, but found through
// the record index and edited into the library in place: what one new file costs does not grow
// with the library.
std::optional<QList<Photo>> Indexer::scanChanges(const QList<FolderChange>& changes, bool generateThumbnails,
                                                 double scanTime) {
    QList<QStringList> targetsByRoot;
    for (int index = 0; index < m_roots.size(); ++index) {
        const QString& rootPath = m_roots[index].path;
        QStringList targets = changeTargets(index, changes);
        // A baseline, or a change at or above the root, looks at the whole root.
        if (m_baselineRoots.contains(rootPath) || targets.contains(rootPath))
            return std::nullopt;
        targetsByRoot.append(std::move(targets));
    }
    if (!m_libraryScanned || (!m_recordIndex.valid() && !m_recordIndex.rebuild(m_library.photos)))
        return std::nullopt;

    const QString thumbnailPrefix = thumbnailFolder() + QLatin1Char('/');
    ScanResult result;
    QSet<QString> removed;
    const QSet<QString> baselineBefore = m_baselineRoots;
    const QHash<QString, QStringList> errorsBefore = m_sourceErrors;
    PendingBaseline pending = pendingBaseline();
    for (int index = 0; index < m_roots.size() && !stopped(); ++index) {
        const QStringList& targets = targetsByRoot[index];
        if (targets.isEmpty())
            continue;
        RootScan scan;
        scan.rootIndex = index;
        scan.root = m_roots[index];
        scan.generateThumbnails = generateThumbnails;
        scan.scanTime = scanTime;
        scan.previous = [this](const QString& id) { return m_recordIndex.find(m_library.photos, id); };
        scan.result = &result;
        scan.thumbnailPrefix = thumbnailPrefix;
        scan.pendingBelow = baselinePathsBelow(pending, index);

        // The root's records at or below the targets: what the scan does not find again goes.
        // A burst names thousands of files: the way out is looked for at each of them.
        QStringList covered;
        for (const QString& target : targets) {
            if (stopped())
                break;
            for (const QString& id : m_recordIndex.idsWithin(filesystemPathKey(target))) {
                const Photo* photo = m_recordIndex.find(m_library.photos, id);
                if (photo != nullptr && owningRoot(photo->path) == index)
                    covered.append(id);
            }
        }
        if (!rootReadable(scan.root))
            continue;
        for (const QString& target : targets) {
            if (stopped()) {
                scan.incomplete = true;
                break;
            }
            scanTarget(scan, target);
        }
        // An unfinished scan never loses records.
        if (!scan.incomplete)
            removed.unite(QSet<QString>(covered.cbegin(), covered.cend()));
        settleRoot(scan, targets, pending);
    }
    if (stopped())
        return abandonScan(baselineBefore, errorsBefore);
    takeIndexWriteOutcome();

    QList<Photo> added;
    for (Photo& photo : result.photos) {
        const Photo* previous = m_recordIndex.find(m_library.photos, photo.id);
        if (previous != nullptr && *previous == photo) {
            removed.remove(photo.id);
            continue;
        }
        if (previous != nullptr)
            removed.insert(photo.id);
        added.append(std::move(photo));
    }

    QStringList baseline(m_baselineRoots.cbegin(), m_baselineRoots.cend());
    baseline.sort();
    if (removed.isEmpty() && added.isEmpty() && m_library.pendingBaselineRoots == baseline) {
        if (libraryNeedsSave())
            saveLibrary();
    } else {
        // A tie in the order leaves the list right but unindexed: the next scan walks it.
        (void)m_recordIndex.update(m_library.photos, removed, std::move(added));
        m_library.initialized = true;
        m_library.pendingBaselineRoots = baseline;
        saveLibrary();
    }
    m_thumbnailPlanNeedsRebuild = true;
    return m_library.photos;
}

QStringList Indexer::changeTargets(int rootIndex, const QList<FolderChange>& changes) const {
    const QString& rootPath = m_roots[rootIndex].path;
    QStringList targets;
    for (const FolderChange& change : changes) {
        const QString path = filesystemPathKey(QDir::cleanPath(change.path));
        if (pathIsWithin(rootPath, path))
            targets.append(rootPath);
        else if (pathIsWithin(path, rootPath) && owningRoot(path) == rootIndex)
            targets.append(path);
    }
    std::stable_sort(targets.begin(), targets.end(),
                     [](const QString& a, const QString& b) { return a.size() < b.size(); });
    // A target is covered by an earlier one that is itself or one of its folders: looked up folder
    // by folder, so that thousands of changed files cost no comparison of every pair.
    QStringList folded;
    QSet<QString> kept;
    for (const QString& target : targets) {
        bool covered = kept.contains(target);
        for (qsizetype slash = target.lastIndexOf(QLatin1Char('/')); !covered && slash >= 0;
             slash = slash == 0 ? -1 : target.lastIndexOf(QLatin1Char('/'), slash - 1))
            covered = kept.contains(slash == 0 ? QStringLiteral("/") : target.left(slash));
        if (!covered) {
            kept.insert(target);
            folded.append(target);
        }
    }
    return folded;
}

void Indexer::settleRoot(const RootScan& scan, const QStringList& targets, PendingBaseline& pending) {
    const QString& rootPath = scan.root.path;
    m_lastScanVisitedEntries += scan.visited;
    settleBaseline(scan, targets, pending);
    if (targets.contains(rootPath)) {
        if (scan.errors.isEmpty())
            m_sourceErrors.remove(rootPath);
        else
            m_sourceErrors.insert(rootPath, scan.errors);
    } else if (!scan.errors.isEmpty()) {
        QStringList merged = m_sourceErrors.value(rootPath) + scan.errors;
        merged.removeDuplicates();
        merged.sort();
        m_sourceErrors.insert(rootPath, merged);
    }
}

void Indexer::prepareForChanges() {
    // Nothing follows a stop: the copy would only hold up the way out.
    if (stopped())
        return;
    takeLibraryBack();
    if (m_libraryScanned && !m_recordIndex.valid())
        (void)m_recordIndex.rebuild(m_library.photos);
}

void Indexer::takeLibraryBack() {
    // Taking the list back from those who share it copies it once, with room at its front, where
    // new photos go.
    m_library.photos.prepend(Photo{});
    m_library.photos.removeFirst();
}

} // namespace vennimo
