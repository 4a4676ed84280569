#pragma once

#include <atomic>
#include <cstddef>
#include <initializer_list>
#include <thread>
#include <utility>
#include <vector>

// How the heap serves a big log (glibc; elsewhere it does nothing).
//
// Each time the log drops old lines, Qt compacts its text buffer: it copies the 12-16 MB
// kept into a new block. Into fresh pages that takes several times as long as into
// pages used before, most of it the kernel mapping and zeroing them (without what
// follows, a log of plain lines at its limits stalled 35-47 ms a drop). glibc maps every
// block that big afresh and gives it back when it is freed. So while a big log is
// shown, the heap keeps blocks of up to 64 MB, where a freed buffer is used again, and
// the copies get pages that a worker thread has touched before: blocks are taken and
// touched ahead of the drop and held until the drop, when they are freed for the copy
// and for the buffer it grows into (held, so that the small allocations in between do
// not break them up). Once that log is replaced, the heap returns to glibc's defaults
// and gives what it holds free back to the system.
class LogHeap
{
public:
    LogHeap() = default;
    LogHeap(const LogHeap &) = delete;
    LogHeap &operator=(const LogHeap &) = delete;
    ~LogHeap() { release(); }

    void keepLargeBlocks();
    // Takes blocks of these sizes from the heap and makes them resident, away from the
    // calling thread; only while large blocks are kept. Whether it took them.
    bool warm(std::initializer_list<std::size_t> sizes);
    // Whether the blocks warm() took are resident (or none were taken).
    bool isWarm() const { return touched; }
    // Frees the blocks warm() took, so that the next large allocations get their pages;
    // waits for the worker if it is still touching them.
    void handOver();
    // Undoes keepLargeBlocks(), if it was called, and returns free memory: call it once
    // the big log's text is gone.
    void release();

private:
    bool keeping = false;
    std::thread warming;
    std::atomic<bool> touched { true };
    std::atomic<bool> stopping { false }; // the worker stops touching: they are not needed
    std::vector<std::pair<void *, std::size_t>> warmBlocks;
};
