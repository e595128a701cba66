#include "imaging_start.h"

#include <vips/vips.h>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace lumenfield {

namespace {

// Blocks from this size on are mapped one by one; an arena gives back the free memory at its top
// once there is this much of it (the allocator's own starting value). The tiles libvips computes
// the chain in, some 190 KB each for a step with a margin, are allocated and freed thousands of
// times a second on every thread: below the threshold they are reused within the arena, where
// mapping and unmapping each one made writing a PNG of a scan nearly twice as slow.
constexpr int kMappedBlockBytes = 256 * 1024;
constexpr int kTrimBytes = 128 * 1024;

} // namespace

bool startImaging(const char* programPath)
{
#ifdef __GLIBC__
    // glibc raises its threshold for mapped blocks to the size of each mapped block freed (up to
    // 32 MiB) and lets its arenas keep twice that much free memory at their tops. The driver frees
    // a calibration buffer of some 16 MB before every final scan; from then on every buffer that
    // libvips' and the writers' threads use while a scan is processed and written came from those
    // threads' arenas and stayed there when freed: some 30 MB on top of the image at the peak of a
    // scan and kept afterwards. Fixed thresholds keep large blocks mapped, so each one goes back to
    // the system when it is freed, and arenas small. Both are set: one raised before this call
    // would stay raised.
    mallopt(M_MMAP_THRESHOLD, kMappedBlockBytes);
    mallopt(M_TRIM_THRESHOLD, kTrimBytes);
#endif
    if (VIPS_INIT(programPath) != 0) return false;
    // Every image is processed once: nothing is gained by keeping operations, and memory is.
    vips_cache_set_max(0);
    return true;
}

void returnFreedMemory()
{
#ifdef __GLIBC__
    // A scan's image is hundreds of megabytes, and the processing threads free their pieces of it
    // in arenas of their own, which the allocator would otherwise keep for the life of the program.
    malloc_trim(0);
#endif
}

} // namespace lumenfield
