#pragma once

#include "core/Photo.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

#include <map>

namespace vennimo {

// Finds the records of a newest-first photo list by id and by path without a walk over the list,
// and keeps the list in that order as records come and go: a change to a few files of a large
// library costs a few look-ups, not a pass over every record. The index describes one list, the
// one it was built for and has updated since; it is not synchronised.
class PhotoRecordIndex {
public:
    // Newest first; equal dates by path.
    static bool precedes(const Photo& a, const Photo& b);

    // Indexes `photos`. False, leaving the index empty, when they are not strictly in order or an
    // id repeats: records could not be found by their place then.
    bool rebuild(const QList<Photo>& photos);
    void clear();
    bool valid() const { return m_valid; }

    // The place of the record with this id, or -1.
    qsizetype position(const QList<Photo>& photos, const QString& id) const;
    const Photo* find(const QList<Photo>& photos, const QString& id) const;
    // The ids of the records whose path, as a comparison key, is `pathKey` or lies below it. Costs
    // the folders and records it answers, not the library: a change scan asks once per changed path.
    QStringList idsWithin(const QString& pathKey) const;
    // Diagnostics: the folders and records idsWithin has looked at so far.
    qint64 examinedCount() const { return m_examined; }
    // Takes the records with the `removed` ids out of `photos` and puts `added` (distinct ids, none
    // of them left in the list) in their places. False when two records would tie in the order:
    // the list is still right, but the index is cleared.
    bool update(QList<Photo>& photos, const QSet<QString>& removed, QList<Photo> added);

private:
    struct Entry {
        double added = 0;
        QString path{};
    };

    void insertEntry(const Photo& photo);
    void removeEntry(const QString& id);
    static QString folderKeyOf(const QString& path);

    QHash<QString, Entry> m_byID;
    // Ids by the comparison key of the folder that holds them, in key order: the folders at and
    // below a path follow each other, so they are found without a look at any other folder.
    std::map<QString, QSet<QString>> m_idsByFolder;
    // Ids by the comparison key of their own path.
    QMultiHash<QString, QString> m_idsByPath;
    mutable qint64 m_examined = 0;
    bool m_valid = false;
};

} // namespace vennimo
