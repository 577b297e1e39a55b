#include "model/PhotoClipboard.h"

#include "core/PhotoIdentity.h"
#include "model/ImageClipboardData.h"
#include "model/ImageClipboardLifetime.h"
#include "platform/FileIdentity.h"
#include "platform/WorkQueue.h"
#include "platform/X11Connection.h"
#include "platform/X11Selection.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QSet>
#include <QUrl>

namespace vennimo {

namespace {

bool copyable(const Photo& photo) {
    return originalIdentityMatches(photo) && QFileInfo(photo.path).isReadable();
}

// One photo's image at a time: a newer copy's waits behind an older one still being made.
WorkQueue& imageQueue() {
    static WorkQueue queue(QStringLiteral("local.vennimo.clipboard-image"));
    return queue;
}

// Hands the content to the clipboard, which owns it from here on.
void write(std::unique_ptr<QMimeData> data, QClipboard::Mode mode) {
    QGuiApplication::clipboard()->setMimeData(data.release(), mode);
    ImageClipboardLifetime::noteWrite();
}

} // namespace

QList<Photo> PhotoClipboard::copyPhotos(const QList<Photo>& photos, QClipboard::Mode mode) {
    QList<Photo> chosen;
    QSet<QString> seen;
    for (const Photo& photo : photos) {
        if (seen.contains(photo.id))
            continue;
        seen.insert(photo.id);
        if (copyable(photo))
            chosen.append(photo);
    }
    if (chosen.isEmpty())
        return {};
    if (chosen.size() == 1)
        return copyPhoto(chosen.first(), mode) ? chosen : QList<Photo>();

    QList<QUrl> urls;
    for (const Photo& photo : chosen)
        urls.append(QUrl::fromLocalFile(photo.path));
    auto data = std::make_unique<QMimeData>();
    setCopiedFileUrls(*data, urls);
    write(std::move(data), mode);
    return chosen;
}

bool PhotoClipboard::copyPhoto(const Photo& photo, QClipboard::Mode mode) {
    std::optional<QByteArray> source = immutableCopySource(photo);
    if (!source) {
        // A file too large to hold in memory still goes on as its URL.
        const auto file = FileIdentity::read(photo.path);
        if (!file || file->size <= kMaxImageSourceBytes || !originalIdentityMatches(photo))
            return false;
    }
    auto data = std::make_unique<ImageClipboardData>(QUrl::fromLocalFile(photo.path), std::move(source));
    // Begun now, while the user switches to where the photo goes, so the paste finds it (nearly) done.
    data->renderAhead(imageQueue());
    write(std::move(data), mode);
    if (mode == QClipboard::Clipboard)
        ImageClipboardLifetime::setGeneralChangeCount(ImageClipboardLifetime::writeCount());
    return true;
}

std::optional<QByteArray> PhotoClipboard::immutableCopySource(const Photo& photo, qint64 maxBytes) {
    if (!validateOriginalIdentity(photo))
        return std::nullopt;
    const auto before = FileIdentity::readFollowingLinks(photo.path);
    if (!before || before->size > maxBytes)
        return std::nullopt;
    QFile file(photo.path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return std::nullopt;
    // One byte past the size seen first shows a file that grew meanwhile.
    QByteArray bytes = file.read(before->size + 1);
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;
    file.close();
    if (!validateOriginalIdentity(photo))
        return std::nullopt;
    const auto after = FileIdentity::readFollowingLinks(photo.path);
    if (!after || after->size != before->size || after->modified != before->modified ||
        after->size != bytes.size())
        return std::nullopt;
    return bytes;
}

bool PhotoClipboard::handOverBeforeQuit() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    if (!ImageClipboardLifetime::lastWriteWasSinglePhoto() || !clipboard->ownsClipboard())
        return false;
    // Only a clipboard manager keeps the content once we are gone. Without one nobody could read
    // what the hand-over made, and the quit would wait seconds for a large photo's PNG.
    if (X11Connection::get() != nullptr && !X11Selection::owner("CLIPBOARD_MANAGER"))
        return false;
    const auto* ours = qobject_cast<const ImageClipboardData*>(clipboard->mimeData(QClipboard::Clipboard));
    if (ours == nullptr)
        return false;
    write(ours->materialized(), QClipboard::Clipboard);
    return true;
}

} // namespace vennimo
