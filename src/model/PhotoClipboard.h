#pragma once

#include "core/Photo.h"

#include <QByteArray>
#include <QClipboard>
#include <QList>

#include <optional>

namespace vennimo {

// Puts original photo files on the clipboard: several as file URLs, one as its file URL plus
// its image, which is made from the file's bytes as they were at copy time. The content is
// built whole before the clipboard is touched, so a copy that fails leaves the user's
// clipboard as it was. Main thread only.
class PhotoClipboard {
public:
    PhotoClipboard() = delete;

    // Bytes beyond which a single photo goes on as its file URL only, without image data.
    static constexpr qint64 kMaxImageSourceBytes = 268'435'456;

    // The distinct photos (first of each id) whose files are still theirs and readable; answers
    // those written, nothing when nothing was.
    static QList<Photo> copyPhotos(const QList<Photo>& photos, QClipboard::Mode mode = QClipboard::Clipboard);
    static bool copyPhoto(const Photo& photo, QClipboard::Mode mode = QClipboard::Clipboard);
    // The file's whole content, only when nothing changed the file while it was read; nothing
    // for a file larger than `maxBytes`.
    static std::optional<QByteArray> immutableCopySource(const Photo& photo,
                                                         qint64 maxBytes = kMaxImageSourceBytes);
    // At quit: when the clipboard still holds our last single-photo copy, replaces it by the
    // same content with the image already made, for a clipboard manager to keep once the
    // process is gone. Answers whether it did.
    static bool handOverBeforeQuit();
};

} // namespace vennimo
