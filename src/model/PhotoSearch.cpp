#include "model/PhotoSearch.h"

#include <QRegularExpression>

namespace vennimo {

bool matchesSearch(const Photo& photo, const QString& query) {
    static const QRegularExpression whitespace(QStringLiteral("\\s+"));
    const QStringList words = query.split(whitespace, Qt::SkipEmptyParts);
    if (words.isEmpty())
        return true;
    // The parts are joined by spaces, so a word without spaces never spans two of them.
    const QString searched = photo.name() + u' ' + photo.source + u' ' + photo.format();
    for (const QString& word : words) {
        if (!searched.contains(word, Qt::CaseInsensitive))
            return false;
    }
    return true;
}

} // namespace vennimo
