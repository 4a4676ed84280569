#pragma once

// How the heap serves a big log (glibc; elsewhere it does nothing).
//
// Each time the log drops old lines, Qt compacts its text buffer: it copies the 25-30 MB
// kept into a new block. Into fresh pages that copy takes 15-25 ms, into pages used
// before 3 ms; glibc maps every block that big afresh and gives it back when it is
// freed. So while a big log is shown, the heap keeps blocks of up to 64 MB, where a
// freed buffer is used again; once that log is replaced, the heap returns to glibc's
// defaults and gives what it holds free back to the system.
class LogHeap
{
public:
    LogHeap() = default;
    LogHeap(const LogHeap &) = delete;
    LogHeap &operator=(const LogHeap &) = delete;
    ~LogHeap() { release(); }

    void keepLargeBlocks();
    // Undoes keepLargeBlocks(), if it was called, and returns free memory: call it once
    // the big log's text is gone.
    void release();

private:
    bool keeping = false;
};
