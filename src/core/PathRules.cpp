#include "core/PathRules.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include <algorithm>

namespace vennimo {

QString filesystemPathKey(const QString& path) {
    static const QLatin1String kPrivate("/private");
    // Called for every path of every scan, and almost no path starts so.
    if (!path.startsWith(QLatin1String("/private/")))
        return path;
    for (const QLatin1String prefix :
         {QLatin1String("/private/var"), QLatin1String("/private/tmp"), QLatin1String("/private/etc")}) {
        if (path == prefix ||
            (path.startsWith(prefix) && path.size() > prefix.size() && path[prefix.size()] == u'/'))
            return path.mid(kPrivate.size());
    }
    return path;
}

bool pathIsWithin(const QString& path, const QString& root) {
    const QString pathKey = filesystemPathKey(path);
    const QString rootText = filesystemPathKey(root);
    QStringView rootKey(rootText);
    // Folder paths reach here with and without a trailing slash; both name the same root.
    if (rootKey.size() > 1 && rootKey.endsWith(QLatin1Char('/')))
        rootKey.chop(1);
    if (pathKey == rootKey)
        return true;
    // Compared in place: scans ask this for every record.
    if (rootKey.endsWith(QLatin1Char('/')))
        return pathKey.startsWith(rootKey);
    return pathKey.size() > rootKey.size() && pathKey.startsWith(rootKey) && pathKey[rootKey.size()] == u'/';
}

namespace {

QString resolvedPath(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return QDir::cleanPath(canonical.isEmpty() ? path : canonical);
}

qsizetype componentCount(const QString& path) {
    // The leading "/" counts as a component of its own.
    if (path == QLatin1String("/"))
        return 1;
    return path.count(QLatin1Char('/')) + (path.startsWith(QLatin1Char('/')) ? 1 : 0) -
           (path.endsWith(QLatin1Char('/')) ? 1 : 0);
}

} // namespace

QList<SourceRoot> normalizedSourceRoots(const QList<SourceRoot>& roots) {
    QList<SourceRoot> kept;
    QSet<QString> seen;
    for (const SourceRoot& root : roots) {
        SourceRoot resolved{root.name, resolvedPath(root.path)};
        if (seen.contains(resolved.path))
            continue;
        seen.insert(resolved.path);
        kept.append(resolved);
    }
    std::stable_sort(kept.begin(), kept.end(), [](const SourceRoot& a, const SourceRoot& b) {
        const qsizetype da = componentCount(a.path);
        const qsizetype db = componentCount(b.path);
        if (da != db)
            return da > db;
        return a.path < b.path;
    });
    return kept;
}

} // namespace vennimo
