#pragma once

#include "core/Photo.h"
#include "platform/Result.h"

#include <QString>

namespace vennimo {

// Moves the original file of a print lifted by its peg into a folder the user dropped it on.
class PegFolderMove {
public:
    PegFolderMove() = delete;

    // "a.jpg", then "a 2.jpg" up to "a 10000.jpg".
    static constexpr int kMaxNameAttempts = 10000;
    static constexpr auto kLibraryFileRefused = "不能移动照片图库内部文件，请先从照片 App 导出图片。";
    static constexpr auto kTooManyNames = "目标文件夹中同名文件过多。";

    // Moves the photo's file into `directory` under its own name or the first free numbered one,
    // never replacing a file there (across file systems it is copied, then removed). Answers the
    // path the file lies at now; a file already in that folder stays and answers its own path.
    static Result<QString> move(const Photo& photo, const QString& directory);
    // The same into a folder opened once (at `directory` when it was opened): every move goes
    // through the descriptor, whatever is put at the folder's path meanwhile.
    static Result<QString> move(const Photo& photo, int folder, const QString& directory);
    // The same folder: equal once links are resolved, or one file-system object under two paths.
    static bool sameDirectory(const QString& first, const QString& second);
    // The name of attempt `attempt` (0 based) for a file called `name`.
    static QString candidateName(const QString& name, int attempt);
};

} // namespace vennimo
