#include "xscriptcompiler.h"
#include "xscripthost.h"
#include "xscriptinterpreter.h"

#include "capture.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

// The harness's step budget: it ends scripts that run forever, and only where it is set.
class StepBudget : public testing::Test {
protected:
    void TearDown() override { SetScriptStepBudget(-1); }

    // Compiles Source as a root function and runs it on a fresh host.
    std::string Run(std::string_view Source) {
        TFileParser Parser("budget.txt", nullptr, Source);
        std::unique_ptr<TXScriptObjectFunction> Main;
        std::string Compiled = CaptureOutput([&] { Main = CompileMainFunction(Parser); });
        EXPECT_EQ(Compiled, "");
        EXPECT_FALSE(Main->Failed);
        TXScriptHost Host(256, nullptr);
        return CaptureOutput([&] { Main->Execute(Host, Result); });
    }
    TXScriptVariable Result;
};

TEST_F(StepBudget, EndsALoopThatNeverEnds) {
    SetScriptStepBudget(1000);
    EXPECT_EQ(Run("VAR I = 0; FOR (I = 0; 1; I += 1) I = I; ALERT(I);"), ScriptFaultLine);
    EXPECT_EQ(Result.AsText().View(), "");
}

TEST_F(StepBudget, EndsACodeStringThatJumpsToItself) {
    SetScriptStepBudget(10);
    TXScriptObjectFunction Main(nullptr, "__MAIN");
    AppendOpInt32(Main.Code, opJump, -JumpInstructionSize);
    TXScriptHost Host(16, nullptr);
    EXPECT_EQ(CaptureOutput([&] { Main.Execute(Host, Result); }), ScriptFaultLine);
}

TEST_F(StepBudget, EndsRecursionWideBeforeDeep) {
    // F calls itself twice per level: 2^31 calls without the budget. Once it is spent, each
    // level's next call faults that level, so at most one line per level.
    SetScriptStepBudget(5000);
    std::string Output = Run("FUNCTION F(N) { IF (N > 0) { F(N - 1); F(N - 1); } RETURN N; }\n"
                             "F(30);\nALERT(7);");
    size_t Faults = 0;
    for (size_t At = Output.find(ScriptFaultLine); At != std::string::npos;
         At = Output.find(ScriptFaultLine, At + 1))
        Faults++;
    EXPECT_GE(Faults, 1u);
    EXPECT_LE(Faults, 31u);
    EXPECT_TRUE(Output.ends_with(ScriptFaultLine + "7\r\n")) << Output;
}

TEST_F(StepBudget, CallersAfterTheFaultRunNoFurtherLoops) {
    SetScriptStepBudget(50);
    // The fault ends F; the root goes on without looping and reaches its end.
    EXPECT_EQ(Run("VAR I; FUNCTION F() { FOR (VAR J = 0; 1; J += 1) J = J; }\n"
                  "F(); ALERT(1); FOR (I = 0; I < 3; I += 1) ALERT(I); ALERT(2);"),
              ScriptFaultLine + "1\r\n" + ScriptFaultLine);
}

TEST_F(StepBudget, EachOutermostRunOnAnyThreadGetsTheWholeBudget) {
    SetScriptStepBudget(1000);
    // About 800 steps each: two runs in a row both finish.
    const char* Loop = "VAR I = 0; VAR S = 0; FOR (I = 0; I < 400; I += 1) S += 1; ALERT(S);";
    EXPECT_EQ(Run(Loop), "400\r\n");
    EXPECT_EQ(Run(Loop), "400\r\n");
    std::string Elsewhere;
    std::thread Worker([&] { Elsewhere = Run("VAR I = 0; FOR (I = 0; 1; I += 1) I = I; ALERT(I);"); });
    Worker.join();
    EXPECT_EQ(Elsewhere, ScriptFaultLine);
}

int32_t InnerRuns = 0;

// Runs a script of its own with a loop of 20 rounds, about 40 steps.
void RunInnerLoop(int32_t, TXObject*) {
    InnerRuns++;
    TFileParser Parser("inner.txt", nullptr, "VAR J = 0; FOR (J = 0; J < 20; J += 1) J = J;");
    std::unique_ptr<TXScriptObjectFunction> Inner = CompileMainFunction(Parser);
    TXScriptHost Host(64, nullptr);
    TXScriptVariable Result;
    Inner->Execute(Host, Result);
}

TEST_F(StepBudget, RunsStartedFromNativeCodeSpendTheSameBudget) {
    InnerRuns = 0;
    SetTestRoutine(RunInnerLoop);
    SetScriptStepBudget(200);
    // (TEST takes no semicolon.)
    std::string Output = Run("VAR I = 0; FOR (I = 0; I < 1000; I += 1) TEST(0)\nALERT(I);");
    SetTestRoutine(nullptr);
    // About 44 steps a round: the fifth inner run spends the rest, and the outer loop's next
    // jump finds nothing left.
    EXPECT_EQ(InnerRuns, 5);
    EXPECT_EQ(Output, ScriptFaultLine + ScriptFaultLine);
}

TEST_F(StepBudget, UnsetItCostsNothingAndLiftsAgain) {
    EXPECT_EQ(Run("VAR I = 0; VAR S = 0; FOR (I = 0; I < 100000; I += 1) S += 1; ALERT(S);"), "100000\r\n");
    SetScriptStepBudget(100);
    SetScriptStepBudget(-1);
    EXPECT_EQ(Run("VAR I = 0; VAR S = 0; FOR (I = 0; I < 100000; I += 1) S += 1; ALERT(S);"), "100000\r\n");
}

} // namespace
