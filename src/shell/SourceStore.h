#pragma once

#include "core/PathRules.h"
#include "core/Photo.h"
#include "core/SourceFolder.h"
#include "platform/Result.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace vennimo {

// The user's list of watched folders, kept in "sources.json" in the storage folder. It turns the
// list into the indexer's roots, reports folders it cannot reach, and before photos go to the
// Trash makes sure a grant is held for each folder they come from. Main thread only.
class SourceStore : public QObject {
    Q_OBJECT

public:
    static constexpr auto kFileName = "sources.json";
    // Far more than any list a user builds by hand.
    static constexpr qint64 kMaxFileBytes = 4LL * 1024 * 1024;
    static constexpr auto kLoadErrorPrefix = "源文件夹设置无法读取，请重新选择：";
    static constexpr auto kBookmarkIssue = "需要重新选择以恢复访问";
    static constexpr auto kUnreachableIssue = "暂时无法访问，请连接磁盘或重新授权";
    static constexpr auto kSourceChangedMessage = "照片来源已改变，请刷新后重新选择。";

    // What the grant panel shows; the answer is the chosen folder.
    struct GrantRequest {
        QString title{};
        QString message{};
        QString prompt{};
        QString directory{};
    };
    using ChooseFolder = std::function<std::optional<QString>(const GrantRequest& request)>;
    using Alert = std::function<void(const QString& message, const QString& informative)>;
    using FileWriter = std::function<Status(const QString& path, const QByteArray& bytes)>;
    using RootsHandler = std::function<void(const QList<SourceRoot>& roots)>;

    // Reads the list; a missing file gives the built-in folders (written at the first
    // resolution), a file that cannot be read or decoded gives an empty list and a message and
    // is left as it is until the user saves a list.
    SourceStore(const QString& storage, const QString& home, QObject* parent = nullptr);
    ~SourceStore() override;

    // Desktop and Downloads as the XDG user dirs name them, both enabled.
    static QList<SourceFolder> defaultFolders();
    // Where the folder is looked for: the XDG user dir of a built-in folder (whatever path was
    // stored), else its stored path. Empty when the user dir is switched off (set to the home).
    QString location(const SourceFolder& folder) const;

    const QList<SourceFolder>& folders() const { return m_folders; }
    const std::optional<QString>& message() const { return m_message; }
    const QHash<QString, QString>& issues() const { return m_issues; }
    QString filePath() const { return m_file; }

    // The roots of the enabled folders, normalised; refreshes bookmarks and issues and stores
    // the list (except while a stored list could not be read).
    QList<SourceRoot> resolvedRoots();
    // Stores a list the user edited; nothing happens when it equals the current one and no
    // load problem is pending.
    Status save(const QList<SourceFolder>& folders);
    // Asks for a grant of every affected folder that has none; false when a photo lies outside
    // every enabled folder, or a grant was refused or could not be stored.
    bool authorizeDeletion(const QList<Photo>& photos);
    // Merges folders chosen in an open panel into a list: a listed folder is enabled with a new
    // grant, others are appended.
    Result<QList<SourceFolder>> adding(const QStringList& paths, QList<SourceFolder> list) const;

    void setOnChange(RootsHandler handler) { m_onChange = std::move(handler); }
    void setChooseFolder(ChooseFolder choose) { m_chooseFolder = std::move(choose); }
    void setAlert(Alert alert) { m_alert = std::move(alert); }
    void setFileWriter(FileWriter writer) { m_writeFile = std::move(writer); }

Q_SIGNALS:
    void foldersChanged();
    void messageChanged();
    void issuesChanged();

private:
    Status commit(const QList<SourceFolder>& folders);
    void setMessage(const std::optional<QString>& message);
    bool grant(const SourceFolder& folder);

    QList<SourceFolder> m_folders;
    std::optional<QString> m_message;
    QHash<QString, QString> m_issues;
    RootsHandler m_onChange;
    QString m_storage;
    QString m_file;
    QString m_home;
    QSet<QString> m_scopes;
    // A stored list that could not be read must not be replaced by resolution.
    bool m_loadFailed = false;
    ChooseFolder m_chooseFolder;
    Alert m_alert;
    FileWriter m_writeFile;
};

} // namespace vennimo
