#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

// Every program that links the script module starts with its built-in registration line.
const std::string StartUpLine = "0\r\n";

struct TRun {
    std::string Output;
    int Status = -1;
};

// Runs xrun with Arguments through the shell; Streams picks what is captured ("" for
// standard output, "2>&1 >/dev/null" for standard error alone).
TRun RunXrun(const std::string& Arguments, const std::string& Streams = "") {
    TRun Run;
    std::string Command = std::string("'") + XRUN_PATH + "' " + Arguments + " " + Streams;
    std::FILE* Pipe = popen(Command.c_str(), "r");
    if (!Pipe) return Run;
    char Chunk[4096];
    size_t Read;
    while ((Read = std::fread(Chunk, 1, sizeof Chunk, Pipe)) > 0) Run.Output.append(Chunk, Read);
    int Status = pclose(Pipe);
    Run.Status = WIFEXITED(Status) ? WEXITSTATUS(Status) : -1;
    return Run;
}

class XrunTokens : public testing::Test {
protected:
    void SetUp() override {
        Directory = std::filesystem::temp_directory_path() /
                    ("xrun-" + std::to_string(testing::UnitTest::GetInstance()->random_seed()) + "-" +
                     testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(Directory / "sub");
    }
    void TearDown() override { std::filesystem::remove_all(Directory); }
    std::filesystem::path Directory;
};

TEST_F(XrunTokens, PrintsOneLinePerTokenWithLineIndexKindAndText) {
    std::ofstream(Directory / "sub" / "sample.txt", std::ios::binary)
        << "  VAR x = 1.5; // note\r\n"
           "\n"
           "  \"\" \"a\"\"b\" $ff 0x1F $1f 12AB\n"
           "OBJECT Button: 3.\n";
    // A '\' between folders is read as '/'.
    TRun Run = RunXrun("--tokens '" + Directory.string() + "\\sub\\sample.txt'");
    EXPECT_EQ(Run.Status, 0);
    const char* Expected[] = {
        "0 tkWord VAR", "0 tkWord X",      "0 tkSymbol =", "0 tkFloat 1.5",    "0 tkSymbol ;",
        "2 tkString ",  "2 tkString a\"b", "2 tkWord FF",  "2 tkHexNumber 1F", "2 tkHexNumber 1",
        "2 tkWord F",   "2 tkNumber 12",   "2 tkWord AB",  "3 tkWord OBJECT",  "3 tkWord BUTTON",
        "3 tkSymbol :", "3 tkFloat 3."};
    std::string Lines = StartUpLine;
    for (const char* Line : Expected) Lines += std::string(Line) + "\r\n";
    EXPECT_EQ(Run.Output, Lines);
}

TEST_F(XrunTokens, EmptyOrMissingFiles) {
    std::ofstream(Directory / "blank.txt") << "\n  \n// nothing\n";
    TRun Blank = RunXrun("--tokens '" + (Directory / "blank.txt").string() + "'");
    EXPECT_EQ(Blank.Status, 0);
    EXPECT_EQ(Blank.Output, StartUpLine);
    TRun Missing = RunXrun("--tokens '" + (Directory / "absent.txt").string() + "'", "2>&1");
    EXPECT_EQ(Missing.Status, 1);
    EXPECT_NE(Missing.Output.find("cannot open"), std::string::npos);
}

TEST(XrunStartUp, RegistrationLineComesFirstAndOnce) {
    TRun Run = RunXrun("--help");
    EXPECT_EQ(Run.Output.rfind(StartUpLine, 0), 0u) << Run.Output;
    EXPECT_EQ(Run.Output.find(StartUpLine, 1), std::string::npos);
    EXPECT_EQ(RunXrun("", "2>&1").Output.rfind(StartUpLine, 0), 0u);
}

TEST(XrunOptions, HelpDescribesTheOptions) {
    TRun Run = RunXrun("--help");
    EXPECT_EQ(Run.Status, 0);
    EXPECT_NE(Run.Output.find("--tokens FILE"), std::string::npos);
    EXPECT_NE(Run.Output.find("--help"), std::string::npos);
}

TEST(XrunOptions, BadOptionsPrintUsageToStandardErrorAndExitTwo) {
    for (const char* Arguments : {"--frobnicate", "--tokens", "", "--tokens a b", "--help extra"}) {
        TRun Errors = RunXrun(Arguments, "2>&1 >/dev/null");
        EXPECT_EQ(Errors.Status, 2) << Arguments;
        EXPECT_NE(Errors.Output.find("usage: xrun"), std::string::npos) << Arguments;
        EXPECT_EQ(RunXrun(Arguments, "2>/dev/null").Output, StartUpLine) << Arguments;
    }
}

} // namespace
