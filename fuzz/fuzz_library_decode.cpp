#include "FuzzSupport.h"

#include "core/LibraryDecoding.h"
#include "platform/JsonFile.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// The fast reader of "index.json" may refuse anything, but what it reads must be what the strict
// reader reads.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vennimo::fuzz::initialize();
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto fast = vennimo::decodeLibrary(input);
    if (!fast)
        return 0;
    const auto object = vennimo::JsonFile::parse(input);
    if (!object)
        std::abort();
    const auto strict = vennimo::libraryFromJson(*object);
    if (!strict || strict.value() != *fast)
        std::abort();
    return 0;
}
