#include "tempfolder.h"
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
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// What Action writes to the process's standard output itself (descriptor 1), which goes to
// a file meanwhile: the console as a user sees it, capture or none.
std::string StandardOutputOf(const std::function<void()>& Action) {
    TTempFolder Folder("xlogging");
    const std::string File = (Folder.Path() / "stdout.txt").string();
    std::fflush(stdout);
#ifdef _WIN32
    int Saved = _dup(1);
    int Target = _open(File.c_str(), _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY, 0600);
    _dup2(Target, 1);
    _close(Target);
#else
    int Saved = dup(STDOUT_FILENO);
    int Target = open(File.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(Target, STDOUT_FILENO);
    close(Target);
#endif
    Action();
    std::fflush(stdout);
#ifdef _WIN32
    _dup2(Saved, 1);
    _close(Saved);
#else
    dup2(Saved, STDOUT_FILENO);
    close(Saved);
#endif
    std::ifstream In(File, std::ios::binary);
    return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}

// Four threads write 500 lines of 60 letters each ('a' to 'd').
void WriteLinesFromFourThreads() {
    std::vector<std::thread> Workers;
    for (int T = 0; T < 4; T++)
        Workers.emplace_back([T] {
            std::string Text(60, static_cast<char>('a' + T));
            for (int I = 0; I < 500; I++) LogLine(1, Text);
        });
    for (auto& Worker : Workers) Worker.join();
}

// Every line of Output is one whole line of WriteLinesFromFourThreads, and all are there.
void ExpectWholeLinesFromFourThreads(const std::string& Output) {
    std::istringstream Stream(Output);
    std::string Line;
    int Count = 0;
    while (std::getline(Stream, Line)) {
        ASSERT_EQ(Line.size(), 61u);
        EXPECT_EQ(Line.back(), '\r');
        EXPECT_EQ(Line.find_first_not_of(Line[0]), 60u);
        Count++;
    }
    EXPECT_EQ(Count, 4 * 500);
}

TEST(LogLine, WritesTextAndCarriageReturnLineFeed) {
    std::string Output = StandardOutputOf([] {
        LogLine(0, "first");
        LogLine(9, "");
        WriteConsole("no end");
    });
    EXPECT_EQ(Output, "first\r\n\r\nno end");
}

TEST(LogLine, LinesFromManyThreadsStayWhole) {
    ExpectWholeLinesFromFourThreads(StandardOutputOf(WriteLinesFromFourThreads));
}

TEST(ConsoleCapture, CollectsWhatWouldGoToStandardOutput) {
    std::string Captured;
    std::string Output = StandardOutputOf([&Captured] {
        StartConsoleCapture();
        LogLine(3, "line");
        WriteConsole("text");
        LogLine(0, "");
        Captured = EndConsoleCapture();
        LogLine(0, "after");
    });
    EXPECT_EQ(Captured, "line\r\ntext\r\n");
    EXPECT_EQ(Output, "after\r\n");
}

TEST(ConsoleCapture, StartingAgainDropsWhatWasCollected) {
    std::string Output = StandardOutputOf([] {
        StartConsoleCapture();
        LogLine(0, "dropped");
        StartConsoleCapture();
        LogLine(0, "kept");
        EXPECT_EQ(EndConsoleCapture(), "kept\r\n");
        EXPECT_EQ(EndConsoleCapture(), "");
    });
    EXPECT_EQ(Output, "");
}

TEST(ConsoleCapture, LinesFromManyThreadsStayWhole) {
    StartConsoleCapture();
    WriteLinesFromFourThreads();
    ExpectWholeLinesFromFourThreads(EndConsoleCapture());
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
