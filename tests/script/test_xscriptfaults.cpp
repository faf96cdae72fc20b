#include "xscriptcompiler.h"
#include "xscripthost.h"
#include "xscriptinterpreter.h"

#include "capture.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const std::string& Fault = ScriptFaultLine;

std::vector<std::string> Diagnostics;

void KeepDiagnostic(const TXFaultReport& Report) {
    Diagnostics.push_back(FaultDiagnosticLine(Report));
}

// A script compiled from "f.txt" and run once as the root on a host of StackSize slots,
// with the fault diagnostics kept.
struct TScriptRun {
    std::unique_ptr<TFileParser> Parser;
    std::unique_ptr<TXScriptObjectFunction> Main;
    std::unique_ptr<TXScriptHost> Host;
    TXScriptVariable Result;
    std::string Output;

    TScriptRun(const std::string& Text, int32_t StackSize = 4096) {
        Parser = std::make_unique<TFileParser>("f.txt", nullptr, Text);
        Main = CompileMainFunction(*Parser);
        Parser.reset();
        Host = std::make_unique<TXScriptHost>(StackSize, nullptr);
        Diagnostics.clear();
        SetFaultDiagnostics(KeepDiagnostic);
        Output = CaptureOutput([this] { Main->Execute(*Host, Result); });
        SetFaultDiagnostics(nullptr);
    }
};

std::string Lines(std::initializer_list<std::string> Expected) {
    std::string Text;
    for (const std::string& Line : Expected) Text += Line + "\r\n";
    return Text;
}

// N, N - 1, ... down to Last, written one after the other.
std::string Countdown(int32_t N, int32_t Last) {
    std::string Text;
    for (int32_t Value = N; Value >= Last; Value--) Text += std::to_string(Value);
    return Text;
}

// ---- Stack overflow ----

using StackOverflow = testing::Test;

// Deep recursion past the 4096 slots: one fault, the innermost call gives the empty string,
// and every caller goes on with it (an integer plus a text is their concatenation).
TEST_F(StackOverflow, RecursionPastTheRingFaultsOnceAndEveryCallerGoesOn) {
    TScriptRun Run("FUNCTION SUM(N) { IF (N < 1) RETURN 0; RETURN N + SUM(N - 1); }\n"
                   "ALERT(\"SUM(1000) = \" + SUM(1000));\n"
                   "ALERT(\"SUM(1400) = \" + SUM(1400));\n"
                   "ALERT(\"SUM(3000) = \" + SUM(3000));\n");
    std::vector<std::string> Seen;
    for (size_t At = 0, End; (End = Run.Output.find("\r\n", At)) != std::string::npos; At = End + 2)
        Seen.push_back(Run.Output.substr(At, End - At));
    ASSERT_EQ(Seen.size(), 5u) << Run.Output;
    EXPECT_EQ(Seen[0], "SUM(1000) = 500500");
    EXPECT_EQ(Seen[1] + "\r\n", Fault);
    EXPECT_EQ(Seen[3] + "\r\n", Fault);
    // Both reach the same depth: the calls that fit in the ring.
    int32_t Depth = 0;
    while (Depth < 1400 && Seen[2] != "SUM(1400) = " + Countdown(1400, 1400 - Depth)) Depth++;
    EXPECT_GT(Depth, 1000) << Seen[2].substr(0, 80);
    EXPECT_LT(Depth, 1400);
    EXPECT_EQ(Seen[4], "SUM(3000) = " + Countdown(3000, 3000 - Depth));
    EXPECT_EQ(Diagnostics.size(), 2u);
}

// With 64 slots overflow is cheap: the root's variables are never overwritten.
TEST_F(StackOverflow, NothingLiveIsOverwritten) {
    TScriptRun Run("VAR X = 7; VAR Y = \"y\";\n"
                   "FUNCTION R(N) { RETURN R(N + 1); }\n"
                   "FUNCTION DEEP(N) { RETURN 1 + (2 + (3 + (4 + (5 + (6 + (7 + (8 + N))))))); }\n"
                   "ALERT(\"[\" + R(0) + \"]\");\n"
                   "ALERT(X + Y);\n"
                   "FOR (VAR I = 0; I < 100; I += 1) X += DEEP(I);\n"
                   "ALERT(X);\n",
                   64);
    EXPECT_EQ(Run.Output, Fault + Lines({"[]", "7y", "8557"}));
    EXPECT_EQ(Run.Host->Stack[0].AsInteger(), 8557);
    EXPECT_EQ(Run.Host->FrameCount, 0);
    EXPECT_EQ(Run.Host->StackPointer, 3);
}

