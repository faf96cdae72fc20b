#include "xscriptcompiler.h"
#include "xscripthost.h"
#include "xscriptinterpreter.h"

#include "capture.h"

#include <gtest/gtest.h>

#include <bit>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const std::string& Fault = ScriptFaultLine;

// A root function with nested functions built by hand.
struct TScript {
    TXScriptObjectFunction Root{nullptr, "__MAIN"};
    TXScriptHost Host{64, nullptr};
    TXScriptVariable Result;

    TXScriptObjectFunction& Nested(TXScriptObjectFunction& Parent, const std::string& Name,
                                   int32_t Parameters, int32_t Variables) {
        Parent.Functions.push_back(std::make_unique<TXScriptObjectFunction>(&Parent, Name));
        Parent.FunctionCount++;
        TXScriptObjectFunction& Function = *Parent.Functions.back();
        Function.ParamCount = Parameters;
        Function.VarCount = Variables;
        return Function;
    }
    std::string Run() {
        return CaptureOutput([this] { Root.Execute(Host, Result); });
    }
};

std::string Text(const TXScriptVariable& Value) {
    return Value.AsText().ToString();
}

using ExecutionLoop = testing::Test;

TEST_F(ExecutionLoop, CodeOfLengthZeroIsAFaultWithTheEmptyString) {
    TScript Script;
    Script.Result.SetInteger(5);
    EXPECT_EQ(Script.Run(), Fault);
    EXPECT_EQ(Script.Result.kind, vkString);
    EXPECT_TRUE(Script.Result.text.Empty());
    EXPECT_EQ(Script.Host.StackPointer, 0);
}

TEST_F(ExecutionLoop, OnlyReturnNilGivesTheStringNil) {
    TScript Script;
    AppendOp(Script.Root.Code, opReturnNil);
    EXPECT_EQ(Script.Run(), "");
    EXPECT_EQ(Script.Result.kind, vkString);
    EXPECT_EQ(Text(Script.Result), "NIL");
    EXPECT_EQ(Script.Host.StackPointer, 0);
}

TEST_F(ExecutionLoop, TheWorkedExampleAlertsThree) {
    TScript Script;
    std::string& Code = Script.Root.Code;
    AppendOpInt32(Code, opReserve, 1);
    AppendOpInt32(Code, opPushInt, 1);
    AppendOpInt32(Code, opPushInt, 2);
    AppendOp(Code, opAdd);
    AppendOpSlot(Code, opStoreVar, 0, 0);
    AppendOpSlot(Code, opLoadVar, 0, 0);
    AppendOp(Code, opAlert);
    AppendOp(Code, opReturnNil);
    ASSERT_EQ(Code.size(), 28u);
    EXPECT_EQ(Script.Run(), "3\r\n");
    EXPECT_EQ(Text(Script.Result), "NIL");
    EXPECT_EQ(Script.Host.StackPointer, 1);
}

TEST_F(ExecutionLoop, RunningOffTheEndOrJumpingToItPopsTheTop) {
    // opPushInt 7, then a jump over opPushInt 8 to offset 15, the end of the code.
    TScript Script;
    AppendOpInt32(Script.Root.Code, opPushInt, 7);
    AppendOpInt32(Script.Root.Code, opJump, 5);
    AppendOpInt32(Script.Root.Code, opPushInt, 8);
    EXPECT_EQ(Script.Run(), "");
    EXPECT_EQ(Script.Result.AsInteger(), 7);
    EXPECT_EQ(Script.Host.StackPointer, 0);

    TScript OffTheEnd;
    AppendOpInt32(OffTheEnd.Root.Code, opPushInt, 5);
    OffTheEnd.Run();
    EXPECT_EQ(OffTheEnd.Result.AsInteger(), 5);
    EXPECT_EQ(OffTheEnd.Host.StackPointer, 0);
}

TEST_F(ExecutionLoop, OperandsPastTheEndAndJumpsBeforeTheStartEndTheFunction) {
    const std::string Truncated[] = {
        std::string("\x1B\x01\x00", 3), // int32 cut short
        std::string("\x1D"
                    "AB",
                    3),                         // name without its 0 byte
        std::string("\x3D\x01", 2),             // operator without a name
        std::string("\x3D", 1),                 // nothing at all
        std::string("\x2C\x00\x00\x00", 4),     // slot cut short
        std::string("\x1A\xF0\xFF\xFF\xFF", 5), // jump before the first byte
    };
    for (const std::string& Tail : Truncated) {
        TScript Script;
        AppendOpInt32(Script.Root.Code, opPushInt, 9);
        Script.Root.Code += Tail;
        EXPECT_EQ(Script.Run(), "");
        EXPECT_EQ(Script.Result.AsInteger(), 9);
        EXPECT_EQ(Script.Host.StackPointer, 0);
    }
}

