#pragma once

#include "core/Photo.h"

#include <QByteArray>

#include <optional>

namespace vennimo {

// Reads "index.json" as encodeLibrary writes it (its keys in their order, no white space) without
// building a QJsonDocument, which costs half a second for a library of a hundred thousand photos.
// Nothing for any other text, valid or not: the caller then takes the strict reader, which has the
// last word on what the file holds. What this answers is what the strict reader gives.
std::optional<Library> decodeLibrary(const QByteArray& bytes);

} // namespace vennimo