// Code made by hand: pushes, opReserve and a frame past the last slot.
TEST_F(StackOverflow, PushesReserveAndFramesPastTheLastSlotAreFaults) {
    auto Run = [](const std::string& Code, TXScriptObjectFunction* Callee = nullptr) {
        TXScriptObjectFunction Root(nullptr, "__MAIN");
        Root.Code = Code;
        if (Callee) {
            Root.Functions.emplace_back(Callee);
            Root.FunctionCount = 1;
            Callee->Parent = Callee->Root = &Root;
        }
        TXScriptHost Host(16, nullptr);
        Host.Stack[0].SetInteger(42);
        TXScriptVariable Result;
        std::string Output = CaptureOutput([&] { Root.Execute(Host, Result); });
        EXPECT_EQ(Host.Stack[0].AsInteger(), 42);
        return Output;
    };
    std::string Pushes;
    AppendOpInt32(Pushes, opReserve, 1);
    for (int32_t Count = 0; Count < 20; Count++) AppendOpSlot(Pushes, opLoadVar, 0, 0);
    EXPECT_EQ(Run(Pushes), Fault);
    // A combined step at the top does no more than its instructions would.
    std::string Combined;
    AppendOpInt32(Combined, opReserve, 14);
    AppendOpSlot(Combined, opLoadVar, 0, 0);
    AppendOpInt32(Combined, opPushInt, 1);
    AppendOp(Combined, opAdd);
    EXPECT_EQ(Run(Combined), Fault);
    std::string Reserve;
    AppendOpInt32(Reserve, opReserve, 16);
    EXPECT_EQ(Run(Reserve), Fault);
    // The callee's 20 variables do not fit: it ends at once, its argument replaced by the
    // empty string, and the caller goes on.
    auto* Big = new TXScriptObjectFunction(nullptr, "BIG");
    Big->ParamCount = 1;
    Big->VarCount = 20;
    AppendOp(Big->Code, opReturnNil);
    std::string Call;
    AppendOpInt32(Call, opReserve, 1);
    AppendOpInt32(Call, opPushInt, 5);
    AppendOpSlot(Call, opCallFunction, 0, 0);
    AppendOpName(Call, opPushString, "|");
    AppendOp(Call, opAdd);
    AppendOp(Call, opAlert);
    EXPECT_EQ(Run(Call, Big), Fault + "|\r\n");
}

// ---- Calls balance the stack ----

using CallBalance = testing::Test;

TEST_F(CallBalance, ExtraArgumentsGoAndMissingParametersStartEmpty) {
    TScriptRun Run("FUNCTION ADD(A, B) { RETURN A + B; }\n"
                   "VAR X = 100;\n"
                   "ALERT(\"three: [\" + ADD(1, 2, 3) + \"]\");\n"
                   "ALERT(\"one: [\" + ADD(1) + \"]\");\n"
                   "ALERT(\"none: [\" + ADD() + \"]\");\n"
                   "ALERT(X);\n");
    EXPECT_EQ(Run.Output, Lines({"three: [3]", "one: [1]", "none: []", "100"}));
    EXPECT_EQ(Run.Host->StackPointer, 1);
}

TEST_F(CallBalance, CallStatementsAndFunctionValuesBalanceToo) {
    TScriptRun Run("FUNCTION F(A, B) { RETURN \"<\" + A + \",\" + B + \">\"; }\n"
                   "VAR G = F;\n"
                   "F(1, 2, 3); G(4); G(5, 6, 7, 8);\n"
                   "VAR Y = G(9) + G(1, 2, 3) + F(4);\n"
                   "ALERT(Y);\n");
    EXPECT_EQ(Run.Output, Lines({"<9,><1,2><4,>"}));
    EXPECT_EQ(Run.Host->StackPointer, 2);
}

// ---- Diagnostics ----

using FaultDiagnostics = testing::Test;

TEST_F(FaultDiagnostics, TheLineSaysWhatAndWhere) {
    TXFaultReport Report;
    Report.Kind = "stack overflow";
    Report.Function = "F";
    EXPECT_EQ(FaultDiagnosticLine(Report), "script fault: stack overflow in F");
    Report.Offset = 12;
    Report.File = "a.txt";
    EXPECT_EQ(FaultDiagnosticLine(Report), "script fault: stack overflow in F at offset 12, a.txt");
    Report.Line = 3;
    EXPECT_EQ(FaultDiagnosticLine(Report), "script fault: stack overflow in F at offset 12, a.txt Line 3");
}

