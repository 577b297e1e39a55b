#include "platform/FileNames.h"

#include <QFile>
#include <QStringDecoder>

#include <algorithm>

namespace vennimo {

std::optional<QString> decodeFileName(const QByteArray& bytes) {
    if (std::all_of(bytes.cbegin(), bytes.cend(), [](char c) { return static_cast<uchar>(c) < 0x80; }))
        return QString::fromLatin1(bytes);
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringConverter::Flag::Stateless | QStringConverter::Flag::ConvertInitialBom);
    QString name = decoder.decode(bytes);
    // The decoder replaces what is not UTF-8 (and encoded surrogates) by U+FFFD, which encodes
    // to other bytes: such a name cannot be opened under any text path.
    if (decoder.hasError() || QFile::encodeName(name) != bytes)
        return std::nullopt;
    return name;
}

} // namespace vennimo
