#include "count_of.h"
#include "in_folder.h"
#include "tempfolder.h"
#include "testplatform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

// Every program that links the script module starts with its built-in registration line.
const std::string StartUpLine = "0\r\n";

TProgramRun RunXrun(const std::vector<std::string>& Arguments, TCapture Capture = TCapture::Output) {
    return RunProgram(XRUN_PATH, Arguments, Capture);
}

class XrunTokens : public TempFolderTest {
protected:
    void SetUp() override {
        TempFolderTest::SetUp();
        std::filesystem::create_directories(Directory / "sub");
    }
};

TEST_F(XrunTokens, PrintsOneLinePerTokenWithLineIndexKindAndText) {
    std::ofstream(Directory / "sub" / "sample.txt", std::ios::binary)
        << "  VAR x = 1.5; // note\r\n"
           "\n"
           "  \"\" \"a\"\"b\" $ff 0x1F $1f 12AB\n"
           "OBJECT Button: 3.\n";
    // A '\' between folders is read as '/'.
    TProgramRun Run = RunXrun({"--tokens", Directory.string() + "\\sub\\sample.txt"});
    EXPECT_EQ(Run.Status, 0);
    const char* Expected[] = {
        "0 tkWord VAR", "0 tkWord X",      "0 tkSymbol =", "0 tkFloat 1.5",    "0 tkSymbol ;",
        "2 tkString ",  "2 tkString a\"b", "2 tkWord FF",  "2 tkHexNumber 1F", "2 tkHexNumber 1",
        "2 tkWord F",   "2 tkNumber 12",   "2 tkWord AB",  "3 tkWord OBJECT",  "3 tkWord BUTTON",
        "3 tkSymbol :", "3 tkFloat 3."};
    std::string Lines = StartUpLine;
    for (const char* Line : Expected) Lines += std::string(Line) + "\r\n";
    EXPECT_EQ(Run.Text, Lines);
}

TEST_F(XrunTokens, EmptyOrMissingFiles) {
    std::ofstream(Directory / "blank.txt") << "\n  \n// nothing\n";
    TProgramRun Blank = RunXrun({"--tokens", (Directory / "blank.txt").string()});
    EXPECT_EQ(Blank.Status, 0);
    EXPECT_EQ(Blank.Text, StartUpLine);
    TProgramRun Missing =
        RunXrun({"--tokens", (Directory / "absent.txt").string()}, TCapture::OutputAndErrors);
    EXPECT_EQ(Missing.Status, 1);
    EXPECT_NE(Missing.Text.find("cannot open"), std::string::npos);
}

// The compiler's runner options share the temporary folder of the token tests.
class XrunCode : public XrunTokens {
protected:
    std::string Write(const std::string& Name, const std::string& Text) {
        std::filesystem::path Path = Directory / Name;
        std::ofstream(Path, std::ios::binary) << Text;
        return Path.string();
    }
};

TEST_F(XrunCode, WorkedExampleRootLine) {
    std::string File = Write("example.txt", "VAR X = 1 + 2;\nALERT(X);\n");
    TProgramRun Run = RunXrun({"--code", File});
    EXPECT_EQ(Run.Status, 0);
    EXPECT_EQ(Run.Text, StartUpLine +
                            "__MAIN: 04 01 00 00 00 1B 01 00 00 00 1B 02 00 00 00 0A 15 00 00 00 00 "
                            "2C 00 00 00 00 05 02\r\n");
    EXPECT_EQ(RunXrun({"--code", Write("empty.txt", "")}).Text,
              StartUpLine + "__MAIN: 04 00 00 00 00 02\r\n");
}

const std::string NestedScript = "FUNCTION F(A) { FUNCTION G() { RETURN 1; } RETURN A; }\n"
                                 "FUNCTION H() { }\n"
                                 "VAR S; ALERT(S.LENGTH());\n"
                                 "Q;\n";

