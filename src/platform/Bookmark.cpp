#include "platform/Bookmark.h"

#include "platform/FileIdentity.h"
#include "platform/JsonFile.h"
#include "platform/VolumeUuid.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMultiHash>

#include <atomic>
#include <cerrno>
#include <cmath>
#include <dirent.h>
#include <vector>

namespace vennimo {

namespace {

constexpr auto kKind = "vennimo-bookmark";
constexpr int kVersion = 1;

std::atomic<int> g_openScopes{0};

Error corruptBookmark() {
    return Error::make(QString::fromLatin1(kBookmarkErrorDomain), 1, QStringLiteral("文件书签已损坏。"));
}

Error missingFile(const QString& path) {
    Error e =
        Error::make(QString::fromLatin1(kBookmarkErrorDomain), 2, QStringLiteral("找不到书签指向的文件。"));
    e.failureReason = QStringLiteral("“%1”").arg(path);
    e.sysErrno = ENOENT;
    return e;
}

struct Recorded {
    QString path;
    std::uint64_t device = 0;
    std::uint64_t fileNumber = 0;
    std::optional<QString> volume;
    std::optional<double> created;
};

std::optional<Recorded> decode(const QByteArray& bytes) {
    if (bytes.isEmpty() || bytes.size() > Bookmark::kMaxBytes)
        return std::nullopt;
    auto object = JsonFile::parse(bytes);
    if (!object || jsonString(*object, QLatin1String("kind")) != QLatin1String(kKind) ||
        jsonInt64(*object, QLatin1String("version")) != kVersion)
        return std::nullopt;
    Recorded r;
    const auto path = jsonString(*object, QLatin1String("path"));
    const auto device = jsonString(*object, QLatin1String("device"));
    const auto fileNumber = jsonString(*object, QLatin1String("fileNumber"));
    if (!path || !path->startsWith(QLatin1Char('/')) || !device || !fileNumber)
        return std::nullopt;
    bool okDevice = false;
    bool okNumber = false;
    r.path = *path;
    r.device = device->toULongLong(&okDevice);
    r.fileNumber = fileNumber->toULongLong(&okNumber);
    if (!okDevice || !okNumber)
        return std::nullopt;
    if (object->contains(QLatin1String("volume"))) {
        r.volume = jsonString(*object, QLatin1String("volume"));
        if (!r.volume)
            return std::nullopt;
    }
    if (object->contains(QLatin1String("created"))) {
        r.created = jsonDouble(*object, QLatin1String("created"));
        if (!r.created || !std::isfinite(*r.created))
            return std::nullopt;
    }
    return r;
}

// The same file: same file number on the same volume (the UUID when both sides know one, since
// device numbers change across remounts) and, when both are known, the same birth.
bool holdsRecordedFile(const QString& path, const Recorded& r) {
    const auto identity = FileIdentity::read(path);
    if (!identity || identity->fileNumber != r.fileNumber)
        return false;
    const auto volume = VolumeUuid::forPath(path);
    const bool sameVolume =
        (r.volume && volume) ? *r.volume == *volume : identity->fileSystemNumber == r.device;
    if (!sameVolume)
        return false;
    if (r.created && identity->created && std::abs(*r.created - *identity->created) >= 1e-6)
        return false;
    return true;
}

// One bookmark whose recorded path no longer holds its file.
struct Searched {
    qsizetype index;
    Recorded recorded;
    std::optional<QString> found;
};

// Reads the folder once for all the bookmarks last seen in it, spending at most `budget` entries
// (and kMaxFolderEntries of this folder) from what the whole resolution may read.
void searchFolder(const QString& folder, QList<Searched*>& waiting, qint64& budget) {
    DIR* dir = opendir(QFile::encodeName(folder).constData());
    if (dir == nullptr)
        return;
    QMultiHash<std::uint64_t, Searched*> byNumber;
    for (Searched* searched : waiting)
        byNumber.insert(searched->recorded.fileNumber, searched);
    qsizetype left = waiting.size();
    int seen = 0;
    while (left > 0 && budget > 0 && seen < Bookmark::kMaxFolderEntries) {
        const dirent* entry = readdir(dir);
        if (entry == nullptr)
            break;
        ++seen;
        --budget;
        const auto match = byNumber.equal_range(entry->d_ino);
        if (match.first == match.second)
            continue;
        const QString name = QFile::decodeName(entry->d_name);
        if (name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        const QString candidate = folder + QLatin1Char('/') + name;
        for (auto it = match.first; it != match.second; ++it) {
            Searched* searched = it.value();
            if (!searched->found && holdsRecordedFile(candidate, searched->recorded)) {
                searched->found = candidate;
                --left;
            }
        }
    }
    closedir(dir);
}

} // namespace

Result<QByteArray> Bookmark::create(const QString& path) {
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    auto identity = FileIdentity::read(absolute);
    if (!identity)
        return identity.error();
    QJsonObject object{
        {QLatin1String("kind"), QLatin1String(kKind)},
        {QLatin1String("version"), kVersion},
        {QLatin1String("path"), absolute},
        {QLatin1String("device"), QString::number(identity->fileSystemNumber)},
        {QLatin1String("fileNumber"), QString::number(identity->fileNumber)},
    };
    if (const auto volume = VolumeUuid::forPath(absolute))
        object.insert(QLatin1String("volume"), *volume);
    if (identity->created)
        object.insert(QLatin1String("created"), *identity->created);
    return JsonFile::encode(object);
}

Result<ResolvedBookmark> Bookmark::resolve(const QByteArray& bytes) {
    return resolveAll({bytes}).constFirst();
}

QList<Result<ResolvedBookmark>> Bookmark::resolveAll(const QList<QByteArray>& bookmarks,
                                                     qint64 searchBudget) {
    QList<Result<ResolvedBookmark>> results;
    results.reserve(bookmarks.size());
    std::vector<Searched> searches;
    for (qsizetype i = 0; i < bookmarks.size(); ++i) {
        const auto recorded = decode(bookmarks[i]);
        if (!recorded) {
            results.append(corruptBookmark());
        } else if (holdsRecordedFile(recorded->path, *recorded)) {
            results.append(ResolvedBookmark{recorded->path, false});
        } else {
            results.append(missingFile(recorded->path));
            searches.push_back({i, *recorded, std::nullopt});
        }
    }
    // Many bookmarks may point into one large folder, and a hostile list may name many: each
    // folder is read once for all of its bookmarks, and all reading together is bounded.
    QStringList folders;
    QHash<QString, QList<Searched*>> waiting;
    for (Searched& searched : searches) {
        const QString folder = QFileInfo(searched.recorded.path).path();
        if (!waiting.contains(folder))
            folders.append(folder);
        waiting[folder].append(&searched);
    }
    qint64 budget = searchBudget;
    for (const QString& folder : std::as_const(folders)) {
        if (budget <= 0)
            break;
        searchFolder(folder, waiting[folder], budget);
    }
    for (const Searched& searched : searches) {
        if (searched.found)
            results[searched.index] = ResolvedBookmark{*searched.found, true};
    }
    return results;
}

std::optional<QString> Bookmark::recordedPath(const QByteArray& bytes) {
    if (auto recorded = decode(bytes))
        return recorded->path;
    return std::nullopt;
}

bool Bookmark::startAccessing(const QString& path) {
    if (path.isEmpty())
        return false;
    g_openScopes.fetch_add(1);
    return true;
}

void Bookmark::stopAccessing(const QString& path) {
    if (!path.isEmpty())
        g_openScopes.fetch_sub(1);
}

int Bookmark::openAccessCount() {
    return g_openScopes.load();
}

} // namespace vennimo
