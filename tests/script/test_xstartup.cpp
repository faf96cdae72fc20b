#include "testplatform.h"
#include "xscripthost.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <string>

namespace {

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
    EXPECT_EQ(RunProgram(STARTUP_PROBE, {}).Text, "early start none\r\n"
                                                  "0\r\n"
                                                  "late start 0\r\n"
                                                  "main inf\r\n"
                                                  "late stop 0\r\n"
                                                  "early stop none\r\n");
}

TEST(StartUp, RegistrationLineComesFirstAndOnce) {
    std::string Path = OwnProgramPath();
    ASSERT_FALSE(Path.empty());
    std::string Output = RunProgram(Path, {"--gtest_list_tests"}).Text;
    EXPECT_EQ(Output.rfind("0\r\n", 0), 0u) << Output;
    EXPECT_EQ(CountLines(Output, "0"), 1u);
}

TEST(StartUp, FloatingPointExceptionsMaskedRoundToNearest) {
    EXPECT_TRUE(FloatingPointExceptionsMasked());
    EXPECT_EQ(fegetround(), FE_TONEAREST);
    EXPECT_TRUE(FindBuiltin("STRINGS.LENGTH").has_value());
}

} // namespace
