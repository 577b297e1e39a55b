#include "platform/DesktopApplications.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace vennimo {

namespace {

// Entries and lists are short text files; anything larger is not one.
constexpr qint64 kMaxFileBytes = 1 << 20;

QStringList readLines(const QString& path) {
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.read(kMaxFileBytes)).split(QLatin1Char('\n'));
}

// The values of `key` in `section`, split at ";".
QStringList sectionValues(const QString& path, const QString& section, const QString& key) {
    bool inSection = false;
    for (const QString& raw : readLines(path)) {
        const QString line = raw.trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inSection = line == QLatin1Char('[') + section + QLatin1Char(']');
            continue;
        }
        if (!inSection)
            continue;
        const qsizetype eq = line.indexOf(QLatin1Char('='));
        if (eq > 0 && line.left(eq).trimmed() == key)
            return line.mid(eq + 1).trimmed().split(QLatin1Char(';'), Qt::SkipEmptyParts);
    }
    return {};
}

QStringList configFolders() {
    QStringList folders{QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)};
    const QString dirs = qEnvironmentVariable("XDG_CONFIG_DIRS", QStringLiteral("/etc/xdg"));
    for (const QString& dir : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        folders.append(QDir::cleanPath(dir));
    return folders;
}

} // namespace

QStringList DesktopApplications::applicationFolders() {
    QStringList folders;
    const QString home =
        qEnvironmentVariable("XDG_DATA_HOME", QDir::homePath() + QStringLiteral("/.local/share"));
    folders.append(QDir::cleanPath(home) + QStringLiteral("/applications"));
    const QString dirs = qEnvironmentVariable("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share"));
    for (const QString& dir : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts))
        folders.append(QDir::cleanPath(dir) + QStringLiteral("/applications"));
    return folders;
}

std::optional<QString> DesktopApplications::locate(const QString& entryId) {
    if (entryId.isEmpty() || entryId.contains(QLatin1String("..")))
        return std::nullopt;
    for (const QString& folder : applicationFolders()) {
        // An id's dashes may stand for subfolders ("kde-okular.desktop" in "kde/okular.desktop").
        for (const QString& candidate :
             {entryId, QString(entryId).replace(QLatin1Char('-'), QLatin1Char('/'))}) {
            const QString path = folder + QLatin1Char('/') + candidate;
            if (QFileInfo(path).isFile())
                return path;
        }
    }
    return std::nullopt;
}

std::optional<QString> DesktopApplications::defaultFor(const QString& mimeType) {
    QStringList lists;
    for (const QString& folder : configFolders())
        lists.append(folder + QStringLiteral("/mimeapps.list"));
    for (const QString& folder : applicationFolders())
        lists.append(folder + QStringLiteral("/mimeapps.list"));
    for (const QString& list : std::as_const(lists)) {
        for (const QString& id : sectionValues(list, QStringLiteral("Default Applications"), mimeType)) {
            if (const std::optional<QString> path = locate(id))
                return path;
        }
    }
    for (const QString& folder : applicationFolders()) {
        for (const QString& id : sectionValues(folder + QStringLiteral("/mimeinfo.cache"),
                                               QStringLiteral("MIME Cache"), mimeType)) {
            if (const std::optional<QString> path = locate(id))
                return path;
        }
    }
    return std::nullopt;
}

QString DesktopApplications::iconName(const QString& entryPath) {
    const QStringList values =
        sectionValues(entryPath, QStringLiteral("Desktop Entry"), QStringLiteral("Icon"));
    return values.isEmpty() ? QString() : values.join(QLatin1Char(';'));
}

} // namespace vennimo
