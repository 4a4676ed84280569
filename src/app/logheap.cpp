#include "logheap.h"

#include <cstdlib> // defines __GLIBC__ where glibc is the C library

#ifdef __GLIBC__
#include <malloc.h>
#endif

void LogHeap::keepLargeBlocks()
{
    if (keeping)
        return;
    keeping = true;
#ifdef __GLIBC__
    // The heap is given back to the system only when 128 MB at its top are free.
    mallopt(M_MMAP_THRESHOLD, 64 << 20);
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
#endif
}

void LogHeap::release()
{
    if (!keeping)
        return;
    keeping = false;
#ifdef __GLIBC__
    // glibc's defaults (mallopt() leaves no way back to its sliding threshold).
    mallopt(M_MMAP_THRESHOLD, 128 << 10);
    mallopt(M_TRIM_THRESHOLD, 128 << 10);
    // Free pages anywhere in the heap go back, not only those at its top: the old
    // text buffer lies below blocks that are still in use.
    malloc_trim(0);
#endif
}
