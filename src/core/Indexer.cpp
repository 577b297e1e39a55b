#include "core/Indexer.h"

#include "core/ImageFileRule.h"
#include "core/IndexFileWriter.h"
#include "core/IndexerRootScan.h"
#include "core/LibraryDecoding.h"
#include "core/LibraryEncoding.h"
#include "platform/Dates.h"
#include "platform/FileNames.h"
#include "platform/JsonFile.h"
#include "platform/Logging.h"
#include "platform/VolumeUuid.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

namespace vennimo {

namespace {

const QString kUnreadablePrefix = QStringLiteral("无法读取");
const QString kFullWidthColon = QStringLiteral("：");
const QString kUndecodableNames = QStringLiteral("有名称不是 UTF-8 编码的文件或文件夹，无法读取。");

bool isPackageName(const QString& name) {
    static const QSet<QString> kinds{QStringLiteral("photoslibrary"), QStringLiteral("app"),
                                     QStringLiteral("bundle"),        QStringLiteral("framework"),
                                     QStringLiteral("plugin"),        QStringLiteral("pkg")};
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && kinds.contains(name.mid(dot + 1).toLower());
}

QString lastComponent(const QString& path) {
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString parentPath(const QString& path) {
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash <= 0 ? QStringLiteral("/") : path.left(slash);
}

// Nothing when no text path names the entry (see decodeFileName).
std::optional<QString> childPath(const QString& folder, const char* name) {
    const auto child = decodeFileName(name);
    if (!child)
        return std::nullopt;
    return folder == QLatin1String("/") ? QLatin1Char('/') + *child : folder + QLatin1Char('/') + *child;
}

// The item is gone: an expected race between an event and the scan, not an error.
bool isVanished(const Error& error) {
    return error.domain == QLatin1String(kPosixErrorDomain) &&
           (error.sysErrno == ENOENT || error.sysErrno == ENOTDIR);
}

bool isSymbolicLink(const QString& path) {
    struct stat st {};
    return lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool isDirectory(const QString& path) {
    struct stat st {};
    return lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isPackage(const QString& path) {
    return isPackageName(lastComponent(path)) && isDirectory(path);
}

// Names only, without a stat per entry as QDir's filters do.
QStringList fileNames(const QString& folder) {
    QStringList names;
    DIR* dir = opendir(QFile::encodeName(folder).constData());
    if (dir == nullptr)
        return names;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_type == DT_DIR || std::strcmp(entry->d_name, ".") == 0 ||
            std::strcmp(entry->d_name, "..") == 0)
            continue;
        names.append(QFile::decodeName(entry->d_name));
    }
    closedir(dir);
    return names;
}

// The thumbnails folder held open for one scan; -1 when there is none to look in.
struct ThumbnailFolder {
    explicit ThumbnailFolder(const QString& path)
        : fd(path.isEmpty()
                 ? -1
                 : ::open(QFile::encodeName(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {}
    ~ThumbnailFolder() {
        if (fd >= 0)
            ::close(fd);
    }
    ThumbnailFolder(const ThumbnailFolder&) = delete;
    ThumbnailFolder& operator=(const ThumbnailFolder&) = delete;

    const int fd;
};

std::optional<double> modificationDate(const QString& path) {
    auto file = FileIdentity::read(path);
    if (!file)
        return std::nullopt;
    return file->modified;
}

} // namespace

Indexer::Indexer(const QList<SourceRoot>& roots, const QString& storage)
    : m_roots(normalizedSourceRoots(roots))
    , m_rootIndex(m_roots)
    , m_storage(QDir::cleanPath(storage)) {
    m_storageKey = filesystemPathKey(m_storage);
    const QString canonical = QFileInfo(m_storage).canonicalFilePath();
    m_storageCanonicalKey = canonical.isEmpty() ? m_storageKey : filesystemPathKey(canonical);
    m_thumbnailQueue =
        std::make_unique<WorkQueue>(QStringLiteral("local.vennimo.thumbnails"), kThumbnailQueueWidth);
    QDir().mkpath(thumbnailFolder());
    // Renders still running when the last indexer went away had their completions, which remove
    // the temporaries, dropped with its queue.
    static const QRegularExpression kRenderTemporary(
        QStringLiteral("^thumbnail-[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}\\.jpg"));
    for (const QString& name : fileNames(m_storage)) {
        if (kRenderTemporary.match(name).hasMatch())
            ::unlink(QFile::encodeName(m_storage + QLatin1Char('/') + name).constData());
    }

    const auto bytes = readStateOrSetAside(indexPath());
    m_indexWriter = std::make_unique<IndexFileWriter>(indexPath(), bytes);
    if (auto decoded = bytes ? decodeLibrary(*bytes) : std::nullopt) {
        m_library = *std::move(decoded);
    } else if (bytes) {
        auto object = JsonFile::parse(*bytes);
        auto library = object ? libraryFromJson(*object) : Result<Library>(object.error());
        if (library) {
            m_library = std::move(library).value();
        } else {
            // The index is rebuilt by the next scan, but what it knew (added dates, baseline
            // state) is not: keep the bytes beside it for inspection.
            qCWarning(lcApp) << "index.json does not decode:" << library.error().message
                             << "- kept as index.json.corrupt";
            if (!JsonFile::writeAtomically(indexPath() + QStringLiteral(".corrupt"), *bytes))
                qCWarning(lcApp) << "index.json.corrupt could not be written";
        }
    }
    if (m_library.pendingBaselineRoots) {
        m_baselineRoots =
            QSet<QString>(m_library.pendingBaselineRoots->cbegin(), m_library.pendingBaselineRoots->cend());
    } else if (!m_library.initialized) {
        for (const SourceRoot& root : m_roots)
            m_baselineRoots.insert(root.path);
    }
    loadThumbnailFailures();
}

Indexer::~Indexer() {
    // Listings a stopped walk left behind end at their next entry.
    stop();
    m_lifetime.reset();
    m_thumbnailQueue.reset();
    // Writes what is still owed.
    m_indexWriter.reset();
}

void Indexer::stop() {
    m_stopped.store(true, std::memory_order_relaxed);
}

QList<Photo> Indexer::abandonScan(const QSet<QString>& baselineRoots,
                                  const QHash<QString, QStringList>& sourceErrors) {
    // Nothing of a part-done scan is kept, nor scheduled for saving: what it did not reach would
    // be lost from the index, and places awaiting their baseline would lose it.
    m_baselineRoots = baselineRoots;
    m_sourceErrors = sourceErrors;
    updateErrors();
    return m_library.photos;
}

void Indexer::setLibrary(Library library) {
    m_library = std::move(library);
    m_recordIndex.clear();
    m_libraryScanned = false;
    m_thumbnailPlanNeedsRebuild = true;
}

QList<Photo> Indexer::scan(const std::optional<QList<FolderChange>>& changes, bool generateThumbnails) {
    if (stopped())
        return m_library.photos;
    ++m_scanCount;
    m_lastScanVisitedEntries = 0;
    const double scanTime = Clock::now();

    bool full = !changes.has_value() || !m_library.initialized;
    if (changes) {
        for (const FolderChange& change : *changes)
            full = full || change.requiresReconciliation();
    }
    if (!full) {
        if (auto photos = scanChanges(*changes, generateThumbnails, scanTime))
            return *std::move(photos);
    }

    // Pointers into the library, which stays as it is until the scan replaces it at the end.
    QHash<QString, const Photo*> previous;
    previous.reserve(m_library.photos.size());
    for (const Photo& photo : std::as_const(m_library.photos)) {
        auto it = previous.find(photo.id);
        if (it == previous.end())
            previous.insert(photo.id, &photo);
        else if (photo.added > (*it)->added)
            *it = &photo;
    }

    // A walk that makes no thumbnails leaves the folder as it is: listed beside the walk, it is
    // the folder as the scan began. The walk then looks for each photo's thumbnail by name.
    std::optional<QSet<QString>> thumbnailNames;
    std::future<QSet<QString>> thumbnailListing;
    if (full && generateThumbnails) {
        const QStringList listed = fileNames(thumbnailFolder());
        thumbnailNames = QSet<QString>(listed.cbegin(), listed.cend());
    } else if (full) {
        auto promise = std::make_shared<std::promise<QSet<QString>>>();
        thumbnailListing = promise->get_future();
        walkQueue().async([folder = thumbnailFolder(), promise] {
            const QStringList listed = fileNames(folder);
            promise->set_value(QSet<QString>(listed.cbegin(), listed.cend()));
        });
    }
    const QString thumbnailPrefix = thumbnailFolder() + QLatin1Char('/');
    // Every record of a full scan looks at its thumbnail: by name in the open folder rather than
    // by its whole path.
    const ThumbnailFolder thumbnails(full ? thumbnailFolder() : QString());

    ScanResult result;
    result.photos.reserve(previous.size());
    result.positions.reserve(previous.size());
    const QSet<QString> baselineBefore = m_baselineRoots;
    const QHash<QString, QStringList> errorsBefore = m_sourceErrors;
    PendingBaseline pending = pendingBaseline();
    for (int index = 0; index < m_roots.size() && !stopped(); ++index) {
        RootScan scan;
        scan.rootIndex = index;
        scan.root = m_roots[index];
        scan.needsBaseline = !m_library.initialized || m_baselineRoots.contains(scan.root.path);
        scan.generateThumbnails = generateThumbnails;
        scan.scanTime = scanTime;
        scan.previous = [&previous](const QString& id) { return previous.value(id); };
        scan.result = &result;
        scan.thumbnailPrefix = thumbnailPrefix;
        scan.thumbnailNames = thumbnailNames ? &*thumbnailNames : nullptr;
        scan.thumbnailFolderFd = thumbnails.fd;
        scan.pendingBelow = baselinePathsBelow(pending, index);
        const QString& rootPath = scan.root.path;

        const QStringList targets =
            full || scan.needsBaseline ? QStringList{rootPath} : changeTargets(index, *changes);

        // Looked for only when needed: a scan of the whole root covers every record it keeps.
        std::optional<QList<const Photo*>> keptRecords;
        const auto kept = [&]() -> const QList<const Photo*>& {
            if (!keptRecords) {
                keptRecords.emplace();
                for (const Photo* photo : std::as_const(previous)) {
                    if (owningRoot(photo->path) == index)
                        keptRecords->append(photo);
                }
            }
            return *keptRecords;
        };
        if (!targets.contains(rootPath)) {
            for (const Photo* photo : kept()) {
                const bool covered =
                    std::any_of(targets.cbegin(), targets.cend(),
                                [photo](const QString& target) { return pathIsWithin(photo->path, target); });
                if (!covered && !result.contains(photo->id))
                    result.insert(*photo);
            }
        }
        if (targets.isEmpty())
            continue;

        if (!rootReadable(scan.root)) {
            for (const Photo* photo : kept()) {
                if (!result.contains(photo->id))
                    result.insert(*photo);
            }
            continue;
        }

        for (const QString& target : targets)
            scanTarget(scan, target);

        if (scan.incomplete) {
            // An unfinished scan never loses records.
            for (const Photo* photo : kept()) {
                if (!result.contains(photo->id))
                    result.insert(*photo);
            }
        }
        settleRoot(scan, targets, pending);
    }
    if (stopped())
        return abandonScan(baselineBefore, errorsBefore);
    takeIndexWriteOutcome();

    if (thumbnailListing.valid())
        thumbnailNames = thumbnailListing.get();

    QList<Photo> photos = std::move(result.photos);
    std::sort(photos.begin(), photos.end(), PhotoRecordIndex::precedes);

    // Beside the comparison with the library and its save, which only read the photos too.
    std::future<void> sweep;
    if (full && m_errors.isEmpty() && thumbnailNames && !thumbnailNames->isEmpty()) {
        auto promise = std::make_shared<std::promise<void>>();
        sweep = promise->get_future();
        walkQueue().async([this, photos, listed = *std::move(thumbnailNames), promise] {
            removeStaleThumbnails(photos, listed);
            promise->set_value();
        });
    }

    QStringList baseline(m_baselineRoots.cbegin(), m_baselineRoots.cend());
    baseline.sort();
    if (photos == m_library.photos && m_library.initialized && m_library.pendingBaselineRoots == baseline) {
        // The same records: those already handed out, so that who holds both sees one list.
        photos = m_library.photos;
        if (libraryNeedsSave())
            saveLibrary();
    } else {
        m_library = Library{photos, true, baseline};
        m_recordIndex.clear();
        saveLibrary();
    }
    if (sweep.valid())
        sweep.wait();
    // Every record now lies in a root, as the change-driven scans take for granted.
    m_libraryScanned = true;
    m_thumbnailPlanNeedsRebuild = true;
    return photos;
}

void Indexer::scanTarget(RootScan& scan, const QString& target) {
    const QString& rootPath = scan.root.path;
    const QString rootKey = filesystemPathKey(rootPath);
    const QString targetKey = filesystemPathKey(target);
    const bool isRootItself = targetKey == rootKey;
    if (!isRootItself) {
        // The folder walk skips the storage folder, but a changed path can point right into it.
        if (isInStorage(targetKey))
            return;
        const QString below = targetKey.mid(rootKey.size() + (rootKey.endsWith(QLatin1Char('/')) ? 0 : 1));
        for (const QString& component : below.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
            if (component.startsWith(QLatin1Char('.')))
                return;
        }
        if (isSymbolicLink(target))
            return;
        for (QString folder = parentPath(target); pathIsWithin(folder, rootPath) && folder != rootPath;
             folder = parentPath(folder)) {
            if (isPackage(folder) || isSymbolicLink(folder))
                return;
        }
        if (isPackage(target))
            return;
    }

    auto info = FileIdentity::read(target);
    if (!info) {
        if (!isVanished(info.error()))
            scan.fail(target, scan.root.name + kFullWidthColon + info.error().localizedDescription());
        return;
    }
    if (info->type == FileType::Directory || isRootItself)
        enumerate(scan, target);
    else
        inspect(scan, target, false, AT_FDCWD, QFile::encodeName(target));
}

void Indexer::listFolder(RootScan& part, const QString& current, bool first, QStringList& subfolders) {
    DIR* dir = nullptr;
    if (const int fault = m_folderOpenFault ? folderOpenFault(current) : 0; fault != 0)
        errno = fault;
    else
        dir = opendir(QFile::encodeName(current).constData());
    if (dir == nullptr) {
        const int err = errno;
        if (first)
            part.fail(current, kUnreadablePrefix + part.root.name);
        else if (err != ENOENT && err != ENOTDIR)
            part.fail(current, part.root.name + kFullWidthColon + errnoMessage(err));
        return;
    }
    bool undecodableReported = false;
    errno = 0;
    while (dirent* entry = readdir(dir)) {
        // A folder of a hundred thousand files must not hold up the way out either.
        if (stopped()) {
            part.incomplete = true;
            break;
        }
        if (entry->d_name[0] == '.') {
            errno = 0;
            continue;
        }
        const auto decoded = childPath(current, entry->d_name);
        if (!decoded) {
            part.undecodable.append({current, QByteArray(entry->d_name)});
            // The user learns why a picture is missing, once for its folder; the rest of the
            // folder was read, so the scan is still whole.
            const bool mayHoldPictures = entry->d_type == DT_DIR || entry->d_type == DT_UNKNOWN ||
                                         isImageFileName(QString::fromUtf8(entry->d_name));
            if (mayHoldPictures && !undecodableReported) {
                part.errors.append(lastComponent(current) + kFullWidthColon + kUndecodableNames);
                undecodableReported = true;
            }
            errno = 0;
            continue;
        }
        const QString& path = *decoded;
        bool isDir = entry->d_type == DT_DIR;
        if (entry->d_type == DT_UNKNOWN)
            isDir = isDirectory(path);
        if (isDir) {
            // Only a folder can be a deeper root or the storage folder; a file belongs to
            // the root its folder belongs to.
            if (owningRoot(path) != part.rootIndex || isInStorage(filesystemPathKey(path))) {
                errno = 0;
                continue;
            }
            ++part.visited;
            if (!isPackageName(lastComponent(path)))
                subfolders.append(path);
        } else {
            inspect(part, path, true, dirfd(dir), entry->d_name);
        }
        errno = 0;
    }
    if (errno != 0)
        part.fail(current, part.root.name + kFullWidthColon + errnoMessage(errno));
    closedir(dir);
}

void Indexer::inspect(RootScan& scan, const QString& path, bool ownerKnown, int dirfd, const char* name) {
    ++scan.visited;
    if (!isImageFileName(path))
        return;
    const QString key = filesystemPathKey(path);
    if (!ownerKnown && (owningRoot(key) != scan.rootIndex || isInStorage(key)))
        return;
    auto file = FileIdentity::readAt(dirfd, QByteArray::fromRawData(name, qstrlen(name)), path);
    if (!file) {
        // Even gone, the file was listed: the scan has not seen the whole folder.
        scan.fail(path, lastComponent(path) + kFullWidthColon + file.error().localizedDescription());
        return;
    }
    if (!file->isRegularFile())
        return;

    const QString id = file->idString();
    auto volume = scan.volumeByDevice.find(file->fileSystemNumber);
    if (volume == scan.volumeByDevice.end())
        volume = scan.volumeByDevice.insert(file->fileSystemNumber, VolumeUuid::forPath(path));
    const QString usageID =
        volume->has_value() ? **volume + QLatin1Char('-') + QString::number(file->fileNumber) : id;

    const Photo* previous = nullptr;
    if ((previous = scan.previous(id)) != nullptr) {
        if (!sameFileBirth(previous->created, file->created) ||
            (previous->usageID && *previous->usageID != usageID))
            previous = nullptr;
    }

    Photo photo;
    photo.id = id;
    photo.path = key;
    photo.source = scan.root.name;
    photo.modified = file->modified;
    photo.size = file->size;
    const bool baseline = scan.isBaseline(key);
    if (previous)
        photo.added = previous->added;
    else if (!baseline)
        photo.added = scan.scanTime;
    else
        photo.added = file->created.value_or(file->modified);
    photo.thumbnail = scan.thumbnailPrefix + id + QStringLiteral(".jpg");
    // One look at the thumbnail serves both the removal of an outdated one and its date.
    // A full scan listed the thumbnails once, so absent ones cost no look-up.
    const QString thumbnailName = id + QStringLiteral(".jpg");
    Result<FileIdentity> thumbnail = Error::fromErrno(ENOENT);
    if (!scan.thumbnailNames || scan.thumbnailNames->contains(thumbnailName)) {
        thumbnail =
            scan.thumbnailFolderFd >= 0
                ? FileIdentity::readAt(scan.thumbnailFolderFd, thumbnailName.toUtf8(), photo.thumbnail)
                : FileIdentity::read(photo.thumbnail);
    }
    if (thumbnail && (!previous || previous->modified != photo.modified || previous->size != photo.size)) {
        ::unlink(QFile::encodeName(photo.thumbnail).constData());
        thumbnail = Error::fromErrno(ENOENT);
    }
    photo.thumbnailModified = thumbnail ? std::optional<double>(thumbnail->modified) : std::nullopt;
    photo.sourceRoot = scan.root.path;
    photo.created = previous ? previous->created : file->created;
    photo.usageID = usageID;
    photo.baselineImported = previous && previous->baselineImported ? *previous->baselineImported : baseline;

    if (scan.generateThumbnails && !stopped() && shouldMakeThumbnail(photo)) {
        ++m_thumbnailAttemptCount;
        if (m_thumbnailRenderer)
            m_thumbnailRenderer(path, photo.thumbnail);
        else
            makeThumbnail(
                path, photo.thumbnail, [this] { return stopped(); }, [this] { return stopped(); });
        photo.thumbnailModified = modificationDate(photo.thumbnail);
        if (photo.thumbnailModified || !stopped())
            recordThumbnailResult(photo, photo.thumbnailModified.has_value());
    }
    if (scan.result != nullptr)
        scan.result->insert(std::move(photo));
    else
        scan.found.append(std::move(photo));
}

bool Indexer::rootReadable(const SourceRoot& root) {
    auto info = FileIdentity::readFollowingLinks(root.path);
    if (info && info->type == FileType::Directory &&
        access(QFile::encodeName(root.path).constData(), R_OK | X_OK) == 0)
        return true;
    m_sourceErrors.insert(root.path, {kUnreadablePrefix + root.name});
    return false;
}

void Indexer::skipUndecodableName(const QString& folder, const char* name) {
    const QByteArray path = QFile::encodeName(folder) + '/' + name;
    if (m_undecodableNames.contains(path))
        return;
    m_undecodableNames.insert(path);
    qCWarning(lcApp).noquote() << "Not indexed:" << QString::fromLatin1(path.toPercentEncoding("/"))
                               << "- the name is not UTF-8, so no path can open it";
}

void Indexer::updateErrors() {
    m_errors.clear();
    for (const SourceRoot& root : m_roots)
        m_errors += m_sourceErrors.value(root.path);
    if (m_indexSaveError)
        m_errors.append(*m_indexSaveError);
}

// `listed`: the thumbnails folder as the scan began. What appeared since was made by this scan,
// on this queue, for one of its photos.
void Indexer::removeStaleThumbnails(const QList<Photo>& photos, const QSet<QString>& listed) const {
    QSet<QString> wanted;
    wanted.reserve(photos.size());
    for (const Photo& photo : photos)
        wanted.insert(lastComponent(photo.thumbnail));
    const QString prefix = thumbnailFolder() + QLatin1Char('/');
    for (const QString& name : listed) {
        if (!wanted.contains(name))
            ::unlink(QFile::encodeName(prefix + name).constData());
    }
}

} // namespace vennimo
