#include "model/ImageClipboardLifetime.h"

namespace vennimo {

namespace {

quint64 g_writes = 0;
std::optional<quint64> g_generalChangeCount;

} // namespace

quint64 ImageClipboardLifetime::noteWrite() {
    return ++g_writes;
}

quint64 ImageClipboardLifetime::writeCount() {
    return g_writes;
}

std::optional<quint64> ImageClipboardLifetime::generalChangeCount() {
    return g_generalChangeCount;
}

void ImageClipboardLifetime::setGeneralChangeCount(quint64 count) {
    g_generalChangeCount = count;
}

bool ImageClipboardLifetime::lastWriteWasSinglePhoto() {
    return g_generalChangeCount && *g_generalChangeCount == g_writes;
}

} // namespace vennimo
