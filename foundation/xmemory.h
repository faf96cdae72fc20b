#pragma once

#include <cstdint>
#include <memory>
#include <vector>

// A growable arena handing out consecutive pieces that are never freed one by one.
//
// Capacity counts the bytes the arena may hand out; a request is served only while
// Used + Size < Capacity, so one byte always stays free. A refused request logs
// "Resizing buffer: <Capacity> + <Grow>, <Size> needed." at level 1, adds Grow to
// Capacity and still gives none; the caller asks again.
//
// Pieces never move. The arena grows by chaining blocks: a request the count accepts is
// served from the current block when it fits there, otherwise from a new block big enough
// for the whole remaining count (at least the request), so every accepted request is
// contiguous, however large, and older pieces stay where they are.
class TXMemory {
public:
    TXMemory(int32_t Capacity, int32_t Grow);
    virtual ~TXMemory();
    TXMemory(const TXMemory&) = delete;
    TXMemory& operator=(const TXMemory&) = delete;

    int32_t Grow;
    unsigned char* Memory = nullptr; // the first block
    int32_t Capacity;
    unsigned char* Top = nullptr; // next free byte of the current block
    int64_t Used = 0;             // bytes handed out so far

private:
    friend void* Alloc(TXMemory* Buffer, int32_t Size);
    unsigned char* BlockEnd = nullptr;
    std::vector<std::unique_ptr<unsigned char[]>> Blocks;

    void AddBlock(int64_t Size);
};

// Size bytes from Buffer, or none: when Buffer is none, Size is negative, or the request
// does not fit (then the buffer grows, see above).
void* Alloc(TXMemory* Buffer, int32_t Size);
