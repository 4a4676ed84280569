#include "logheap.h"

#include <algorithm>
#include <cstdlib> // defines __GLIBC__ where glibc is the C library
#include <cstring>
#include <system_error>
#include <utility>
#include <vector>

#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// The largest block the heap serves itself while it keeps large blocks.
constexpr std::size_t largestKept = 64 << 20;

} // namespace

void LogHeap::keepLargeBlocks()
{
    if (keeping)
        return;
    keeping = true;
#ifdef __GLIBC__
    // The heap is given back to the system only when 128 MB at its top are free.
    mallopt(M_MMAP_THRESHOLD, int(largestKept));
    mallopt(M_TRIM_THRESHOLD, 128 << 20);
#endif
}

bool LogHeap::warm(std::initializer_list<std::size_t> sizes)
{
#ifdef __GLIBC__
    if (!keeping)
        return false;
    handOver();
    // Taken here, untouched, which costs no time: a worker's own allocations would come
    // from an arena of its own, which this thread never uses. Touched by the worker and
    // freed by handOver(), the blocks stay in this thread's heap as resident pages.
    std::vector<std::pair<void *, std::size_t>> blocks;
    for (const std::size_t bytes : sizes) {
        for (std::size_t left = bytes; left > 0;) {
            const std::size_t size = std::min(left, largestKept / 2);
            if (void *block = std::malloc(size))
                blocks.emplace_back(block, size);
            left -= size;
        }
    }
    warmBlocks = blocks;
    touched = false;
    try {
        warming = std::thread([this, blocks = std::move(blocks)] {
            // A megabyte at a time, so that release() need not wait for all of it.
            constexpr std::size_t step = 1 << 20;
            for (const auto &[block, size] : blocks)
                for (std::size_t at = 0; at < size && !stopping; at += step)
                    std::memset(static_cast<char *>(block) + at, 0, std::min(step, size - at));
            touched = true;
        });
    } catch (const std::system_error &) { // no thread to be had: the drops go on without
        handOver();
        touched = true;
        return false;
    }
    return true;
#else
    (void)sizes;
    return false;
#endif
}

void LogHeap::handOver()
{
    if (warming.joinable())
        warming.join();
    for (const auto &[block, size] : warmBlocks)
        std::free(block);
    warmBlocks.clear();
}

void LogHeap::release()
{
    stopping = true;
    handOver();
    stopping = false;
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
