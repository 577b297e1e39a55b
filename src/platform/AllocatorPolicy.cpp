#include "platform/AllocatorPolicy.h"

#include <malloc.h>

namespace vennimo {

void AllocatorPolicy::apply() {
    // Print bitmaps and thumbnails are a few hundred kilobytes each and made on several worker
    // threads. Left to itself, the allocator raises its mapping threshold past that size after the
    // first large free, and the freed bitmaps then stay in per-thread heaps: the process keeps tens
    // of megabytes it no longer uses after a burst of arrivals. Mapped, they go back when freed.
    mallopt(M_MMAP_THRESHOLD, 128 * 1024);
    // Fixing that threshold also fixes the trim threshold at its default of 128 KB, and a frame of
    // a rope of a thousand prints allocates and frees more than that at the top of the heap: each
    // frame then gave it back to the kernel and took it again, and every return of pages stops
    // every core the process's threads run on. A few megabytes kept at the top end that.
    mallopt(M_TRIM_THRESHOLD, 8 * 1024 * 1024);
}

} // namespace vennimo
