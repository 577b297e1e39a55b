#pragma once

#include <QList>
#include <QString>

namespace vennimo {

// One watched folder as the scanner sees it: the user-facing source name and the folder path.
struct SourceRoot {
    QString name;
    QString path;

    bool operator==(const SourceRoot&) const = default;
};

// The comparison key of a path: /private/var, /private/tmp and /private/etc lose their
// "/private", so both spellings of those folders compare equal. Nothing else is normalised.
QString filesystemPathKey(const QString& path);

// The path is the root or lies below it (compared by key; "/a/bc" is not within "/a/b").
bool pathIsWithin(const QString& path, const QString& root);

// Links resolved, later duplicates dropped, deepest first and equal depths in path order, so
// the first root that contains a path is its most specific one.
QList<SourceRoot> normalizedSourceRoots(const QList<SourceRoot>& roots);

} // namespace vennimo
