#include "platform/ApplicationLauncher.h"

#include <QDesktopServices>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QProcess>
#include <QUrl>

namespace vennimo {

namespace {

constexpr auto kDesktopSuffix = ".desktop";
constexpr auto kEntryGroup = "Desktop Entry";
// An entry larger than this is not an application entry.
constexpr qint64 kMaxEntryBytes = 1 << 20;

Error launchError(int code, const QString& message, const QString& reason = {}) {
    Error error = Error::make(QLatin1String(ApplicationLauncher::kDomain), code, message);
    error.failureReason = reason;
    return error;
}

// The keys of the entry's main group, read by hand: QSettings would take the entry's escapes
// and commas for its own.
QHash<QString, QString> readEntry(const QString& path) {
    QHash<QString, QString> keys;
    QFile file(path);
    if (file.size() > kMaxEntryBytes || !file.open(QIODevice::ReadOnly))
        return keys;
    bool inGroup = false;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == QLatin1Char('[') + QLatin1String(kEntryGroup) + QLatin1Char(']');
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (inGroup && equals > 0)
            keys.insert(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    return keys;
}

// The general escapes of a string value: \s \n \t \r \\.
QString unescapeValue(const QString& value) {
    QString result;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] != QLatin1Char('\\') || i + 1 == value.size()) {
            result.append(value[i]);
            continue;
        }
        const QChar next = value[++i];
        switch (next.unicode()) {
        case 's':
            result.append(QLatin1Char(' '));
            break;
        case 'n':
            result.append(QLatin1Char('\n'));
            break;
        case 't':
            result.append(QLatin1Char('\t'));
            break;
        case 'r':
            result.append(QLatin1Char('\r'));
            break;
        default:
            result.append(QLatin1Char('\\'));
            result.append(next);
        }
    }
    return result;
}

bool isDesktopEntry(const QString& path) {
    return path.endsWith(QLatin1String(kDesktopSuffix));
}

} // namespace

Result<QStringList> ApplicationLauncher::splitExec(const QString& exec) {
    const QString value = unescapeValue(exec);
    QStringList arguments;
    QString current;
    bool quoted = false;
    bool inArgument = false;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (quoted) {
            if (c == QLatin1Char('"')) {
                quoted = false;
            } else if (c == QLatin1Char('\\') && i + 1 < value.size() &&
                       QStringLiteral("\"`$\\").contains(value[i + 1])) {
                current.append(value[++i]);
            } else {
                current.append(c);
            }
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (inArgument)
                arguments.append(current);
            current.clear();
            inArgument = false;
        } else if (c == QLatin1Char('"')) {
            quoted = true;
            inArgument = true;
        } else {
            current.append(c);
            inArgument = true;
        }
    }
    if (quoted)
        return launchError(1, QString::fromUtf8("应用程序的启动命令有未闭合的引号。"), exec);
    if (inArgument)
        arguments.append(current);
    if (arguments.isEmpty())
        return launchError(1, QString::fromUtf8("应用程序没有启动命令。"), exec);
    return arguments;
}

Result<QList<QStringList>> ApplicationLauncher::commandLines(const QString& applicationPath,
                                                             const QStringList& files) {
    if (!isDesktopEntry(applicationPath))
        return QList<QStringList>{QStringList{applicationPath} + files};
    const QHash<QString, QString> entry = readEntry(applicationPath);
    if (entry.value(QStringLiteral("Type"), QStringLiteral("Application")) != QLatin1String("Application") ||
        !entry.contains(QStringLiteral("Exec")))
        return launchError(2, QString::fromUtf8("这不是一个可以启动的应用程序。"), applicationPath);
    const Result<QStringList> exec = splitExec(entry.value(QStringLiteral("Exec")));
    if (!exec)
        return exec.error();

    bool takesList = false;
    bool takesOne = false;
    for (const QString& argument : *exec) {
        takesList = takesList || argument == QLatin1String("%F") || argument == QLatin1String("%U");
        takesOne =
            takesOne || argument.contains(QLatin1String("%f")) || argument.contains(QLatin1String("%u"));
    }
    // Expands the field codes for the given files (all of them, or one).
    const auto expand = [&](const QStringList& chosen) {
        QStringList line;
        for (const QString& argument : *exec) {
            if (argument == QLatin1String("%F") || argument == QLatin1String("%U")) {
                for (const QString& file : chosen)
                    line.append(argument == QLatin1String("%U") ? QUrl::fromLocalFile(file).toString()
                                                                : file);
                continue;
            }
            if (argument == QLatin1String("%i")) {
                if (entry.contains(QStringLiteral("Icon")))
                    line << QStringLiteral("--icon") << entry.value(QStringLiteral("Icon"));
                continue;
            }
            QString expanded;
            bool dropped = false;
            for (qsizetype i = 0; i < argument.size(); ++i) {
                if (argument[i] != QLatin1Char('%') || i + 1 == argument.size()) {
                    expanded.append(argument[i]);
                    continue;
                }
                const QChar code = argument[++i];
                if (code == QLatin1Char('%'))
                    expanded.append(QLatin1Char('%'));
                else if ((code == QLatin1Char('f') || code == QLatin1Char('u')) && chosen.isEmpty())
                    dropped = true;
                else if (code == QLatin1Char('f'))
                    expanded.append(chosen.first());
                else if (code == QLatin1Char('u'))
                    expanded.append(QUrl::fromLocalFile(chosen.first()).toString());
                else if (code == QLatin1Char('c'))
                    expanded.append(displayName(applicationPath));
                else if (code == QLatin1Char('k'))
                    expanded.append(applicationPath);
                // Other and deprecated codes expand to nothing.
            }
            if (!dropped && !(expanded.isEmpty() && argument.startsWith(QLatin1Char('%'))))
                line.append(expanded);
        }
        return line;
    };
    QList<QStringList> lines;
    if (takesOne && !takesList && files.size() > 1) {
        for (const QString& file : files)
            lines.append(expand({file}));
    } else {
        lines.append(expand(files));
    }
    return lines;
}

QString ApplicationLauncher::displayName(const QString& applicationPath) {
    if (isDesktopEntry(applicationPath)) {
        const QHash<QString, QString> entry = readEntry(applicationPath);
        for (const QString& key :
             {QStringLiteral("Name[zh_CN]"), QStringLiteral("Name[zh]"), QStringLiteral("Name")})
            if (const QString name = entry.value(key); !name.isEmpty())
                return unescapeValue(name);
        return QFileInfo(applicationPath).completeBaseName();
    }
    return QFileInfo(applicationPath).fileName();
}

Status ApplicationLauncher::launch(const QString& applicationPath, const QStringList& files) {
    const Result<QList<QStringList>> lines = commandLines(applicationPath, files);
    if (!lines)
        return lines.error();
    for (const QStringList& line : *lines) {
        QProcess process;
        process.setProgram(line.first());
        process.setArguments(line.mid(1));
        process.setStandardInputFile(QProcess::nullDevice());
        if (!process.startDetached())
            return launchError(3, QString::fromUtf8("程序无法启动（%1）。").arg(line.first()),
                               process.errorString());
    }
    return {};
}

bool ApplicationLauncher::openWithDefault(const QString& path) {
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

} // namespace vennimo
