#include "xguiapp.h"

#include "xlogging.h"
#include "xscriptcompiler.h"

#include "capture.h"
#include "in_folder.h"
#include "loader_fixture.h"
#include "wait_loaded.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <sstream>
#include <thread>
#include <vector>

namespace {

// "PROBE" objects: GUI objects that tell when they go and whether a run was under way then.
int32_t ProbesDestroyed = 0;
bool DestroyedDuringRun = false;
TXGuiObject* LastProbe = nullptr;

class TProbe : public TXGuiObject {
public:
    using TXGuiObject::TXGuiObject;
    ~TProbe() noexcept(false) override {
        LogLine(0, "probe gone");
        ProbesDestroyed++;
        DestroyedDuringRun = DestroyedDuringRun || RunsActive();
        if (LastProbe == this) LastProbe = nullptr;
    }
};

TXObject* BuildProbe(std::string_view, TXObject* Parent, std::string_view FileName, std::string_view Name) {
    auto* Probe = new TProbe(Parent, FileName, Name);
    LastProbe = Probe;
    return Probe;
}

// The lines of Text that are among Wanted, in order.
std::vector<std::string> LinesAmong(const std::string& Text, std::initializer_list<std::string> Wanted) {
    std::vector<std::string> Found;
    std::istringstream Stream(Text);
    for (std::string Line; std::getline(Stream, Line);) {
        if (!Line.empty() && Line.back() == '\r') Line.pop_back();
        if (std::find(Wanted.begin(), Wanted.end(), Line) != Wanted.end()) Found.push_back(Line);
    }
    return Found;
}

class Applications : public DefinitionFiles {
protected:
    void SetUp() override {
        DefinitionFiles::SetUp();
        RegisterObjectType("PROBE", BuildProbe);
        ProbesDestroyed = 0;
        DestroyedDuringRun = false;
        LastProbe = nullptr;
    }

    // An application of the two texts, waited for until loaded; the output stays in Output.
    TXGuiApplication* Build(const std::string& TypeText, const std::string& ContentsText,
                            const std::string& Name = "WINDOW") {
        std::string Type = Write("type.txt", TypeText);
        std::string Contents = Write("contents.txt", ContentsText);
        TXGuiApplication* Application = nullptr;
        Output = CaptureOutput([&] {
            Application = new TXGuiApplication(nullptr, Type, Contents, Name);
            WaitUntilLoaded(*Application);
        });
        return Application;
    }

