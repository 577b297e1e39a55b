#include "shell/SourceStore.h"

#include "core/DeferredStateWriter.h"
#include "platform/Bookmark.h"
#include "platform/JsonFile.h"
#include "platform/Logging.h"
#include "widgets/SourceFolderAlert.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUuid>

#include <cerrno>
#include <unistd.h>

namespace vennimo {

namespace {

QString userDir(const QString& kind) {
    return QStandardPaths::writableLocation(kind == QLatin1String(SourceFolder::kDesktopKind)
                                                ? QStandardPaths::DesktopLocation
                                                : QStandardPaths::DownloadLocation);
}

QString canonical(const QString& path) {
    const QString resolved = QFileInfo(path).canonicalFilePath();
    return resolved.isEmpty() ? QDir::cleanPath(path) : resolved;
}

std::optional<QString> defaultChooseFolder(const SourceStore::GrantRequest& request) {
    QFileDialog dialog(nullptr, request.title, request.directory);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly);
    dialog.setOption(QFileDialog::ReadOnly); // no folder creation
    dialog.setLabelText(QFileDialog::Accept, request.prompt);
    dialog.setLabelText(QFileDialog::LookIn, request.message);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().constFirst();
}

void defaultAlert(const QString& message, const QString& informative) {
    SourceFolderAlert::run(message, informative);
}

} // namespace

SourceStore::SourceStore(const QString& storage, const QString& home, QObject* parent)
    : QObject(parent)
    , m_storage(storage)
    , m_file(QDir(storage).filePath(QLatin1String(kFileName)))
    , m_home(QDir::cleanPath(home))
    , m_chooseFolder(defaultChooseFolder)
    , m_alert(defaultAlert)
    , m_writeFile(JsonFile::writeAtomically) {
    auto bytes = DeferredStateWriter::readStateFile(m_file, kMaxFileBytes);
    if (!bytes && bytes.error().sysErrno == ENOENT) {
        m_folders = defaultFolders();
        return;
    }
    Result<QList<SourceFolder>> folders =
        bytes ? decodeSourceFolders(*bytes) : Result<QList<SourceFolder>>(bytes.error());
    if (folders) {
        m_folders = std::move(folders).value();
        return;
    }
    m_loadFailed = true;
    m_message = QString::fromUtf8(kLoadErrorPrefix) + folders.error().localizedDescription();
    qCWarning(lcApp) << "cannot read" << m_file << folders.error().message << folders.error().failureReason;
}

SourceStore::~SourceStore() {
    for (const QString& path : std::as_const(m_scopes))
        Bookmark::stopAccessing(path);
}

QList<SourceFolder> SourceStore::defaultFolders() {
    return {
        {QString::fromLatin1(SourceFolder::kDesktopKind), QString::fromLatin1(SourceFolder::kDesktopKind),
         userDir(QLatin1String(SourceFolder::kDesktopKind)), std::nullopt, true},
        {QString::fromLatin1(SourceFolder::kDownloadsKind), QString::fromLatin1(SourceFolder::kDownloadsKind),
         userDir(QLatin1String(SourceFolder::kDownloadsKind)), std::nullopt, true},
    };
}

QString SourceStore::location(const SourceFolder& folder) const {
    if (!folder.kind || folder.kind->isEmpty())
        return folder.path;
    // xdg-user-dirs switches a folder off by pointing it at the home itself; watching the whole
    // home is never what the user asked for.
    const QString dir = QDir::cleanPath(userDir(*folder.kind));
    return dir == m_home ? QString() : dir;
}

QList<SourceRoot> SourceStore::resolvedRoots() {
    QHash<QString, QString> issues;
    QList<SourceRoot> roots;
    QList<SourceFolder> copy = m_folders;
    // All bookmarks at once: a long list pointing into the same large folders reads each of them
    // once, within one bound for the whole list.
    QList<QByteArray> bookmarks;
    for (const SourceFolder& folder : std::as_const(copy)) {
        if (folder.enabled && !location(folder).isEmpty() && folder.bookmark && !folder.bookmark->isEmpty())
            bookmarks.append(*folder.bookmark);
    }
    const QList<Result<ResolvedBookmark>> resolutions = Bookmark::resolveAll(bookmarks);
    qsizetype nextResolution = 0;
    for (SourceFolder& folder : copy) {
        if (!folder.enabled)
            continue;
        const bool builtIn = folder.kind && !folder.kind->isEmpty();
        QString path = location(folder);
        if (path.isEmpty())
            continue;
        if (folder.bookmark && !folder.bookmark->isEmpty()) {
            const Result<ResolvedBookmark>& resolved = resolutions[nextResolution++];
            if (!resolved) {
                issues.insert(folder.id, QString::fromUtf8(kBookmarkIssue));
            } else {
                path = resolved->path;
                if (!m_scopes.contains(path) && Bookmark::startAccessing(path))
                    m_scopes.insert(path);
                if (resolved->stale) {
                    if (auto fresh = Bookmark::create(path))
                        folder.bookmark = *fresh;
                }
                folder.path = path;
            }
        }
        // A missing folder is never created for the user: the watcher waits for it from the
        // nearest folder above, and the scan finds nothing there meanwhile.
        if (access(QFile::encodeName(path).constData(), R_OK) != 0)
            issues.insert(folder.id, QString::fromUtf8(kUnreachableIssue));
        QString label;
        if (!builtIn)
            label = QFileInfo(path).fileName();
        else if (*folder.kind == QLatin1String(SourceFolder::kDesktopKind))
            label = QStringLiteral("桌面");
        else if (*folder.kind == QLatin1String(SourceFolder::kDownloadsKind))
            label = QStringLiteral("下载");
        else
            label = QFileInfo(folder.path).fileName();
        roots.append({label, path});
    }
    if (m_issues != issues) {
        m_issues = issues;
        Q_EMIT issuesChanged();
    }
    if (!m_loadFailed) {
        QDir().mkpath(m_storage);
        const Status written = m_writeFile(m_file, encodeSourceFolders(copy));
        if (!written.ok())
            qCWarning(lcApp) << "cannot store" << m_file << written.error().message;
    }
    if (m_folders != copy) {
        m_folders = copy;
        Q_EMIT foldersChanged();
    }
    return normalizedSourceRoots(roots);
}

