#include "FuzzSupport.h"

#include "dragdrop/ExternalImageDrop.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vennimo::fuzz::initialize();
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    (void)vennimo::ExternalImageDrop::decodeDataUrl("data:image/png;base64," + input);
    (void)vennimo::ExternalImageDrop::decodeDataUrl(input);
    return 0;
}
