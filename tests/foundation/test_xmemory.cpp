#include "xlogging.h"
#include "xmemory.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::string Captured(auto Action) {
    StartConsoleCapture();
    Action();
    return EndConsoleCapture();
}

TEST(MemoryBuffer, OneByteAlwaysStaysFree) {
    TXMemory Buffer(16, 8);
    auto* A = static_cast<unsigned char*>(Alloc(&Buffer, 10));
    auto* B = static_cast<unsigned char*>(Alloc(&Buffer, 5));
    ASSERT_NE(A, nullptr);
    EXPECT_EQ(B, A + 10);
    void* Refused = reinterpret_cast<void*>(1);
    EXPECT_EQ(Captured([&] { Refused = Alloc(&Buffer, 1); }), "Resizing buffer: 16 + 8, 1 needed.\r\n");
    EXPECT_EQ(Refused, nullptr);
    EXPECT_EQ(Buffer.Capacity, 24);
    EXPECT_NE(Alloc(&Buffer, 1), nullptr);
}

TEST(MemoryBuffer, ExactFillIsRefused) {
    TXMemory Buffer(16, 8);
    EXPECT_EQ(Captured([&] { EXPECT_EQ(Alloc(&Buffer, 16), nullptr); }),
              "Resizing buffer: 16 + 8, 16 needed.\r\n");
    EXPECT_NE(Alloc(&Buffer, 16), nullptr);
}

TEST(MemoryBuffer, ObjectModelMessageForm) {
    TXMemory Buffer(4096, 1024);
    for (int I = 0; I < 15; I++) ASSERT_NE(Alloc(&Buffer, 256), nullptr);
    EXPECT_EQ(Captured([&] { Alloc(&Buffer, 256); }), "Resizing buffer: 4096 + 1024, 256 needed.\r\n");
    EXPECT_NE(Alloc(&Buffer, 256), nullptr);
}

TEST(MemoryBuffer, NoBufferGivesNoneSilently) {
    EXPECT_EQ(Captured([] { EXPECT_EQ(Alloc(nullptr, 4), nullptr); }), "");
}

TEST(MemoryBuffer, ZeroBytesReturnsTopWithoutMovingIt) {
    TXMemory Buffer(16, 8);
    auto* A = static_cast<unsigned char*>(Alloc(&Buffer, 3));
    EXPECT_EQ(Alloc(&Buffer, 0), A + 3);
    EXPECT_EQ(Alloc(&Buffer, 0), A + 3);
    EXPECT_EQ(Alloc(&Buffer, 1), A + 3);
}

TEST(MemoryBuffer, PiecesNeverMoveAcrossGrowth) {
    TXMemory Buffer(16, 8);
    auto* First = static_cast<unsigned char*>(Alloc(&Buffer, 10));
    std::memset(First, 0xAB, 10);
    for (int Round = 0; Round < 50; Round++)
        if (auto* Piece = static_cast<unsigned char*>(Alloc(&Buffer, 6))) std::memset(Piece, Round, 6);
    for (int I = 0; I < 10; I++) EXPECT_EQ(First[I], 0xAB);
}

TEST(MemoryBuffer, LargeRequestIsServedContiguouslyOnceCounted) {
    TXMemory Buffer(16, 8);
    Alloc(&Buffer, 10);
    int Refusals = 0;
    unsigned char* Piece = nullptr;
    StartConsoleCapture();
    while (!(Piece = static_cast<unsigned char*>(Alloc(&Buffer, 40)))) Refusals++;
    EndConsoleCapture();
    // 10 + 40 < 16 + 8k first holds for k = 5.
    EXPECT_EQ(Refusals, 5);
    EXPECT_EQ(Buffer.Capacity, 56);
    std::memset(Piece, 1, 40); // under AddressSanitizer this proves the piece is whole
    EXPECT_EQ(Buffer.Used, 50);
}

TEST(MemoryBuffer, NegativeSizeIsRefused) {
    TXMemory Buffer(16, 8);
    EXPECT_EQ(Alloc(&Buffer, -1), nullptr);
    EXPECT_EQ(Buffer.Capacity, 16);
}

} // namespace
