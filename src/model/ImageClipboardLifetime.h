#pragma once

#include <QtGlobal>

#include <optional>

namespace vennimo {

// What the clipboard holds of ours. X11 has no change count that every writer moves, so the
// process counts its own photo writes; whether the clipboard is still ours at all the clipboard
// itself answers (QClipboard::ownsClipboard). Main thread only.
class ImageClipboardLifetime {
public:
    ImageClipboardLifetime() = delete;

    // Counts one write to a clipboard; answers the count after it.
    static quint64 noteWrite();
    static quint64 writeCount();
    // The count right after the last single-photo copy to the clipboard (not the selection).
    static std::optional<quint64> generalChangeCount();
    static void setGeneralChangeCount(quint64 count);
    // The last write to the clipboard was a single-photo copy, whose image is made on demand.
    static bool lastWriteWasSinglePhoto();
};

} // namespace vennimo