TEST_F(ExecutionLoop, AJumpIntoAnOperandDecodesFromThere) {
    // 0: opJump to 6; 5: opPushInt whose operand bytes, read from 6, are opNop and
    // opPushInt 42, which ends at 12, the end of the code.
    TScript Script;
    Script.Root.Code = std::string("\x1A\x01\x00\x00\x00\x1B\x06\x1B\x2A\x00\x00\x00", 12);
    EXPECT_EQ(Script.Run(), "");
    EXPECT_EQ(Script.Result.AsInteger(), 42);
    EXPECT_EQ(Script.Host.StackPointer, 0);
}

TEST_F(ExecutionLoop, AByteThatIsNoInstructionEndsTheFunctionWithNothingPopped) {
    for (uint8_t Byte : {0x00, 0x17, 0x30, 0x63, 0xFE}) {
        TScript Script;
        AppendOpInt32(Script.Root.Code, opPushInt, 9);
        AppendByte(Script.Root.Code, Byte);
        AppendOpInt32(Script.Root.Code, opPushInt, 10);
        char Expected[64];
        std::snprintf(Expected, sizeof Expected, "unknown byte %02X at position 6\r\n", Byte);
        EXPECT_EQ(Script.Run(), Expected);
        EXPECT_EQ(Script.Result.kind, vkString);
        EXPECT_EQ(Text(Script.Result), "");
        EXPECT_EQ(Script.Host.StackPointer, 1);
    }
}

using StackInstructions = testing::Test;

// Runs Code (ending with the value to check on top) and gives the result as text.
std::string Evaluate(const std::string& Code) {
    TScript Script;
    Script.Root.Code = Code;
    Script.Run();
    return Text(Script.Result);
}

// An integer or float constant as opPushInt or opPushFloat, any other text as opPushString.
void PushConstant(std::string& Code, const std::string& Text) {
    int32_t Integer;
    float Float;
    if (ParseScriptInteger(Text, Integer))
        AppendOpInt32(Code, opPushInt, Integer);
    else if (ParseScriptFloat(Text, Float))
        AppendOpFloat32(Code, opPushFloat, Float);
    else
        AppendOpName(Code, opPushString, Text);
}

std::string Binary(TXOpcode Op, const std::string& Left, const std::string& Right) {
    std::string Code;
    PushConstant(Code, Left);
    PushConstant(Code, Right);
    AppendOp(Code, Op);
    return Evaluate(Code);
}

TEST_F(StackInstructions, ValueOperationsWorkOnTheSlotBeneathTheTop) {
    struct {
        TXOpcode Op;
        const char* Left;
        const char* Right;
        const char* Expected;
    } Cases[] = {
        {opAdd, "2", "3", "5"},
        {opAdd, "AB", "12", "AB12"},
        {opSub, "10", "4", "6"},
        {opSub, "2147483647", "-1", "-2147483648"},
        {opMul, "6", "7", "42"},
        {opMul, "2", "1.5", "3"},
        {opMul, "1.5", "2", "4"}, // an integer right operand rounds the left
        {opSub, "7", "X", "7"},   // a string right operand changes nothing
        {opDiv, "7", "2", "3"},
        {opDiv, "7", "2.0", "3.5"},
        {opMod, "-7", "3", "-1"},
        {opAnd, "12", "10", "8"},
        {opOr, "12", "10", "14"},
        {opXor, "12", "10", "6"},
        {opShl, "1", "33", "2"},
        {opShr, "-1", "28", "15"},
        {opShr2, "-1", "28", "15"},
        {opEqual, "3", "3.0", "1"},
        {opLess, "2", "2.5", "1"},
        {opLessEqual, "3", "2", "0"},
        {opGreater, "16777217", "16777216", "0"}, // compared as singles
        {opGreaterEqual, "B", "A", "1"},
    };
    for (const auto& Case : Cases)
        EXPECT_EQ(Binary(Case.Op, Case.Left, Case.Right), Case.Expected)
            << OpcodeName(Case.Op) << " " << Case.Left << " " << Case.Right;
}

