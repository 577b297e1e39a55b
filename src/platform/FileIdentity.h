#pragma once

#include "platform/Result.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace vennimo {

enum class FileType { Regular, Directory, SymbolicLink, Other };

// What the system needs to know to tell one file from another: read with statx, without
// following a symbolic link at the path itself.
struct FileIdentity {
    std::uint64_t fileSystemNumber = 0; // st_dev as one decimal number
    std::uint64_t fileNumber = 0;       // st_ino
    FileType type = FileType::Other;
    std::int64_t size = 0;
    double modified = 0;           // seconds since 2001, nanosecond source
    std::optional<double> created; // birth time; absent when unknown or reported as 0
    std::uint32_t mode = 0;

    bool isRegularFile() const { return type == FileType::Regular; }
    // "<file-system number>-<file number>", the photo id form.
    QString idString() const;
    bool operator==(const FileIdentity&) const = default;

    static Result<FileIdentity> read(const QString& path);
    // Follows a symbolic link at the path.
    static Result<FileIdentity> readFollowingLinks(const QString& path);
    static Result<FileIdentity> readFd(int fd);
    // An entry of an open folder, without following a link; saves the path walk in scans.
    static Result<FileIdentity> readAt(int dirfd, const QByteArray& name, const QString& displayPath);
};

} // namespace vennimo
