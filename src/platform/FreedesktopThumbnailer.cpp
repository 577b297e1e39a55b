#include "platform/FreedesktopThumbnailer.h"

#include "platform/ImageDecoder.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QMimeDatabase>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

namespace vennimo {

namespace {

// Cached thumbnails are small; anything claiming more is not one of them.
constexpr int kMaxCachedSidePixels = 4096;

Error unreadable() {
    return Error::make(QString::fromLatin1(kImageErrorDomain), kImageUnreadableCode,
                       QString::fromUtf8(kImageUnreadableMessage));
}

QString homeRelative(const char* variable, const QString& fallback) {
    const QString value = qEnvironmentVariable(variable);
    return value.startsWith(QLatin1Char('/')) ? value : QDir::homePath() + fallback;
}

QStringList dataFolders() {
    QStringList folders{homeRelative("XDG_DATA_HOME", QStringLiteral("/.local/share"))};
    QString dirs = qEnvironmentVariable("XDG_DATA_DIRS");
    if (dirs.isEmpty())
        dirs = QStringLiteral("/usr/local/share:/usr/share");
    for (const QString& dir : dirs.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        if (dir.startsWith(QLatin1Char('/')))
            folders.append(dir);
    }
    return folders;
}

Result<QImage> readBoundedImage(const QString& path, int maxSide) {
    QImageReader reader(path);
    const QSize size = reader.size();
    if (!size.isValid() || size.width() > maxSide || size.height() > maxSide)
        return unreadable();
    QImage image = reader.read();
    // The header's size is only a claim; what was decoded counts.
    if (image.isNull() || image.width() > maxSide || image.height() > maxSide)
        return unreadable();
    return image;
}

bool isExecutable(const QString& program) {
    if (program.startsWith(QLatin1Char('/')))
        return QFileInfo(program).isExecutable();
    return !QStandardPaths::findExecutable(program).isEmpty();
}

} // namespace

Result<QImage> FreedesktopThumbnailer::thumbnail(const QString& path, int size,
                                                 std::chrono::milliseconds timeout,
                                                 const Cancelled& cancelled) {
    auto cached = cachedThumbnail(path);
    if (cached)
        return cached;
    return runThumbnailer(path, size, timeout, cancelled);
}

Result<QImage> FreedesktopThumbnailer::cachedThumbnail(const QString& path) {
    struct stat st {};
    if (stat(QFile::encodeName(path).constData(), &st) != 0)
        return Error::fromErrno(errno, path);
    const QString uri = QString::fromUtf8(QUrl::fromLocalFile(path).toEncoded());
    const QString name =
        QString::fromLatin1(QCryptographicHash::hash(uri.toUtf8(), QCryptographicHash::Md5).toHex()) +
        QStringLiteral(".png");
    const QString cache =
        homeRelative("XDG_CACHE_HOME", QStringLiteral("/.cache")) + QStringLiteral("/thumbnails/");
    for (const char* folder : {"xx-large", "x-large", "large", "normal"}) {
        const QString candidate = cache + QLatin1String(folder) + QLatin1Char('/') + name;
        if (!QFile::exists(candidate))
            continue;
        auto image = readBoundedImage(candidate, kMaxCachedSidePixels);
        if (!image)
            continue;
        // Fresh only when it records the file's present modification time (and URI, when given).
        const QString mtime = image->text(QStringLiteral("Thumb::MTime"));
        const QString recordedUri = image->text(QStringLiteral("Thumb::URI"));
        if (mtime != QString::number(static_cast<qint64>(st.st_mtim.tv_sec)))
            continue;
        if (!recordedUri.isEmpty() && recordedUri != uri)
            continue;
        return image;
    }
    return unreadable();
}

std::optional<FreedesktopThumbnailer::Entry> FreedesktopThumbnailer::parseEntry(const QByteArray& text) {
    Entry entry;
    bool inEntry = false;
    for (const QByteArray& rawLine : text.split('\n')) {
        const QString line = QString::fromUtf8(rawLine).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inEntry = line == QLatin1String("[Thumbnailer Entry]");
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inEntry || equals <= 0)
            continue;
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (key == QLatin1String("TryExec"))
            entry.tryExec = value;
        else if (key == QLatin1String("Exec"))
            entry.exec = value;
        else if (key == QLatin1String("MimeType"))
            entry.mimeTypes = value.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    }
    if (entry.exec.isEmpty() || entry.mimeTypes.isEmpty())
        return std::nullopt;
    return entry;
}