TEST_F(FaultDiagnostics, CompiledCodeNamesItsFileAndLine) {
    TScriptRun Remainder("FUNCTION D(A) {\n  ALERT(A);\n  RETURN A % 0;\n}\nALERT(\"[\" + D(7) + \"]\");\n");
    EXPECT_EQ(Remainder.Output, "7\r\n" + Fault + "[]\r\n");
    EXPECT_EQ(Diagnostics, std::vector<std::string>{
                               "script fault: integer remainder by zero in D at offset 16, f.txt Line 2"});
    TScriptRun Overflow("VAR X;\nFUNCTION R(N) {\n  RETURN R(N + 1);\n}\nR(0);\n", 64);
    ASSERT_EQ(Diagnostics.size(), 1u);
    EXPECT_EQ(Diagnostics[0].rfind("script fault: stack overflow in R at offset ", 0), 0u) << Diagnostics[0];
    EXPECT_NE(Diagnostics[0].find(", f.txt Line 2"), std::string::npos) << Diagnostics[0];
    TScriptRun Depth("FUNCTION F() { RETURN F(); }\nF();\n", ScriptCallDepthLimit + 100);
    EXPECT_EQ(Diagnostics,
              std::vector<std::string>{"script fault: call depth limit in F at offset 0, f.txt Line 0"});
    SetScriptStepBudget(50);
    TScriptRun Budget("VAR I;\nFOR (I = 0; I < 100; I += 1)\n  I = I;\n");
    SetScriptStepBudget(-1);
    ASSERT_EQ(Diagnostics.size(), 1u);
    EXPECT_EQ(Diagnostics[0].rfind("script fault: step budget spent in __MAIN at offset ", 0), 0u)
        << Diagnostics[0];
    EXPECT_NE(Diagnostics[0].find(", f.txt Line 1"), std::string::npos) << Diagnostics[0];
}

void ThrowingTest(int32_t, TXObject*) {
    throw std::runtime_error("no application");
}

TEST_F(FaultDiagnostics, CodeMadeByHandHasOffsetsOnly) {
    auto Diagnose = [](const std::string& Code, bool WithEmptyCallee = false) {
        TXScriptObjectFunction Root(nullptr, "__MAIN");
        Root.Code = Code;
        if (WithEmptyCallee) {
            Root.Functions.push_back(std::make_unique<TXScriptObjectFunction>(&Root, "F"));
            Root.FunctionCount = 1;
        }
        TXScriptHost Host(64, nullptr);
        TXScriptVariable Result;
        Diagnostics.clear();
        SetFaultDiagnostics(KeepDiagnostic);
        CaptureOutput([&] { Root.Execute(Host, Result); });
        SetFaultDiagnostics(nullptr);
        return Diagnostics.size() == 1 ? Diagnostics[0] : "lines: " + std::to_string(Diagnostics.size());
    };
    std::string Unknown;
    AppendOp(Unknown, opNop);
    Unknown += char(0xEE);
    EXPECT_EQ(Diagnose(Unknown), "script fault: unknown instruction in __MAIN at offset 1");
    std::string Native;
    AppendOp(Native, opNop);
    AppendOpHandle(Native, opCallNative, 999999);
    EXPECT_EQ(Diagnose(Native),
              "script fault: fault in a built-in (no built-in under that handle) in __MAIN at offset 1");
    std::string Call;
    AppendOp(Call, opNop);
    AppendOpSlot(Call, opCallFunction, 0, 0);
    EXPECT_EQ(Diagnose(Call, true), "script fault: empty code in __MAIN at offset 1");
    // Every call of empty code is a fault, not only the first of a run.
    std::string Twice;
    AppendOpSlot(Twice, opCallFunction, 0, 0);
    AppendOpSlot(Twice, opCallFunction, 0, 0);
    EXPECT_EQ(Diagnose(Twice, true), "lines: 2");
    EXPECT_EQ(Diagnose(""), "script fault: empty code in __MAIN");
    TXTestRoutine Before = TestRoutine();
    SetTestRoutine(ThrowingTest);
    std::string Test;
    AppendOpInt32(Test, opTest, 1);
    EXPECT_EQ(Diagnose(Test),
              "script fault: fault in the test instruction (no application) in __MAIN at offset 0");
    SetTestRoutine(Before);
    // Nothing is made unless asked.
    Diagnostics.clear();
    TXScriptObjectFunction Root(nullptr, "__MAIN");
    TXScriptHost Host(64, nullptr);
    TXScriptVariable Result;
    EXPECT_EQ(CaptureOutput([&] { Root.Execute(Host, Result); }), Fault);
    EXPECT_TRUE(Diagnostics.empty());
}

} // namespace
