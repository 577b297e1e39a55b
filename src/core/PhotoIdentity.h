#pragma once

#include "core/Photo.h"
#include "platform/Result.h"

namespace vennimo {

inline constexpr auto kTrashErrorDomain = "Vennimo.Trash";
inline constexpr int kReplacedOriginalCode = 2;

// The identity strings a file at a path has now: the photo id ("<file-system number>-<file
// number>") and the usage identity ("<volume UUID>-<file number>", or the photo id when the
// volume has no UUID).
struct CurrentIdentity {
    QString id;
    QString usageID;
    std::optional<double> created;
    bool isRegularFile = false;
};
Result<CurrentIdentity> currentIdentity(const QString& path);

// Fails unless the photo's path still holds a regular file with the photo's identity and file
// birth: with the file system's error when the path cannot be read, otherwise with
// "Vennimo.Trash" code 2.
Status validateOriginalIdentity(const Photo& photo);
bool originalIdentityMatches(const Photo& photo);

Error replacedOriginalError();

} // namespace vennimo
