#include "platform/AllocatorPolicy.h"

#include <malloc.h>

namespace vennimo {

void AllocatorPolicy::apply() {
    // Print bitmaps and thumbnails are a few hundred kilobytes each and made on several worker
    // threads. Left to itself, the allocator raises its mapping threshold past that size after the
    // first large free, and the freed bitmaps then stay in per-thread heaps: the process keeps tens
    // of megabytes it no longer uses after a burst of arrivals. Mapped, they go back when freed.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
}

} // namespace vennimo
