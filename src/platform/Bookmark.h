#pragma once

#include "platform/Result.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <optional>

namespace vennimo {

inline constexpr auto kBookmarkErrorDomain = "Vennimo.Bookmark";

// Where a bookmark led: the path of the file now and whether it had to be found somewhere other
// than the recorded path.
struct ResolvedBookmark {
    QString path{};
    bool stale = false;

    bool operator==(const ResolvedBookmark&) const = default;
};

// A durable reference to one file: bytes holding its path and identity (device, file number,
// volume UUID, birth). Resolving answers the path when it still holds that file; otherwise the
// file is looked for by its file number in the folder it was last seen in, so a rename in place
// is followed. Access scopes are kept balanced by callers although Linux needs none.
class Bookmark {
public:
    // Bookmarks are small; anything larger is not one of ours.
    static constexpr qsizetype kMaxBytes = 64 * 1024;
    // A folder with more entries than this is not searched for a renamed file.
    static constexpr int kMaxFolderEntries = 200'000;
    // Folder entries one resolution reads in all, however many bookmarks it resolves.
    static constexpr qint64 kMaxSearchEntries = 500'000;

    static Result<QByteArray> create(const QString& path);
    static Result<ResolvedBookmark> resolve(const QByteArray& bytes);
    // Each bookmark as resolve() would answer it, in the given order, with each folder searched
    // once for all the bookmarks last seen in it and at most `searchBudget` entries read in all;
    // a bookmark whose search the budget cut short is missing.
    static QList<Result<ResolvedBookmark>> resolveAll(const QList<QByteArray>& bookmarks,
                                                      qint64 searchBudget = kMaxSearchEntries);
    // The recorded path without touching the disk; nothing when the bytes are not a bookmark.
    static std::optional<QString> recordedPath(const QByteArray& bytes);

    static bool startAccessing(const QString& path);
    static void stopAccessing(const QString& path);
    // Scopes started and not yet stopped in this process, for checks of the balance.
    static int openAccessCount();
};

} // namespace vennimo
