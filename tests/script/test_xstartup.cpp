#include "xscripthost.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cstdio>
#include <string>

#include <unistd.h>

namespace {

std::string RunCommand(const std::string& Command) {
    std::string Output;
    FILE* Pipe = popen(Command.c_str(), "r");
    if (!Pipe) return Output;
    char Buffer[4096];
    size_t Read;
    while ((Read = std::fread(Buffer, 1, sizeof Buffer, Pipe)) > 0) Output.append(Buffer, Read);
    pclose(Pipe);
    return Output;
}

size_t CountLines(const std::string& Output, const std::string& Line) {
    size_t Count = 0;
    size_t Start = 0;
    while (Start < Output.size()) {
        size_t End = Output.find('\n', Start);
        if (End == std::string::npos) End = Output.size();
        if (Output.compare(Start, End - Start, Line + "\r") == 0) Count++;
        Start = End + 1;
    }
    return Count;
}

TEST(StartUp, ModulesStartInRankOrderAndStopInReverse) {
    EXPECT_EQ(RunCommand(STARTUP_PROBE), "early start none\r\n"
                                         "0\r\n"
                                         "late start 0\r\n"
                                         "main inf\r\n"
                                         "late stop 0\r\n"
                                         "early stop none\r\n");
}

TEST(StartUp, RegistrationLineComesFirstAndOnce) {
    char Path[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", Path, sizeof Path - 1), 0);
    std::string Output = RunCommand(std::string("'") + Path + "' --gtest_list_tests");
    EXPECT_EQ(Output.rfind("0\r\n", 0), 0u) << Output;
    EXPECT_EQ(CountLines(Output, "0"), 1u);
}

TEST(StartUp, FloatingPointExceptionsMaskedRoundToNearest) {
    EXPECT_EQ(fegetexcept(), 0);
    EXPECT_EQ(fegetround(), FE_TONEAREST);
    EXPECT_TRUE(FindBuiltin("STRINGS.LENGTH").has_value());
}

} // namespace
