#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace vennimo {

// The name of a directory entry as text that QFile::encodeName turns back into the same bytes,
// so that the path built from it opens the entry again. Nothing when there is no such text: the
// bytes are not UTF-8 (names written by old programs in a legacy encoding). A leading U+FEFF is
// part of the name here, not a byte-order mark to drop.
std::optional<QString> decodeFileName(const QByteArray& bytes);
inline std::optional<QString> decodeFileName(const char* name) {
    return decodeFileName(QByteArray::fromRawData(name, static_cast<qsizetype>(qstrlen(name))));
}

} // namespace vennimo
