#pragma once

#include "platform/Result.h"

#include <QString>

namespace vennimo {

inline constexpr auto kTrashInfoSuffix = ".trashinfo";

// The desktop's Trash as the freedesktop Trash standard lays it out: "files" and "info" below
// $XDG_DATA_HOME/Trash (or a volume's own Trash folder).
class FreedesktopTrash {
public:
    // Moves the file to the Trash and answers its absolute path there: the home Trash for files
    // on its file system, else the volume's (volumeTrash). Never replaces a trashed file; a name
    // too long to carry its description beside it is shortened, its extension kept.
    static Result<QString> moveToTrash(const QString& path);
    // The Trash folder for files of the volume whose top folder is `top`: "$top/.Trash/<uid>"
    // when "$top/.Trash" is a real folder with the sticky bit, else "$top/.Trash-<uid>", made
    // when missing; refused when the one chosen is not a real folder of this user alone (0700).
    static Result<QString> volumeTrash(const QString& top);
    // The same checks, on one of a volume's two Trash folders as it stands (never made): the
    // shared "$top/.Trash/<uid>" or the user's own "$top/.Trash-<uid>".
    enum class VolumeTrashKind { shared, own };
    static Status checkVolumeTrash(const QString& top, VolumeTrashKind kind);
    // "$XDG_DATA_HOME/Trash", the Trash of files on the file system of the user's data.
    static QString homeTrash();
    // Whether a folder, its links resolved, is the top folder of a mounted file system.
    static bool isVolumeTop(const QString& folder);
    // Puts a trashed file back at `target` without ever replacing a file there, then removes its
    // ".trashinfo" so the desktop no longer offers it.
    static Status restore(const QString& trashedPath, const QString& target);
    // The ".trashinfo" that describes a file of a Trash's "files" folder.
    static QString infoPath(const QString& trashedPath);
};

} // namespace vennimo
