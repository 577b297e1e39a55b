#pragma once

#include <QList>
#include <QSize>
#include <QString>

#include <utility>

namespace vennimo {

// The picture sizes read in earlier runs, kept in the storage folder so that a start lays its
// prints out in their real shapes without reading a header first. Only a cache: a file that is
// missing, too large or damaged is taken as empty, and the next save replaces it; a damaged one is
// kept beside it first, as "picture-sizes.json.corrupt".
class PhotoSizeFile {
public:
    static constexpr auto kFileName = "picture-sizes.json";
    static constexpr int kMaxEntries = 20'000;
    // Room for kMaxEntries entries of long paths; anything larger was not written by us.
    static constexpr qint64 kMaxFileBytes = 16 * 1024 * 1024;
    // The largest side a picture header can state that the decoder would take.
    static constexpr int kMaxSide = 1 << 20;

    using Entry = std::pair<QString, QSize>;

    // The entries of the file in the folder, the most recent first; empty when there is none or
    // it cannot be trusted. Entries beyond kMaxEntries and ill-formed ones are left out.
    static QList<Entry> load(const QString& folder);
    // Replaces the file atomically with at most kMaxEntries of the entries, the first ones kept.
    static bool save(const QString& folder, const QList<Entry>& entries);
};

} // namespace vennimo
