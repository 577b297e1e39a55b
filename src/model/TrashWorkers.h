#pragma once

#include "core/Photo.h"
#include "platform/Error.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

namespace vennimo {

inline constexpr int kUnconfirmedTrashCode = 3;

// Photos moved (as passed in) and failure texts by photo id: what every delete worker reports.
using TrashCompletion =
    std::function<void(const QList<Photo>& succeeded, const QHash<QString, QString>& failed)>;
// Standardized file path to the file's path in the Trash.
using TrashedHandler = std::function<void(const QHash<QString, QString>& trashed)>;
// Moves files to the Trash together; reports the files it moved (original path to path in the
// Trash) and, by original path, the error that stopped each of the others when it gave one.
using FileRecycler = std::function<void(
    const QStringList& paths,
    std::function<void(const QHash<QString, QString>& moved, const QHash<QString, Error>& errors)> done)>;
// Deletes Photos-library assets and reports a trash result.
using AssetDeleter = std::function<void(const QList<Photo>& photos, TrashCompletion completion)>;

// The desktop's Trash, one file after the other.
FileRecycler freedesktopRecycler();
// A path made absolute and clean, symbolic links left as they are.
QString standardizedPath(const QString& path);
// "<name>：<description>", the failure reason and recovery suggestion when they add something,
// and "（<domain> <code>）".
QString trashFailure(const Photo& photo, const Error& error);
// The workspace moved some files but not this one, without saying why.
Error unconfirmedTrashError();

// Moves plain photo files to the Trash, once per record key, after checking that each path still
// holds the photo's file. `trashed` gets the Trash locations before `completion`, and only when
// some file was handed to the recycler. Reports on the recycler's thread.
void recycleFilePhotos(const QList<Photo>& photos, const FileRecycler& recycler,
                       const TrashedHandler& trashed, const TrashCompletion& completion);
// Deletes Photos-library assets through `deleteAssets` first, then moves the plain files; one
// completion with both results merged.
void recyclePhotos(const QList<Photo>& photos, const FileRecycler& recycler, const AssetDeleter& deleteAssets,
                   const TrashedHandler& trashed, const TrashCompletion& completion);

} // namespace vennimo