    // Runs the script Text as the RunMain of a GUI object; the working directory is the
    // test's folder meanwhile, where the test instruction finds its data folder.
    std::string RunScriptInFolder(const std::string& Text) {
        std::string File = OuterFile = Write("outer.txt", "IMPLEMENTATION\n" + Text);
        TInFolder InFolder(Directory);
        return CaptureOutput([&] {
            TXGuiObject Outer(nullptr, File, "OUTER");
            Outer.RunMain();
        });
    }
    std::string OuterFile;
};

using ApplicationContents = Applications;

TEST_F(ApplicationContents, ATypeFileWithoutContentStillLoadsTheContentsUnderTheirOwnName) {
    std::unique_ptr<TXGuiApplication> Application(
        Build("SELF.WIDTH = 1;\nIMPLEMENTATION\nSELF.TAG = 2;\n", "SELF.TAG = 3;\nEND."));
    EXPECT_EQ(Application->Tag, 2); // the type file's script ran during construction
    EXPECT_EQ(Application->ContentsTarget, nullptr);
    TXGuiObject* Contents = Application->ContentsObject.load(std::memory_order_acquire);
    ASSERT_NE(Contents, nullptr);
    EXPECT_EQ(Contents->Name.View(), "APPLICATION");
    EXPECT_EQ(Contents->Parent, nullptr);
    EXPECT_EQ(Contents->Tag, 3);
    EXPECT_EQ(Application->ChildCount(), 0);
    EXPECT_EQ(Application->FindProperty("APPLICATION"), nullptr);
}

TEST_F(ApplicationContents, AContentOfAnotherKindIsNeverStamped) {
    std::unique_ptr<TXGuiApplication> Application(Build("SELF.CONTENT : INTEGER = 7;\nEND.", "END."));
    EXPECT_EQ(Application->ContentsTarget, nullptr);
    EXPECT_EQ(IntegerOf(*Application, "CONTENT"), 7);
}

TEST_F(ApplicationContents, AContentStringReceivesTheStampAndKeepsItsText) {
    DWORD Before = GetTickCount();
    std::unique_ptr<TXGuiApplication> Application(Build("SELF.CONTENT : STRING = \"abc\";\nEND.", "END."));
    ASSERT_EQ(static_cast<void*>(Application->ContentsTarget), Application->FindProperty("CONTENT")->Data);
    // Copies: the record is packed, its fields may lie at any address.
    TXMessage* Record = Application->ContentsTarget;
    TXObject* Sender = Record->Sender;
    uint8_t Posted = Record->Posted;
    uint32_t Time = Record->Time;
    EXPECT_EQ(Sender, Application->ContentsObject.load(std::memory_order_acquire));
    EXPECT_EQ(Posted, 1);
    EXPECT_LE(Time - Before, GetTickCount() - Before);
    EXPECT_EQ(StringOf(*Application, "CONTENT"), "abc");
}

TEST_F(ApplicationContents, AMissingContentsFileStillEndsLoaded) {
    std::string Type = Write("type.txt", "END.");
    std::string Missing = (Directory / "missing.txt").string();
    TXGuiApplication* Application = nullptr;
    std::string Lines = CaptureOutput([&] {
        Application = new TXGuiApplication(nullptr, Type, Missing, "WINDOW");
        WaitUntilLoaded(*Application);
    });
    EXPECT_EQ(Lines, "Loading " + Type + "\r\nLoading " + Missing + "\r\n" + Missing +
                         " (Line 0): Unexpected end.\r\n");
    EXPECT_EQ(Application->ContentsObject.load(std::memory_order_acquire)->PropertyCount(), 10);
    delete Application;
}

TEST_F(ApplicationContents, DestroyingRightAfterConstructionWaitsForTheWorker) {
    std::string Type = Write("type.txt", "END.");
    std::string Contents = Write("contents.txt", "NEW P = PROBE:\nEND;\nIMPLEMENTATION\n"
                                                 "VAR N = 0;\nFOR (VAR I = 0; I < 200000; I += 1) N += 1;\n"
                                                 "ALERT(N);\n");
    std::string Lines =
        CaptureOutput([&] { delete new TXGuiApplication(nullptr, Type, Contents, "WINDOW"); });
    EXPECT_EQ(LinesAmong(Lines, {"200000", "probe gone"}),
              (std::vector<std::string>{"200000", "probe gone"}));
    EXPECT_EQ(ProbesDestroyed, 1);
}

using TestInstruction = Applications;

// The shipped files: the working directory is the source tree, where data\ lies.
TEST_F(TestInstruction, ModeZeroBuildsTheShippedApplicationWithoutAnErrorLine) {
    TXGuiApplication* Application = nullptr;
    std::string Lines;
    {
        TInFolder InSourceTree(SOURCE_DIR);
        Lines = CaptureOutput([&] {
            Application = CreateTestApplication();
            WaitUntilLoaded(*Application);
        });
    }
    std::regex Allowed("(Loading data\\\\[a-z\\\\]+\\.txt|sum of squares 30|Ready with 0 clicks|"
                       "view lists row 1, row 2, row 3)\r");
    std::istringstream Stream(Lines);
    for (std::string Line; std::getline(Stream, Line);) EXPECT_TRUE(std::regex_match(Line, Allowed)) << Line;
    EXPECT_TRUE(std::regex_match(std::string(Application->Name.View()), std::regex("TEST[0-9]+")));
    EXPECT_EQ(Application->Left, 160);
    EXPECT_EQ(Application->Top, 80);
    EXPECT_EQ(Application->Width, 180);
    EXPECT_EQ(Application->Height, 200);
    TXGuiObject* TitleBar = ChildOf(*Application, "TITLEBAR");
    EXPECT_EQ(TitleBar->Width, 178);
    EXPECT_EQ(ChildOf(*Application, "CLIENT")->Height, 180);
    EXPECT_EQ(StringOf(*TitleBar, "TEXT"), "Test window");
    TXGuiObject* Contents = Application->ContentsObject.load(std::memory_order_acquire);
    EXPECT_EQ(StringOf(*Contents, "STATUSTEXT"), "Ready"); // its script has run
    TXObject* Sender = Application->ContentsTarget->Sender;
    EXPECT_EQ(Sender, Contents);
    // The window's CLOSE function, run as a handler, frees the application when the
    // message has been processed.
    TXHandler& Close = Application->HandlerFor(50);
    Close.Kind = hkScriptName;
    Close.FuncName.Assign("CLOSE");
    Application->Processmessage(50, nullptr);
}

TEST_F(TestInstruction, ModeOneWithoutAnApplicationAboveIsAFault) {
    EXPECT_THROW(RunTest(1, nullptr), std::runtime_error);
    std::string Lines = RunScriptInFolder("TEST(1)\nALERT(\"not reached\");\n");
    EXPECT_EQ(Lines, "Loading " + OuterFile + "\r\n" + ScriptFaultLine);
}

TEST_F(TestInstruction, ModeOneOutsideAnyRunFreesAtOnce) {
    std::unique_ptr<TXGuiApplication> Application(Build("NEW P = PROBE:\nEND;\nEND.", "END."));
    CaptureOutput([] { RunTest(1, LastProbe); });
    Application.release();
    EXPECT_EQ(ProbesDestroyed, 1);
    EXPECT_FALSE(DestroyedDuringRun);
    RunTest(7, nullptr); // other modes do nothing
}

// TEST(1) while the application's own script runs inside the script that made it with
// TEST(0): the application outlives both scripts, then goes once.
TEST_F(TestInstruction, ModeOneDuringConstructionWaitsForTheOutermostScript) {
    Write("data/types/window.txt", "NEW P = PROBE:\nEND;\nIMPLEMENTATION\n"
                                   "TEST(1)\nTEST(1)\nSELF.WIDTH = 5;\nALERT(SELF.WIDTH);\n");
    Write("data/testapp.txt", "END.");
    std::string Lines = RunScriptInFolder("TEST(0)\nALERT(\"after\");\n");
    EXPECT_EQ(LinesAmong(Lines, {"5", "after", "probe gone"}),
              (std::vector<std::string>{"5", "after", "probe gone"}));
    EXPECT_EQ(ProbesDestroyed, 1);
    EXPECT_FALSE(DestroyedDuringRun);
}

TEST_F(TestInstruction, ModeOneFromAHandlerWaitsForTheMessageToBeProcessed) {
    TXGuiApplication* Application = Build("NEW P = PROBE:\nEND;\nIMPLEMENTATION\n"
                                          "FUNCTION CLOSE() { TEST(1) SELF.TAG = 9; ALERT(SELF.TAG); }\n",
                                          "END.");
    // The handler sits on a child: the message goes through the child's own dispatch.
    TXHandler& Close = LastProbe->HandlerFor(50);
    Close.Kind = hkScriptName;
    Close.FuncName.Assign("CLOSE");
    std::string Lines = CaptureOutput([&] { Application->Processmessage(50, nullptr); });
    EXPECT_EQ(Lines, "9\r\nprobe gone\r\n");
    EXPECT_EQ(ProbesDestroyed, 1);
    EXPECT_FALSE(DestroyedDuringRun);
}

TEST_F(TestInstruction, ModeOneFromAScriptRunByHandWaitsForItsExecuteToReturn) {
    TXGuiApplication* Application = Build("NEW P = PROBE:\nEND;\nEND.", "END.");
    ASSERT_NE(Application, nullptr);
    TFileParser Parser("inline", nullptr, "TEST(1)\nALERT(\"still here\");\n");
    std::unique_ptr<TXScriptObjectFunction> Main = CompileMainFunction(Parser);
    TXScriptHost Host(64, LastProbe);
    TXScriptVariable Result;
    std::string Lines = CaptureOutput([&] { Main->Execute(Host, Result); });
    EXPECT_EQ(Lines, "still here\r\nprobe gone\r\n");
    EXPECT_EQ(ProbesDestroyed, 1);
    EXPECT_FALSE(DestroyedDuringRun);
}

TEST_F(TestInstruction, ModeOneDuringATopLevelConstructionLeavesItToTheOwner) {
    TXGuiApplication* Application = Build("NEW P = PROBE:\nEND;\nIMPLEMENTATION\nTEST(1)\n", "END.");
    EXPECT_TRUE(Application->DestroyRequested);
    CaptureOutput([&] { Application->Processmessage(xmAlign, nullptr); });
    EXPECT_EQ(ProbesDestroyed, 0);
    CaptureOutput([&] { delete Application; });
    EXPECT_EQ(ProbesDestroyed, 1);
}

} // namespace
