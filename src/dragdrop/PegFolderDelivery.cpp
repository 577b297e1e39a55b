#include "dragdrop/PegFolderDelivery.h"

#include "core/PathRules.h"
#include "dragdrop/PegFolderMove.h"
#include "platform/FileMove.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

namespace vennimo {

namespace {

constexpr auto kRefusedFolder = "不能移动到这个位置。";

} // namespace

PegFolderDelivery::PegFolderDelivery(QList<Photo> photos, QString storageFolder, Mover mover)
    : m_photos(std::move(photos))
    , m_storageFolder(std::move(storageFolder))
    , m_mover(std::move(mover)) {}

std::optional<QString> PegFolderDelivery::destinationFolder(const QByteArray& raw,
                                                            const QString& storageFolder) {
    const auto destination = openDestination(raw, storageFolder);
    return destination ? std::optional(destination->path) : std::nullopt;
}

std::optional<PegFolderDelivery::Destination>
PegFolderDelivery::openDestination(const QByteArray& raw, const QString& storageFolder) {
    QByteArray uri = raw;
    // Some targets write the terminating NUL of a C string too.
    while (uri.endsWith('\0'))
        uri.chop(1);
    if (uri.isEmpty() || uri.size() > kMaxUriBytes || uri.contains('\0'))
        return std::nullopt;
    const QUrl url = QUrl::fromEncoded(uri, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != QLatin1String("file") || url.hasQuery() || url.hasFragment())
        return std::nullopt;
    const QString host = url.host();
    if (!host.isEmpty() && host != QLatin1String("localhost"))
        return std::nullopt;
    const QString path = url.path(QUrl::FullyDecoded);
    if (!path.startsWith(QLatin1Char('/')) || path.contains(QChar(0)))
        return std::nullopt;
    for (const QString& segment : path.split(QLatin1Char('/')))
        if (segment == QLatin1String("..") || segment == QLatin1String("."))
            return std::nullopt;
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (canonical.isEmpty())
        return std::nullopt;
    const auto opened = FileMove::openFolder(canonical);
    if (!opened)
        return std::nullopt;
    auto descriptor = std::make_shared<FileDescriptor>(*opened);
    // Where the descriptor really is, not where the path pointed a moment before.
    QString folder = QFileInfo(QStringLiteral("/proc/self/fd/%1").arg(*opened)).symLinkTarget();
    if (folder.isEmpty()) {
        // Without /proc the path must at least still name what was opened.
        struct stat held {};
        struct stat named {};
        if (::fstat(descriptor->get(), &held) == 0 &&
            ::stat(QFile::encodeName(canonical).constData(), &named) == 0 && held.st_dev == named.st_dev &&
            held.st_ino == named.st_ino)
            folder = canonical;
    }
    if (folder.isEmpty() || folder != canonical)
        return std::nullopt;
    const QString storage = QFileInfo(storageFolder).canonicalFilePath();
    if (!storage.isEmpty() && pathIsWithin(folder, storage))
        return std::nullopt;
    return Destination{folder, std::move(descriptor)};
}

bool PegFolderDelivery::isTrashDestination(const QByteArray& raw) {
    QByteArray uri = raw;
    while (uri.endsWith('\0'))
        uri.chop(1);
    if (uri.isEmpty() || uri.size() > kMaxUriBytes)
        return false;
    const QUrl url = QUrl::fromEncoded(uri);
    if (url.scheme() == QLatin1String("trash"))
        return true;
    if (!url.isLocalFile())
        return false;
    // A folder, or a file still to come in the folder that holds it.
    const QFileInfo info(url.toLocalFile());
    const QString path = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    QString folder = QFileInfo(path).canonicalFilePath();
    if (folder.isEmpty())
        folder = path;
    const QString home = QFileInfo(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
                                   QStringLiteral("/Trash"))
                             .canonicalFilePath();
    if (!home.isEmpty() && pathIsWithin(folder, home))
        return true;
    const QString uid = QString::number(::getuid());
    const QStringList segments = folder.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < segments.size(); ++i)
        if (segments[i] == QStringLiteral(".Trash-") + uid ||
            (segments[i] == QLatin1String(".Trash") && segments.value(i + 1) == uid))
            return true;
    return false;
}

std::optional<QStringList> PegFolderDelivery::deliver(const Destination& folder) {
    if (m_result)
        return PegFolderMove::sameDirectory(m_result->folder, folder.path) ? std::optional(m_result->names)
                                                                           : std::nullopt;
    if (m_cancelled || !m_mover || !folder.descriptor)
        return std::nullopt;
    const std::optional<QStringList> names = m_mover(m_photos, folder.path, folder.descriptor->get());
    if (!names || names->size() != m_photos.size())
        return std::nullopt;
    m_result = Result{folder.path, *names};
    return names;
}

QByteArray PegFolderDelivery::answer(const QByteArray& uri) {
    if (isTrashDestination(uri)) {
        // Dropped on the Trash: the photos go there as the application trashes them, after the
        // user confirms, once for the whole drop.
        m_lastError.clear();
        if (!m_cancelled && !m_result && !m_trashAsked && m_trasher) {
            m_trashAsked = true;
            m_trasher(m_photos);
        }
        return QByteArrayLiteral("E");
    }
    const std::optional<Destination> folder = openDestination(uri, m_storageFolder);
    if (!folder) {
        m_lastError = QString::fromUtf8(kRefusedFolder);
        return QByteArrayLiteral("E");
    }
    if (!deliver(*folder)) {
        // The model publishes its own reason; a cancelled drag has none to give.
        m_lastError = m_cancelled ? QString() : QString::fromUtf8(kRefusedFolder);
        return QByteArrayLiteral("E");
    }
    m_lastError.clear();
    return QByteArrayLiteral("S");
}

} // namespace vennimo
