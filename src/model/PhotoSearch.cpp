#include "model/PhotoSearch.h"

namespace vennimo {

namespace {

// Every Unicode space separates words, the ideographic space of a CJK input method included.
QStringList searchWords(const QString& query) {
    QStringList words;
    qsizetype start = -1;
    for (qsizetype i = 0; i <= query.size(); ++i) {
        const bool space = i == query.size() || query[i].isSpace();
        if (space && start >= 0) {
            words.append(query.mid(start, i - start));
            start = -1;
        } else if (!space && start < 0) {
            start = i;
        }
    }
    return words;
}

} // namespace

bool matchesSearch(const Photo& photo, const QString& query) {
    const QStringList words = searchWords(query);
    if (words.isEmpty())
        return true;
    // File names come composed or decomposed depending on the program that wrote them; compare
    // canonically equivalent spellings as equal. The parts are joined by spaces, so a word
    // without spaces never spans two of them.
    const QString searched =
        (photo.name() + u' ' + photo.source + u' ' + photo.format()).normalized(QString::NormalizationForm_C);
    for (const QString& word : words) {
        if (!searched.contains(word.normalized(QString::NormalizationForm_C), Qt::CaseInsensitive))
            return false;
    }
    return true;
}

} // namespace vennimo
