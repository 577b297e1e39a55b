#include "core/PhotoIdentity.h"
#include "model/GalleryModel.h"
#include "model/PhotoClipboard.h"

#include <QDir>
#include <QFileInfo>

namespace vennimo {

namespace {

constexpr auto kNothingCopied = "未能复制：原图已移动或无法访问。";
constexpr auto kPhotoNotCopied = "无法复制：原图已移动、被替换或暂时不可用。";

} // namespace

QString GalleryModel::copyPathKey(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? QDir::cleanPath(QDir(path).absolutePath()) : canonical;
}

QList<CopyUndoRecord> GalleryModel::copyUndoRecords(const QList<Photo>& sources, const QStringList& paths,
                                                    const QList<QByteArray>& digests,
                                                    const QHash<QString, Photo>& byPath) {
    if (sources.size() != paths.size() || sources.size() != digests.size())
        return {};
    QList<CopyUndoRecord> records;
    for (qsizetype i = 0; i < sources.size(); ++i) {
        const auto found = byPath.constFind(copyPathKey(paths[i]));
        // All or nothing: an undo that forgot one copy would leave it on the rope for good.
        if (found == byPath.cend())
            return {};
        records.append({.source = sources[i], .photo = *found, .digest = digests[i], .recycled = false});
    }
    return records;
}

std::optional<GalleryModel::ReplayedCopies>
GalleryModel::replayedCopyRecords(const QList<CopyUndoRecord>& records,
                                  const QList<CopyUndoRecord>& created) {
    QList<CopyUndoRecord> remaining = created;
    ReplayedCopies replayed;
    for (const CopyUndoRecord& record : records) {
        if (!record.recycled) {
            replayed.records.append(record);
            continue;
        }
        const auto match =
            std::find_if(remaining.begin(), remaining.end(), [&record](const CopyUndoRecord& made) {
                return isSamePhoto(made.source, record.source);
            });
        if (match == remaining.end())
            return std::nullopt;
        replayed.replacements.append({.oldPhoto = record.photo, .newPhoto = match->photo});
        replayed.records.append(*match);
        remaining.erase(match);
    }
    if (!remaining.isEmpty())
        return std::nullopt;
    return replayed;
}

bool GalleryModel::copySelection(QClipboard::Mode mode) {
    if (isBusy())
        return false;
    const QList<Photo> selected = selectedPhotos();
    QList<Photo> candidates;
    for (const Photo& photo : selected) {
        if (!m_exhibition->contains(photo) || originalIdentityMatches(photo))
            candidates.append(photo);
    }
    const QList<Photo> written = PhotoClipboard::copyPhotos(candidates, mode);
    if (written.isEmpty()) {
        publish(m_actionError, std::optional<QString>(QString::fromUtf8(kNothingCopied)),
                &GalleryModel::actionErrorChanged);
        return false;
    }
    for (const Photo& photo : written)
        m_usedCopyIDs.insert(photo.recordKey());
    acknowledge(written);
    publish(m_copiedCount, int(written.size()), &GalleryModel::copiedCountChanged);
    std::optional<QString> error;
    if (written.size() < selected.size())
        error = QStringLiteral("已复制 %1 张，%2 张无法访问。")
                    .arg(written.size())
                    .arg(selected.size() - written.size());
    publish(m_actionError, std::move(error), &GalleryModel::actionErrorChanged);
    return true;
}

bool GalleryModel::copy(const Photo& photo, QClipboard::Mode mode) {
    if (isBusy())
        return false;
    if (!PhotoClipboard::copyPhoto(photo, mode)) {
        publish(m_actionError, std::optional<QString>(QString::fromUtf8(kPhotoNotCopied)),
                &GalleryModel::actionErrorChanged);
        return false;
    }
    markExported(photo);
    publish(m_actionError, std::optional<QString>(), &GalleryModel::actionErrorChanged);
    return true;
}

} // namespace vennimo
