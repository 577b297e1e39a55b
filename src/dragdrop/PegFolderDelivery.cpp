#include "dragdrop/PegFolderDelivery.h"

#include "core/PathRules.h"
#include "dragdrop/PegFolderMove.h"
#include "platform/FileMove.h"
#include "platform/FreedesktopTrash.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <sys/stat.h>
#include <unistd.h>

namespace vennimo {

namespace {

constexpr auto kRefusedFolder = "不能移动到这个位置。";

using Judgement = PegFolderDelivery::Judgement;
using DestinationKind = PegFolderDelivery::DestinationKind;

bool isLink(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 && S_ISLNK(st.st_mode);
}

// A volume's Trash is "<top>/.Trash-<uid>" or "<top>/.Trash/<uid>" and nothing below the top
// is; that one is held to the checks a delete makes of it. The same names anywhere else are
// any folder's, but a link so named stands where someone could have planted it for us to
// mistake it for a Trash, or for our own folder.
Judgement judgePath(const QString& path) {
    const QString uid = QString::number(::getuid());
    const QString ownName = QStringLiteral(".Trash-") + uid;
    const QStringList segments = path.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString parent; // empty for the root
    for (qsizetype i = 0; i < segments.size(); ++i) {
        const QString here = parent + QLatin1Char('/') + segments[i];
        const bool own = segments[i] == ownName;
        const bool shared = segments[i] == QLatin1String(".Trash") && segments.value(i + 1) == uid;
        if (own || shared) {
            if (FreedesktopTrash::isVolumeTop(parent.isEmpty() ? QStringLiteral("/") : parent)) {
                const Status usable = FreedesktopTrash::checkVolumeTrash(
                    parent, shared ? FreedesktopTrash::VolumeTrashKind::shared
                                   : FreedesktopTrash::VolumeTrashKind::own);
                if (!usable)
                    return {DestinationKind::refused, usable.error().message};
                return {DestinationKind::trash, {}};
            }
            if (isLink(here) || (shared && isLink(here + QLatin1Char('/') + uid)))
                return {DestinationKind::refused, QString::fromUtf8(kRefusedFolder)};
        }
        parent = here;
    }
    return {};
}

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

PegFolderDelivery::Judgement PegFolderDelivery::judgeDestination(const QByteArray& raw) {
    QByteArray uri = raw;
    while (uri.endsWith('\0'))
        uri.chop(1);
    if (uri.isEmpty() || uri.size() > kMaxUriBytes)
        return {};
    const QUrl url = QUrl::fromEncoded(uri);
    if (url.scheme() == QLatin1String("trash"))
        return {DestinationKind::trash, {}};
    if (!url.isLocalFile())
        return {};
    // Judged as named; the folder check refuses what this cannot read that way.
    const QString path = url.toLocalFile();
    if (!path.startsWith(QLatin1Char('/')))
        return {};
    for (const QString& segment : path.split(QLatin1Char('/')))
        if (segment == QLatin1String("..") || segment == QLatin1String("."))
            return {};
    if (const Judgement named = judgePath(path); named.kind != DestinationKind::folder)
        return named;
    // The home Trash is the user's own, however it is reached.
    const QString home = QDir::cleanPath(FreedesktopTrash::homeTrash());
    const QString canonicalHome = QFileInfo(home).canonicalFilePath();
    const QString canonical = QFileInfo(path).canonicalFilePath();
    if (pathIsWithin(QDir::cleanPath(path), home) ||
        (!canonicalHome.isEmpty() && !canonical.isEmpty() && pathIsWithin(canonical, canonicalHome)))
        return {DestinationKind::trash, {}};
    // Reached through links of other names, a volume's Trash is still one.
    if (!canonical.isEmpty() && canonical != QDir::cleanPath(path))
        return judgePath(canonical);
    return {};
}

std::optional<QStringList> PegFolderDelivery::deliver(const Destination& folder) {
    if (m_result)
        return PegFolderMove::sameDirectory(m_result->folder, folder.path) ? std::optional(m_result->names)
                                                                           : std::nullopt;
    if (m_cancelled || m_trashAsked || !m_mover || !folder.descriptor)
        return std::nullopt;
    const std::optional<QStringList> names = m_mover(m_photos, folder.path, folder.descriptor->get());
    if (!names || names->size() != m_photos.size())
        return std::nullopt;
    m_result = Result{folder.path, *names};
    return names;
}

QByteArray PegFolderDelivery::answer(const QByteArray& uri) {
    const Judgement judged = judgeDestination(uri);
    if (judged.kind == DestinationKind::trash) {
        // Dropped on the Trash: the photos go there as the application trashes them, after the
        // user confirms, once for the whole drop.
        m_lastError.clear();
        if (!m_cancelled && !m_result && !m_trashAsked && m_trasher) {
            m_trashAsked = true;
            m_trasher(m_photos);
        }
        return QByteArrayLiteral("E");
    }
    if (m_trashAsked) {
        // The drop went to the Trash already: a folder asked by another of its items would move
        // the photos away from under the confirmation, which speaks for the whole drop.
        m_lastError.clear();
        return QByteArrayLiteral("E");
    }
    if (judged.kind == DestinationKind::refused) {
        m_lastError = judged.error;
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
