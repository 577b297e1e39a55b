#pragma once

#include "core/Photo.h"

#include <QByteArray>

namespace vennimo {

// The bytes of "index.json": the Library's JSON (as toJson gives it) compact with sorted keys,
// written directly. A library of ten thousand photos is saved after every change, and going
// through QJsonObject doubled the cost of a scan.
QByteArray encodeLibrary(const Library& library);

} // namespace vennimo
