#include "FuzzSupport.h"

#include "dragdrop/ExternalImageDrop.h"

#include <QByteArray>
#include <QFile>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vennimo::fuzz::initialize();
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    if (!vennimo::fuzz::withinCostBound(input))
        return 0;
    auto saved = vennimo::ExternalImageDrop::save(input, vennimo::fuzz::storage());
    // Keep the folder small: every accepted input is a new file.
    if (saved.ok())
        QFile::remove(*saved);
    return 0;
}