// The integer shortcuts of the loop agree with the values' own operations.
TEST_F(StackInstructions, IntegerShortcutsAgreeWithTheValueOperations) {
    const TXOpcode Operations[] = {opAdd,   opSub,       opMul,  opDiv,     opAnd,
                                   opOr,    opXor,       opShl,  opShr,     opShr2,
                                   opEqual, opLessEqual, opLess, opGreater, opGreaterEqual};
    const int32_t Values[] = {0, 1, -1, 7, -7, 33, 16777216, 16777217, INT32_MAX, INT32_MIN};
    for (TXOpcode Op : Operations)
        for (int32_t Left : Values)
            for (int32_t Right : Values) {
                TXScriptVariable Expected = TXScriptVariable::FromInteger(Left);
                TXScriptVariable Operand = TXScriptVariable::FromInteger(Right);
                switch (Op) {
                case opAdd: Expected.Add(Operand); break;
                case opSub: Expected.Subtract(Operand); break;
                case opMul: Expected.Multiply(Operand); break;
                case opDiv: Expected.Divide(Operand); break;
                case opAnd: Expected.BitAnd(Operand); break;
                case opOr: Expected.BitOr(Operand); break;
                case opXor: Expected.BitXor(Operand); break;
                case opShl: Expected.ShiftLeft(Operand); break;
                case opShr:
                case opShr2: Expected.ShiftRight(Operand); break;
                case opEqual: Expected.Equal(Operand); break;
                case opLessEqual: Expected.LessOrEqual(Operand); break;
                case opLess: Expected.Less(Operand); break;
                case opGreater: Expected.Greater(Operand); break;
                default: Expected.GreaterOrEqual(Operand); break;
                }
                std::string Code;
                AppendOpInt32(Code, opPushInt, Left);
                AppendOpInt32(Code, opPushInt, Right);
                AppendOp(Code, Op);
                TScript Script;
                Script.Root.Code = Code;
                Script.Run();
                EXPECT_EQ(Script.Result.kind, vkInteger);
                EXPECT_EQ(Script.Result.intValue, Expected.intValue)
                    << OpcodeName(Op) << " " << Left << " " << Right;
            }
}

TEST_F(StackInstructions, UnaryDupSwapAndPop) {
    std::string Code;
    AppendOpInt32(Code, opPushInt, 5);
    AppendOp(Code, opNot);
    EXPECT_EQ(Evaluate(Code), "-6");
    Code.clear();
    AppendOpName(Code, opPushString, "12AB");
    AppendOp(Code, opToNumber);
    EXPECT_EQ(Evaluate(Code), "0");
    Code.clear();
    AppendOpFloat32(Code, opPushFloat, 2.5f);
    AppendOp(Code, opNegate);
    EXPECT_EQ(Evaluate(Code), "-2.5");
    Code.clear();
    AppendOpInt32(Code, opPushInt, 1);
    AppendOpInt32(Code, opPushInt, 2);
    AppendOp(Code, opSwap);
    AppendOp(Code, opPop);
    EXPECT_EQ(Evaluate(Code), "2");
    Code.clear();
    AppendOpName(Code, opPushString, "X");
    AppendOp(Code, opDup);
    AppendOp(Code, opAdd);
    EXPECT_EQ(Evaluate(Code), "XX");
}

TEST_F(StackInstructions, ReserveMovesWithoutWritingAndTheRingWraps) {
    TScript Script;
    Script.Host.Stack[3].SetInteger(33);
    AppendOpInt32(Script.Root.Code, opReserve, 3);
    AppendOpInt32(Script.Root.Code, opReserve, -65); // modulo 64: one back
    AppendOpInt32(Script.Root.Code, opReserve, 1);
    Script.Run();
    EXPECT_EQ(Script.Result.AsInteger(), 33);
    EXPECT_EQ(Script.Host.StackPointer, 2);
}

TEST_F(StackInstructions, JumpIfFalseTestsTheIntegerOfTheTopAndPopsIt) {
    auto Branch = [](const std::string& Condition) {
        std::string Code;
        AppendOpInt32(Code, opPushInt, 100);
        AppendOpName(Code, opPushString, Condition);
        int32_t Operand = AppendForwardJump(Code, opJumpIfFalse);
        AppendOp(Code, opPop);
        AppendOpInt32(Code, opPushInt, 200);
        PatchJumpHere(Code, Operand);
        AppendOp(Code, opReturn);
        return Evaluate(Code);
    };
    EXPECT_EQ(Branch("0"), "100");
    EXPECT_EQ(Branch("0.4"), "100");
    EXPECT_EQ(Branch("WORD"), "100");
    EXPECT_EQ(Branch("0.6"), "200");
    EXPECT_EQ(Branch("-3"), "200");
}

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

