#include "xlogging.h"
#include "xrandom.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

#include <cstdio>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

TEST(LogLine, WritesTextAndCarriageReturnLineFeed) {
    testing::internal::CaptureStdout();
    LogLine(0, "first");
    LogLine(9, "");
    WriteConsole("no end");
    std::string Output = testing::internal::GetCapturedStdout();
    EXPECT_EQ(Output, "first\r\n\r\nno end");
}

TEST(LogLine, LinesFromManyThreadsStayWhole) {
    constexpr int Threads = 4, Lines = 500;
    testing::internal::CaptureStdout();
    std::vector<std::thread> Workers;
    for (int T = 0; T < Threads; T++)
        Workers.emplace_back([T] {
            std::string Text(60, static_cast<char>('a' + T));
            for (int I = 0; I < Lines; I++) LogLine(1, Text);
        });
    for (auto& Worker : Workers) Worker.join();
    std::string Output = testing::internal::GetCapturedStdout();
    std::istringstream Stream(Output);
    std::string Line;
    int Count = 0;
    while (std::getline(Stream, Line)) {
        ASSERT_EQ(Line.size(), 61u);
        EXPECT_EQ(Line.back(), '\r');
        EXPECT_EQ(Line.find_first_not_of(Line[0]), 60u);
        Count++;
    }
    EXPECT_EQ(Count, Threads * Lines);
}

TEST(LogLineDeathTest, FailedWriteExitsWithInputOutputError) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
#ifdef _WIN32
            // No always-full device: a pipe whose reading end is gone refuses every write.
            int Ends[2];
            _pipe(Ends, 256, _O_BINARY);
            _close(Ends[0]);
            _dup2(Ends[1], 1);
#else
            int Full = open("/dev/full", O_WRONLY);
            dup2(Full, STDOUT_FILENO);
#endif
            LogLine(0, "lost");
        },
        testing::ExitedWithCode(74), "console output failed");
}

TEST(Random, FollowsTheLinearCongruentialRule) {
    SetRandomSeed(0);
    // Seed becomes 1: upper half of 1 * 100 is 0.
    EXPECT_EQ(Random(100), 0u);
    EXPECT_EQ(GetRandomSeed(), 1u);
    // Seed becomes 134775814.
    uint32_t Expected = static_cast<uint32_t>((uint64_t{134775814u} * 1000u) >> 32);
    EXPECT_EQ(Random(1000), Expected);
    EXPECT_EQ(GetRandomSeed(), 134775814u);
    SetRandomSeed(0xFFFFFFFFu);
    uint32_t Next = 0xFFFFFFFFu * 134775813u + 1u;
    EXPECT_EQ(Random(0xFFFFFFFFu), static_cast<uint32_t>((uint64_t{Next} * 0xFFFFFFFFu) >> 32));
    EXPECT_EQ(Random(0), 0u);
}

TEST(Random, StaysInRange) {
    SetRandomSeed(12345);
    for (int I = 0; I < 10000; I++) ASSERT_LT(Random(7), 7u);
}

TEST(Random, ConcurrentDrawsLoseNoStep) {
    constexpr int Threads = 4, Draws = 10000;
    SetRandomSeed(99);
    std::vector<std::thread> Workers;
    for (int T = 0; T < Threads; T++)
        Workers.emplace_back([] {
            for (int I = 0; I < Draws; I++) Random(10);
        });
    for (auto& Worker : Workers) Worker.join();
    uint32_t Expected = 99;
    for (int I = 0; I < Threads * Draws; I++) Expected = Expected * 134775813u + 1u;
    EXPECT_EQ(GetRandomSeed(), Expected);
}

} // namespace