// What xrun writes before the code of NestedScript: the start-up line, the built-in call
// line and the report.
std::string NestedScriptLines(const std::string& File) {
    return StartUpLine + "0 00000000\r\n" + File + " Line 3, near 'Q': Q is unknown (b37362)\r\n";
}

TEST_F(XrunCode, CompilerLinesComeFirstThenEveryFunctionDepthFirst) {
    std::string File = Write("nested.txt", NestedScript);
    TProgramRun Run = RunXrun({"--code", File});
    EXPECT_EQ(Run.Status, 0);
    EXPECT_EQ(Run.Text, NestedScriptLines(File) +
                            "__MAIN: 04 01 00 00 00 2C 00 00 00 00 64 00 00 00 00 05 02\r\n"
                            "F: 2C 00 00 00 00 01 01\r\n"
                            "G: 1B 01 00 00 00 01 01\r\n"
                            "H: 01\r\n");
}

TEST_F(XrunCode, DisasmListsTheSameFunctions) {
    std::string File = Write("nested.txt", NestedScript);
    TProgramRun Run = RunXrun({"--disasm", File});
    EXPECT_EQ(Run.Status, 0);
    EXPECT_EQ(Run.Text, NestedScriptLines(File) + "__MAIN:\r\n"
                                                  "  0000 opReserve 1\r\n"
                                                  "  0005 opLoadVar index 0 depth 0\r\n"
                                                  "  0010 opCallNative 0\r\n"
                                                  "  0015 opAlert\r\n"
                                                  "  0016 opReturnNil\r\n"
                                                  "F:\r\n"
                                                  "  0000 opLoadVar index 0 depth 0\r\n"
                                                  "  0005 opReturn\r\n"
                                                  "  0006 opReturn\r\n"
                                                  "G:\r\n"
                                                  "  0000 opPushInt 1\r\n"
                                                  "  0005 opReturn\r\n"
                                                  "  0006 opReturn\r\n"
                                                  "H:\r\n"
                                                  "  0000 opReturn\r\n");
    TProgramRun Missing =
        RunXrun({"--disasm", (Directory / "absent.txt").string()}, TCapture::OutputAndErrors);
    EXPECT_EQ(Missing.Status, 1);
    EXPECT_NE(Missing.Text.find("cannot open"), std::string::npos);
}

// What scripts print is checked by the script files of tests/scripts (LanguageScript.*).
using XrunScript = XrunCode;

TEST_F(XrunScript, MissingFileOrArgument) {
    TProgramRun Missing =
        RunXrun({"--script", (Directory / "absent.txt").string()}, TCapture::OutputAndErrors);
    EXPECT_EQ(Missing.Status, 1);
    EXPECT_NE(Missing.Text.find("cannot open"), std::string::npos);
    const std::vector<std::string> Bad[] = {{"--script"}, {"--script", "a", "b"}};
    for (const std::vector<std::string>& Arguments : Bad) {
        std::string Shown = testing::PrintToString(Arguments);
        TProgramRun Errors = RunXrun(Arguments, TCapture::Errors);
        EXPECT_EQ(Errors.Status, 2) << Shown;
        EXPECT_NE(Errors.Text.find("usage: xrun"), std::string::npos) << Shown;
    }
}

// The program ends only once the application a TEST(0) started has loaded, although its
// contents script runs long after the main script has ended.
TEST_F(XrunScript, EndsOnceTheTestApplicationsItStartedHaveLoaded) {
    std::filesystem::create_directories(Directory / "data" / "types");
    Write("data/types/window.txt", "END.");
    Write("data/testapp.txt", "IMPLEMENTATION\nVAR N = 0;\nFOR (VAR I = 0; I < 300000; I += 1) N += 1;\n"
                              "ALERT(\"loaded \" + N);\n");
    std::string Script = Write("script.txt", "TEST(0)\nALERT(\"script ended\");\n");
    TInFolder InFolder(Directory);
    TProgramRun Run = RunXrun({"--script", Script});
    EXPECT_EQ(Run.Status, 0);
    EXPECT_EQ(CountOf(Run.Text, "script ended\r\n"), 1u) << Run.Text;
    const std::string Last = "loaded 300000\r\n";
    EXPECT_TRUE(Run.Text.ends_with(Last)) << Run.Text;
}

