#include "FuzzSupport.h"

#include "core/LibraryDecoding.h"
#include "core/UsageRecord.h"
#include "platform/JsonFile.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>
#include <cstdlib>

// The fast readers of "index.json" and of the usage files may refuse anything, but what they read
// must be what the strict readers read.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vennimo::fuzz::initialize();
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto fast = vennimo::decodeLibrary(input);
    const auto usage = vennimo::decodeUsageState(input);
    if (!fast && !usage)
        return 0;
    const auto object = vennimo::JsonFile::parse(input);
    if (!object)
        std::abort();
    if (fast) {
        const auto strict = vennimo::libraryFromJson(*object);
        if (!strict || strict.value() != *fast)
            std::abort();
    }
    if (usage) {
        const auto strict = vennimo::usageStateFromJson(*object);
        if (!strict || strict.value() != *usage)
            std::abort();
    }
    return 0;
}