Status SourceStore::save(const QList<SourceFolder>& folders) {
    if (folders == m_folders && !m_message)
        return {};
    return commit(folders);
}

Status SourceStore::commit(const QList<SourceFolder>& folders) {
    if (!QDir().mkpath(m_storage))
        return Error::fromErrno(errno ? errno : EACCES, m_storage);
    const Status written = m_writeFile(m_file, encodeSourceFolders(folders));
    if (!written.ok())
        return written;
    m_loadFailed = false;
    if (m_folders != folders) {
        m_folders = folders;
        Q_EMIT foldersChanged();
    }
    setMessage(std::nullopt);
    const QList<SourceRoot> roots = resolvedRoots();
    if (m_onChange)
        m_onChange(roots);
    return {};
}

void SourceStore::setMessage(const std::optional<QString>& message) {
    if (m_message == message)
        return;
    m_message = message;
    Q_EMIT messageChanged();
}

bool SourceStore::authorizeDeletion(const QList<Photo>& photos) {
    QList<SourceFolder> collected;
    for (const Photo& photo : photos) {
        if (photo.isPhotosAsset())
            continue;
        const SourceFolder* best = nullptr;
        qsizetype bestLength = -1;
        for (const SourceFolder& folder : std::as_const(m_folders)) {
            if (!folder.enabled)
                continue;
            // The same place resolution hands to the indexer, whose photo paths have their
            // links resolved.
            const QString where = location(folder);
            if (where.isEmpty())
                continue;
            if (!pathIsWithin(photo.path, where) && !pathIsWithin(photo.path, canonical(where)))
                continue;
            if (where.size() > bestLength) {
                best = &folder;
                bestLength = where.size();
            }
        }
        if (best == nullptr) {
            setMessage(QString::fromUtf8(kSourceChangedMessage));
            return false;
        }
        const bool listed = std::any_of(collected.cbegin(), collected.cend(),
                                        [&](const SourceFolder& f) { return f.id == best->id; });
        if ((!best->bookmark || best->bookmark->isEmpty()) && !listed)
            collected.append(*best);
    }
    for (const SourceFolder& folder : std::as_const(collected)) {
        if (!grant(folder))
            return false;
    }
    return true;
}

bool SourceStore::grant(const SourceFolder& folder) {
    const QString where = location(folder).isEmpty() ? folder.path : location(folder);
    GrantRequest request;
    request.title = QStringLiteral("授权删除「") + folder.name() + QStringLiteral("」中的照片");
    request.message =
        QStringLiteral("请选择当前源文件夹，以允许把其中的照片移到废纸篓。授权会保存在本机，之后无需"
                       "逐张选择。取消不会删除照片。");
    request.prompt = QStringLiteral("授权并继续删除");
    request.directory = where;
    const std::optional<QString> chosen = m_chooseFolder ? m_chooseFolder(request) : std::nullopt;
    if (!chosen || chosen->isEmpty())
        return false;
    if (canonical(*chosen) != canonical(where)) {
        m_alert(QStringLiteral("未删除照片"), QStringLiteral("请选择原来的源文件夹：") + where);
        return false;
    }
    QList<SourceFolder> list = m_folders;
    const auto entry =
        std::find_if(list.begin(), list.end(), [&](const SourceFolder& f) { return f.id == folder.id; });
    if (entry == list.end())
        return false;
    const QString chosenPath = QDir::cleanPath(*chosen);
    auto bookmark = Bookmark::create(chosenPath);
    SourceFolder granted;
    granted.id = entry->id;
    granted.enabled = entry->enabled;
    if (chosenPath == QDir::cleanPath(where))
        granted.kind = entry->kind;
    granted.path = chosenPath;
    if (bookmark)
        granted.bookmark = *bookmark;
    *entry = granted;
    const Status committed = commit(list);
    if (!committed.ok()) {
        m_alert(QStringLiteral("授权未保存，未删除照片"), committed.error().localizedDescription());
        return false;
    }
    return true;
}

Result<QList<SourceFolder>> SourceStore::adding(const QStringList& paths, QList<SourceFolder> list) const {
    for (const QString& path : paths) {
        const QFileInfo info(path);
        if (!info.exists())
            return Error::fromErrno(ENOENT, path);
        if (!info.isDir())
            continue;
        const QString canonicalPath = canonical(path);
        auto bookmark = Bookmark::create(path);
        if (!bookmark)
            return bookmark.error();
        const auto listed = std::find_if(list.begin(), list.end(), [&](const SourceFolder& folder) {
            return canonical(folder.path) == canonicalPath;
        });
        if (listed != list.end()) {
            listed->enabled = true;
            listed->bookmark = *bookmark;
            continue;
        }
        list.append({QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(), std::nullopt,
                     canonicalPath, *bookmark, true});
    }
    return list;
}

} // namespace vennimo