QStringList FreedesktopThumbnailer::expandExec(const QString& exec, const QString& input,
                                               const QString& output, int size) {
    QStringList arguments;
    for (const QString& argument : QProcess::splitCommand(exec)) {
        QString expanded;
        for (qsizetype i = 0; i < argument.size(); ++i) {
            if (argument[i] != QLatin1Char('%') || i + 1 == argument.size()) {
                expanded.append(argument[i]);
                continue;
            }
            const QChar code = argument[++i];
            if (code == QLatin1Char('s'))
                expanded.append(QString::number(size));
            else if (code == QLatin1Char('u'))
                expanded.append(QString::fromUtf8(QUrl::fromLocalFile(input).toEncoded()));
            else if (code == QLatin1Char('i'))
                expanded.append(input);
            else if (code == QLatin1Char('o'))
                expanded.append(output);
            else if (code == QLatin1Char('%'))
                expanded.append(QLatin1Char('%'));
        }
        arguments.append(expanded);
    }
    return arguments;
}

Result<QImage> FreedesktopThumbnailer::runThumbnailer(const QString& path, int size,
                                                      std::chrono::milliseconds timeout,
                                                      const Cancelled& cancelled) {
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path);
    if (!type.isValid())
        return unreadable();
    QStringList wanted{type.name()};
    wanted += type.aliases();
    wanted += type.allAncestors();

    std::optional<Entry> chosen;
    int chosenRank = static_cast<int>(wanted.size());
    for (const QString& folder : dataFolders()) {
        const QDir dir(folder + QStringLiteral("/thumbnailers"));
        for (const QString& name :
             dir.entryList({QStringLiteral("*.thumbnailer")}, QDir::Files, QDir::Name)) {
            QFile file(dir.filePath(name));
            if (!file.open(QIODevice::ReadOnly))
                continue;
            auto entry = parseEntry(file.read(64 * 1024));
            if (!entry || (!entry->tryExec.isEmpty() && !isExecutable(entry->tryExec)))
                continue;
            for (int rank = 0; rank < chosenRank; ++rank) {
                if (entry->mimeTypes.contains(wanted[rank])) {
                    chosen = entry;
                    chosenRank = rank;
                    break;
                }
            }
        }
    }
    if (!chosen)
        return unreadable();

    QTemporaryDir scratch;
    if (!scratch.isValid())
        return unreadable();
    const QString output = scratch.filePath(QStringLiteral("thumbnail.png"));
    QStringList arguments = expandExec(chosen->exec, path, output, size);
    if (arguments.isEmpty())
        return unreadable();
    const QString program = arguments.takeFirst();
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
    // Its own process group, so that helpers it starts are killed with it.
    process.setChildProcessModifier([] { setpgid(0, 0); });
    const QDeadlineTimer deadline(timeout);
    process.start(program, arguments);
    if (!process.waitForStarted(static_cast<int>(deadline.remainingTime())))
        return unreadable();
    // In short waits, so that a caller giving up is not held for the thumbnailer's whole time.
    static constexpr qint64 kCheckMilliseconds = 50;
    const auto nextWait = [&deadline] {
        const qint64 left = deadline.remainingTime(); // -1: no deadline
        return static_cast<int>(left < 0 ? kCheckMilliseconds
                                         : std::clamp<qint64>(left, 1, kCheckMilliseconds));
    };
    while (!process.waitForFinished(nextWait())) {
        if (process.state() == QProcess::NotRunning)
            break;
        const bool givenUp = cancelled && cancelled();
        if (!givenUp && !deadline.hasExpired())
            continue;
        // Killed and reaped before the scratch folder goes: it writes nothing after this.
        if (process.processId() > 0)
            ::kill(-static_cast<pid_t>(process.processId()), SIGKILL);
        process.kill();
        process.waitForFinished(-1);
        return Error::fromErrno(givenUp ? ECANCELED : ETIMEDOUT, path);
    }
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        return unreadable();
    return readBoundedImage(output, kMaxCachedSidePixels);
}

} // namespace vennimo
