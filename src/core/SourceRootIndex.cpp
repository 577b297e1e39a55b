#include "core/SourceRootIndex.h"

namespace vennimo {

SourceRootIndex::SourceRootIndex(const QList<SourceRoot>& roots) {
    m_firstByKey.reserve(roots.size());
    for (int i = 0; i < roots.size(); ++i) {
        // The key pathIsWithin compares with: one trailing slash names the same root.
        QString key = filesystemPathKey(roots[i].path);
        if (key.size() > 1 && key.endsWith(QLatin1Char('/')))
            key.chop(1);
        if (key.endsWith(QLatin1Char('/')))
            m_slashEnded.append({roots[i].path, i});
        else if (!m_firstByKey.contains(key))
            m_firstByKey.insert(key, i);
    }
}

int SourceRootIndex::owner(const QString& path) const {
    int first = -1;
    const auto consider = [&first](int index) {
        if (first < 0 || index < first)
            first = index;
    };
    for (const auto& [root, index] : m_slashEnded) {
        if (pathIsWithin(path, root))
            consider(index);
    }
    if (m_firstByKey.isEmpty())
        return first;
    // A root holds the path when its key is the path's or what comes before one of its slashes.
    const QString key = filesystemPathKey(path);
    if (const auto it = m_firstByKey.constFind(key); it != m_firstByKey.constEnd())
        consider(*it);
    for (qsizetype slash = key.indexOf(QLatin1Char('/')); slash >= 0;
         slash = key.indexOf(QLatin1Char('/'), slash + 1)) {
        if (const auto it = m_firstByKey.constFind(key.left(slash)); it != m_firstByKey.constEnd())
            consider(*it);
    }
    return first;
}

} // namespace vennimo
