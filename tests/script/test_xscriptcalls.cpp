// Calls on code built by hand: frames, arguments and results, faults of callees, and the
// member, test and method instructions.
#include "hand_built_script.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>

namespace {

using Calls = testing::Test;

TEST_F(Calls, TwoParametersBecomeTheFirstVariablesAndTheStackGrowsByOne) {
    TScript Script;
    TXScriptObjectFunction& Callee = Script.Nested(Script.Root, "F", 2, 3);
    AppendOpSlot(Callee.Code, opLoadVar, 0, 0);
    AppendOpInt32(Callee.Code, opPushInt, 10);
    AppendOp(Callee.Code, opMul);
    AppendOpSlot(Callee.Code, opLoadVar, 1, 0);
    AppendOp(Callee.Code, opAdd);
    AppendOp(Callee.Code, opReturn);
    std::string& Code = Script.Root.Code;
    AppendOpInt32(Code, opPushInt, 1);
    AppendOpInt32(Code, opPushInt, 2);
    AppendOpSlot(Code, opCallFunction, 0, 0);
    AppendOp(Code, opReturnNil);
    Script.Host.SetStackPosition(10);
    EXPECT_EQ(Script.Run(), "");
    EXPECT_EQ(Script.Host.StackPointer, 11);
    EXPECT_EQ(Script.Host.Stack[11].AsInteger(), 12);
    EXPECT_EQ(Script.Host.Stack[12].AsInteger(), 2);
    EXPECT_EQ(Script.Host.FrameCount, 0);
}

TEST_F(Calls, NoParametersLeaveExactlyOneMoreSlot) {
    TScript Script;
    TXScriptObjectFunction& Callee = Script.Nested(Script.Root, "F", 0, 2);
    AppendOpInt32(Callee.Code, opPushInt, 4);
    AppendOpInt32(Callee.Code, opPushInt, 5);
    AppendOp(Callee.Code, opReturn);
    AppendOpSlot(Script.Root.Code, opCallFunction, 0, 0);
    AppendOp(Script.Root.Code, opReturnNil);
    Script.Host.SetStackPosition(20);
    Script.Run();
    EXPECT_EQ(Script.Host.StackPointer, 21);
    EXPECT_EQ(Script.Host.Stack[21].AsInteger(), 5);
}

TEST_F(Calls, ExtraArgumentsStayBeneathTheResult) {
    TScript Script;
    TXScriptObjectFunction& Callee = Script.Nested(Script.Root, "F", 1, 1);
    AppendOpSlot(Callee.Code, opLoadVar, 0, 0);
    AppendOp(Callee.Code, opReturn);
    for (int32_t Value : {1, 2, 3}) AppendOpInt32(Script.Root.Code, opPushInt, Value);
    AppendOpSlot(Script.Root.Code, opCallFunction, 0, 0);
    AppendOp(Script.Root.Code, opReturnNil);
    Script.Run();
    EXPECT_EQ(Script.Host.StackPointer, 3);
    EXPECT_EQ(Script.Host.Stack[3].AsInteger(), 3);
    EXPECT_EQ(Script.Host.Stack[2].AsInteger(), 2);
}

TEST_F(Calls, CallVariableOnAnIntegerLeavesItAboveTheArguments) {
    TScript Script;
    std::string& Code = Script.Root.Code;
    AppendOpInt32(Code, opReserve, 1);
    AppendOpInt32(Code, opPushInt, 5);
    AppendOpSlot(Code, opStoreVar, 0, 0);
    AppendOpInt32(Code, opPushInt, 1);
    AppendOpInt32(Code, opPushInt, 2);
    AppendOpSlot(Code, opCallVariable, 0, 0);
    AppendOp(Code, opReturnNil);
    EXPECT_EQ(Script.Run(), "callvariable was called with no callable variable\r\n");
    EXPECT_EQ(Script.Host.StackPointer, 4);
    EXPECT_EQ(Script.Host.Stack[4].AsInteger(), 5);
    EXPECT_EQ(Script.Host.Stack[3].AsInteger(), 2);
}

TEST_F(Calls, CallVariableOnAFunctionValueWithoutAFunctionIsAFault) {
    TScript Script;
    Script.Host.Stack[0].kind = vkFunction; // a function value that names none
    Script.Host.Stack[0].reference = nullptr;
    std::string& Code = Script.Root.Code;
    AppendOpSlot(Code, opCallVariable, 0, 0);
    AppendOpName(Code, opPushString, "not reached");
    AppendOp(Code, opAlert);
    AppendOp(Code, opReturnNil);
    EXPECT_EQ(Script.Run(), Fault);
    EXPECT_EQ(Script.Result.kind, vkString);
    EXPECT_TRUE(Script.Result.text.Empty());
}

TEST_F(Calls, AFunctionValueIsCalledWithFrameDepthZero) {
    TScript Script;
    TXScriptObjectFunction& Callee = Script.Nested(Script.Root, "F", 1, 1);
    AppendOpSlot(Callee.Code, opLoadVar, 0, 0);
    AppendOpSlot(Callee.Code, opLoadVar, 0, 1); // the root's variable 0: the function value
    AppendOp(Callee.Code, opAdd);
    AppendOp(Callee.Code, opReturn);
    std::string& Code = Script.Root.Code;
    AppendOpInt32(Code, opReserve, 1);
    AppendOpSlot(Code, opPushFunction, 0, 0);
    AppendOpSlot(Code, opStoreVar, 0, 0);
    AppendOpName(Code, opPushString, "X");
    AppendOpSlot(Code, opCallVariable, 0, 0);
    AppendOp(Code, opAlert);
    AppendOp(Code, opReturnNil);
    // With depth 0 recorded, depth 1 runs out of frames: the load is refused, and opAdd
    // takes the slot beneath, which still holds the copy of the function value F.
    EXPECT_EQ(Script.Run(), "script stack is broken ;)\r\nFX\r\n");
    EXPECT_EQ(Script.Host.StackPointer, 1);
}

TEST_F(Calls, NestedFunctionsReachTheirEnclosingVariablesByDepth) {
    TScript Script;
    TXScriptObjectFunction& Outer = Script.Nested(Script.Root, "OUTER", 0, 1);
    TXScriptObjectFunction& Inner = Script.Nested(Outer, "INNER", 0, 0);
    AppendOpSlot(Inner.Code, opLoadVar, 0, 1); // OUTER's variable
    AppendOpSlot(Inner.Code, opLoadVar, 0, 2); // the root's variable
    AppendOp(Inner.Code, opAdd);
    AppendOp(Inner.Code, opReturn);
    AppendOpInt32(Outer.Code, opPushInt, 30);
    AppendOpSlot(Outer.Code, opStoreVar, 0, 0);
    AppendOpSlot(Outer.Code, opCallFunction, 0, 0);
    AppendOp(Outer.Code, opReturn);
    std::string& Code = Script.Root.Code;
    AppendOpInt32(Code, opReserve, 1);
    AppendOpInt32(Code, opPushInt, 12);
    AppendOpSlot(Code, opStoreVar, 0, 0);
    AppendOpSlot(Code, opCallFunction, 0, 0);
    AppendOp(Code, opAlert);
    AppendOp(Code, opReturnNil);
    EXPECT_EQ(Script.Run(), "42\r\n");
}

TEST_F(Calls, ACalleeFaultGivesItsCallerTheEmptyStringAndTheCallerGoesOn) {
    TScript Script;
    TXScriptObjectFunction& Callee = Script.Nested(Script.Root, "F", 0, 1);
    AppendOpInt32(Callee.Code, opPushInt, 7);
    AppendOpInt32(Callee.Code, opPushInt, 0);
    AppendOp(Callee.Code, opMod);
    AppendOp(Callee.Code, opReturn);
    std::string& Code = Script.Root.Code;
    AppendOpName(Code, opPushString, "before");
    AppendOpSlot(Code, opCallFunction, 0, 0);
    AppendOpName(Code, opPushString, "[");
    AppendOp(Code, opSwap);
    AppendOp(Code, opAdd);
    AppendOpName(Code, opPushString, "]");
    AppendOp(Code, opAdd);
    AppendOp(Code, opAlert);
    AppendOp(Code, opAlert);
    AppendOp(Code, opReturnNil);
    EXPECT_EQ(Script.Run(), Fault + "[]\r\nbefore\r\n");
    EXPECT_EQ(Text(Script.Result), "NIL");
    EXPECT_EQ(Script.Host.FrameCount, 0);
}

TEST_F(Calls, FaultsOfEveryKindEndOnlyTheInnermostFunction) {
    auto CalleeOutput = [](const std::function<void(TScript&, TXScriptObjectFunction&)>& Build) {
        TScript Script;
        TXScriptObjectFunction& Callee = Script.Nested(Script.Root, "F", 0, 0);
        Build(Script, Callee);
        AppendOpSlot(Script.Root.Code, opCallFunction, 0, 0);
        AppendOpName(Script.Root.Code, opPushString, "|");
        AppendOp(Script.Root.Code, opAdd);
        AppendOp(Script.Root.Code, opAlert);
        AppendOp(Script.Root.Code, opReturnNil);
        std::string Output = Script.Run();
        EXPECT_EQ(Script.Host.StackPointer, 0);
        return Output;
    };
    // Empty code.
    EXPECT_EQ(CalleeOutput([](TScript&, TXScriptObjectFunction&) {}), Fault + "|\r\n");
    // The smallest integer by -1.
    EXPECT_EQ(CalleeOutput([](TScript&, TXScriptObjectFunction& F) {
                  AppendOpInt32(F.Code, opPushInt, INT32_MIN);
                  AppendOpInt32(F.Code, opPushInt, -1);
                  AppendOp(F.Code, opMod);
              }),
              Fault + "|\r\n");
    // A built-in handle nothing is registered under.
    EXPECT_EQ(CalleeOutput(
                  [](TScript&, TXScriptObjectFunction& F) { AppendOpHandle(F.Code, opCallNative, 999999); }),
              Fault + "|\r\n");
    // A function slot with nothing behind it.
    EXPECT_EQ(
        CalleeOutput([](TScript&, TXScriptObjectFunction& F) { AppendOpSlot(F.Code, opCallFunction, 3, 0); }),
        Fault + "|\r\n");
    EXPECT_EQ(
        CalleeOutput([](TScript&, TXScriptObjectFunction& F) { AppendOpSlot(F.Code, opPushFunction, 0, 0); }),
        Fault + "|\r\n");
    EXPECT_EQ(
        CalleeOutput([](TScript&, TXScriptObjectFunction& F) { AppendOpSlot(F.Code, opCallFunction, 0, 9); }),
        Fault + "|\r\n");
}

TEST_F(Calls, CodeTooLongToRunIsAFaultOfItsFunction) {
    TScript Script;
    TXScriptObjectFunction& Callee = Script.Nested(Script.Root, "F", 0, 0);
    Callee.Code.assign(size_t(PreparedCodeLimit) + 1, char(opNop));
    AppendOpSlot(Script.Root.Code, opCallFunction, 0, 0);
    AppendOpName(Script.Root.Code, opPushString, "|");
    AppendOp(Script.Root.Code, opAdd);
    AppendOp(Script.Root.Code, opAlert);
    EXPECT_EQ(Script.Run(), Fault + "|\r\n");
    TScript Long;
    Long.Root.Code.assign(size_t(PreparedCodeLimit) + 1, char(opNop));
    EXPECT_EQ(Long.Run(), Fault);
}

TEST_F(Calls, RunawayRecursionIsOneFaultNotAStackOverflow) {
    TScript Script;
    TXScriptObjectFunction& Callee = Script.Nested(Script.Root, "F", 0, 0);
    AppendOpSlot(Callee.Code, opCallFunction, 0, 1);
    AppendOp(Callee.Code, opReturn);
    AppendOpSlot(Script.Root.Code, opCallFunction, 0, 0);
    AppendOpName(Script.Root.Code, opPushString, "done");
    AppendOp(Script.Root.Code, opAlert);
    AppendOp(Script.Root.Code, opReturnNil);
    EXPECT_EQ(Script.Run(), Fault + "done\r\n");
    EXPECT_EQ(Script.Host.FrameCount, 0);
    EXPECT_EQ(Text(Script.Result), "NIL");
}

TEST_F(Calls, DeepButBoundedRecursionRuns) {
    // F(N): N == 0 ? 0 : N + F(N - 1), for N = 20000.
    TScript Script;
    TXScriptObjectFunction& F = Script.Nested(Script.Root, "F", 1, 1);
    std::string& Code = F.Code;
    AppendOpSlot(Code, opLoadVar, 0, 0);
    int32_t Operand = AppendForwardJump(Code, opJumpIfFalse);
    AppendOpSlot(Code, opLoadVar, 0, 0);
    AppendOpSlot(Code, opLoadVar, 0, 0);
    AppendOpInt32(Code, opPushInt, 1);
    AppendOp(Code, opSub);
    AppendOpSlot(Code, opCallFunction, 0, 1);
    AppendOp(Code, opAdd);
    AppendOp(Code, opReturn);
    PatchJumpHere(Code, Operand);
    AppendOpInt32(Code, opPushInt, 0);
    AppendOp(Code, opReturn);
    Script.Host.SetStackSize(100000);
    AppendOpInt32(Script.Root.Code, opPushInt, 20000);
    AppendOpSlot(Script.Root.Code, opCallFunction, 0, 0);
    AppendOp(Script.Root.Code, opAlert);
    AppendOp(Script.Root.Code, opReturnNil);
    EXPECT_EQ(Script.Run(), "200010000\r\n");
}

using Instructions = testing::Test;

TEST_F(Instructions, MemberInstructionsOnTheIntegerThreeSkipTheirNames) {
    auto Member = [](const std::string& Instruction, const std::string& Expected, const std::string& Lines,
                     int32_t Pointer) {
        TScript Script;
        AppendOpInt32(Script.Root.Code, opPushInt, 1);
        AppendOpInt32(Script.Root.Code, opPushInt, 3);
        Script.Root.Code += Instruction;
        AppendOpInt32(Script.Root.Code, opPushInt, 77);
        AppendOp(Script.Root.Code, opPop);
        AppendOp(Script.Root.Code, opReturn);
        EXPECT_EQ(Script.Run(), Lines) << Instruction;
        EXPECT_EQ(Text(Script.Result), Expected) << Instruction;
        EXPECT_EQ(Script.Host.StackPointer, Pointer) << Instruction;
    };
    std::string Code;
    AppendOpName(Code, opGetObjectChild, "CHILD");
    Member(Code, "undefined", "", 1);
    Code.clear();
    AppendOpName(Code, opGetObjectValue, "VALUE");
    Member(Code, "3", "", 1);
    // The value 3 is popped, the target 1 stays.
    Code.clear();
    AppendOpName(Code, opSetObjectChild, "VALUE");
    Member(Code, "1", "SetObjectChild - object not found\r\n", 0);
    Code.clear();
    AppendOpOperatorName(Code, opUpdateObjectChild, uoAdd, "VALUE");
    Member(Code, "1", "SetObjectChild - object not found\r\n", 0);
}

TEST_F(Instructions, SelfWithoutAnOwnerIsNoObject) {
    TScript Script;
    AppendOp(Script.Root.Code, opPushSelf);
    AppendOpName(Script.Root.Code, opGetObjectValue, "X");
    EXPECT_EQ(Script.Run(), "");
    EXPECT_EQ(Script.Result.kind, vkObject);
    EXPECT_EQ(Script.Result.reference, nullptr);
}

int32_t TestModes[4];
int32_t TestCalls = 0;
TXObject* TestOwner = nullptr;

void RecordTest(int32_t Mode, TXObject* Owner) {
    if (TestCalls < 4) TestModes[TestCalls] = Mode;
    TestCalls++;
    TestOwner = Owner;
    if (Mode == 1) throw std::runtime_error("no application above the owner");
}

TEST_F(Instructions, TestHandsItsModeAndOwnerToTheInstalledRoutine) {
    auto Build = [](TScript& Script) {
        AppendOpInt32(Script.Root.Code, opTest, 0);
        AppendOpInt32(Script.Root.Code, opTest, 7);
        AppendOpName(Script.Root.Code, opPushString, "after");
        AppendOp(Script.Root.Code, opAlert);
        AppendOpInt32(Script.Root.Code, opTest, 1);
        AppendOpName(Script.Root.Code, opPushString, "not reached");
        AppendOp(Script.Root.Code, opAlert);
        AppendOp(Script.Root.Code, opReturnNil);
    };
    TScript Without;
    Build(Without);
    EXPECT_EQ(Without.Run(), "after\r\nnot reached\r\n");

    SetTestRoutine(RecordTest);
    TScript With;
    auto* Owner = reinterpret_cast<TXObject*>(&With);
    With.Host.Owner = Owner;
    Build(With);
    std::string Output = With.Run();
    SetTestRoutine(nullptr);
    EXPECT_EQ(Output, "after\r\n" + Fault);
    EXPECT_EQ(TestCalls, 3);
    EXPECT_EQ(TestModes[0], 0);
    EXPECT_EQ(TestModes[1], 7);
    EXPECT_EQ(TestModes[2], 1);
    EXPECT_EQ(TestOwner, Owner);
    EXPECT_EQ(Text(With.Result), "");
}

TXScriptObjectFunction* NestedRoot = nullptr;
int32_t NestedEntries = 0;

// Runs the script that made the test instruction again, from inside it.
void RunAgain(int32_t, TXObject*) {
    NestedEntries++;
    TXScriptHost Host(16, nullptr);
    TXScriptVariable Result;
    NestedRoot->Execute(Host, Result);
}

TEST_F(Instructions, NativeReentryIsBounded) {
    TScript Script;
    AppendOpInt32(Script.Root.Code, opTest, 0);
    AppendOpName(Script.Root.Code, opPushString, "back");
    AppendOp(Script.Root.Code, opAlert);
    NestedRoot = &Script.Root;
    SetTestRoutine(RunAgain);
    std::string Output = Script.Run();
    SetTestRoutine(nullptr);
    EXPECT_EQ(NestedEntries, NativeExecuteDepthLimit);
    std::string Expected = Fault;
    for (int32_t Level = 0; Level < NativeExecuteDepthLimit; Level++) Expected += "back\r\n";
    EXPECT_EQ(Output, Expected);
}

// Script calls active in the run that makes the test instruction count for a run started
// from inside it: with the root and ScriptCallDepthLimit - 1 calls active, the inner run is one
// too many.
TEST_F(Instructions, NativeReentryCountsTheScriptCallsBeneathIt) {
    auto Deep = [](int32_t Calls) {
        // F(N): N == 0 ? TEST(0) : F(N - 1), called with N = Calls - 1.
        TScript Script;
        TXScriptObjectFunction& F = Script.Nested(Script.Root, "F", 1, 1);
        AppendOpSlot(F.Code, opLoadVar, 0, 0);
        int32_t Operand = AppendForwardJump(F.Code, opJumpIfFalse);
        AppendOpSlot(F.Code, opLoadVar, 0, 0);
        AppendOpInt32(F.Code, opPushInt, 1);
        AppendOp(F.Code, opSub);
        AppendOpSlot(F.Code, opCallFunction, 0, 1);
        AppendOp(F.Code, opReturn);
        PatchJumpHere(F.Code, Operand);
        AppendOpInt32(F.Code, opTest, 0);
        AppendOp(F.Code, opReturnNil);
        Script.Host.SetStackSize(4 * ScriptCallDepthLimit);
        AppendOpInt32(Script.Root.Code, opPushInt, Calls - 1);
        AppendOpSlot(Script.Root.Code, opCallFunction, 0, 0);
        AppendOp(Script.Root.Code, opReturnNil);
        TScript Inner;
        AppendOpName(Inner.Root.Code, opPushString, "inner");
        AppendOp(Inner.Root.Code, opAlert);
        NestedRoot = &Inner.Root;
        NestedEntries = 0;
        SetTestRoutine(RunAgain);
        std::string Output = Script.Run();
        SetTestRoutine(nullptr);
        EXPECT_EQ(NestedEntries, 1);
        return Output;
    };
    EXPECT_EQ(Deep(ScriptCallDepthLimit - 2), "inner\r\n");
    EXPECT_EQ(Deep(ScriptCallDepthLimit - 1), Fault);
}

} // namespace
