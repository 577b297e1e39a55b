#pragma once

#include <QList>
#include <QSize>
#include <QString>

#include <functional>
#include <utility>

namespace vennimo {

// The picture sizes read in earlier runs, kept in the storage folder so that a start lays its
// prints out in their real shapes without reading a header first. Only a cache: a file that is
// missing or damaged is taken as empty, and the next save replaces it; a damaged one is kept
// beside it first, as "picture-sizes.json.corrupt", and so is anything but a regular file of at
// most kMaxFileBytes under that name, which is never opened.
class PhotoSizeFile {
public:
    static constexpr auto kFileName = "picture-sizes.json";
    static constexpr int kMaxEntries = 20'000;
    // Room for kMaxEntries entries of long paths; anything larger was not written by us.
    static constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;
    // The longest side a photo's header can state that the decoders take: JPEG's 65,500, and the
    // 16 bits GIF and WebP have. A longer PNG, rare as it is, is read from its header again.
    static constexpr int kMaxSide = 65'535;

    using Entry = std::pair<QString, QSize>;
    // Asked now and then while a load or a save runs; true gives it up.
    using Stop = std::function<bool()>;

    // The entries of the file in the folder, the most recent first; empty when there is none or
    // it cannot be trusted. Entries beyond kMaxEntries, ill-formed ones and sizes no decoder
    // would give are left out.
    static QList<Entry> load(const QString& folder, const Stop& stop = {});
    // Replaces the file atomically with at most kMaxEntries of the entries, the first ones kept;
    // false when it failed or was stopped before the file was replaced.
    static bool save(const QString& folder, const QList<Entry>& entries, const Stop& stop = {});
    // Whether a decoder could give the size: both sides at least 1 and at most kMaxSide, and no
    // more pixels than the decoders take.
    static bool plausible(QSize size);
};

} // namespace vennimo