TEST(XrunStartUp, RegistrationLineComesFirstAndOnce) {
    TProgramRun Run = RunXrun({"--help"});
    EXPECT_EQ(Run.Text.rfind(StartUpLine, 0), 0u) << Run.Text;
    EXPECT_EQ(Run.Text.find(StartUpLine, 1), std::string::npos);
    EXPECT_EQ(RunXrun({}, TCapture::OutputAndErrors).Text.rfind(StartUpLine, 0), 0u);
}

TEST(XrunOptions, HelpDescribesTheOptions) {
    TProgramRun Run = RunXrun({"--help"});
    EXPECT_EQ(Run.Status, 0);
    EXPECT_NE(Run.Text.find("--tokens FILE"), std::string::npos);
    EXPECT_NE(Run.Text.find("--code FILE"), std::string::npos);
    EXPECT_NE(Run.Text.find("--disasm FILE"), std::string::npos);
    EXPECT_NE(Run.Text.find("--script FILE"), std::string::npos);
    EXPECT_NE(Run.Text.find("--check [--script] FILE..."), std::string::npos);
    EXPECT_NE(Run.Text.find("--help"), std::string::npos);
}

TEST(XrunOptions, BadOptionsPrintUsageToStandardErrorAndExitTwo) {
    const std::vector<std::string> Bad[] = {{"--frobnicate"},       {"--tokens"},        {},
                                            {"--tokens", "a", "b"}, {"--help", "extra"}, {"--code"},
                                            {"--disasm", "a", "b"}};
    for (const std::vector<std::string>& Arguments : Bad) {
        std::string Shown = testing::PrintToString(Arguments);
        TProgramRun Errors = RunXrun(Arguments, TCapture::Errors);
        EXPECT_EQ(Errors.Status, 2) << Shown;
        EXPECT_NE(Errors.Text.find("usage: xrun"), std::string::npos) << Shown;
        EXPECT_EQ(RunXrun(Arguments).Text, StartUpLine) << Shown;
    }
}

} // namespace