TEST_F(Calls, NativeCallsWorkOnTheStack) {
    std::optional<uint32_t> Length = FindBuiltin("STRINGS.LENGTH");
    ASSERT_TRUE(Length.has_value());
    std::string Code;
    AppendOpName(Code, opPushString, "ABCDE");
    AppendOpHandle(Code, opCallNative, *Length);
    EXPECT_EQ(Evaluate(Code), "5");
}

using Instructions = testing::Test;

TEST_F(Instructions, CallMethodOnlyWritesItsLine) {
    TScript Script;
    AppendOpInt32(Script.Root.Code, opPushInt, 3);
    AppendOpName(Script.Root.Code, opCallMethod, "M");
    EXPECT_EQ(Script.Run(), "this doesnt even work!\r\n");
    EXPECT_EQ(Script.Result.AsInteger(), 3);
}

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

} // namespace

namespace {

// Combined steps must leave exactly what their single instructions leave. The same
// sequences run once as written (combined) and once with opNop between the instructions
// (never combined), from the same random stacks, and everything is compared.
struct TSequence {
    std::vector<std::string> Instructions;
    int32_t JumpAt = -1; // the opJumpIfFalse whose target is the end of the code
};

std::string Assemble(const TSequence& Sequence, bool Separated) {
    std::string Code;
    for (size_t At = 0; At < Sequence.Instructions.size(); At++) {
        if (Separated && At > 0) AppendOp(Code, opNop);
        std::string Instruction = Sequence.Instructions[At];
        if (int32_t(At) == Sequence.JumpAt) {
            size_t Rest = 0;
            for (size_t After = At + 1; After < Sequence.Instructions.size(); After++)
                Rest += Sequence.Instructions[After].size() + (Separated ? 1 : 0);
            Instruction.clear();
            AppendOpInt32(Instruction, opJumpIfFalse, int32_t(Rest));
        }
        Code += Instruction;
    }
    return Code;
}

TXScriptVariable RandomValue(uint32_t& Seed) {
    Seed = Seed * 1103515245u + 12345u;
    switch ((Seed >> 16) % 11) {
    case 0: return TXScriptVariable::FromInteger(5);
    case 1: return TXScriptVariable::FromInteger(0);
    case 2: return TXScriptVariable::FromInteger(-7);
    case 3: return TXScriptVariable::FromInteger(INT32_MAX);
    case 4: return TXScriptVariable::FromInteger(INT32_MIN);
    case 5: return TXScriptVariable::FromFloat(2.5f);
    case 6: return TXScriptVariable::FromText("12");
    case 7: return TXScriptVariable::FromText("AB");
    case 8: return TXScriptVariable();
    case 9: {
        TXScriptVariable Object;
        Object.SetObject(nullptr);
        return Object;
    }
    default: return TXScriptVariable::FromInteger(1);
    }
}

std::string Describe(const TXScriptVariable& Value) {
    switch (Value.kind) {
    case vkInteger: return "i" + std::to_string(Value.intValue);
    case vkFloat: return "f" + std::to_string(std::bit_cast<uint32_t>(Value.floatValue));
    case vkString: return "s" + Value.text.ToString();
    default:
        return "r" + std::to_string(Value.kind) + ":" +
               std::to_string(reinterpret_cast<uintptr_t>(Value.reference));
    }
}

std::string RunOn(const std::string& Code, const std::vector<TXScriptVariable>& Stack, int32_t Pointer,
                  int32_t Frame) {
    TXScriptObjectFunction Function(nullptr, "__MAIN");
    Function.Code = Code;
    TXScriptHost Host(int32_t(Stack.size()), nullptr);
    for (size_t Slot = 0; Slot < Stack.size(); Slot++) Host.Stack[Slot] = Stack[Slot];
    Host.SetStackPosition(Frame >= 0 ? Frame : Pointer);
    if (Frame >= 0) Host.OpenFrame(Pointer - Frame, 1);
    TXScriptVariable Result;
    std::string Output = CaptureOutput([&] { Function.Execute(Host, Result); });
    std::string State = Output + "|" + Describe(Result) + "|" + std::to_string(Host.StackPointer) + "|";
    for (const TXScriptVariable& Slot : Host.Stack) State += Describe(Slot) + ",";
    return State;
}

TEST(CombinedSteps, LeaveWhatTheirInstructionsLeave) {
    const TXOpcode Operations[] = {opAdd,   opSub,       opMul,  opDiv,     opAnd,
                                   opOr,    opXor,       opShl,  opShr,     opShr2,
                                   opEqual, opLessEqual, opLess, opGreater, opGreaterEqual};
    uint32_t Seed = 20240601;
    auto Next = [&Seed](uint32_t Range) {
        Seed = Seed * 1103515245u + 12345u;
        return int32_t((Seed >> 16) % Range);
    };
    for (int32_t Case = 0; Case < 6000; Case++) {
        int32_t Size = 1 + Next(6);
        std::vector<TXScriptVariable> Stack;
        for (int32_t Slot = 0; Slot < Size; Slot++) Stack.push_back(RandomValue(Seed));
        int32_t Pointer = Next(uint32_t(Size));
        // Without frames, or inside one whose variables start at or below the pointer.
        int32_t Frame = Next(2) ? -1 : Next(uint32_t(Pointer + 1));
        auto Slot = [&] { return Next(7); };
        TXOpcode Op = Operations[Next(15)];
        int32_t Constant = Next(3) == 0 ? 0 : Next(9) - 4;
        std::string LoadX, LoadB, PushK, StoreC, Swap, Operate, Jump, Tail, Return;
        AppendOpSlot(LoadX, opLoadVar, Slot(), 0);
        AppendOpSlot(LoadB, opLoadVar, Slot(), 0);
        AppendOpInt32(PushK, opPushInt, Constant);
        AppendOpSlot(StoreC, opStoreVar, Slot(), 0);
        AppendOp(Swap, opSwap);
        AppendOp(Operate, Op);
        AppendOp(Jump, opJumpIfFalse);
        AppendOpInt32(Tail, opPushInt, 111);
        AppendOp(Return, opReturn);
        TSequence Sequence;
        switch (Next(5)) {
        case 0: Sequence.Instructions = {LoadX, PushK, Operate}; break;
        case 1:
            Sequence.Instructions = {LoadX, PushK, Operate, Jump, Tail};
            Sequence.JumpAt = 3;
            break;
        case 2: Sequence.Instructions = {LoadX, LoadB, Swap, Operate, StoreC}; break;
        case 3: Sequence.Instructions = {PushK, LoadB, Swap, Operate, StoreC}; break;
        default: Sequence.Instructions = {LoadX, Return, Tail}; break;
        }
        std::string Combined = Assemble(Sequence, false), Single = Assemble(Sequence, true);
        ASSERT_EQ(RunOn(Combined, Stack, Pointer, Frame), RunOn(Single, Stack, Pointer, Frame))
            << "case " << Case << ": " << testing::PrintToString(DisassembleCode(Combined));
    }
}

// A compare-and-jump step spends the jump's step only when it runs combined, and a spent
// budget faults at the jump with its condition on top, as the single jump does.
TEST(CombinedSteps, SpendTheStepBudgetAsTheirInstructionsDo) {
    std::string LoadX, PushK, Less, Jump, Tail;
    AppendOpSlot(LoadX, opLoadVar, 0, 0);
    AppendOpInt32(PushK, opPushInt, 1);
    AppendOp(Less, opLess);
    AppendOpInt32(Tail, opPushInt, 111);
    TSequence Sequence;
    Sequence.Instructions = {LoadX, PushK, Less, Jump, Tail};
    Sequence.JumpAt = 3;
    std::string Combined = Assemble(Sequence, false), Single = Assemble(Sequence, true);
    for (const TXScriptVariable& X : {TXScriptVariable::FromInteger(0), TXScriptVariable::FromText("0")})
        for (int64_t Budget : {0, 1}) {
            std::vector<TXScriptVariable> Stack(4, X);
            SetScriptStepBudget(Budget);
            std::string CombinedState = RunOn(Combined, Stack, 1, -1);
            std::string SingleState = RunOn(Single, Stack, 1, -1);
            SetScriptStepBudget(-1);
            EXPECT_EQ(CombinedState, SingleState) << Describe(X) << ", budget " << Budget;
        }
}

TEST(CombinedSteps, ChangedCodeIsDecodedAgain) {
    TScript Script;
    AppendOpInt32(Script.Root.Code, opPushInt, 1);
    AppendOpInt32(Script.Root.Code, opPushInt, 2);
    AppendOp(Script.Root.Code, opAdd);
    Script.Run();
    EXPECT_EQ(Script.Result.AsInteger(), 3);
    Script.Root.Code[10] = char(opSub);
    Script.Host.SetStackPosition(0);
    Script.Run();
    EXPECT_EQ(Script.Result.AsInteger(), -1);
}

} // namespace
