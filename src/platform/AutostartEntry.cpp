#include "platform/AutostartEntry.h"

#include "platform/JsonFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <unistd.h>

namespace vennimo {

namespace {

// Bounded read of a small text file; nothing when it is missing, too large or not a file.
std::optional<QString> readSmallFile(const QString& path) {
    const QFileInfo info(path);
    if (!info.isFile() || info.size() > AutostartEntry::kMaxFileBytes)
        return std::nullopt;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    return QString::fromUtf8(file.read(AutostartEntry::kMaxFileBytes));
}

// The keys of one [group] of an ini-style file; later keys win, as desktop files read.
QHash<QString, QString> groupOf(const QString& text, const QString& group) {
    QHash<QString, QString> keys;
    bool inside = false;
    for (const QString& raw : text.split(u'\n')) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            inside = line == u'[' + group + u']';
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (inside && equals > 0)
            keys.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    return keys;
}

bool switchedOff(const QString& text) {
    const QHash<QString, QString> keys = groupOf(text, QStringLiteral("Desktop Entry"));
    return keys.value(QStringLiteral("Hidden")) == QLatin1String("true") ||
           keys.value(QStringLiteral("X-GNOME-Autostart-enabled")) == QLatin1String("false");
}

QString systemEntryPath() {
    const QStringList dirs = QStandardPaths::standardLocations(QStandardPaths::GenericConfigLocation);
    for (qsizetype i = 1; i < dirs.size(); ++i) { // the first is the user's own
        const QString path =
            dirs[i] + QStringLiteral("/autostart/") + QLatin1String(AutostartEntry::kEntryName);
        if (QFileInfo(path).isFile())
            return path;
    }
    return {};
}

// The Icon line for the icon the build puts beside the program, as a desktop entry string: none
// when the file is missing or its path cannot stay on one line.
QByteArray iconLine(const QString& program) {
    const QString icon = AutostartEntry::iconPath(program);
    if (!QFileInfo(icon).isFile() || icon.contains(u'\n') || icon.contains(u'\r'))
        return {};
    QString escaped = icon;
    escaped.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
    return "Icon=" + escaped.toUtf8() + "\n";
}

QByteArray entryText(const QString& program, bool hidden) {
    QByteArray text = "[Desktop Entry]\nType=Application\nName=Vennimo Gallery\nExec=" +
                      AutostartEntry::execLine(program).toUtf8() + "\n" + iconLine(program) +
                      "Terminal=false\nX-GNOME-Autostart-enabled=" + (hidden ? "false" : "true") + "\n";
    if (hidden)
        text += "Hidden=true\n";
    return text;
}

// One argument as the desktop entry rules quote it: inside double quotes, with `"`, `` ` ``, `$`
// and `\` escaped by a backslash and a literal % doubled so that it starts no field code.
QString quotedArgument(const QString& argument) {
    QString quoted = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
            quoted += u'\\';
        else if (c == u'%')
            quoted += u'%';
        quoted += c;
    }
    return quoted + u'"';
}

} // namespace

AutostartEntry::AutostartEntry(QString executable)
    : m_executable(std::move(executable)) {}

QString AutostartEntry::iconPath(const QString& program) {
    return QFileInfo(program).absolutePath() + u'/' + QLatin1String(kIconFileName);
}

QString AutostartEntry::entryPath() const {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/autostart/") + QLatin1String(kEntryName);
}

QString AutostartEntry::legacyUnitPath() const {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/systemd/user/") + QLatin1String(kLegacyUnitName);
}

QString AutostartEntry::execLine(const QString& program) {
    QString line = quotedArgument(program);
    // GLib looks the program up before it replaces the field codes, so a program whose path holds
    // a % is never found under its own name: a shell started by its name runs it instead.
    if (program.contains(u'%'))
        line = QStringLiteral("/bin/sh -c ") + quotedArgument(QStringLiteral("exec \"$0\"")) + u' ' + line;
    // Escaped once more as a string value; a line break would end the value and start a key of
    // the path's choosing.
    line.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
    line.replace(u'\n', QStringLiteral("\\n"));
    line.replace(u'\r', QStringLiteral("\\r"));
    line.replace(u'\t', QStringLiteral("\\t"));
    return line;
}

bool AutostartEntry::entryExists() const {
    return QFileInfo(entryPath()).isFile();
}

bool AutostartEntry::entryEnabled() const {
    if (std::optional<QString> text = readSmallFile(entryPath()))
        return !switchedOff(*text);
    // A directory or an unreadable file in the user's folder hides nothing and starts nothing.
    if (QFileInfo::exists(entryPath()))
        return false;
    const QString system = systemEntryPath();
    if (system.isEmpty())
        return false;
    const std::optional<QString> text = readSmallFile(system);
    return text && !switchedOff(*text);
}

Status AutostartEntry::writeEntry() const {
    // A desktop entry is UTF-8 text, so a path whose bytes are not cannot be written into one:
    // the entry would start some other path, or nothing.
    if (m_executable.contains(QChar::ReplacementCharacter))
        return Error::failure(QStringLiteral("应用程序的安装路径不是 UTF-8 文字，无法写入登录启动项。"));
    const QString path = entryPath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return Error::fromErrno(EACCES, QFileInfo(path).absolutePath());
    return JsonFile::writeAtomically(path, entryText(m_executable, false));
}

Status AutostartEntry::removeEntry() const {
    const QString path = entryPath();
    if (!systemEntryPath().isEmpty()) {
        if (!QDir().mkpath(QFileInfo(path).absolutePath()))
            return Error::fromErrno(EACCES, QFileInfo(path).absolutePath());
        return JsonFile::writeAtomically(path, entryText(m_executable, true));
    }
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink())
        return {};
    if (::unlink(QFile::encodeName(path).constData()) != 0)
        return Error::fromErrno(errno, path);
    return {};
}

bool AutostartEntry::hasOwnedLegacy() const {
    const std::optional<QString> text = readSmallFile(legacyUnitPath());
    if (!text)
        return false;
    QString exec = groupOf(*text, QStringLiteral("Service")).value(QStringLiteral("ExecStart"));
    // systemd's prefixes that change how the command runs, not what it runs.
    while (!exec.isEmpty() && QStringLiteral("-@:+!").contains(exec.front()))
        exec.remove(0, 1);
    return QProcess::splitCommand(exec).contains(m_executable);
}

bool AutostartEntry::runToolBlocking(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForStarted(kToolTimeoutMs))
        return false;
    if (!process.waitForFinished(kToolTimeoutMs))
        process.kill();
    return true;
}

Status AutostartEntry::removeLegacy(const RunTool& runTool) const {
    const QString path = legacyUnitPath();
    const QString systemctl = QStandardPaths::findExecutable(QStringLiteral("systemctl"));
    if (!systemctl.isEmpty() && !runTool(systemctl, {QStringLiteral("--user"), QStringLiteral("disable"),
                                                     QLatin1String(kLegacyUnitName)}))
        return Error::fromErrno(ENOEXEC, systemctl);
    if (::unlink(QFile::encodeName(path).constData()) != 0)
        return Error::fromErrno(errno, path);
    return {};
}

} // namespace vennimo
