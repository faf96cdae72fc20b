#include "xmemory.h"

#include "xlogging.h"

#include <cstdint>
#include <string>

TXMemory::TXMemory(int32_t InitialCapacity, int32_t GrowStep)
    : Grow(GrowStep), Capacity(InitialCapacity < 0 ? 0 : InitialCapacity) {
    AddBlock(Capacity);
    Memory = Top;
}

TXMemory::~TXMemory() = default;

void TXMemory::AddBlock(int64_t Size) {
    if (Size < 1) Size = 1;
    Blocks.push_back(std::make_unique<unsigned char[]>(static_cast<size_t>(Size)));
    Top = Blocks.back().get();
    BlockEnd = Top + Size;
}

void* Alloc(TXMemory* Buffer, int32_t Size) {
    if (!Buffer || Size < 0) return nullptr;
    if (Buffer->Used + Size < Buffer->Capacity) {
        if (Buffer->BlockEnd - Buffer->Top < Size) Buffer->AddBlock(Buffer->Capacity - Buffer->Used);
        unsigned char* Piece = Buffer->Top;
        Buffer->Top += Size;
        Buffer->Used += Size;
        return Piece;
    }
    LogLine(1, "Resizing buffer: " + std::to_string(Buffer->Capacity) + " + " + std::to_string(Buffer->Grow) +
                   ", " + std::to_string(Size) + " needed.");
    int64_t Grown = static_cast<int64_t>(Buffer->Capacity) + Buffer->Grow;
    Buffer->Capacity = static_cast<int32_t>(Grown > INT32_MAX ? INT32_MAX : Grown);
    return nullptr;
}
