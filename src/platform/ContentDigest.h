#pragma once

#include "platform/Result.h"

#include <QByteArrayView>
#include <QString>

namespace vennimo {

// SHA-256 of file contents and image bytes, as lower-case hex. Goes through libcrypto, which uses
// the processor's SHA instructions: several times the rate of a portable implementation, and
// imports, copies and returns across volumes hash whole files.
class ContentDigest {
public:
    ContentDigest() = delete;

    static constexpr qint64 kReadChunkBytes = 1'048'576;

    static QString sha256Hex(QByteArrayView bytes);
    // The digest of the file's whole content, read through one descriptor.
    static Result<QString> sha256HexOfFile(const QString& path);
};

} // namespace vennimo