namespace {

// The definition-file options. The shipped files are read from the source tree, whose
// data folder the file names of the test instruction are relative to.
using XrunDefinitions = XrunCode;

// Runs xrun with the source tree as its working directory.
TProgramRun RunXrunInSourceTree(const std::vector<std::string>& Arguments) {
    TInFolder InSourceTree(SOURCE_DIR);
    return RunXrun(Arguments);
}

// An expected-output file of tests/tools/expected, its lines ending in CR LF.
std::string ExpectedOutput(const std::string& Name) {
    std::ifstream File(std::string(SOURCE_DIR) + "/tests/tools/expected/" + Name, std::ios::binary);
    std::string Text;
    for (std::string Line; std::getline(File, Line);) {
        if (!Line.empty() && Line.back() == '\r') Line.pop_back();
        Text += Line + "\r\n";
    }
    return Text;
}

TEST_F(XrunDefinitions, TreeOfTheShippedTestApplication) {
    TProgramRun Run = RunXrunInSourceTree({"--tree", "data\\testapp.txt"});
    EXPECT_EQ(Run.Status, 0);
    EXPECT_EQ(Run.Text, ExpectedOutput("testapp-tree.txt"));
}

TEST_F(XrunDefinitions, AppOfTheShippedWindowAndTestApplication) {
    TProgramRun Run = RunXrunInSourceTree({"--app", "data\\types\\window.txt", "data\\testapp.txt"});
    EXPECT_EQ(Run.Status, 0);
    EXPECT_EQ(Run.Text, ExpectedOutput("app.txt"));
}

TEST_F(XrunDefinitions, AFileAloneRunsItsScriptsAndPrintsNoTree) {
    Write("child.txt", "IMPLEMENTATION\nALERT(\"child\");\n");
    std::string File =
        Write("main.txt", "NEW C = OBJECT(\"child.txt\"):\nEND;\nIMPLEMENTATION\nALERT(SELF.C.WIDTH + 1);\n");
    TProgramRun Run = RunXrun({File});
    EXPECT_EQ(Run.Status, 0);
    EXPECT_EQ(Run.Text, StartUpLine + "Loading " + File + "\r\nLoading " +
                            (Directory / "child.txt").string() + "\r\n1\r\nchild\r\n");
}

// --call runs the scripts once, then the named function as a message handler each time:
// its parameters and variables start empty on every call (not with what the main script or
// an earlier call left in their slots), what it stores in properties stays.
TEST_F(XrunDefinitions, CallRunsAHandlerByNameAsOftenAsAsked) {
    std::string File =
        Write("clicks.txt", "SELF.CLICKS : INTEGER = 0;\nIMPLEMENTATION\n"
                            "FUNCTION CLICK(A) { VAR B; B = B + 1; SELF.CLICKS = SELF.CLICKS + 1;"
                            " ALERT(SELF.CLICKS + \" \" + A + B); }\nALERT(\"main\");\n");
    TProgramRun Run = RunXrun({"--call", "CLICK", "3", File});
    EXPECT_EQ(Run.Status, 0);
    EXPECT_EQ(Run.Text, StartUpLine + "Loading " + File + "\r\nmain\r\n1 1\r\n2 1\r\n3 1\r\n");
    EXPECT_EQ(RunXrun({"--call", "NONE", "2", File}).Text, StartUpLine + "Loading " + File + "\r\nmain\r\n");
    for (const std::vector<std::string>& Bad :
         std::vector<std::vector<std::string>>{{"--call", "CLICK", "-1", File},
                                               {"--call", "CLICK", "2x", File},
                                               {"--call", "CLICK", "", File},
                                               {"--call", "CLICK", "2"},
                                               {"--call", "CLICK", "2", File, File}}) {
        TProgramRun Errors = RunXrun(Bad, TCapture::Errors);
        EXPECT_EQ(Errors.Status, 2) << testing::PrintToString(Bad);
        EXPECT_NE(Errors.Text.find("usage: xrun"), std::string::npos);
    }
    EXPECT_EQ(
        RunXrun({"--call", "CLICK", "1", (Directory / "absent.txt").string()}, TCapture::OutputAndErrors)
            .Status,
        1);
}

// --check runs no script and fails only when a report was written.
TEST_F(XrunDefinitions, CheckPassesTheShippedFilesAndFailsABrokenOne) {
    std::vector<std::string> Shipped = {"--check"};
    for (const char* Name : {"data\\testapp.txt", "data\\panel.txt", "data\\toolbar.txt", "data\\button.txt",
                             "data\\types\\window.txt", "data\\types\\titlebar.txt"})
        Shipped.push_back(Name);
    TProgramRun Clean = RunXrunInSourceTree(Shipped);
    EXPECT_EQ(Clean.Status, 0) << Clean.Text;
    EXPECT_EQ(CountOf(Clean.Text, "Loading "), CountOf(Clean.Text, "\r\n") - 1) << Clean.Text;

    std::string Good = Write("good.txt", "SELF.WIDTH = 3;\nIMPLEMENTATION\nALERT(\"ran\");\n");
    std::string Broken = Write("broken.txt", "SELF.WIDTH = 3;\nIMPLEMENTATION\nALERT(\"ran\");\nX = 1;\n");
    TProgramRun Passed = RunXrun({"--check", Good});
    EXPECT_EQ(Passed.Status, 0);
    EXPECT_EQ(Passed.Text, StartUpLine + "Loading " + Good + "\r\n");
    TProgramRun Failed = RunXrun({"--check", Good, Broken});
    EXPECT_EQ(Failed.Status, 1);
    EXPECT_EQ(Failed.Text, StartUpLine + "Loading " + Good + "\r\nLoading " + Broken + "\r\n" + Broken +
                               " Line 3, near 'X': X is unknown (b37362)\r\n");
    EXPECT_EQ(RunXrun({"--check", Write("bad.txt", "SELF.NOPE = 1;\nEND.")}).Status, 1);
    // Every other mode keeps exit status 0 after reports.
    EXPECT_EQ(RunXrun({Broken}).Status, 0);

    std::string Script = Write("s.txt", "ALERT(1);\n");
    EXPECT_EQ(RunXrun({"--check", "--script", Script}).Text, StartUpLine);
    EXPECT_EQ(RunXrun({"--check", "--script", Script}).Status, 0);
    EXPECT_EQ(RunXrun({"--check", "--script", Script, Broken}).Status, 1);
    EXPECT_EQ(RunXrun({"--check", (Directory / "absent.txt").string()}, TCapture::OutputAndErrors).Status, 1);
    EXPECT_EQ(RunXrun({"--check"}, TCapture::Errors).Status, 2);
    EXPECT_EQ(RunXrun({"--check", "--script"}, TCapture::Errors).Status, 2);
}

TEST_F(XrunDefinitions, TreeLinesGiveKindAndValueOfEveryValueProperty) {
    std::string File =
        Write("tree.txt", "SELF.WIDTH = 10;\nSELF.F : FLOAT = 0.1;\nSELF.B : BOOLEAN = true;\n"
                          "SELF.S : STRING = \"a b\";\n"
                          "NEW P = OBJECT:\n  ALIGN = 5;\nEND;\nLINK W = P.WIDTH;\nLINK Q = P;\nEND.");
    TProgramRun Run = RunXrun({"--tree", File});
    EXPECT_EQ(Run.Status, 0);
    std::string Built = "  ALIGN INTEGER 0\r\n  ALPHA FLOAT 1\r\n  LEFT INTEGER 0\r\n  TOP INTEGER 0\r\n"
                        "  TAG INTEGER 0\r\n";
    auto Indented = [](const std::string& Lines) {
        std::string Text;
        for (size_t Start = 0; Start < Lines.size();) {
            size_t End = Lines.find("\r\n", Start) + 2;
            Text += "  " + Lines.substr(Start, End - Start);
            Start = End;
        }
        return Text;
    };
    std::string Rest = "  ENABLED BOOLEAN TRUE\r\n  VISIBLE BOOLEAN TRUE\r\n  BORDERSIZE INTEGER 0\r\n";
    EXPECT_EQ(Run.Text,
              StartUpLine + "Loading " + File + "\r\nMAIN\r\n" + Built +
                  "  WIDTH INTEGER 10\r\n  HEIGHT INTEGER 0\r\n" + Rest +
                  "  F FLOAT 0.100000001490116\r\n  B BOOLEAN TRUE\r\n  S STRING a b\r\n"
                  "  W INTEGER 10\r\n  P\r\n" +
                  Indented("  ALIGN INTEGER 5\r\n  ALPHA FLOAT 1\r\n  LEFT INTEGER 0\r\n  TOP INTEGER 0\r\n"
                           "  TAG INTEGER 0\r\n  WIDTH INTEGER 10\r\n  HEIGHT INTEGER 0\r\n" +
                           Rest));
}

TEST_F(XrunDefinitions, MissingFilesAndArguments) {
    std::string Absent = (Directory / "absent.txt").string();
    std::string Type = Write("type.txt", "END.");
    EXPECT_EQ(RunXrun({Absent}, TCapture::OutputAndErrors).Status, 1);
    EXPECT_EQ(RunXrun({"--tree"}, TCapture::Errors).Status, 2);
    EXPECT_EQ(RunXrun({"--app", Type}, TCapture::Errors).Status, 2);
    EXPECT_EQ(RunXrun({"--app", Type, Absent}, TCapture::OutputAndErrors).Status, 1);
    EXPECT_EQ(RunXrun({"a.txt", "b.txt"}, TCapture::Errors).Status, 2);
}

} // namespace
