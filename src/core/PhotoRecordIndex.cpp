#include "core/PhotoRecordIndex.h"

#include "core/PathRules.h"

#include <algorithm>

namespace vennimo {

namespace {

// Beyond this many records changed at once, one pass over the list beats a search per record.
constexpr qsizetype kMaxSingleUpdates = 64;

bool precedesKey(double addedA, const QString& pathA, double addedB, const QString& pathB) {
    if (addedA != addedB)
        return addedA > addedB;
    return pathA < pathB;
}

bool ties(const Photo& a, const Photo& b) {
    return a.added == b.added && a.path == b.path;
}

} // namespace

bool PhotoRecordIndex::precedes(const Photo& a, const Photo& b) {
    return precedesKey(a.added, a.path, b.added, b.path);
}

QString PhotoRecordIndex::folderKeyOf(const QString& path) {
    const QString key = filesystemPathKey(path);
    const qsizetype slash = key.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : key.left(slash);
}

void PhotoRecordIndex::clear() {
    m_byID.clear();
    m_idsByFolder.clear();
    m_idsByPath.clear();
    m_valid = false;
}

bool PhotoRecordIndex::rebuild(const QList<Photo>& photos) {
    clear();
    m_byID.reserve(photos.size());
    m_idsByPath.reserve(photos.size());
    // Photos of one folder tend to follow each other: its entry is looked up once per run.
    QString folderKey;
    QSet<QString>* folder = nullptr;
    for (qsizetype i = 0; i < photos.size(); ++i) {
        const Photo& photo = photos[i];
        const qsizetype count = m_byID.size();
        m_byID.insert(photo.id, Entry{photo.added, photo.path});
        if ((i > 0 && !precedes(photos[i - 1], photo)) || m_byID.size() == count) {
            clear();
            return false;
        }
        const QString key = filesystemPathKey(photo.path);
        m_idsByPath.insert(key, photo.id);
        const qsizetype slash = key.lastIndexOf(QLatin1Char('/'));
        const QStringView keyFolder = slash <= 0 ? QStringView(u"/") : QStringView(key).left(slash);
        if (folder == nullptr || keyFolder != folderKey) {
            folderKey = keyFolder.toString();
            folder = &m_idsByFolder[folderKey];
        }
        folder->insert(photo.id);
    }
    m_valid = true;
    return true;
}

void PhotoRecordIndex::insertEntry(const Photo& photo) {
    m_byID.insert(photo.id, Entry{photo.added, photo.path});
    m_idsByFolder[folderKeyOf(photo.path)].insert(photo.id);
    m_idsByPath.insert(filesystemPathKey(photo.path), photo.id);
}

void PhotoRecordIndex::removeEntry(const QString& id) {
    const auto it = m_byID.constFind(id);
    if (it == m_byID.constEnd())
        return;
    const auto folder = m_idsByFolder.find(folderKeyOf(it->path));
    if (folder != m_idsByFolder.end()) {
        folder->second.remove(id);
        if (folder->second.isEmpty())
            m_idsByFolder.erase(folder);
    }
    m_idsByPath.remove(filesystemPathKey(it->path), id);
    m_byID.erase(it);
}

qsizetype PhotoRecordIndex::position(const QList<Photo>& photos, const QString& id) const {
    const auto it = m_byID.constFind(id);
    if (it == m_byID.constEnd())
        return -1;
    const auto found =
        std::lower_bound(photos.cbegin(), photos.cend(), *it, [](const Photo& photo, const Entry& entry) {
            return precedesKey(photo.added, photo.path, entry.added, entry.path);
        });
    if (found == photos.cend() || found->id != id)
        return -1;
    return found - photos.cbegin();
}

const Photo* PhotoRecordIndex::find(const QList<Photo>& photos, const QString& id) const {
    const qsizetype at = position(photos, id);
    return at < 0 ? nullptr : &photos[at];
}

QStringList PhotoRecordIndex::idsWithin(const QString& pathKey) const {
    QStringList ids;
    // A folder path may come with a trailing slash; it names the same folder.
    QString key = filesystemPathKey(pathKey);
    if (key.size() > 1 && key.endsWith(QLatin1Char('/')))
        key.chop(1);
    for (auto it = m_idsByPath.constFind(key); it != m_idsByPath.cend() && it.key() == key; ++it) {
        ++m_examined;
        ids.append(it.value());
    }
    const auto take = [this, &ids](const QSet<QString>& folder) {
        m_examined += folder.size();
        ids += folder.values();
    };
    if (const auto folder = m_idsByFolder.find(key); folder != m_idsByFolder.end())
        take(folder->second);
    // Every folder below starts with the path and a slash, and they sort together.
    const QString prefix = key.endsWith(QLatin1Char('/')) ? key : key + QLatin1Char('/');
    for (auto folder = m_idsByFolder.lower_bound(prefix);
         folder != m_idsByFolder.end() && folder->first.startsWith(prefix); ++folder) {
        ++m_examined;
        if (folder->first != key)
            take(folder->second);
    }
    return ids;
}

bool PhotoRecordIndex::update(QList<Photo>& photos, const QSet<QString>& removed, QList<Photo> added) {
    std::sort(added.begin(), added.end(), precedes);
    bool strict = true;
    if (removed.size() + added.size() <= kMaxSingleUpdates) {
        for (const QString& id : removed) {
            const qsizetype at = position(photos, id);
            if (at >= 0)
                photos.removeAt(at);
            removeEntry(id);
        }
        for (Photo& photo : added) {
            const auto at = std::lower_bound(photos.begin(), photos.end(), photo, precedes);
            strict = strict && (at == photos.end() || !ties(*at, photo)) &&
                     (at == photos.begin() || !ties(*(at - 1), photo));
            insertEntry(photo);
            photos.insert(at - photos.begin(), std::move(photo));
        }
    } else {
        for (const QString& id : removed)
            removeEntry(id);
        for (const Photo& photo : std::as_const(added))
            insertEntry(photo);
        QList<Photo> merged;
        merged.reserve(photos.size() + added.size());
        auto next = added.begin();
        for (const Photo& photo : std::as_const(photos)) {
            if (removed.contains(photo.id))
                continue;
            for (; next != added.end() && precedes(*next, photo); ++next)
                merged.append(std::move(*next));
            merged.append(photo);
        }
        for (; next != added.end(); ++next)
            merged.append(std::move(*next));
        photos = std::move(merged);
        for (qsizetype i = 1; i < photos.size() && strict; ++i)
            strict = precedes(photos[i - 1], photos[i]);
    }
    if (!strict) {
        clear();
        return false;
    }
    return true;
}

} // namespace vennimo
